// In debug builds, glCheck() after GL calls aborts with the first OpenGL error and where it came
// from; release builds compile it away.
#pragma once

#include <SDL_opengl.h>

#ifndef NDEBUG
#include <cstdio>
#include <cstdlib>
#define glCheck()                                                                                  \
    do {                                                                                           \
        const GLenum glCheckError = glGetError();                                                  \
        if (glCheckError != GL_NO_ERROR) {                                                         \
            std::fprintf(stderr, "%s:%d: OpenGL error 0x%04x\n", __FILE__, __LINE__,               \
                         glCheckError);                                                            \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
#else
#define glCheck() ((void)0)
#endif
