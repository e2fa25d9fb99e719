#include "draw/view.h"

#include "app/scene_state.h"
#include "draw/gl_check.h"

#include <GL/glu.h>
#include <SDL_opengl.h>

#include <cmath>
#include <cstdint>

namespace {

const double kPi = 3.1415926535897;

// The corners of the regular polygon inscribed in the unit circle, first at angle 0.
void emitCorners(int segments) {
    for (int i = 0; i < segments; ++i) {
        const double angle = (2 * i * kPi) / segments;
        glVertex2f(static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle)));
    }
}

} // namespace

void setupView(int width, int height, int surfaceWidth, int surfaceHeight) {
    const PictureSize view = placePicture(width, height, surfaceWidth, surfaceHeight);
    // OpenGL counts rows from the bottom of the surface.
    const int viewBottom = surfaceHeight - scene.viewTop - view.height;
    glShadeModel(GL_SMOOTH);
    glClearColor(1, 1, 1, 0);
    glViewport(scene.viewLeft, viewBottom, view.width, view.height);
    // The scissor keeps the white clear and every shape inside the picture.
    glScissor(scene.viewLeft, viewBottom, view.width, view.height);
    if (scene.viewBorder)
        glEnable(GL_SCISSOR_TEST);
    else
        glDisable(GL_SCISSOR_TEST);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, width, height, 0);
    glCheck();
}

PictureSize placePicture(int width, int height, int surfaceWidth, int surfaceHeight) {
    int viewWidth = surfaceWidth;
    int viewHeight = surfaceHeight;
    // Integer products compare the shapes exactly: a 4:3 screen gets no border at all.
    if (int64_t{surfaceWidth} * height > int64_t{surfaceHeight} * width)
        viewWidth = static_cast<int>(int64_t{surfaceHeight} * width / height);
    else
        viewHeight = static_cast<int>(int64_t{surfaceWidth} * height / width);
    scene.viewLeft = (surfaceWidth - viewWidth) / 2;
    scene.viewTop = (surfaceHeight - viewHeight) / 2;
    scene.viewScale = static_cast<float>(viewWidth) / static_cast<float>(width);
    scene.viewBorder = viewWidth != surfaceWidth || viewHeight != surfaceHeight;
    return {viewWidth, viewHeight};
}

void clearView() {
    // Black beside the picture; the back buffer holds no picture of its own after a swap.
    if (scene.viewBorder) {
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 0, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(1, 1, 1, 0);
        glEnable(GL_SCISSOR_TEST);
    }
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void buildDiscList(int segments) {
    scene.discList = glGenLists(1);
    glNewList(scene.discList, GL_COMPILE);
    glBegin(GL_POLYGON);
    emitCorners(segments);
    glEnd();
    glEndList();
    glCheck();
}

void buildRingList(int segments) {
    scene.ringList = glGenLists(1);
    glNewList(scene.ringList, GL_COMPILE);
    glBegin(GL_LINE_STRIP);
    emitCorners(segments);
    glVertex2f(1, 0);
    glEnd();
    glEndList();
    glCheck();
}
