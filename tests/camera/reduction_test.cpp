#include "camera/camera_grid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>

namespace {

const int kWidth = 160;
const int kHeight = 120;
const int kCols = 40;
const int kRows = 30;

// The camera grid of the program, reducing frames that the tests write into its buffer.
class Reduction : public ::testing::Test {
  protected:
    static CameraGrid* camera;

    static void SetUpTestSuite() { camera = new CameraGrid(kWidth, kHeight, kCols, kRows); }

    // Fills the frame buffer pixel by pixel; imageRow 0 is the top of the camera image and
    // imageCol 0 its left edge, as the camera sees it. The buffer is bottom row first, BGR.
    void paint(const std::function<ColorTriple(int imageRow, int imageCol)>& colorAt) {
        for (int row = 0; row < kHeight; ++row) {
            for (int col = 0; col < kWidth; ++col) {
                const ColorTriple c = colorAt(row, col);
                uint8_t* pixel = camera->frameBuffer + ((kHeight - 1 - row) * kWidth + col) * 3;
                pixel[0] = static_cast<uint8_t>(c.b);
                pixel[1] = static_cast<uint8_t>(c.g);
                pixel[2] = static_cast<uint8_t>(c.r);
            }
        }
    }
    void paintUniform(ColorTriple c) {
        paint([c](int, int) { return c; });
    }

    const ColorTriple& cell(int row, int col) const {
        return *camera->cellColors()[row * kCols + col];
    }
    int32_t luminance(int row, int col) const { return camera->cellLuminance()[row * kCols + col]; }
};

CameraGrid* Reduction::camera = nullptr;

TEST_F(Reduction, SizesAndScalesFollowTheConstructor) {
    EXPECT_EQ(camera->pixelCount, 19200);
    EXPECT_EQ(camera->gridCellCount, 1200);
    EXPECT_EQ(camera->frameBytes, 57600);
    EXPECT_EQ(camera->colScale, 0.25f);
    EXPECT_EQ(camera->rowScale, 0.25f);
}

TEST_F(Reduction, UniformGreyGivesThatGreyAndLuminanceForEveryLevel) {
    for (int v = 0; v <= 255; ++v) {
        std::memset(camera->frameBuffer, v, 57600);
        camera->reduceFrame();
        for (int i = 0; i < 1200; ++i) {
            const ColorTriple& c = *camera->cellColors()[i];
            ASSERT_TRUE(c.r == v && c.g == v && c.b == v) << "grey " << v << " cell " << i;
            ASSERT_EQ(camera->cellLuminance()[i], v) << "grey " << v << " cell " << i;
        }
    }
}

struct PrimaryCase {
    ColorTriple color;
    int32_t luminance;
};

TEST_F(Reduction, PurePrimariesGiveTheirLuminances) {
    const PrimaryCase cases[] = {{{255, 0, 0}, 54}, {{0, 255, 0}, 182}, {{0, 0, 255}, 18}};
    for (const PrimaryCase& c : cases) {
        paintUniform(c.color);
        camera->reduceFrame();
        for (int i = 0; i < 1200; ++i) {
            const ColorTriple& got = *camera->cellColors()[i];
            ASSERT_TRUE(got.r == c.color.r && got.g == c.color.g && got.b == c.color.b)
                << "channels stay in their place, cell " << i;
            ASSERT_EQ(camera->cellLuminance()[i], c.luminance) << "cell " << i;
        }
    }
}

TEST_F(Reduction, MirrorsTheImageLeftToRight) {
    paint([](int, int col) { return col < 80 ? ColorTriple{255, 255, 255} : ColorTriple{}; });
    camera->reduceFrame();
    for (int row = 0; row < kRows; ++row) {
        for (int col = 0; col < kCols; ++col) {
            const int32_t expected = col < 20 ? 0 : 255;
            EXPECT_EQ(cell(row, col).g, expected) << "row " << row << " col " << col;
            EXPECT_EQ(luminance(row, col), expected) << "row " << row << " col " << col;
        }
    }
}

TEST_F(Reduction, TurnsTheBottomUpFrameUpright) {
    std::memset(camera->frameBuffer, 0, 57600);
    std::memset(camera->frameBuffer + 57600 - 480, 255, 480); // the top image row
    camera->reduceFrame();
    for (int row = 0; row < kRows; ++row) {
        for (int col = 0; col < kCols; ++col) {
            // 4 of 16 pixels white, or 3 of 12 in the last column: 63 either way.
            const int32_t expected = row == 0 ? 63 : 0;
            EXPECT_EQ(cell(row, col).r, expected) << "row " << row << " col " << col;
            EXPECT_EQ(cell(row, col).b, expected) << "row " << row << " col " << col;
            EXPECT_EQ(luminance(row, col), expected) << "row " << row << " col " << col;
        }
    }
}

TEST_F(Reduction, ImageColumnZeroReachesNoCellAndColumn159ReachesGridColumnZero) {
    paint([](int, int col) { return col == 0 ? ColorTriple{255, 255, 255} : ColorTriple{}; });
    camera->reduceFrame();
    for (int i = 0; i < 1200; ++i)
        ASSERT_EQ(camera->cellLuminance()[i], 0) << "cell " << i;

    paint([](int, int col) { return col == 159 ? ColorTriple{255, 255, 255} : ColorTriple{}; });
    camera->reduceFrame();
    for (int row = 0; row < kRows; ++row) {
        for (int col = 0; col < kCols; ++col) {
            const int32_t expected = col == 0 ? 63 : 0;
            EXPECT_EQ(cell(row, col).g, expected) << "row " << row << " col " << col;
        }
    }
}

TEST_F(Reduction, ReducingTwiceGivesTheSameCells) {
    paint([](int row, int col) {
        return ColorTriple{(row * 7 + col) % 256, (row * col) % 256, (col * 13) % 256};
    });
    camera->reduceFrame();
    std::unique_ptr<ColorTriple[]> first(new ColorTriple[1200]);
    std::unique_ptr<int32_t[]> firstLuminance(new int32_t[1200]);
    for (int i = 0; i < 1200; ++i) {
        first[i] = *camera->cellColors()[i];
        firstLuminance[i] = camera->cellLuminance()[i];
    }
    camera->reduceFrame();
    for (int i = 0; i < 1200; ++i) {
        const ColorTriple& again = *camera->cellColors()[i];
        EXPECT_TRUE(again.r == first[i].r && again.g == first[i].g && again.b == first[i].b)
            << "cell " << i;
        EXPECT_EQ(camera->cellLuminance()[i], firstLuminance[i]) << "cell " << i;
        EXPECT_EQ(camera->cellPixelCounts[i], 0) << "counts are back at zero";
        EXPECT_EQ(camera->cellSums[i]->r, 0) << "sums are back at zero";
    }
}

TEST_F(Reduction, CellArraysNeverMove) {
    ColorTriple** colors = camera->cellColors();
    ColorTriple* firstCell = colors[0];
    int32_t* luminances = camera->cellLuminance();
    camera->grabFrame();
    camera->reduceFrame();
    EXPECT_EQ(camera->cellColors(), colors);
    EXPECT_EQ(camera->cellColors()[0], firstCell);
    EXPECT_EQ(camera->cellLuminance(), luminances);
}

} // namespace
