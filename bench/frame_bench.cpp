// The work of every frame, step by step, on the program's real 40 x 30 grid and 1620-dot lattice.
#include "app/app.h"
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "camera/picture_movement.h"
#include "dots/dot.h"
#include "dots/homing.h"
#include "dots/lattice.h"
#include "dots/motion.h"
#include "draw/render.h"
#include "draw/view.h"
#include "platform/capture_service.h"
#include "platform/gstreamer/clip_encoder_gstreamer.h"

#include <benchmark/benchmark.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

const int kFrameBytes = 160 * 120 * 3;

// Every benchmark's camera: a live test source at a camera's pace, so that the frame copy and
// the frame age are measured on a running pipeline. Set in main, before the camera is made.
const char kLiveSource[] = "videotestsrc is-live=true pattern=ball ! video/x-raw,framerate=30/1";
const double kSourceFrameMs = 1000.0 / 30;

// Puts the same frame of random pixels into the grid's buffer and reduces it: every cell, and
// so every dot, a colour of its own, as in a camera image.
void reduceRandomFrame(CameraGrid& grid) {
    std::mt19937 random(7);
    for (int i = 0; i < kFrameBytes; ++i)
        grid.frameBuffer[i] = static_cast<uint8_t>(random());
    grid.reduceFrame();
}

// Copies frames until the first one comes; false when none came within ten seconds.
bool awaitFirstFrame(CameraGrid& grid) {
    for (int tries = 0; tries < 1000; ++tries) {
        grid.copyFrame();
        if (grid.lastResult == S_OK)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Every benchmark reports the fastest of its repetitions beside the mean and median: on a
// shared machine the median carries what other work took from it, the fastest shows the code.
double fastestOf(const std::vector<double>& times) {
    return *std::min_element(times.begin(), times.end());
}

void reportFastest(benchmark::internal::Benchmark* benchmark) {
    benchmark->ComputeStatistics("min", fastestOf);
}

bool cameraIsLive = false; // the camera's source delivered a frame

// The program's camera grid for start-up's sizes, made once: its pipeline running (its start-up
// over before anything is timed) and a frame of random pixels in its buffer.
CameraGrid& camera() {
    static CameraGrid* grid = [] {
        sizeScene();
        CameraGrid* made = new CameraGrid(160, 120, scene.cols, scene.rows);
        cameraIsLive = awaitFirstFrame(*made);
        reduceRandomFrame(*made);
        return made;
    }();
    return *grid;
}

// The camera, or null when its live source gave no frame.
CameraGrid* liveCamera() {
    CameraGrid& grid = camera();
    return cameraIsLive ? &grid : nullptr;
}

const char kNoLiveFrame[] = "no frame from the live test source (is GStreamer installed?)";

// The scene as start-up leaves it: sizes, camera arrays and the lattice with every dot at home.
void startScene() {
    static bool started = false;
    if (started)
        return;
    started = true;
    scene.camera = &camera();
    buildHomeLattice(camera().cellColors(), camera().cellLuminance());
}

// The left button held down at the middle of the window.
void pressLeftAtTheMiddle() {
    scene.mouseX = 400;
    scene.mouseY = 300;
    scene.leftDown = true;
}

// Lets the button go and glides every dot home, so that the next benchmark starts from the
// lattice as start-up leaves it.
void releaseAndGlideHome() {
    scene.leftDown = false;
    startHoming();
    while (scene.homing)
        stepHoming();
}

void frameMemcpy(benchmark::State& state) {
    std::vector<uint8_t> from(kFrameBytes, 1), to(kFrameBytes);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), kFrameBytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * kFrameBytes);
}
BENCHMARK(frameMemcpy)->Apply(reportFastest);

