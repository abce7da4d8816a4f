// main() of the tests that need an OpenGL context: one hidden 640 x 480
// GLFW window whose context stays current for every test.
#include <glad/gl.h>

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>

#include <cstdio>

#include "gl_test_environment.h"

namespace {

GLFWwindow* s_window = nullptr;

class GlContextEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(glfwInit(), GLFW_TRUE) << "no display: run the GL tests under a (virtual) X server";
        glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
        s_window = glfwCreateWindow(640, 480, "GL tests", nullptr, nullptr);
        ASSERT_NE(s_window, nullptr);
        glfwMakeContextCurrent(s_window);
        ASSERT_NE(gladLoadGL(glfwGetProcAddress), 0);
    }

    void TearDown() override { glfwTerminate(); }
};

}  // namespace

GLFWwindow* testWindow()
{
    return s_window;
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new GlContextEnvironment);
    return RUN_ALL_TESTS();
}
