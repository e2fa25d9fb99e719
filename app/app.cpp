#include "app/app.h"

#include "app/clip.h"
#include "app/frame_pacing.h"
#include "app/hands_free.h"
#include "app/input.h"
#include "app/picture.h"
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "camera/picture_movement.h"
#include "dots/dot.h"
#include "dots/homing.h"
#include "dots/lattice.h"
#include "dots/motion.h"
#include "draw/render.h"
#include "draw/view.h"
#include "platform/clip_file.h"
#include "platform/display_session.h"
#include "platform/message_box.h"
#include "platform/picture_file.h"
#include "platform/screen_saver.h"
#include "platform/stop_signals.h"

#include <SDL.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const int32_t kDisplayWidth = 800;
const int32_t kDisplayHeight = 600;
const float kCellSize = 20.0f;
const int32_t kCellPixels = 20;
const float kDotRadius = 10.0f;
const float kRingRadius = 5.0f;
const int32_t kCaptureWidth = 160;
const int32_t kCaptureHeight = 120;
const int kDiscSegments = 18;
const int kRingSegments = 30;
const int kPointerSide = 8;                                // pixels, a multiple of 8
const int kPointerBytes = kPointerSide * kPointerSide / 8; // one bit a pixel
// At the end, pictures still being written get this long to reach the disk.
const double kPictureFinishSeconds = 5;
// At the end, a clip being recorded gets this long to be finished and named: the encoder
// thread's wait for the end of stream, and time to spare.
const double kClipFinishSeconds = kClipEndSeconds + 1;

const char kWrongArgument[] =
    "First parameter was not either lowercase 'fullscreen' or 'window' (no quotes), ignored.";

[[noreturn]] void failVideo(const char* format) {
    std::fprintf(stderr, format, SDL_GetError());
    quitApp(1);
}

// Opens the OpenGL display and sets the view on it; a null surface ends the process.
void openDisplay(const SceneState& state) {
    FullScreenSurface surface{FullScreen::switchMode, state.width, state.height};
    Uint32 flags = SDL_OPENGL;
    if (state.fullscreen) {
        // Also places the window where it is to show.
        surface = fullScreenSurface(state.width, state.height);
        // Resizable, as some window managers make no fixed-size window full screen.
        flags |= surface.way == FullScreen::byWindowManager ? SDL_NOFRAME | SDL_RESIZABLE
                                                            : SDL_FULLSCREEN;
    } else {
        SDL_WM_SetCaption("Velmora", nullptr);
    }
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 5);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 16);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // Pace the loop by the display: every animation counts passes of the frame loop.
    SDL_GL_SetAttribute(SDL_GL_SWAP_CONTROL, 1);
    const SDL_Surface* display =
        SDL_SetVideoMode(surface.width, surface.height, state.bitsPerPixel, flags);
    if (!display)
        failVideo("Video mode set failed: %s\n");
    if (state.fullscreen && surface.way == FullScreen::byWindowManager)
        askForFullScreen();
    setupView(state.width, state.height, display->w, display->h);
}

// The red ring drawn at the pointer takes the system pointer's place, so the pointer gets an
// empty shape (made once, kept for the process's life). It is not hidden: sdl12-compat holds the
// pointer in full screen, as SDL 1.2 did, and a hidden pointer that is held turns its motion
// into relative steps that no longer tell where the pointer is.
void hidePointer() {
    Uint8 empty[kPointerBytes] = {};
    SDL_Cursor* blank = SDL_CreateCursor(empty, empty, kPointerSide, kPointerSide, 0, 0);
    if (blank)
        SDL_SetCursor(blank);
    else
        SDL_ShowCursor(SDL_DISABLE);
}

} // namespace

void chooseDisplayMode(SceneState& state, int argc, char** argv) {
    // --hands-free may stand anywhere; the first other argument chooses the mode.
    const char* mode = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], kHandsFreeOption) == 0)
            state.handsFree = true;
        else if (!mode)
            mode = argv[i];
    }
    if (!mode)
        return;
    if (std::strcmp(mode, "fullscreen") == 0)
        state.fullscreen = true;
    else if (std::strcmp(mode, "window") == 0)
        state.fullscreen = false;
    else
        MessageBoxA(nullptr, kWrongArgument, "Error", MB_OK);
    // SIGINT or SIGTERM while the notice was open ends the program before any display opens.
    if (stopRequested())
        quitApp(0);
}

