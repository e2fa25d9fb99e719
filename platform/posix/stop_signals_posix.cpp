// The stop request on POSIX signals: the handler only sets a flag and writes one byte into a pipe
// (the self-pipe), both safe inside a signal handler; the pipe's read end wakes a waiting poll
// even when the signal arrived just before the wait began.
#include "platform/stop_signals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t requested = 0;
int wakeRead = -1;
int wakeWrite = -1;

void noteStop(int) {
    const int savedErrno = errno;
    requested = 1;
    if (wakeWrite >= 0) {
        const char byte = 1;
        // A full pipe is already readable, so a write that fails loses nothing.
        [[maybe_unused]] const ssize_t written = write(wakeWrite, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

void catchStopSignals() {
    int ends[2];
    if (wakeRead < 0 && pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead = ends[0];
        wakeWrite = ends[1];
    }
    struct sigaction action = {};
    action.sa_handler = noteStop;
    sigemptyset(&action.sa_mask);
    // Other code's interrupted calls go on; poll is never restarted, and the pipe wakes it anyway.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() {
    return requested != 0;
}

int stopSignalFd() {
    return wakeRead;
}
