#include "dots/lattice.h"

#include "app/scene_state.h"
#include "dots/dot.h"

#include <cstdint>

namespace {

const float kRowStep = 0.75f; // lattice rows lie three quarters of a cell apart
const float kLatticeDamping = 0.95f;

// Walks the lattice rows from the top, calling handleRow(u, odd) with the row coordinate u in
// cells; the test after each row lets the first row past rows - 1.5 still be handled.
template <typename RowHandler> void walkRows(int32_t rows, RowHandler handleRow) {
    float u = -kRowStep;
    bool odd = false;
    do {
        u += kRowStep;
        handleRow(u, odd);
        odd = !odd;
    } while (u <= rows - 1.5);
}

// Places the dot from lattice coordinates (x, u) in cells by truncating to whole pixels.
void place(Dot& dot, const SceneState& state, float x, float u) {
    dot.pos.x = static_cast<float>(static_cast<int32_t>(state.cellSize * x));
    dot.pos.y = static_cast<float>(static_cast<int32_t>(state.cellSize * u));
    dot.radius = state.dotRadius;
}

void placeEvenRow(Dot* dots, int32_t& index, const SceneState& state, float u) {
    const int32_t row = static_cast<int32_t>(u);
    float x = 0.0f;
    for (int32_t col = 0; col < state.cols; ++col, x += 1.0f) {
        Dot& dot = dots[index++];
        place(dot, state, x, u);
        dot.bindCells(row * state.cols + col);
        dot.cellCount = 1;
    }
}

// Binds an edge dot of an odd row to column col of the row above and, unless the row is
// clipped, the row below.
void bindEdge(Dot& dot, int32_t upper, int32_t lower, bool clipped, int32_t col) {
    if (clipped) {
        dot.bindCells(upper + col);
        dot.cellCount = 1;
    } else {
        dot.bindCells(upper + col, lower + col);
        dot.cellCount = 2;
    }
}

void placeOddRow(Dot* dots, int32_t& index, const SceneState& state, float u) {
    const int32_t cols = state.cols;
    const int32_t r0 = static_cast<int32_t>(u);
    const bool clipped = u > state.rows - 1;
    const int32_t upper = r0 * cols;
    const int32_t lower = (r0 + 1) * cols;

    Dot& first = dots[index++];
    place(first, state, -0.5f, u);
    bindEdge(first, upper, lower, clipped, 0);

    float x = 0.5f;
    for (int32_t j = 0; j < cols - 1; ++j, x += 1.0f) {
        Dot& dot = dots[index++];
        place(dot, state, x, u);
        if (clipped) {
            dot.bindCells(upper + j, upper + j + 1);
            dot.cellCount = 2;
        } else {
            dot.bindCells(upper + j, lower + j, upper + j + 1, lower + j + 1);
            dot.cellCount = 4;
        }
    }

    Dot& last = dots[index++];
    place(last, state, x, u);
    bindEdge(last, upper, lower, clipped, cols - 1);
}

} // namespace

void buildLattice() {
    scene.dotCount = 0;
    walkRows(scene.rows,
             [](float, bool odd) { scene.dotCount += odd ? scene.cols + 1 : scene.cols; });

    scene.dots = new Dot[scene.dotCount];
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot = Dot();
        dot.cellColors = scene.cellColors;
        dot.cellLuminance = scene.cellLuminance;
        dot.damping = kLatticeDamping;
    }

    int32_t index = 0;
    walkRows(scene.rows, [&index](float u, bool odd) {
        if (odd)
            placeOddRow(scene.dots, index, scene, u);
        else
            placeEvenRow(scene.dots, index, scene, u);
    });
}
