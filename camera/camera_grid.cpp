#include "camera/camera_grid.h"

#include <cstring>
#include <vector>

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

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Sixteen bytes, or eight 16-bit numbers, in one vector register; the compiler picks each
// target's instructions for the shuffles below.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef uint16_t Halves8 __attribute__((vector_size(16)));
typedef uint64_t Words2 __attribute__((vector_size(16)));

// The 16 bytes before end, last first: two 64-bit words with their bytes swapped.
Bytes16 reversedBytesBefore(const uint8_t* end) {
    uint64_t low = 0, high = 0;
    std::memcpy(&low, end - 16, sizeof low);
    std::memcpy(&high, end - 8, sizeof high);
    return reinterpret_cast<Bytes16>(Words2{__builtin_bswap64(high), __builtin_bswap64(low)});
}

// Interleaving with zeros widens the low or high half of the lanes to twice their width.
Halves8 widenLow(Bytes16 v) {
    return reinterpret_cast<Halves8>(__builtin_shufflevector(v, Bytes16{}, 0, 16, 1, 17, 2, 18, 3,
                                                             19, 4, 20, 5, 21, 6, 22, 7, 23));
}
Halves8 widenHigh(Bytes16 v) {
    return reinterpret_cast<Halves8>(__builtin_shufflevector(v, Bytes16{}, 8, 24, 9, 25, 10, 26, 11,
                                                             27, 12, 28, 13, 29, 14, 30, 15, 31));
}
Halves8 widenLow(Halves8 v) {
    return __builtin_shufflevector(v, Halves8{}, 0, 8, 1, 9, 2, 10, 3, 11);
}
Halves8 widenHigh(Halves8 v) {
    return __builtin_shufflevector(v, Halves8{}, 4, 12, 5, 13, 6, 14, 7, 15);
}

// Widens the last 16 x chunks bytes of frame's channels bytes, last first, into the 32-bit
// channels at to, 16 at a time; the values go into the triples' bytes as they stand. Byte
// swaps reverse each chunk and interleaving with zeros widens it, all in vector registers.
void reverseWidenChunks(const uint8_t* frame, int32_t channels, int32_t chunks, unsigned char* to) {
    for (int32_t chunk = 0; chunk < chunks; ++chunk) {
        const Bytes16 bytes = reversedBytesBefore(frame + channels - 16 * chunk);
        const Halves8 front = widenLow(bytes);
        const Halves8 back = widenHigh(bytes);
        const Halves8 first = widenLow(front), second = widenHigh(front);
        const Halves8 third = widenLow(back), fourth = widenHigh(back);
        unsigned char* out = to + 64 * chunk;
        std::memcpy(out, &first, 16);
        std::memcpy(out + 16, &second, 16);
        std::memcpy(out + 32, &third, 16);
        std::memcpy(out + 48, &fourth, 16);
    }
}
#else
// Byte by byte where the shuffles above would put the widened bytes in the wrong half.
void reverseWidenChunks(const uint8_t* frame, int32_t channels, int32_t chunks, unsigned char* to) {
    for (int32_t k = 0; k < 16 * chunks; ++k) {
        const int32_t value = frame[channels - 1 - k];
        std::memcpy(to + 4 * k, &value, sizeof value);
    }
}
#endif

// Widens the channels bytes of frame into the packed triples of walked in reverse order.
void reverseWiden(const uint8_t* frame, int32_t channels, ColorTriple* walked) {
    unsigned char* to = reinterpret_cast<unsigned char*>(walked);
    const int32_t chunks = channels / 16;
    reverseWidenChunks(frame, channels, chunks, to);
    for (int32_t k = 16 * chunks; k < channels; ++k) {
        const int32_t value = frame[channels - 1 - k];
        std::memcpy(to + 4 * k, &value, sizeof value);
    }
}

// Adds one frame row's bytes, or two rows' bytes at once, to the running 16-bit column sums.
void addRow(const uint8_t* __restrict row, int32_t bytes, uint16_t* __restrict sums) {
    for (int32_t i = 0; i < bytes; ++i)
        sums[i] = static_cast<uint16_t>(sums[i] + row[i]);
}

void addRows(const uint8_t* __restrict row, const uint8_t* __restrict next, int32_t bytes,
             uint16_t* __restrict sums) {
    for (int32_t i = 0; i < bytes; ++i)
        sums[i] = static_cast<uint16_t>(sums[i] + row[i] + next[i]);
}

// The most rows whose bytes a 16-bit column sum holds: 257 x 255 would pass 65535.
const int32_t kRowsPerColumnSum = 256;

// Division by a cell's pixel count as a multiplication: for a count d and a sum n of d bytes,
// (n x ceil(2^32 / d)) >> 32 equals n / d whenever 255 x d x (d - 1) < 2^32, so for every d up
// to 4104. Larger cells are divided plainly.
const int32_t kLargestReciprocalCount = 4104;

uint64_t reciprocalOf(int32_t count) {
    const uint64_t d = static_cast<uint64_t>(count);
    return ((uint64_t{1} << 32) + d - 1) / d;
}

