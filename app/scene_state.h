// The program-wide state: one instance for the whole process, read and written directly by the
// start-up, the input handling, the dot field and the drawing.
#pragma once

#include <cstdint>

class CameraGrid;
class Dot;
struct ColorTriple;
struct PictureMovement;

struct SceneState {
    // Display, fixed at start-up.
    int32_t width = 0;        // display width in pixels (800)
    int32_t height = 0;       // display height in pixels (600)
    int32_t bitsPerPixel = 0; // colour depth asked of SDL; 0 takes the current display depth
    bool fullscreen = false;  // true unless the first argument is "window"
    float screenWidth = 0;    // width as float, for the wrap of the dots
    float screenHeight = 0;   // height as float, for the wrap of the dots

    // Where the picture lies on the display surface, set by setupView. In a window or an 800 x 600
    // mode it is the whole surface; on a screen that cannot switch to 800 x 600, the largest 4:3
    // area in the middle of the screen, scaled alike both ways, black beside it.
    int32_t viewLeft = 0;    // picture's left edge in surface pixels from the left, 0 or more
    int32_t viewTop = 0;     // picture's top edge in surface pixels from the top, 0 or more
    float viewScale = 1;     // surface pixels per picture pixel, 1 or more (1.28 on 1024 x 768)
    bool viewBorder = false; // true when black shows beside the picture (the surface is not 4:3)

    // Grid and drawing sizes, derived from the display at start-up.
    float cellSize = 0;   // pixels per grid cell (20)
    int32_t cols = 0;     // grid columns, width / 20 (40)
    int32_t rows = 0;     // grid rows, height / 20 (30)
    float dotRadius = 0;  // disc radius of every dot in pixels (10)
    float ringRadius = 0; // scale of the pointer ring in pixels (5)

    // Camera and dots, created once at start-up and never released.
    CameraGrid* camera = nullptr;
    ColorTriple** cellColors = nullptr; // the camera's per-cell colours, rewritten every frame
    int32_t* cellLuminance = nullptr;   // the camera's per-cell luminances 0..255, every frame
    Dot* dots = nullptr;                // the lattice, dotCount records in row order
    int32_t dotCount = 0;               // 1620 for the 40 x 30 grid

    // Display lists of the two shapes.
    unsigned discList = 0; // filled unit disc with 18 corners
    unsigned ringList = 0; // unit ring of 30 segments

    // Interaction, written by the input handling.
    // Pointer position in picture pixels from the picture's top-left corner; outside 0..width
    // and 0..height while the pointer is over the black beside a scaled picture.
    int32_t mouseX = 0;
    int32_t mouseY = 0;
    bool leftDown = false;  // left button held: pull the dots
    bool rightDown = false; // right button held: push the dots
    bool shiftDown = false; // either Shift held: force times 500
    bool colorMode = true;  // colour discs when true, halftone discs when false
    float ringAlpha = 0;    // smoothed ring opacity, 100 = opaque; may overshoot, never below 0
    int32_t idleFrames = 0; // frame-loop passes since the last mouse event, saturating

    // Pictures the user keeps: asked for by the input handling, taken in the frame pass.
    int32_t picturesAsked = 0; // S presses not yet taken as pictures; one is taken a pass
    int32_t flashPasses = 0;   // passes left of the flash after a picture was taken, 12..0

    // The clip the user records: R asked for by the input handling, handled in the frame pass.
    int32_t recordPresses = 0; // R presses not yet handled; each starts or stops a recording
    bool recording = false;    // a recording takes frames, and its mark blinks
    int32_t markPasses = 0;    // passes into the mark's blink, 0..59: on for 30, off for 30

    // Hands-free: movement in the picture pushes the dots, and still dots glide home by themselves.
    bool handsFree = false;              // on with --hands-free, turned on and off with M
    PictureMovement* movement = nullptr; // the picture's movement between camera frames
    int32_t stillPasses = 0;             // passes since the picture or the mouse last moved
    int32_t homeAfterPasses = 180;       // still passes before the dots go home: 3 s of passes

    // Return-home glide.
    bool homing = false;     // true while the glide runs
    int32_t homingFrame = 0; // glide frames so far, 1..20
};

extern SceneState scene;
