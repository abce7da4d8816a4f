// The OpenGL side of the display: the shader program, the per-frame texture
// refill from the pixel buffer and the draw of the full-window quad.
#pragma once

#include <glad/gl.h>

extern const char* const kVertexShaderSource;
extern const char* const kFragmentShaderSource;

// Compiles the given stages (a null source skips its stage) and links them.
// Returns 0 after printing the log when a shader does not compile or the
// program does not link.
GLuint createShaderProgram(const char* vertexSource, const char* fragmentSource);

// Reports a pending GL error with the file and line of the check; false when
// there was one.
bool checkGlError(const char* file, int line);
#define CHECK_GL_ERROR() checkGlError(__FILE__, __LINE__)

// Copies the pixel buffer into the texture on the GPU (no host copy).
void refillDisplayTexture(GLuint texture, GLuint pixelBuffer);

// Clears the window and draws the textured quad. With `hiddenWidth` and
// `hiddenHeight` above 0, the window's top-left corner of that size is left
// out: an opaque panel will cover it.
void drawDisplay(GLuint program, GLuint texture, GLuint vao, GLuint quadVbo, int hiddenWidth = 0,
                 int hiddenHeight = 0);
