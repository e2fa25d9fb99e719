// Start-up, the frame loop and the orderly end of the process.
#pragma once

#include <cstdint>

struct ColorTriple;
struct SceneState;

// The program's main function, called with main's arguments. Starts up, then runs the frame
// loop for ever; the process ends only through quitApp.
int runApp(int argc, char** argv);

// Start-up alone: SDL, the display mode from the first argument, the display (and the screen kept
// awake while it shows), the view and shapes, the camera and the lattice with every dot at home.
// Ends the process on a video failure.
void startApp(int argc, char** argv);

// Before SDL_Init, for the program and its benchmark: the SDL settings the program runs with,
// each as an environment variable the user may set otherwise (the video driver for the desktop
// session, sdl12-compat's plain OpenGL display and real full-screen modes, and the name its SDL
// asks the screen saver under). False after one line on standard error when no display of the
// session can be opened.
bool setSdlDefaults();

// Start-up's sizes, for the program, its tests and its benchmark: the 800 x 600 display, and
// the grid (40 x 30 cells of 20 pixels) and drawing sizes derived from it.
void sizeScene();

// Start-up's lattice, after sizeScene: scene.cellColors and cellLuminance set to the given cell
// arrays (cols x rows each, rewritten every frame) and the lattice built with every dot at home.
void buildHomeLattice(ColorTriple** cellColors, int32_t* cellLuminance);

// The option that starts the program in the hands-free mode, anywhere among the arguments.
inline const char kHandsFreeOption[] = "--hands-free";

// The arguments: --hands-free anywhere sets state.handsFree; the first other argument, when there
// is one, chooses full screen ("fullscreen") or a window ("window"), and any other gets the
// notice box and leaves state.fullscreen as it is.
void chooseDisplayMode(SceneState& state, int argc, char** argv);

// One pass of the frame loop: input, camera, the hands-free mode's movement and stillness, motion
// or glide, idle count, the dots, the picture
// asked for with S, the frame of a clip being recorded, the ring, flash and recording mark.
void runFramePass();

// The pass's motion: a glide step while the dots glide home, otherwise the pointer's forces
// and one step of motion.
void advanceScene();

// One more pass counted in scene.idleFrames since the last mouse input, saturating.
void countIdleFrame();

// Finishes the clip being recorded and waits for pictures still being written (each for a bounded
// time), lets the screen sleep again, shuts SDL's video layer down and ends the process with the
// given status. Called with 1 on a start-up failure and with 0 when the user quits.
[[noreturn]] void quitApp(int status);