void frameReduction(benchmark::State& state) {
    CameraGrid& grid = camera();
    for (auto _ : state) {
        grid.reduceFrame();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(frameReduction)->Apply(reportFastest);

void frameCopy(benchmark::State& state) {
    CameraGrid* grid = liveCamera();
    if (!grid) {
        state.SkipWithError(kNoLiveFrame);
        return;
    }
    for (auto _ : state) {
        grid->copyFrame();
        benchmark::ClobberMemory();
    }
    if (grid->lastResult != S_OK)
        state.SkipWithError("the frame copy failed");
}
BENCHMARK(frameCopy)->Apply(reportFastest);

// Copies at about the program's pace of 60 passes a second, with some jitter so that the copies
// fall at every point of the source's frame interval, and reports how old each copied frame was.
void frameAge(benchmark::State& state) {
    CameraGrid* grid = liveCamera();
    IFrameArrival* arrival = nullptr;
    if (!grid || grid->grabber->QueryInterface(IID_IFrameArrival,
                                               reinterpret_cast<void**>(&arrival)) != S_OK) {
        state.SkipWithError(kNoLiveFrame);
        return;
    }
    std::mt19937 random(11);
    std::uniform_int_distribution<int> pause(10000, 23333); // microseconds, 1/60 s on average
    double sum = 0, oldest = 0;
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::microseconds(pause(random)));
        grid->copyFrame();
        REFERENCE_TIME age = 0;
        if (grid->lastResult != S_OK || arrival->GetCopiedFrameAge(&age) != S_OK) {
            state.SkipWithError("the frame copy failed");
            break;
        }
        const double ms = age / 10000.0;
        sum += ms;
        oldest = std::max(oldest, ms);
    }
    arrival->Release();
    state.counters["age_ms"] = sum / static_cast<double>(std::max<int64_t>(state.iterations(), 1));
    state.counters["oldest_ms"] = oldest;
    state.counters["budget_ms"] = kSourceFrameMs + 2;
}
// The oldest age of each repetition counts, so no fastest repetition is reported.
BENCHMARK(frameAge)->Iterations(120)->Unit(benchmark::kMillisecond)->UseRealTime();

void mouseForcesAndMotion(benchmark::State& state) {
    startScene();
    pressLeftAtTheMiddle();
    for (auto _ : state) {
        applyMouseForces();
        moveDots();
        benchmark::ClobberMemory();
    }
    releaseAndGlideHome();
}
BENCHMARK(mouseForcesAndMotion)->Apply(reportFastest);

