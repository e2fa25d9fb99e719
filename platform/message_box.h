// The modal notice box, in the shape of the Windows call of the same name.
#pragma once

typedef void* HWND;
typedef const char* LPCSTR;
typedef unsigned int UINT;

const UINT MB_OK = 0x00000000; // one OK button
const int IDOK = 1;            // the box was closed

// Shows text in a modal box titled caption with one OK button on the X display and returns IDOK
// once the user closes it (OK, Return, Escape or the window's close button). Without an X
// display the text goes to standard error as one line and the call returns at once. A stop
// request (platform/stop_signals.h) closes the box too. Only a null owner and MB_OK are supported.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
