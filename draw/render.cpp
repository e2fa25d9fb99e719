#include "draw/render.h"

#include "app/scene_state.h"
#include "dots/dot.h"
#include "draw/gl_check.h"
#include "draw/view.h"

#include <SDL.h>
#include <SDL_opengl.h>

namespace {

const float kColorScale = 1.0f / 255;     // colour channel 0..255 to OpenGL 0..1
const double kLuminanceScale = 1.0 / 255; // luminance 0..255 to halftone size 0..1
const float kFrameShift = -3;             // the whole frame is drawn 3 pixels higher
const int32_t kRingTargetBase = 101;
const float kRingGain = 0.05f;
const float kRingOpacityScale = 0.01f;
// Every so many dots the drawing so far is handed on: a software renderer then rasterises those
// dots on its own threads while the rest are still being issued. The picture stays the same.
const int32_t kDotsPerFlush = 128;
// The flash of a picture taken: white over the picture, fading out over this many passes (a
// fifth of a second at 60 a second), from this opacity.
const int32_t kFlashPasses = 12;
const float kFlashOpacity = 0.8f;
// The mark of a clip being recorded: a red dot this far from the view's top and right edges, of
// this radius, in pixels, on for so many passes and off for as many (half a second at 60).
const float kMarkInset = 16;
const float kMarkRadius = 6;
const int32_t kMarkBlinkPasses = 30;

void handOnNowAndThen(int32_t dotIndex) {
    if (dotIndex % kDotsPerFlush == kDotsPerFlush - 1)
        glFlush();
}

void stampDisc(const Dot& dot, float scale) {
    glPushMatrix();
    glTranslatef(dot.pos.x + dot.radius, dot.pos.y + dot.radius, 0);
    glScalef(scale, scale, 0);
    glCallList(scene.discList);
    glPopMatrix();
}

void drawColourDots() {
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot.sampleColor();
        glColor3f(dot.color.r * kColorScale, dot.color.g * kColorScale, dot.color.b * kColorScale);
        stampDisc(dot, dot.radius);
        handOnNowAndThen(i);
    }
}

// Black discs whose radius grows with the darkness of the cells; white cells draw nothing. The
// negative scale turns the disc half round about its centre, which leaves its shape as it is.
void drawHalftoneDots() {
    for (int32_t i = 0; i < scene.dotCount; ++i) {
        Dot& dot = scene.dots[i];
        dot.sampleLuminance();
        glColor3f(0, 0, 0);
        const double s = dot.luminance * kLuminanceScale - 1;
        if (s < 0)
            stampDisc(dot, static_cast<float>(s * dot.radius));
        handOnNowAndThen(i);
    }
}

void drawRing() {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    fadeRing();
    glColor4f(1, 0, 0, scene.ringAlpha * kRingOpacityScale);
    glPushMatrix();
    glTranslatef(static_cast<float>(scene.mouseX), static_cast<float>(scene.mouseY), 0);
    glScalef(scene.ringRadius, scene.ringRadius, 0);
    glCallList(scene.ringList);
    glPopMatrix();
    glDisable(GL_BLEND);
}

// White over the whole view, fading out pass by pass; nothing once the flash is over.
void drawFlash() {
    if (scene.flashPasses <= 0)
        return;
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glColor4f(1, 1, 1, kFlashOpacity * static_cast<float>(scene.flashPasses) / kFlashPasses);
    glLoadIdentity();
    glRectf(0, 0, scene.screenWidth, scene.screenHeight);
    glDisable(GL_BLEND);
    --scene.flashPasses;
}

// The recording mark over everything, blinking; nothing while no clip is recorded.
void drawRecordingMark() {
    if (!scene.recording)
        return;
    const bool on = scene.markPasses < kMarkBlinkPasses;
    scene.markPasses = (scene.markPasses + 1) % (2 * kMarkBlinkPasses);
    if (!on)
        return;
    glColor3f(1, 0, 0);
    glLoadIdentity();
    glTranslatef(scene.screenWidth - kMarkInset, kMarkInset, 0);
    glScalef(kMarkRadius, kMarkRadius, 0);
    glCallList(scene.discList);
}

} // namespace

void startFlash() {
    scene.flashPasses = kFlashPasses;
}

void fadeRing() {
    const int32_t target = kRingTargetBase - scene.idleFrames;
    float alpha = static_cast<float>(scene.ringAlpha +
                                     (static_cast<double>(target) - scene.ringAlpha) * kRingGain);
    if (alpha < 0)
        alpha = 0;
    scene.ringAlpha = alpha;
}

void drawDots() {
    clearView();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glColor3f(0, 0, 0);
    glTranslatef(0, kFrameShift, 0);
    if (scene.colorMode)
        drawColourDots();
    else
        drawHalftoneDots();
    glCheck();
}

void finishFrame() {
    drawRing();
    drawFlash();
    drawRecordingMark();
    glCheck();
    SDL_GL_SwapBuffers();
}

void renderFrame() {
    drawDots();
    finishFrame();
}

void pictureSize(int& width, int& height) {
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    width = viewport[2];
    height = viewport[3];
}

void readBackPicture(uint8_t* pixels, int width, int height) {
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    glReadPixels(viewport[0], viewport[1], width, height, GL_BGRA, GL_UNSIGNED_BYTE, pixels);
    glCheck();
}