void sampleColors(benchmark::State& state) {
    startScene();
    for (auto _ : state) {
        for (int32_t i = 0; i < scene.dotCount; ++i)
            scene.dots[i].sampleColor();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(sampleColors)->Apply(reportFastest);

void sampleLuminances(benchmark::State& state) {
    startScene();
    for (auto _ : state) {
        for (int32_t i = 0; i < scene.dotCount; ++i)
            scene.dots[i].sampleLuminance();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(sampleLuminances)->Apply(reportFastest);

void stepHomingBench(benchmark::State& state) {
    startScene();
    startHoming();
    for (auto _ : state) {
        scene.homingFrame = 5; // stay mid-glide: every step does the full work
        stepHoming();
        benchmark::ClobberMemory();
    }
    scene.homing = false;
}
BENCHMARK(stepHomingBench)->Name("stepHoming")->Apply(reportFastest);

// The hands-free mode's work for a new camera frame: a hand-sized block of the frame changed, the
// cells compared with the frame before, and every dot pushed away from the change.
void movementStep(benchmark::State& state) {
    startScene();
    CameraGrid& grid = camera();
    PictureMovement& movement = *newPictureMovement(scene.cols, scene.rows);
    uint8_t shade = 0;
    int place = 0;
    for (auto _ : state) {
        // The block goes to and fro over four places, as a waving hand does.
        state.PauseTiming();
        place = (place + 1) % 4;
        for (int row = 40; row < 80; ++row)
            std::memset(grid.frameBuffer + row * 480 + 60 * place, shade += 40, 90);
        grid.reduceFrame();
        state.ResumeTiming();
        measureMovement(movement, grid.cellLuminance());
        pushDotsByMovement(movement);
        benchmark::ClobberMemory();
    }
    reduceRandomFrame(grid);
    releaseAndGlideHome();
}
BENCHMARK(movementStep)->Apply(reportFastest);

// One frame-loop pass without OpenGL, pointer held down: the frame copy and reduction, the
// hands-free mode's movement when a new frame came, the forces and motion, and the colour
// sampling that drawing does for every dot.
void frameWorkOutsideOpenGL(benchmark::State& state) {
    CameraGrid* grid = liveCamera();
    if (!grid) {
        state.SkipWithError(kNoLiveFrame);
        return;
    }
    startScene();
    pressLeftAtTheMiddle();
    // In the hands-free mode, every second pass brings a new camera frame to measure, as a
    // camera of 30 frames a second does at 60 passes a second; the benchmark runs its passes
    // faster than the live source gives frames, so the new ones are counted, not waited for.
    PictureMovement& movement = *newPictureMovement(scene.cols, scene.rows);
    bool fresh = false;
    for (auto _ : state) {
        grid->grabFrame();
        if ((fresh = !fresh)) {
            measureMovement(movement, grid->cellLuminance());
            pushDotsByMovement(movement);
        }
        applyMouseForces();
        moveDots();
        for (int32_t i = 0; i < scene.dotCount; ++i)
            scene.dots[i].sampleColor();
        benchmark::ClobberMemory();
    }
    releaseAndGlideHome();
}
BENCHMARK(frameWorkOutsideOpenGL)->Apply(reportFastest);

// An OpenGL window of start-up's size with the program's view and shapes, or null without a
// display.
bool openWindow() {
    static const bool opened = [] {
        if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY"))
            return false;
        // Draw on the display the program itself opens.
        if (!setSdlDefaults() || SDL_Init(SDL_INIT_VIDEO) < 0)
            return false;
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_SWAP_CONTROL, 0); // measure the drawing, not the refresh
        sizeScene();
        if (!SDL_SetVideoMode(scene.width, scene.height, 0, SDL_OPENGL))
            return false;
        setupView(scene.width, scene.height, scene.width, scene.height);
        buildDiscList(18);
        buildRingList(30);
        return true;
    }();
    return opened;
}

void emptyFrame(benchmark::State& state) {
    if (!openWindow()) {
        state.SkipWithError("no display: run under Xvfb (scripts/bench.sh)");
        return;
    }
    for (auto _ : state) {
        clearView();
        SDL_GL_SwapBuffers();
    }
}
BENCHMARK(emptyFrame)->Unit(benchmark::kMillisecond)->Apply(reportFastest);

// The drawing benchmarks' scene, in colour or halftone mode; false, the benchmark skipped,
// without a display.
bool prepareDrawing(benchmark::State& state, bool colorMode) {
    if (!openWindow()) {
        state.SkipWithError("no display: run under Xvfb (scripts/bench.sh)");
        return false;
    }
    startScene();
    // Earlier benchmarks copied the live source's frames, mostly black; draw random cells.
    reduceRandomFrame(camera());
    scene.colorMode = colorMode;
    scene.idleFrames = 1;
    return true;
}

void renderInMode(benchmark::State& state, bool colorMode) {
    if (!prepareDrawing(state, colorMode))
        return;
    for (auto _ : state)
        renderFrame();
    scene.colorMode = true;
}

void renderFrameColour(benchmark::State& state) {
    renderInMode(state, true);
}
BENCHMARK(renderFrameColour)->Unit(benchmark::kMillisecond)->Apply(reportFastest);

void renderFrameHalftone(benchmark::State& state) {
    renderInMode(state, false);
}
BENCHMARK(renderFrameHalftone)->Unit(benchmark::kMillisecond)->Apply(reportFastest);

// A colour frame with the flash of a picture just taken over it, at its brightest.
void renderFrameWithFlash(benchmark::State& state) {
    if (!prepareDrawing(state, true))
        return;
    for (auto _ : state) {
        startFlash();
        renderFrame();
    }
    scene.flashPasses = 0;
}
BENCHMARK(renderFrameWithFlash)->Unit(benchmark::kMillisecond)->Apply(reportFastest);

// A buffer for the picture the user keeps, of the view's size.
struct Picture {
    std::vector<uint8_t> pixels;
    int width = 0, height = 0; // pixels
    void readBack() { readBackPicture(pixels.data(), width, height); }
};

// Times pass, given the picture's buffer, in colour mode with a frame of dots already drawn.
void timePicturePass(benchmark::State& state, void (*pass)(Picture&)) {
    if (!prepareDrawing(state, true))
        return;
    Picture picture;
    pictureSize(picture.width, picture.height);
    picture.pixels.assign(static_cast<size_t>(picture.width) * picture.height * 4, 0);
    drawDots();
    for (auto _ : state)
        pass(picture);
}

// The read-back alone, of a frame already drawn: what OpenGL takes to hand over the pixels.
void pictureReadBack(benchmark::State& state) {
    timePicturePass(state, [](Picture& picture) { picture.readBack(); });
}
BENCHMARK(pictureReadBack)->Unit(benchmark::kMillisecond)->Apply(reportFastest);

// A colour frame in which the user keeps the picture, as the program takes it: the dots, one
// read-back of the view before the ring, then the ring and the swap. Less renderFrameColour,
// the read-back's cost.
void renderFrameWithPicture(benchmark::State& state) {
    timePicturePass(state, [](Picture& picture) {
        drawDots();
        picture.readBack();
        finishFrame();
    });
}
BENCHMARK(renderFrameWithPicture)->Unit(benchmark::kMillisecond)->Apply(reportFastest);

// The other way to the same picture: the whole frame drawn and shown, then the dots drawn a second
// time, without the ring, and read back.
void renderFrameThenPictureDrawnAgain(benchmark::State& state) {
    timePicturePass(state, [](Picture& picture) {
        renderFrame();
        drawDots();
        picture.readBack();
    });
}
BENCHMARK(renderFrameThenPictureDrawnAgain)->Unit(benchmark::kMillisecond)->Apply(reportFastest);

// Frames of dots in motion, drawn and read back as the program reads them back: the dots pushed
// away from the middle of the picture and coasting, a new picture in every frame.
const std::vector<std::vector<uint8_t>>& dotsInMotion() {
    static std::vector<std::vector<uint8_t>> frames;
    Picture picture;
    pictureSize(picture.width, picture.height);
    scene.mouseX = 400;
    scene.mouseY = 300;
    scene.rightDown = scene.shiftDown = true;
    for (int frame = static_cast<int>(frames.size()); frame < 30; ++frame) {
        applyMouseForces();
        moveDots();
        scene.rightDown = scene.shiftDown = frame < 2; // a short hard push, then they coast
        drawDots();
        picture.pixels.assign(static_cast<size_t>(picture.width) * picture.height * 4, 0);
        picture.readBack();
        finishFrame();
        frames.push_back(picture.pixels);
    }
    releaseAndGlideHome();
    return frames;
}

double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

// Encodes count frames, 30 a second, as a clip into a temporary file: the process's CPU time a
// frame (GStreamer's threads: conversion, VP8, WebM and the writes) and the clip's bytes; false
// when the encoder failed.
bool encodeClip(const char* settings, int count, double& cpuPerFrame, long& bytes) {
    const std::vector<std::vector<uint8_t>>& frames = dotsInMotion();
    std::mutex lock;
    std::condition_variable changed;
    ClipEncoder encoder;
    encoder.settings = settings;
    encoder.lock = &lock;
    encoder.changed = &changed;
    FILE* file = std::tmpfile();
    std::string failure;
    const double startCpu = processCpuSeconds();
    bool ok = file && startClipEncoder(encoder, fileno(file), 800, 600, 800, 600, failure);
    const int64_t frameNs = 1000000000 / 30;
    for (int i = 0; ok && i < count; ++i) {
        const std::vector<uint8_t>& pixels = frames[static_cast<size_t>(i) % frames.size()];
        pushClipFrame(encoder,
                      gst_buffer_new_wrapped_full(
                          GST_MEMORY_FLAG_READONLY, const_cast<uint8_t*>(pixels.data()),
                          pixels.size(), 0, pixels.size(), nullptr, nullptr),
                      i * frameNs, frameNs);
    }
    if (ok) {
        endClip(encoder);
        std::unique_lock<std::mutex> hold(lock);
        changed.wait_for(hold, std::chrono::seconds(60),
                         [&] { return encoder.finished || encoder.failed; });
        ok = encoder.finished;
    }
    stopClipEncoder(encoder);
    cpuPerFrame = (processCpuSeconds() - startCpu) / count;
    bytes = file ? lseek(fileno(file), 0, SEEK_END) : 0;
    if (file)
        std::fclose(file);
    return ok;
}

// The clip's encoder alone, on 150 frames (5 s) of dots in motion pushed at once: its CPU time a
// frame and the bit rate it gives, with the program's settings or with vp8enc's properties from
// VELMORA_BENCH_VP8ENC (for example "deadline=1 cpu-used=8 threads=1 target-bitrate=2000000").
void clipEncoding(benchmark::State& state) {
    if (!prepareDrawing(state, true))
        return;
    const char* settings = std::getenv("VELMORA_BENCH_VP8ENC");
    double cpu = 0;
    long bytes = 0;
    for (auto _ : state) {
        if (!encodeClip(settings && *settings ? settings : kClipEncoderSettings, 150, cpu, bytes)) {
            state.SkipWithError("the clip's encoder failed (is gstreamer1.0-plugins-good there?)");
            break;
        }
    }
    state.counters["cpu_ms_per_frame"] = cpu * 1000;
    state.counters["kbit_per_s"] = bytes * 8 / 5.0 / 1000;
}
BENCHMARK(clipEncoding)->Unit(benchmark::kMillisecond)->Iterations(1)->Apply(reportFastest);

} // namespace

int main(int argc, char** argv) {
    setenv("VELMORA_VIDEO_SOURCE", kLiveSource, 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
