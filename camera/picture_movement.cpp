#include "camera/picture_movement.h"

#include <algorithm>
#include <cstdlib>

namespace {

const int32_t kLevels = 256;
// A change this small never counts, however quiet the camera: a cell averages 16 pixels, so a
// cheap webcam's noise of 8 levels a pixel moves a cell's luminance by a few levels at most.
const int32_t kLeastThreshold = 8;
// Beyond that the camera's own noise is read from every frame: the typical cell's change, the
// median of them all once the change of the whole picture is taken off, times this much.
const int32_t kNoiseFactor = 5;
// A typical change larger than this is no camera's noise but another picture: the source changed
// (C, a camera plugged in) or the light jumped. It is taken as the new picture to compare the
// next with, and moves nothing.
const int32_t kLargestNoise = 12;
// Less change than this in all, in levels summed over the cells, is still: one cell that strays
// past the threshold now and then moves nothing.
const float kLeastMovement = 24;
// How much of a cell's restlessness each frame carries on (at 30 frames a second it is half gone
// in about 20 frames), and the restlessness past which a cell's change is left out.
const float kRestlessKept = 0.965f;
const float kMostRestless = 0.7f;
// The change is spread over a square of this many cells each way, so that movement pushes the
// dots from a little way around it rather than from single cells, and no further.
const int32_t kSpreadCells = 2;

// The value below which half of count values lie, from their histogram of bins values.
int32_t medianOf(const int32_t* histogram, int32_t bins, int32_t count) {
    int32_t seen = 0;
    for (int32_t value = 0; value < bins; ++value) {
        seen += histogram[value];
        if (2 * seen > count)
            return value;
    }
    return bins - 1;
}

// Each value's average over the values within kSpreadCells of it along one line of count values,
// step apart; a line's ends average over the values they have, so no edge is made where none is.
void spreadLine(const float* from, float* to, int32_t count, int32_t step) {
    for (int32_t i = 0; i < count; ++i) {
        const int32_t first = std::max(0, i - kSpreadCells);
        const int32_t last = std::min(count - 1, i + kSpreadCells);
        float sum = 0;
        for (int32_t j = first; j <= last; ++j)
            sum += from[j * step];
        to[i * step] = sum / static_cast<float>(last - first + 1);
    }
}

void spreadGrid(const float* from, float* to, float* scratch, int32_t cols, int32_t rows) {
    for (int32_t row = 0; row < rows; ++row)
        spreadLine(from + row * cols, scratch + row * cols, cols, 1);
    for (int32_t col = 0; col < cols; ++col)
        spreadLine(scratch + col, to + col, rows, cols);
}

// The slope of values at i along a line of count values, step apart, per value: one-sided at the
// ends.
float slopeAt(const float* values, int32_t i, int32_t count, int32_t step) {
    const int32_t before = std::max(0, i - 1);
    const int32_t after = std::min(count - 1, i + 1);
    if (after == before)
        return 0;
    return (values[after * step] - values[before * step]) / static_cast<float>(after - before);
}

// Sets change from the differences: what lies beyond the frame's noise once the change of the
// whole picture (the light, the camera's exposure) is taken off; none where the picture was
// another, nor in restless cells. Returns the change in all.
float changeBeyondNoise(PictureMovement& m) {
    const int32_t cells = m.cols * m.rows;
    int32_t shifts[2 * kLevels - 1] = {};
    for (int32_t cell = 0; cell < cells; ++cell)
        ++shifts[m.difference[cell] + kLevels - 1];
    const int32_t shift = medianOf(shifts, 2 * kLevels - 1, cells) - (kLevels - 1);
    int32_t sizes[2 * kLevels - 1] = {};
    for (int32_t cell = 0; cell < cells; ++cell)
        ++sizes[std::abs(m.difference[cell] - shift)];
    const int32_t noise = medianOf(sizes, 2 * kLevels - 1, cells);
    const int32_t threshold = std::max(kLeastThreshold, kNoiseFactor * noise);
    float total = 0;
    for (int32_t cell = 0; cell < cells; ++cell) {
        const int32_t beyond = std::abs(m.difference[cell] - shift) - threshold;
        const bool changed = beyond > 0 && noise <= kLargestNoise;
        const bool restless = m.restless[cell] > kMostRestless;
        m.restless[cell] = m.restless[cell] * kRestlessKept + (changed ? 1 - kRestlessKept : 0);
        m.change[cell] = changed && !restless ? static_cast<float>(beyond) : 0.0f;
        total += m.change[cell];
    }
    return total;
}

} // namespace

PictureMovement* newPictureMovement(int32_t cols, int32_t rows) {
    auto* m = new PictureMovement;
    const int32_t cells = cols * rows;
    m->cols = cols;
    m->rows = rows;
    m->lastLuminance = new int32_t[cells]();
    m->difference = new int32_t[cells]();
    m->change = new float[cells]();
    m->restless = new float[cells]();
    m->spread = new float[cells]();
    m->scratch = new float[cells]();
    m->pushX = new float[cells]();
    m->pushY = new float[cells]();
    return m;
}

void measureMovement(PictureMovement& m, const int32_t* luminance) {
    const int32_t cells = m.cols * m.rows;
    for (int32_t cell = 0; cell < cells; ++cell) {
        // Luminances are 0..255; anything else is held there so the histograms hold it.
        const int32_t now = std::clamp(luminance[cell], 0, kLevels - 1);
        m.difference[cell] = m.primed ? now - m.lastLuminance[cell] : 0;
        m.lastLuminance[cell] = now;
    }
    const bool compared = m.primed;
    m.primed = true;
    m.moved = compared && changeBeyondNoise(m) >= kLeastMovement;
    m.pushLeft = m.cols;
    m.pushRight = -1;
    m.pushTop = m.rows;
    m.pushBottom = -1;
    if (!m.moved) {
        std::fill(m.change, m.change + cells, 0.0f);
        std::fill(m.pushX, m.pushX + cells, 0.0f);
        std::fill(m.pushY, m.pushY + cells, 0.0f);
        return;
    }
    // The spreading reaches kSpreadCells beyond a change, and the slope one cell further.
    for (int32_t cell = 0; cell < cells; ++cell) {
        if (m.change[cell] > 0) {
            const int32_t col = cell % m.cols, row = cell / m.cols, reach = kSpreadCells + 1;
            m.pushLeft = std::min(m.pushLeft, std::max(0, col - reach));
            m.pushRight = std::max(m.pushRight, std::min(m.cols - 1, col + reach));
            m.pushTop = std::min(m.pushTop, std::max(0, row - reach));
            m.pushBottom = std::max(m.pushBottom, std::min(m.rows - 1, row + reach));
        }
    }
    spreadGrid(m.change, m.spread, m.scratch, m.cols, m.rows);
    for (int32_t row = 0; row < m.rows; ++row) {
        for (int32_t col = 0; col < m.cols; ++col) {
            const int32_t cell = row * m.cols + col;
            // Downhill, away from where the picture changed most.
            m.pushX[cell] = -slopeAt(m.spread + row * m.cols, col, m.cols, 1);
            m.pushY[cell] = -slopeAt(m.spread + col, row, m.rows, m.cols);
        }
    }
}

void forgetMovement(PictureMovement& m) {
    m.primed = false;
    m.moved = false;
    m.pushRight = m.pushBottom = -1;
    std::fill(m.restless, m.restless + m.cols * m.rows, 0.0f);
}
