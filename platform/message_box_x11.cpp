#include "platform/message_box.h"

#include <cstdio>

int MessageBoxA(HWND, LPCSTR text, LPCSTR, UINT) {
    std::fprintf(stderr, "%s\n", text ? text : "");
    return IDOK;
}
