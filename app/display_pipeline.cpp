// Shader program, display texture, pixel buffer and quad of the display.
#include "display_pipeline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "model/grid_size.h"
#include "model/water_model.h"
#include "shallow_water_app.h"

const char* const kVertexShaderSource =
    "#version 410 core\n"
    "layout(location = 0) in vec2 vVertex;\n"
    "smooth out vec2 vUV;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = vec4(vVertex * 2.0 - 1.0, 0.0, 1.0);\n"
    "    vUV = vVertex;\n"
    "}\n";

// Samples at (u, 1 - v) so that grid row 0 is at the top of the window.
const char* const kFragmentShaderSource =
    "#version 410 core\n"
    "layout(location = 0) out vec4 vFragColor;\n"
    "smooth in vec2 vUV;\n"
    "uniform sampler2D textureMap;\n"
    "void main()\n"
    "{\n"
    "    vec2 uv = vec2(vUV.x, 1.0 - vUV.y);\n"
    "    vec4 t = texture(textureMap, uv).rbga;\n"
    "    vFragColor = t;\n"
    "}\n";

namespace {

constexpr GLsizeiptr kPixelBufferBytes = static_cast<GLsizeiptr>(kGridWidth) * kGridHeight * 4;

// Compiles one stage and attaches it; false after printing its log.
bool attachShader(GLuint program, GLenum stage, const char* source, const char* failureFormat)
{
    const GLuint shader = glCreateShader(stage);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint compiled = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled == 0) {
        char log[256];
        std::memset(log, 0, sizeof(log));
        glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
        std::fprintf(stderr, failureFormat, log);
        glDeleteShader(shader);
        return false;
    }
    glAttachShader(program, shader);
    return true;
}

}  // namespace

GLuint createShaderProgram(const char* vertexSource, const char* fragmentSource)
{
    const GLuint program = glCreateProgram();
    if (vertexSource != nullptr && !attachShader(program, GL_VERTEX_SHADER, vertexSource, "Vtx Compile failed:\n%s\n"))
        return 0;
    if (fragmentSource != nullptr &&
        !attachShader(program, GL_FRAGMENT_SHADER, fragmentSource, "frag Compile failed:\n%s\n"))
        return 0;

    glLinkProgram(program);
    GLint logLength = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &logLength);
    if (logLength > 1) {
        std::vector<char> log(static_cast<size_t>(logLength));
        glGetProgramInfoLog(program, logLength, nullptr, log.data());
        std::fprintf(stderr, "Shader compilation error: %s\n", log.data());
    }
    // A program that did not link would draw nothing: treat it as a failure.
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked == 0) {
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

bool checkGlError(const char* file, int line)
{
    const GLenum error = glGetError();
    if (error == GL_NO_ERROR) return true;
    std::fprintf(stderr, "GL Error in file '%s' in line %d : %d\n", file, line, static_cast<int>(error));
    return false;
}

bool ShallowWaterApp::createPixelBuffer()
{
    // The buffer's first content is undefined: CUDA writes every pixel
    // before the first copy into the texture.
    glGenBuffers(1, &pixelBuffer);
    glBindBuffer(GL_ARRAY_BUFFER, pixelBuffer);
    glBufferData(GL_ARRAY_BUFFER, kPixelBufferBytes, nullptr, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    if (!model->registerPixelBuffer(pixelBuffer)) {
        std::fprintf(stderr, "Failed to associated PBO with CUDA-OpenGL interoperability\n");
        return false;
    }
    return CHECK_GL_ERROR();
}

bool ShallowWaterApp::createDisplayTexture()
{
    if (!createPixelBuffer()) return false;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, kGridWidth, kGridHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    return CHECK_GL_ERROR();
}

bool ShallowWaterApp::createQuadGeometry()
{
    if (!createDisplayTexture()) return false;
    // Two counter-clockwise triangles covering the unit square.
    static const GLfloat quad[12] = {0, 0, 1, 0, 1, 1, 0, 0, 1, 1, 0, 1};
    const GLint vertexLocation = glGetAttribLocation(program, "vVertex");
    glGenVertexArrays(1, &vao);
    glBindVertexArray(vao);
    glGenBuffers(1, &quadVbo);
    glBindBuffer(GL_ARRAY_BUFFER, quadVbo);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    glEnableVertexAttribArray(0);
    glVertexAttribPointer(static_cast<GLuint>(vertexLocation), 2, GL_FLOAT, GL_FALSE, 2 * sizeof(GLfloat), nullptr);
    glEnableVertexAttribArray(static_cast<GLuint>(vertexLocation));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return CHECK_GL_ERROR();
}

void refillDisplayTexture(GLuint texture, GLuint pixelBuffer)
{
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, pixelBuffer);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, kGridWidth, kGridHeight, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);
}

void drawDisplay(GLuint program, GLuint texture, GLuint vao, GLuint quadVbo, int hiddenWidth, int hiddenHeight)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glUseProgram(program);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glUniform1i(glGetUniformLocation(program, "textureMap"), 0);
    glBindVertexArray(vao);
    glBindBuffer(GL_ARRAY_BUFFER, quadVbo);
    if (hiddenWidth <= 0 || hiddenHeight <= 0) {
        glDrawArrays(GL_TRIANGLES, 0, 6);
        return;
    }
    // Right of the corner, then below it (GL's rows count from the bottom).
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int width = viewport[2];
    const int height = viewport[3];
    glEnable(GL_SCISSOR_TEST);
    glScissor(hiddenWidth, 0, width > hiddenWidth ? width - hiddenWidth : 0, height);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glScissor(0, 0, hiddenWidth, height > hiddenHeight ? height - hiddenHeight : 0);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glDisable(GL_SCISSOR_TEST);
}
