#include "draw/view.h"

#include "app/scene_state.h"
#include "draw/gl_check.h"

#include <GL/glu.h>
#include <SDL_opengl.h>

#include <cmath>

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

void setupView(int width, int height) {
    glShadeModel(GL_SMOOTH);
    glClearColor(1, 1, 1, 0);
    glViewport(0, 0, width, height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluOrtho2D(0, width, height, 0);
    glCheck();
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
