#include "app/scene_state.h"
#include "dots/dot.h"
#include "draw/render.h"
#include "draw/view.h"

#include <gtest/gtest.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <cmath>
#include <vector>

namespace {

struct Rgb {
    int r, g, b;
};

// An 800 x 600 OpenGL window on the private display, with the program's view and shapes, and a
// scene of a few dots over a one-cell grid.
class Rendering : public ::testing::Test {
  protected:
    ColorTriple cell{255, 255, 255};
    ColorTriple* cellColors[1] = {&cell};
    int32_t cellLuminance[1] = {255};
    std::vector<Dot> dots;

    static void SetUpTestSuite() {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO), 0) << SDL_GetError();
        ASSERT_NE(SDL_SetVideoMode(800, 600, 0, SDL_OPENGL), nullptr) << SDL_GetError();
    }
    static void TearDownTestSuite() { SDL_Quit(); }

    void SetUp() override {
        scene = SceneState{};
        setupView(800, 600, 800, 600);
        buildDiscList(18);
        buildRingList(30);
        scene.ringRadius = 5;
        scene.idleFrames = 1000; // the ring stays faded out unless a test wants it
    }

    void addDot(float x, float y) {
        Dot dot(x, y, 10, 0.95f);
        dot.cellColors = cellColors;
        dot.cellLuminance = cellLuminance;
        dot.bindCells(0);
        dot.cellCount = 1;
        dots.push_back(dot);
        scene.dots = dots.data();
        scene.dotCount = static_cast<int32_t>(dots.size());
    }

    // The pixel at (x, y), y counted down from the top, of the frame just presented, read from
    // where it was drawn: the window's back buffer, or the framebuffer object that an SDL 1.2
    // compatibility layer draws into and copies to the window (it keeps the frame after the swap).
    // An OpenGL error on the way fails the test here, not the program's next check.
    static Rgb pixel(int x, int y) {
        constexpr GLenum readFramebufferBinding = 0x8CAA; // OpenGL 3.0, ARB_framebuffer_object
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "left before the reading";
        GLint framebuffer = 0;
        glGetIntegerv(readFramebufferBinding, &framebuffer);
        if (glGetError() != GL_NO_ERROR)
            framebuffer = 0; // an OpenGL without framebuffer objects always draws to the window
        if (framebuffer == 0)
            glReadBuffer(GL_BACK);
        unsigned char rgb[3] = {};
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, 599 - y, 1, 1, GL_RGB, GL_UNSIGNED_BYTE, rgb);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR))
            << "reading pixel " << x << ", " << y;
        return {rgb[0], rgb[1], rgb[2]};
    }
    static bool isWhite(Rgb c) { return c.r == 255 && c.g == 255 && c.b == 255; }
    static bool isBlack(Rgb c) { return c.r == 0 && c.g == 0 && c.b == 0; }

    // Width in pixels of the black run through (x, y) along the row.
    static int blackRun(int x, int y) {
        int width = 0;
        for (int px = x - 15; px <= x + 15; ++px)
            width += isBlack(pixel(px, y)) ? 1 : 0;
        return width;
    }
};

TEST_F(Rendering, EmptySceneIsWhite) {
    renderFrame();
    for (int y : {0, 300, 599})
        for (int x : {0, 400, 799})
            EXPECT_TRUE(isWhite(pixel(x, y))) << "pixel " << x << ", " << y;
}

TEST_F(Rendering, ColourDotIsCentredThreePixelsUpFromItsSquare) {
    cell = {255, 128, 0};
    addDot(0, 0);
    renderFrame();
    const Rgb centre = pixel(10, 7);
    EXPECT_EQ(centre.r, 255);
    EXPECT_NEAR(centre.g, 128, 1) << "128 / 255 is about 0.502";
    EXPECT_EQ(centre.b, 0);
    // The disc reaches about 10 pixels from its centre each way and no further.
    for (int x : {1, 19})
        EXPECT_FALSE(isWhite(pixel(x, 7))) << "x " << x;
    for (int y : {0, 16})
        EXPECT_FALSE(isWhite(pixel(10, y))) << "y " << y;
    EXPECT_TRUE(isWhite(pixel(22, 7)));
    EXPECT_TRUE(isWhite(pixel(10, 19)));
    EXPECT_TRUE(isWhite(pixel(19, 16))) << "round, not square";
}

