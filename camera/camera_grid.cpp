#include "camera/camera_grid.h"

#include <cstring>

namespace {

static_assert(sizeof(ColorTriple) == 3 * sizeof(int32_t), "triples are packed");

// An array of count pointers, each to a zeroed triple of its own; the triples share one block so
// that a walk over them stays in one stretch of memory.
ColorTriple** newTriples(int32_t count, ColorTriple** block = nullptr) {
    ColorTriple** pointers = new ColorTriple*[count];
    ColorTriple* triples = new ColorTriple[count]();
    for (int32_t i = 0; i < count; ++i)
        pointers[i] = &triples[i];
    if (block)
        *block = triples;
    return pointers;
}

// Widens the channels bytes of frame into the packed triples of walked in reverse order. In
// chunks of 16 channels, so that the compiler can widen and reverse them with vector
// instructions; each chunk is copied into the triples' bytes as it stands.
void reverseWiden(const uint8_t* frame, int32_t channels, ColorTriple* walked) {
    unsigned char* to = reinterpret_cast<unsigned char*>(walked);
    const int chunk = 16;
    int k = 0;
    for (; k + chunk <= channels; k += chunk) {
        int32_t values[chunk];
        const uint8_t* from = frame + channels - 1 - k;
        for (int j = 0; j < chunk; ++j)
            values[j] = from[-j];
        std::memcpy(to + 4 * k, values, sizeof values);
    }
    for (; k < channels; ++k) {
        const int32_t value = frame[channels - 1 - k];
        std::memcpy(to + 4 * k, &value, sizeof value);
    }
}

// Adds a frame row's bytes to the running column sums.
void addRow(const uint8_t* __restrict row, int32_t bytes, int32_t* __restrict sums) {
    for (int32_t i = 0; i < bytes; ++i)
        sums[i] += row[i];
}

} // namespace

CameraGrid::CameraGrid(int32_t captureWidth, int32_t captureHeight, int32_t cols, int32_t rows)
    : captureWidth(captureWidth), captureHeight(captureHeight), cols(cols), rows(rows) {
    pixelCount = captureWidth * captureHeight;
    pixels = newTriples(pixelCount, &pixelBlock);
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

    cellRowOfRow = new int32_t[captureHeight];
    for (int32_t y = 0; y < captureHeight; ++y)
        cellRowOfRow[y] = static_cast<int32_t>(y * static_cast<double>(rowScale));
    // Walked columns 0 .. captureWidth - 2 reach grid column x x colScale, truncated; the grid
    // column grows with x, so each grid column collects one run of walked columns.
    firstColumnOfCell = new int32_t[cols + 1];
    for (int32_t col = 0, x = 0; col <= cols; ++col) {
        while (x < captureWidth - 1 && static_cast<int32_t>(x * static_cast<double>(colScale)) < col)
            ++x;
        firstColumnOfCell[col] = x;
    }
    columnSums = new int32_t[captureWidth * 3]();

    buildCaptureGraph(captureWidth, captureHeight);
}

void CameraGrid::grabFrame() {
    copyFrame();
    reduceFrame();
}

void CameraGrid::reduceFrame() {
    walkFrame();
    accumulateCells();
    finishCells();
}

// Mirror walk: reading the bottom-up BGR frame backwards turns it upright and mirrors it left to
// right at once. Walked pixel i takes its red, green and blue from the three bytes before offset
// (pixelCount - i) x 3, in that order: the walked channels are the frame's bytes reversed.
void CameraGrid::walkFrame() { reverseWiden(frameBuffer, pixelCount * 3, pixelBlock); }

// Accumulation: the sums over every walked pixel but those of the last walked column, per cell.
// Walked row y is frame row captureHeight - 1 - y and walked column x is frame column
// captureWidth - 1 - x, so the frame's rows are summed byte by byte over the rows of one grid
// row first, then those column sums are added up per cell.
void CameraGrid::accumulateCells() {
    const int32_t rowBytes = captureWidth * 3;
    int32_t rowsInGroup = 0;
    for (int32_t y = 0; y < captureHeight; ++y) {
        const uint8_t* row = frameBuffer + (captureHeight - 1 - y) * rowBytes;
        addRow(row, rowBytes, columnSums);
        ++rowsInGroup;
        if (y + 1 < captureHeight && cellRowOfRow[y + 1] == cellRowOfRow[y])
            continue;

        const int32_t rowBase = cellRowOfRow[y] * cols;
        for (int32_t col = 0; col < cols; ++col) {
            ColorTriple sum{};
            const int32_t first = firstColumnOfCell[col];
            const int32_t end = firstColumnOfCell[col + 1];
            for (int32_t x = first; x < end; ++x) {
                const int32_t* frameColumn = columnSums + (captureWidth - 1 - x) * 3;
                sum.b += frameColumn[0];
                sum.g += frameColumn[1];
                sum.r += frameColumn[2];
            }
            ColorTriple* cellSum = cellSums[rowBase + col];
            cellSum->r += sum.r;
            cellSum->g += sum.g;
            cellSum->b += sum.b;
            cellPixelCounts[rowBase + col] += (end - first) * rowsInGroup;
        }
        for (int32_t i = 0; i < rowBytes; ++i)
            columnSums[i] = 0;
        rowsInGroup = 0;
    }
}

// Cell pass: averages, luminances, and the accumulators back to zero.
void CameraGrid::finishCells() {
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
