// The work of every frame, step by step, on the program's real 40 x 30 grid and 1620-dot lattice.
#include "app/scene_state.h"
#include "camera/camera_grid.h"
#include "dots/dot.h"
#include "dots/homing.h"
#include "dots/lattice.h"
#include "dots/motion.h"
#include "draw/render.h"
#include "draw/view.h"
#include "support/lattice_support.h"

#include <benchmark/benchmark.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

const int kFrameBytes = 160 * 120 * 3;

// The program's camera grid with a frame of random pixels in its buffer, made once.
CameraGrid& camera() {
    static CameraGrid* grid = [] {
        CameraGrid* made = new CameraGrid(160, 120, 40, 30);
        std::mt19937 random(7);
        for (int i = 0; i < kFrameBytes; ++i)
            made->frameBuffer[i] = static_cast<uint8_t>(random());
        made->reduceFrame();
        return made;
    }();
    return *grid;
}

// The scene as start-up leaves it: sizes, camera arrays and the lattice with every dot at home.
void startScene() {
    static bool started = false;
    if (started)
        return;
    started = true;
    scene.camera = &camera();
    buildProgramLattice(camera().cellColors(), camera().cellLuminance());
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
BENCHMARK(frameMemcpy);

void frameReduction(benchmark::State& state) {
    CameraGrid& grid = camera();
    for (auto _ : state) {
        grid.reduceFrame();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(frameReduction);

void mouseForcesAndMotion(benchmark::State& state) {
    startScene();
    scene.mouseX = 400;
    scene.mouseY = 300;
    scene.leftDown = true;
    for (auto _ : state) {
        applyMouseForces();
        moveDots();
        benchmark::ClobberMemory();
    }
    scene.leftDown = false;
    startHoming();
    for (int i = 0; i < 20; ++i)
        stepHoming();
}
BENCHMARK(mouseForcesAndMotion);

void sampleColors(benchmark::State& state) {
    startScene();
    for (auto _ : state) {
        for (int32_t i = 0; i < scene.dotCount; ++i)
            scene.dots[i].sampleColor();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(sampleColors);

void sampleLuminances(benchmark::State& state) {
    startScene();
    for (auto _ : state) {
        for (int32_t i = 0; i < scene.dotCount; ++i)
            scene.dots[i].sampleLuminance();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(sampleLuminances);

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
BENCHMARK(stepHomingBench)->Name("stepHoming");

// An 800 x 600 OpenGL window with the program's view and shapes, or null without a display.
bool openWindow() {
    static const bool opened = [] {
        if (!std::getenv("DISPLAY") || !*std::getenv("DISPLAY"))
            return false;
        if (SDL_Init(SDL_INIT_VIDEO) < 0)
            return false;
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_GL_SetAttribute(SDL_GL_SWAP_CONTROL, 0); // measure the drawing, not the refresh
        if (!SDL_SetVideoMode(800, 600, 0, SDL_OPENGL))
            return false;
        setupView(800, 600);
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
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        SDL_GL_SwapBuffers();
    }
}
BENCHMARK(emptyFrame)->Unit(benchmark::kMillisecond);

void renderInMode(benchmark::State& state, bool colorMode) {
    if (!openWindow()) {
        state.SkipWithError("no display: run under Xvfb (scripts/bench.sh)");
        return;
    }
    startScene();
    scene.colorMode = colorMode;
    scene.idleFrames = 1;
    for (auto _ : state)
        renderFrame();
    scene.colorMode = true;
}

void renderFrameColour(benchmark::State& state) { renderInMode(state, true); }
BENCHMARK(renderFrameColour)->Unit(benchmark::kMillisecond);

void renderFrameHalftone(benchmark::State& state) { renderInMode(state, false); }
BENCHMARK(renderFrameHalftone)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
