// After start-up the program allocates nothing per frame: 1000 passes of every frame step but the
// frame copy (input, the choice of video source included, reduction, the hands-free mode's movement
// and stillness, motion or glide, idle count,
// drawing, with no picture asked for, while a clip is recorded) and the running program's wait
// for the next pass make no heap allocation. Starting and stopping the recording may.
// Counted by standing in for the C library's allocator: every allocation made by the program's
// own code, directly or through operator new, counts; the OpenGL driver's own work inside the
// drawing calls (Mesa's software renderer allocates as it draws) is its business, not ours.
#include "app/app.h"
#include "app/clip.h"
#include "app/frame_pacing.h"
#include "app/hands_free.h"
#include "app/input.h"
#include "app/picture.h"
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "draw/render.h"
#include "platform/clip_file.h"
#include "support/sdl_events.h"
#include "support/start_window.h"

#include <gtest/gtest.h>

#include <SDL.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <new>

extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void __libc_free(void*);

namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
// Set on the thread that runs the frame passes: the capture layer's own threads allocate as
// they open the sources the C key asks for, which is none of the frame pass's doing.
thread_local bool runsFramePasses = false;

// Whether code at this address belongs to the test program itself, which holds the program's
// code linked in, rather than to a shared library.
bool inProgram(void* address) {
    static void* programBase = [] {
        Dl_info info{};
        dladdr(reinterpret_cast<void*>(&inProgram), &info);
        return info.dli_fbase;
    }();
    Dl_info info{};
    return dladdr(address, &info) && info.dli_fbase == programBase;
}

void countFrom(void* caller) {
    if (counting.load(std::memory_order_relaxed) && runsFramePasses && inProgram(caller))
        allocations.fetch_add(1, std::memory_order_relaxed);
}

} // namespace

extern "C" void* malloc(size_t size) {
    countFrom(__builtin_return_address(0));
    return __libc_malloc(size);
}
extern "C" void* calloc(size_t count, size_t size) {
    countFrom(__builtin_return_address(0));
    return __libc_calloc(count, size);
}
extern "C" void* realloc(void* block, size_t size) {
    countFrom(__builtin_return_address(0));
    return __libc_realloc(block, size);
}
void* operator new(size_t size) {
    countFrom(__builtin_return_address(0));
    if (void* block = __libc_malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
void* operator new[](size_t size) {
    countFrom(__builtin_return_address(0));
    if (void* block = __libc_malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}
// The C library's own release, the pair of the __libc_malloc above: GCC takes a plain free of
// what operator new returned for a mismatched pair once it inlines these.
void operator delete(void* block) noexcept {
    __libc_free(block);
}
void operator delete[](void* block) noexcept {
    __libc_free(block);
}
void operator delete(void* block, size_t) noexcept {
    __libc_free(block);
}
void operator delete[](void* block, size_t) noexcept {
    __libc_free(block);
}

namespace {

// Paced at 1000 passes a second, so that the wait does happen without slowing the test down.
FramePacing pacing = makeFramePacing(1000, 0);

void framePassWithoutCopy() {
    pollEvents();
    scene.camera->reduceFrame();
    senseMovement();
    advanceScene();
    countIdleFrame();
    drawDots();
    takePictureIfAsked();
    recordFrameIfDue();
    finishFrame();
    waitForNextPass(pacing);
}

TEST(Allocation, FramePassesAfterStartUpAllocateNothing) {
    runsFramePasses = true;
    // The clip goes to a home folder of the test's own.
    std::string home = (std::filesystem::temp_directory_path() / "velmora-alloc-XXXXXX").string();
    ASSERT_NE(mkdtemp(&home[0]), nullptr);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    startInWindow();
    // A few passes first, so that the drivers have set up whatever they keep for drawing, and a
    // recording starts.
    pushKey(SDL_KEYDOWN, SDLK_r);
    for (int pass = 0; pass < 10; ++pass)
        framePassWithoutCopy();
    ASSERT_TRUE(scene.recording);

    counting = true;
    for (int pass = 0; pass < 1000; ++pass) {
        // Every kind of pass: pointer moves, pull, push, both modes, and glides.
        if (pass % 50 == 0)
            pushMotion(400, 300);
        if (pass % 200 == 10)
            pushButton(SDL_MOUSEBUTTONDOWN, pass % 400 == 10 ? SDL_BUTTON_LEFT : SDL_BUTTON_RIGHT);
        if (pass % 200 == 60)
            pushButton(SDL_MOUSEBUTTONUP, pass % 400 == 60 ? SDL_BUTTON_LEFT : SDL_BUTTON_RIGHT);
        if (pass % 200 == 100)
            pushKey(SDL_KEYDOWN, SDLK_SPACE);
        if (pass % 200 == 150)
            pushKey(SDL_KEYDOWN, SDLK_RETURN);
        if (pass % 200 == 170)
            pushKey(SDL_KEYDOWN, SDLK_c); // the next video source
        if (pass % 500 == 5)
            pushKey(SDL_KEYDOWN, SDLK_m); // hands-free on, then off again
        // A new camera frame every second pass, with a block moving across it in the mode.
        scene.camera->freshFrame = pass % 2 == 0;
        if (scene.camera->freshFrame)
            std::memset(scene.camera->frameBuffer + (pass % 100) * 480, pass % 256, 480 * 16);
        framePassWithoutCopy();
    }
    counting = false;
    EXPECT_EQ(allocations.load(), 0) << "heap allocations in 1000 frame passes";
    EXPECT_TRUE(scene.recording) << "recorded all along";
    pushKey(SDL_KEYDOWN, SDLK_r);
    framePassWithoutCopy();
    finishClips(kClipEndSeconds + 1);
    size_t clips = 0;
    for (const auto& entry : std::filesystem::directory_iterator(home))
        clips += entry.path().extension() == ".webm";
    EXPECT_EQ(clips, 1u) << "the clip recorded meanwhile is kept";
    std::filesystem::remove_all(home);

    // The stand-in does see the program's allocations.
    counting = true;
    // Through a volatile pointer, so that optimisation cannot leave the allocation out.
    int* volatile block = new int[4];
    delete[] block;
    counting = false;
    EXPECT_EQ(allocations.load(), 1) << "an allocation of the program's own is counted";
}

} // namespace
