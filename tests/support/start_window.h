// The program started in-process as "velmora window", on the test's private display.
#pragma once

#include "app/app.h"

inline void startInWindow() {
    char program[] = "velmora";
    char mode[] = "window";
    char* argv[] = {program, mode, nullptr};
    startApp(2, argv);
}
