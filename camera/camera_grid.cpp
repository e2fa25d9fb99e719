#include "camera/camera_grid.h"

namespace {

// An array of count pointers, each to a zeroed triple of its own; the triples share one block so
// that a walk over them stays in one stretch of memory.
ColorTriple** newTriples(int32_t count) {
    ColorTriple** pointers = new ColorTriple*[count];
    ColorTriple* block = new ColorTriple[count]();
    for (int32_t i = 0; i < count; ++i)
        pointers[i] = &block[i];
    return pointers;
}

} // namespace

CameraGrid::CameraGrid(int32_t captureWidth, int32_t captureHeight, int32_t cols, int32_t rows)
    : captureWidth(captureWidth), captureHeight(captureHeight), cols(cols), rows(rows) {
    pixelCount = captureWidth * captureHeight;
    pixels = newTriples(pixelCount);
    frameBytes = pixelCount * 3;
    // Zeroed so that the reduction reads a black frame until the camera delivers one.
    frameBuffer = new uint8_t[frameBytes]();
    gridCellCount = cols * rows;
    cellAverages = newTriples(gridCellCount);
    cellSums = newTriples(gridCellCount);
    cellLuminances = new int32_t[gridCellCount]();
    cellPixelCounts = new int32_t[gridCellCount]();
    colScale = static_cast<float>(static_cast<double>(cols) / captureWidth);
    rowScale = static_cast<float>(static_cast<double>(rows) / captureHeight);
    buildCaptureGraph(captureWidth, captureHeight);
}

void CameraGrid::grabFrame() {
    copyFrame();
    reduceFrame();
}

void CameraGrid::reduceFrame() {
    // Mirror walk: reading backwards from the end of the bottom-up BGR frame turns it upright
    // and mirrors it left to right at once.
    const int32_t end = pixelCount * 3;
    for (int32_t i = 0; i < pixelCount; ++i) {
        const int32_t e = end - 3 * i;
        ColorTriple* pixel = pixels[i];
        pixel->r = frameBuffer[e - 1];
        pixel->g = frameBuffer[e - 2];
        pixel->b = frameBuffer[e - 3];
    }

    // Accumulation; the last column of the walked frame reaches no cell.
    for (int32_t y = 0; y < captureHeight; ++y) {
        const int32_t cellRow = static_cast<int32_t>(y * static_cast<double>(rowScale));
        for (int32_t x = 0; x < captureWidth - 1; ++x) {
            const int32_t cellCol = static_cast<int32_t>(x * static_cast<double>(colScale));
            const int32_t cell = cellRow * cols + cellCol;
            const ColorTriple* pixel = pixels[y * captureWidth + x];
            ColorTriple* sum = cellSums[cell];
            ++cellPixelCounts[cell];
            sum->r += pixel->r;
            sum->g += pixel->g;
            sum->b += pixel->b;
        }
    }

    // Cell pass: averages, luminances, and the accumulators back to zero.
    for (int32_t cell = 0; cell < gridCellCount; ++cell) {
        ColorTriple* average = cellAverages[cell];
        ColorTriple* sum = cellSums[cell];
        const int32_t count = cellPixelCounts[cell];
        if (count > 0) {
            average->r = sum->r / count;
            average->g = sum->g / count;
            average->b = sum->b / count;
        } else {
            *average = ColorTriple{};
        }
        cellLuminances[cell] = static_cast<int32_t>(
            (average->b * 0.072169 + average->g * 0.715160) + average->r * 0.212671);
        cellPixelCounts[cell] = 0;
        *sum = ColorTriple{};
    }
}