TEST_F(Rendering, LaterDotsCoverEarlierOnes) {
    cell = {0, 0, 255};
    addDot(100, 100);
    addDot(105, 100);
    renderFrame();
    EXPECT_EQ(pixel(110, 107).b, 255);
    dots[0].cellColors = nullptr; // not drawn from here on: both dots show the same cell anyway
}

struct HalftoneCase {
    int32_t luminance;
    int diameter; // pixels across the disc's centre row
};

TEST_F(Rendering, HalftoneDiscsShrinkWithBrightness) {
    const HalftoneCase cases[] = {{0, 20}, {51, 16}, {255, 0}};
    scene.colorMode = false;
    addDot(200, 200);
    for (const HalftoneCase& c : cases) {
        cellLuminance[0] = c.luminance;
        cell = {255, 0, 0}; // colour mode's sample is not used in halftone mode
        renderFrame();
        EXPECT_NEAR(blackRun(210, 207), c.diameter, 1) << "luminance " << c.luminance;
        EXPECT_FALSE(pixel(210, 207).r == 255 && pixel(210, 207).g == 0)
            << "halftone discs are black, luminance " << c.luminance;
    }
}

TEST_F(Rendering, SpaceSwitchTakesEffectInTheSameFrame) {
    cell = {0, 255, 0};
    cellLuminance[0] = 0;
    addDot(300, 300);
    renderFrame();
    EXPECT_EQ(pixel(310, 307).g, 255);
    scene.colorMode = false;
    renderFrame();
    EXPECT_TRUE(isBlack(pixel(310, 307)));
}

TEST_F(Rendering, RingIsCentredThreePixelsAboveThePointer) {
    scene.mouseX = 400;
    scene.mouseY = 300;
    scene.idleFrames = 1;
    scene.ringAlpha = 100;
    renderFrame();
    auto reddish = [](Rgb c) { return c.r == 255 && c.g < 128 && c.b < 128; };
    EXPECT_TRUE(reddish(pixel(405, 297)) || reddish(pixel(404, 297))) << "right edge";
    EXPECT_TRUE(reddish(pixel(395, 297)) || reddish(pixel(396, 297))) << "left edge";
    EXPECT_TRUE(reddish(pixel(400, 292)) || reddish(pixel(400, 293))) << "top edge";
    EXPECT_TRUE(reddish(pixel(400, 302)) || reddish(pixel(400, 301))) << "bottom edge";
    EXPECT_TRUE(isWhite(pixel(400, 297))) << "the ring is an outline";
    EXPECT_TRUE(isWhite(pixel(400, 305))) << "nothing around the pointer itself";
}

TEST_F(Rendering, FadedRingIsInvisible) {
    scene.mouseX = 400;
    scene.mouseY = 300;
    renderFrame();
    for (int x = 390; x <= 410; ++x)
        for (int y = 287; y <= 307; ++y)
            ASSERT_TRUE(isWhite(pixel(x, y))) << "pixel " << x << ", " << y;
}

TEST_F(Rendering, LeavesModelViewSelectedAndBlendingOff) {
    renderFrame();
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

struct Point {
    float x, y;
};
using Primitive = std::vector<Point>;

// The primitives a display list sends, caught in feedback mode under a projection that maps
// model coordinates to themselves, times 100, plus (400, 300) in window pixels.
std::vector<Primitive> feedback(GLuint list) {
    std::vector<GLfloat> buffer(4096);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(-400, 400, -300, 300, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glScalef(100, 100, 1);
    glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_2D, buffer.data());
    glRenderMode(GL_FEEDBACK);
    glCallList(list);
    const GLint used = glRenderMode(GL_RENDER);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);

    std::vector<Primitive> primitives;
    for (GLint i = 0; i < used;) {
        const GLenum token = static_cast<GLenum>(buffer[i++]);
        const bool line = token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN;
        const int count = token == GL_POLYGON_TOKEN ? static_cast<int>(buffer[i++]) : line ? 2 : 1;
        Primitive primitive;
        for (int v = 0; v < count; ++v, i += 2)
            primitive.push_back({(buffer[i] - 400) / 100, (buffer[i + 1] - 300) / 100});
        primitives.push_back(primitive);
    }
    return primitives;
}

