// Building the shader program: the display's own shaders, compile failures
// with their cut log, absent stages and a failed link.
#include <glad/gl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/display_pipeline.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const char* const kBrokenFragmentSource =
    "#version 410 core\n"
    "layout(location = 0) out vec4 vFragColor;\n"
    "void main()\n"
    "{\n"
    "    vFragColor = vec4(1.0, 0.0, 0.0);\n"
    "}\n";

// A compile log far longer than the 256-byte buffer the failure is read into.
std::string shaderWithLongLog()
{
    return "#version 410 core\nvoid main()\n{\n    gl_Position = vec4(undeclared_" + std::string(400, 'x') + ");\n}\n";
}

// The whole compile log of a source, read with the length GL reports.
std::string fullCompileLog(GLenum stage, const std::string& source)
{
    const GLuint shader = glCreateShader(stage);
    const char* text = source.c_str();
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint length = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<char> log(static_cast<size_t>(length) + 1, '\0');
    glGetShaderInfoLog(shader, length, nullptr, log.data());
    glDeleteShader(shader);
    return log.data();
}

GLint attachedShaderCount(GLuint program)
{
    GLint count = -1;
    glGetProgramiv(program, GL_ATTACHED_SHADERS, &count);
    return count;
}

TEST(ShaderProgram, DisplayShadersCompileAndLinkSilently)
{
    CaptureStderr();
    const GLuint program = createShaderProgram(kVertexShaderSource, kFragmentShaderSource);
    EXPECT_EQ(GetCapturedStderr(), "");
    ASSERT_NE(program, 0u);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    EXPECT_EQ(linked, GL_TRUE);
    EXPECT_EQ(attachedShaderCount(program), 2);
    EXPECT_EQ(glGetAttribLocation(program, "vVertex"), 0);
    EXPECT_GE(glGetUniformLocation(program, "textureMap"), 0);
    glDeleteProgram(program);
}

TEST(ShaderProgram, CompileFailurePrintsTheLogCutTo255Characters)
{
    const std::string source = shaderWithLongLog();
    const std::string log = fullCompileLog(GL_VERTEX_SHADER, source);
    ASSERT_GT(log.size(), 255u) << "the driver's log is too short to be cut";

    CaptureStderr();
    // The fragment shader is never reached once the vertex shader has failed.
    EXPECT_EQ(createShaderProgram(source.c_str(), kBrokenFragmentSource), 0u);
    EXPECT_EQ(GetCapturedStderr(), "Vtx Compile failed:\n" + log.substr(0, 255) + "\n");
}

TEST(ShaderProgram, FragmentCompileFailureHasItsOwnMessage)
{
    const std::string log = fullCompileLog(GL_FRAGMENT_SHADER, kBrokenFragmentSource);
    ASSERT_FALSE(log.empty());
    CaptureStderr();
    EXPECT_EQ(createShaderProgram(kVertexShaderSource, kBrokenFragmentSource), 0u);
    EXPECT_EQ(GetCapturedStderr(), "frag Compile failed:\n" + log.substr(0, 255) + "\n");
}

TEST(ShaderProgram, AnAbsentSourceSkipsItsStage)
{
    CaptureStderr();
    const GLuint program = createShaderProgram(nullptr, kFragmentShaderSource);
    EXPECT_EQ(GetCapturedStderr(), "");
    ASSERT_NE(program, 0u);
    EXPECT_EQ(attachedShaderCount(program), 1);
    glDeleteProgram(program);
}

TEST(ShaderProgram, FailedLinkPrintsItsLogAndGivesNoProgram)
{
    // Compiles, but a program without main() cannot link.
    const char* const noMain = "#version 410 core\nvoid helper()\n{\n}\n";
    CaptureStderr();
    EXPECT_EQ(createShaderProgram(noMain, kFragmentShaderSource), 0u);
    const std::string printed = GetCapturedStderr();
    const std::string prefix = "Shader compilation error: ";
    ASSERT_EQ(printed.compare(0, prefix.size(), prefix), 0) << printed;
    EXPECT_GT(printed.size(), prefix.size() + 1) << "the link log is missing";
    EXPECT_EQ(printed.find(prefix, 1), std::string::npos) << "printed twice: " << printed;
    EXPECT_EQ(printed.back(), '\n');
}

}  // namespace