int runApp(int argc, char** argv) {
    startApp(argc, argv);
    FramePacing pacing = startFramePacing();
    scene.homeAfterPasses = passesIn(kStillSecondsBeforeHome, pacing);
    for (;;) {
        runFramePass();
        // Where the swap does not wait for the display, the loop would run as fast as it can.
        waitForNextPass(pacing);
    }
}

void startApp(int argc, char** argv) {
    if (!setSdlDefaults())
        quitApp(1);
    if (SDL_Init(SDL_INIT_VIDEO) < 0)
        failVideo("Video initialization failed: %s\n");
    if (!SDL_GetVideoInfo())
        failVideo("Video query failed: %s\n");

    sizeScene();
    scene.fullscreen = true;
    chooseDisplayMode(scene, argc, argv);
    openDisplay(scene);
    // A webcam's picture is no input: without this, an idle desktop blanks the screen under it.
    keepScreenAwake();

    buildDiscList(kDiscSegments);
    buildRingList(kRingSegments);
    startPictureTaking();

    scene.camera = new CameraGrid(kCaptureWidth, kCaptureHeight, scene.cols, scene.rows);
    scene.movement = newPictureMovement(scene.cols, scene.rows);
    hidePointer();
    buildHomeLattice(scene.camera->cellColors(), scene.camera->cellLuminance());
}

bool setSdlDefaults() {
    // Where SDL 1.2 is sdl12-compat, it would draw every frame into a framebuffer of its own and
    // copy it to the window, and pretend that full screen can switch to any size. The view
    // scales the picture itself, so ask it for the plain OpenGL display and the real modes,
    // unless the user chose otherwise. SDL 1.2 itself reads no such variable.
    setenv("SDL12COMPAT_OPENGL_SCALING", "0", 0);
    // sdl12-compat's SDL keeps the screen awake by itself; its request is to carry our name.
    nameSdlScreenSaverRequest();
    // X11 where there is an X display, else Wayland itself where SDL speaks it.
    return setVideoDriver();
}

void sizeScene() {
    scene.width = kDisplayWidth;
    scene.height = kDisplayHeight;
    scene.screenWidth = static_cast<float>(scene.width);
    scene.screenHeight = static_cast<float>(scene.height);
    scene.cellSize = kCellSize;
    scene.cols = scene.width / kCellPixels;
    scene.dotRadius = kDotRadius;
    scene.rows = scene.height / kCellPixels;
    scene.ringRadius = kRingRadius;
}

void buildHomeLattice(ColorTriple** cellColors, int32_t* cellLuminance) {
    scene.cellColors = cellColors;
    scene.cellLuminance = cellLuminance;
    buildLattice();
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot.home.x = dot.pos.x;
        dot.home.y = dot.pos.y;
    }
}

void runFramePass() {
    // Input first: it may start the glide or end the program.
    pollEvents();
    // The newest camera frame, reduced to the cells the dots sample.
    scene.camera->grabFrame();
    // Hands-free: the picture's movement pushes the dots; a still picture sends them home.
    senseMovement();
    // One step of the glide home, or of the pointer's forces and the dots' motion.
    advanceScene();
    // The ring fades by the passes counted since the last mouse input.
    countIdleFrame();
    // Every dot samples its cells and is drawn; nothing is shown yet.
    drawDots();
    // A picture asked for with S is read back now: the dots alone, without the ring or flash.
    takePictureIfAsked();
    // Likewise a frame of the clip being recorded, when one is due; R starts and stops it.
    recordFrameIfDue();
    // The pointer ring, the flash and the recording mark over the dots; the frame is shown.
    finishFrame();
}

void advanceScene() {
    if (scene.homing) {
        stepHoming();
    } else {
        applyMouseForces();
        moveDots();
    }
}

void countIdleFrame() {
    // Saturates, so the ring stays faded however long the mouse is left alone.
    if (scene.idleFrames < INT32_MAX)
        ++scene.idleFrames;
}

void quitApp(int status) {
    // A picture the user took just before quitting is still kept; S pressed in the very pass
    // that quits has no frame left to be taken from, which is said.
    if (scene.picturesAsked > 0)
        std::fprintf(stderr, "velmora: quitting before %d more picture(s) could be taken\n",
                     scene.picturesAsked);
    finishClips(kClipFinishSeconds);
    finishPictureFiles(kPictureFinishSeconds);
    letScreenSleep();
    SDL_Quit();
    std::exit(status);
}
