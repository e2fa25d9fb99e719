// Any first argument, of any bytes and length: only the exact keywords choose a mode, everything
// else gets the notice exactly once and leaves full screen; --hands-free, first or second, is no
// mode but turns the hands-free mode on.
#include "app/app.h"
#include "app/scene_state.h"
#include "platform/message_box.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
int notices = 0;
}

// Stands in for the notice box: counts the notices and checks what they say.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    if (owner || type != MB_OK || std::strcmp(caption, "Error") != 0 ||
        std::strstr(text, "'fullscreen' or 'window'") == nullptr)
        std::abort();
    ++notices;
    return IDOK;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The argument ends at its first zero byte, as a C string on a command line does; the rest
    // of the input, when there is any, becomes a second argument that must be ignored.
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const size_t zero = bytes.find('\0');
    std::string first = bytes.substr(0, zero);
    std::string second = zero == std::string::npos ? "" : bytes.substr(zero + 1);
    second.resize(std::strlen(second.c_str())); // as a C string, it too ends at a zero byte
    char program[] = "velmora";
    char* argv[] = {program, first.data(), second.data(), nullptr};
    const int argc = zero == std::string::npos ? 2 : 3;

    SceneState state;
    state.fullscreen = true;
    notices = 0;
    chooseDisplayMode(state, argc, argv);
    // --hands-free may stand anywhere and is no mode: the first other argument is.
    const bool firstIsOption = first == kHandsFreeOption;
    const bool secondIsOption = argc == 3 && second == kHandsFreeOption;
    const bool hasMode = !firstIsOption || (argc == 3 && !secondIsOption);
    const std::string& mode = firstIsOption ? second : first;
    const bool window = hasMode && mode == "window";
    const bool keyword = !hasMode || window || mode == "fullscreen";
    if (state.fullscreen == window || notices != (keyword ? 0 : 1) ||
        state.handsFree != (firstIsOption || secondIsOption))
        std::abort();
    return 0;
}
