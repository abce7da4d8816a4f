// Start-up of the display objects: what they are once created, and how a
// failed link or a GL error ends the start-up.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "display_test_support.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

using DisplayStartUp = DisplayAppTest;

TEST_F(DisplayStartUp, CreatesTheBufferTextureAndQuadTheImageNeeds)
{
    ShallowWaterApp* app = createApp();
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    GLint value = 0;
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, app->pixelBuffer);
    glGetBufferParameteriv(GL_PIXEL_UNPACK_BUFFER, GL_BUFFER_SIZE, &value);
    EXPECT_EQ(value, 2688 * 1536 * 4);
    glGetBufferParameteriv(GL_PIXEL_UNPACK_BUFFER, GL_BUFFER_USAGE, &value);
    EXPECT_EQ(value, GL_DYNAMIC_DRAW);
    glBindBuffer(GL_PIXEL_UNPACK_BUFFER, 0);

    // One texel per cell, taken as it is: no smoothing, no wrapping.
    glBindTexture(GL_TEXTURE_2D, app->texture);
    const std::vector<std::pair<GLenum, GLint>> levelZero = {
        {GL_TEXTURE_WIDTH, 2688}, {GL_TEXTURE_HEIGHT, 1536}, {GL_TEXTURE_INTERNAL_FORMAT, GL_RGBA8}};
    for (const auto& [name, expected] : levelZero) {
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, name, &value);
        EXPECT_EQ(value, expected) << "level parameter " << std::hex << name;
    }
    const std::vector<std::pair<GLenum, GLint>> sampling = {{GL_TEXTURE_MIN_FILTER, GL_NEAREST},
                                                            {GL_TEXTURE_MAG_FILTER, GL_NEAREST},
                                                            {GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE},
                                                            {GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE}};
    for (const auto& [name, expected] : sampling) {
        glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
        EXPECT_EQ(value, expected) << "texture parameter " << std::hex << name;
    }

    // The unit square as two triangles, read by attribute 0 of the quad's
    // vertex array.
    std::vector<float> quad(12, -1.0f);
    glBindBuffer(GL_ARRAY_BUFFER, app->quadVbo);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &value);
    EXPECT_EQ(value, 48);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, 48, quad.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(quad, (std::vector<float>{0, 0, 1, 0, 1, 1, 0, 0, 1, 1, 0, 1}));
    glBindVertexArray(app->vao);
    const std::vector<std::pair<GLenum, GLint>> attribute = {{GL_VERTEX_ATTRIB_ARRAY_ENABLED, GL_TRUE},
                                                             {GL_VERTEX_ATTRIB_ARRAY_SIZE, 2},
                                                             {GL_VERTEX_ATTRIB_ARRAY_TYPE, GL_FLOAT},
                                                             {GL_VERTEX_ATTRIB_ARRAY_NORMALIZED, GL_FALSE},
                                                             {GL_VERTEX_ATTRIB_ARRAY_STRIDE, 8},
                                                             {GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING,
                                                              static_cast<GLint>(app->quadVbo)}};
    for (const auto& [name, expected] : attribute) {
        glGetVertexAttribiv(0, name, &value);
        EXPECT_EQ(value, expected) << "attribute parameter " << std::hex << name;
    }
    glBindVertexArray(0);
}

TEST_F(DisplayStartUp, GlErrorNamesTheFileAndLineOfTheCheckAndEndsTheStartUp)
{
    const size_t allocationsBefore = cpu_runtime::liveAllocationCount();
    glEnable(0xFFFF);  // leaves GL_INVALID_ENUM pending for the first check
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(createApp(), nullptr);
    EXPECT_EQ(GetCapturedStdout(), "");
    const std::string printed = GetCapturedStderr();
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), allocationsBefore);

    const std::string prefix = "GL Error in file '";
    const std::string suffix = " : 1280\n";  // GL_INVALID_ENUM
    const size_t lineAt = printed.rfind("' in line ");
    ASSERT_EQ(printed.compare(0, prefix.size(), prefix), 0) << printed;
    ASSERT_NE(lineAt, std::string::npos) << printed;
    ASSERT_GT(printed.size(), suffix.size());
    ASSERT_EQ(printed.compare(printed.size() - suffix.size(), suffix.size(), suffix), 0) << printed;
    // The line named is the pixel buffer's check in the source as compiled.
    const std::string file = printed.substr(prefix.size(), lineAt - prefix.size());
    const int line = std::atoi(printed.c_str() + lineAt + std::strlen("' in line "));
    std::ifstream source(file);
    ASSERT_TRUE(source.good()) << "no such source file: " << file;
    std::string text;
    std::string function;
    for (int number = 1; number <= line && std::getline(source, text); ++number) {
        if (text.rfind("bool ShallowWaterApp::", 0) == 0) function = text;
    }
    EXPECT_NE(text.find("CHECK_GL_ERROR()"), std::string::npos) << file << ":" << line << ": " << text;
    EXPECT_EQ(function, "bool ShallowWaterApp::createPixelBuffer()");
}

// Stands in for the driver's glLinkProgram: links the program with a
// second main() attached, so that the link fails as a broken one would.
PFNGLLINKPROGRAMPROC s_driverLinkProgram = nullptr;

void APIENTRY linkWithDuplicateMain(GLuint program)
{
    const GLuint extra = glCreateShader(GL_VERTEX_SHADER);
    const char* source = "#version 410 core\nvoid main()\n{\n}\n";
    glShaderSource(extra, 1, &source, nullptr);
    glCompileShader(extra);
    glAttachShader(program, extra);
    glDeleteShader(extra);
    s_driverLinkProgram(program);
}

TEST_F(DisplayStartUp, FailedLinkEndsTheStartUpWithItsLogAndMessage)
{
    const size_t allocationsBefore = cpu_runtime::liveAllocationCount();
    s_driverLinkProgram = glad_glLinkProgram;
    glad_glLinkProgram = linkWithDuplicateMain;
    CaptureStderr();
    ShallowWaterApp* app = createApp();
    const std::string printed = GetCapturedStderr();
    glad_glLinkProgram = s_driverLinkProgram;

    EXPECT_EQ(app, nullptr);
    const std::string linkLog = "Shader compilation error: ";
    const std::string startUpFailed = "\nFailed to compile required OpenGL GLSL shaders.\n";
    ASSERT_GT(printed.size(), linkLog.size() + startUpFailed.size()) << "no link log: " << printed;
    EXPECT_EQ(printed.compare(0, linkLog.size(), linkLog), 0) << printed;
    EXPECT_EQ(printed.compare(printed.size() - startUpFailed.size(), startUpFailed.size(), startUpFailed), 0)
        << printed;
    EXPECT_EQ(cpu_runtime::liveAllocationCount(), allocationsBefore);
}

}  // namespace
