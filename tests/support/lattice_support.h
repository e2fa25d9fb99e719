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
