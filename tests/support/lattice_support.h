// For tests that build more than one lattice: the program builds its lattice once and never
// gives it back, but a test that builds another one releases the one before.
#pragma once

#include "app/scene_state.h"
#include "dots/dot.h"

inline void releaseLattice() {
    for (int32_t i = 0; i < scene.dotCount; ++i)
        delete[] scene.dots[i].cells;
    delete[] scene.dots;
    scene.dots = nullptr;
    scene.dotCount = 0;
}

#include "dots/lattice.h"

// The scene as start-up leaves it for an 800 x 600 display over the given cell arrays: the
// sizes, and the 1620-dot lattice with every dot at home.
inline void buildProgramLattice(ColorTriple** cellColors, int32_t* cellLuminance) {
    scene.width = 800;
    scene.height = 600;
    scene.screenWidth = 800;
    scene.screenHeight = 600;
    scene.cellSize = 20;
    scene.cols = 40;
    scene.rows = 30;
    scene.dotRadius = 10;
    scene.ringRadius = 5;
    scene.cellColors = cellColors;
    scene.cellLuminance = cellLuminance;
    buildLattice();
    for (int32_t i = 0; i < scene.dotCount; ++i)
        scene.dots[i].home = scene.dots[i].pos;
}
