// SIGINT and SIGTERM as a request to end the program, which the program's waiting loops check.
#pragma once

// Called once at start-up, before anything waits: from then on SIGINT and SIGTERM no longer end
// the process at once but note the request and make stopSignalFd readable.
void catchStopSignals();

// True once SIGINT or SIGTERM has arrived after catchStopSignals.
bool stopRequested();

// A descriptor that becomes readable, and stays so, once a stop is requested, for a loop that
// waits in poll; -1 before catchStopSignals.
int stopSignalFd();