int32_t divideByReciprocal(int32_t sum, uint64_t reciprocal) {
    return static_cast<int32_t>((static_cast<uint64_t>(sum) * reciprocal) >> 32);
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
        while (x < captureWidth - 1 &&
               static_cast<int32_t>(x * static_cast<double>(colScale)) < col)
            ++x;
        firstColumnOfCell[col] = x;
    }
    columnSums = new uint16_t[captureWidth * 3]();

    // Every reduction sums the same pixels into each cell, so each cell's count is known now;
    // a count of 0 or beyond the reciprocal's reach is left to a plain division.
    std::vector<int32_t> counts(static_cast<size_t>(gridCellCount));
    for (int32_t y = 0; y < captureHeight; ++y)
        for (int32_t col = 0; col < cols; ++col)
            counts[static_cast<size_t>(cellRowOfRow[y] * cols + col)] +=
                firstColumnOfCell[col + 1] - firstColumnOfCell[col];
    countReciprocals = new uint64_t[gridCellCount]();
    for (int32_t cell = 0; cell < gridCellCount; ++cell) {
        const int32_t count = counts[static_cast<size_t>(cell)];
        if (count > 0 && count <= kLargestReciprocalCount)
            countReciprocals[cell] = reciprocalOf(count);
    }

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
void CameraGrid::walkFrame() {
    reverseWiden(frameBuffer, pixelCount * 3, pixelBlock);
}

// Accumulation: the sums over every walked pixel but those of the last walked column, per cell.
// Walked row y is frame row captureHeight - 1 - y and walked column x is frame column
// captureWidth - 1 - x, so the frame's rows are summed byte by byte over the rows of one grid
// row first (in 16-bit sums, at most 256 rows at a time), then those column sums are added up
// per cell.
void CameraGrid::accumulateCells() {
    int32_t y = 0;
    while (y < captureHeight) {
        int32_t end = y + 1;
        while (end < captureHeight && end - y < kRowsPerColumnSum &&
               cellRowOfRow[end] == cellRowOfRow[y])
            ++end;
        sumColumns(y, end);
        addColumnsToCells(cellRowOfRow[y] * cols, end - y);
        y = end;
    }
}

// Sums the frame rows of walked rows firstRow .. endRow - 1 byte by byte into the column sums,
// two rows at a time.
void CameraGrid::sumColumns(int32_t firstRow, int32_t endRow) {
    const int32_t rowBytes = captureWidth * 3;
    int32_t y = firstRow;
    for (; y + 1 < endRow; y += 2)
        addRows(frameRow(y), frameRow(y + 1), rowBytes, columnSums);
    if (y < endRow)
        addRow(frameRow(y), rowBytes, columnSums);
}

// Adds the column sums of rowCount walked rows to the grid row whose first cell is firstCell,
// and clears them for the next grid row.
void CameraGrid::addColumnsToCells(int32_t firstCell, int32_t rowCount) {
    for (int32_t col = 0; col < cols; ++col) {
        // Walked columns first .. last - 1 are frame columns captureWidth - last ..
        // captureWidth - 1 - first, one stretch of the column sums.
        const int32_t first = firstColumnOfCell[col];
        const int32_t last = firstColumnOfCell[col + 1];
        const uint16_t* frameColumn = columnSums + (captureWidth - last) * 3;
        int32_t r = 0, g = 0, b = 0;
        int32_t x = first;
        for (; x + 4 <= last; x += 4, frameColumn += 12) {
            b += frameColumn[0] + frameColumn[3] + frameColumn[6] + frameColumn[9];
            g += frameColumn[1] + frameColumn[4] + frameColumn[7] + frameColumn[10];
            r += frameColumn[2] + frameColumn[5] + frameColumn[8] + frameColumn[11];
        }
        for (; x < last; ++x, frameColumn += 3) {
            b += frameColumn[0];
            g += frameColumn[1];
            r += frameColumn[2];
        }
        ColorTriple* cellSum = cellSums[firstCell + col];
        cellSum->r += r;
        cellSum->g += g;
        cellSum->b += b;
        cellPixelCounts[firstCell + col] += (last - first) * rowCount;
    }
    for (int32_t i = 0; i < captureWidth * 3; ++i)
        columnSums[i] = 0;
}

// Cell pass: averages, luminances, and the accumulators back to zero.
void CameraGrid::finishCells() {
    for (int32_t cell = 0; cell < gridCellCount; ++cell) {
        ColorTriple* average = cellAverages[cell];
        ColorTriple* sum = cellSums[cell];
        const int32_t count = cellPixelCounts[cell];
        const uint64_t reciprocal = countReciprocals[cell];
        if (reciprocal != 0) {
            average->r = divideByReciprocal(sum->r, reciprocal);
            average->g = divideByReciprocal(sum->g, reciprocal);
            average->b = divideByReciprocal(sum->b, reciprocal);
        } else if (count > 0) {
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
