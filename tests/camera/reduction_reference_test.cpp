// The reduction's fast path held against the plain walk, accumulation and cell pass, computed
// here straight from their definitions, on random frames of several sizes.
#include "camera/camera_grid.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <vector>

namespace {

struct Cells {
    std::vector<ColorTriple> averages;
    std::vector<int32_t> luminances;
};

Cells plainReduction(const uint8_t* frame, int w, int h, int cols, int rows) {
    const float colScale = static_cast<float>(static_cast<double>(cols) / w);
    const float rowScale = static_cast<float>(static_cast<double>(rows) / h);
    std::vector<ColorTriple> pixels(static_cast<size_t>(w) * h);
    for (int i = 0; i < w * h; ++i) {
        const int e = w * h * 3 - 3 * i;
        pixels[i] = {frame[e - 1], frame[e - 2], frame[e - 3]};
    }
    std::vector<ColorTriple> sums(static_cast<size_t>(cols) * rows);
    std::vector<int32_t> counts(sums.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w - 1; ++x) {
            const int cell = static_cast<int>(y * static_cast<double>(rowScale)) * cols +
                             static_cast<int>(x * static_cast<double>(colScale));
            ++counts[cell];
            sums[cell].r += pixels[y * w + x].r;
            sums[cell].g += pixels[y * w + x].g;
            sums[cell].b += pixels[y * w + x].b;
        }
    }
    Cells cells;
    for (size_t cell = 0; cell < sums.size(); ++cell) {
        const int32_t n = counts[cell];
        const ColorTriple a{sums[cell].r / n, sums[cell].g / n, sums[cell].b / n};
        cells.averages.push_back(a);
        cells.luminances.push_back(
            static_cast<int32_t>((a.b * 0.072169 + a.g * 0.715160) + a.r * 0.212671));
    }
    return cells;
}

struct Size {
    int width, height, cols, rows;
};

TEST(ReductionReference, FastPathMatchesThePlainComputationOnRandomFrames) {
    // Beside the program's own size: cells of one pixel, uneven cells, a single cell, grid rows
    // of more than 256 frame rows (past one 16-bit column sum) and cells of more than 4103
    // pixels (past the reciprocal division).
    const Size sizes[] = {{160, 120, 40, 30}, {160, 120, 80, 120}, {160, 120, 7, 13},
                          {31, 17, 15, 17},   {2, 1, 1, 1},        {50, 40, 1, 1},
                          {6, 600, 2, 2},     {5, 520, 1, 1},      {100, 100, 1, 1},
                          {120, 90, 2, 3}};
    // Camera grids live as long as the process, as in the program.
    static CameraGrid* grids[std::size(sizes)];
    std::mt19937 random(5);
    for (size_t s = 0; s < std::size(sizes); ++s) {
        const Size& size = sizes[s];
        grids[s] = new CameraGrid(size.width, size.height, size.cols, size.rows);
        CameraGrid& grid = *grids[s];
        const int bytes = size.width * size.height * 3;
        for (int frame = 0; frame < 20; ++frame) {
            // Random bytes, now and then long runs of one value, the way real frames look; once
            // a white frame, the largest sums there are, and once white but for one pixel a
            // shade darker, sums just short of a multiple of the count.
            for (int i = 0; i < bytes; ++i)
                grid.frameBuffer[i] = frame == 2 || frame == 6 ? uint8_t{255}
                                      : frame % 4 == 3         ? static_cast<uint8_t>(i / 97 * 31)
                                                               : static_cast<uint8_t>(random());
            if (frame == 6 && bytes >= 6)
                grid.frameBuffer[3] = grid.frameBuffer[4] = grid.frameBuffer[5] = 254;
            grid.reduceFrame();
            const Cells plain =
                plainReduction(grid.frameBuffer, size.width, size.height, size.cols, size.rows);
            for (int cell = 0; cell < size.cols * size.rows; ++cell) {
                const ColorTriple& got = *grid.cellColors()[cell];
                const ColorTriple& want = plain.averages[cell];
                ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b)
                    << size.width << "x" << size.height << " over " << size.cols << "x" << size.rows
                    << ", frame " << frame << ", cell " << cell;
                ASSERT_EQ(grid.cellLuminance()[cell], plain.luminances[cell])
                    << "frame " << frame << ", cell " << cell;
            }
            for (int i = 0; i < size.width * size.height; ++i) {
                const int e = bytes - 3 * i;
                const ColorTriple& walked = *grid.pixels[i];
                ASSERT_TRUE(walked.r == grid.frameBuffer[e - 1] &&
                            walked.g == grid.frameBuffer[e - 2] &&
                            walked.b == grid.frameBuffer[e - 3])
                    << "walked pixel " << i;
            }
        }
    }
}

} // namespace