bool near(Point a, Point b) {
    return std::fabs(a.x - b.x) < 1e-3 && std::fabs(a.y - b.y) < 1e-3;
}

Point onUnitCircle(double degrees) {
    return {static_cast<float>(std::cos(degrees * M_PI / 180)),
            static_cast<float>(std::sin(degrees * M_PI / 180))};
}

// Twice the signed area; positive when the corners turn with increasing angle.
double signedArea(const Primitive& p) {
    double area = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        const Point& a = p[i];
        const Point& b = p[(i + 1) % p.size()];
        area += a.x * b.y - b.x * a.y;
    }
    return area;
}

TEST_F(Rendering, DiscListIsAnEighteenCornerPolygonFromAngleZero) {
    // OpenGL may hand the polygon back as a fan of triangles that all share its first corner.
    const std::vector<Primitive> polygons = feedback(scene.discList);
    ASSERT_FALSE(polygons.empty());
    std::vector<Point> corners;
    for (const Primitive& polygon : polygons) {
        EXPECT_GT(signedArea(polygon), 0) << "corners in order of increasing angle";
        for (const Point& p : polygon) {
            bool known = false;
            for (const Point& c : corners)
                known = known || near(c, p);
            if (!known)
                corners.push_back(p);
        }
    }
    ASSERT_EQ(corners.size(), 18u);
    for (int i = 0; i < 18; ++i) {
        bool found = false;
        for (const Point& c : corners)
            found = found || near(c, onUnitCircle(20.0 * i));
        EXPECT_TRUE(found) << "a corner at " << 20 * i << " degrees (the sixth at 100)";
    }
    for (const Primitive& polygon : polygons) {
        bool sharesFirst = false;
        for (const Point& p : polygon)
            sharesFirst = sharesFirst || near(p, {1, 0});
        EXPECT_TRUE(sharesFirst) << "the first corner is (1, 0)";
    }
}

TEST_F(Rendering, RingListIsAClosedStripOfThirtySegments) {
    const std::vector<Primitive> segments = feedback(scene.ringList);
    ASSERT_EQ(segments.size(), 30u) << "31 vertices make 30 segments";
    EXPECT_TRUE(near(segments.front()[0], {1, 0})) << "starts at (1, 0)";
    EXPECT_TRUE(near(segments.back()[1], {1, 0})) << "ends where it began";
    for (size_t i = 0; i < segments.size(); ++i) {
        EXPECT_TRUE(near(segments[i][0], onUnitCircle(12.0 * i))) << "segment " << i;
        EXPECT_TRUE(near(segments[i][1], onUnitCircle(12.0 * (i + 1)))) << "segment " << i;
    }
}

TEST_F(Rendering, NoSegmentsGiveAnEmptyDiscAndALoneClosingVertex) {
    buildDiscList(0);
    buildRingList(0);
    EXPECT_TRUE(feedback(scene.discList).empty()) << "an empty polygon draws nothing";
    for (const Primitive& p : feedback(scene.ringList))
        for (const Point& v : p)
            EXPECT_TRUE(near(v, {1, 0})) << "only the closing vertex at (1, 0)";
}

TEST_F(Rendering, WindowPixelsAreModelCoordinatesUnderTheIdentity) {
    glClear(GL_COLOR_BUFFER_BIT);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(0, 0, 0);
    glBegin(GL_POINTS);
    glVertex2f(123.5f, 45.5f);
    glEnd();
    SDL_GL_SwapBuffers();
    EXPECT_TRUE(isBlack(pixel(123, 45)));
    EXPECT_TRUE(isWhite(pixel(123, 554))) << "y grows downwards";
}

} // namespace
