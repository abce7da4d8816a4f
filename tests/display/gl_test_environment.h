// The hidden window whose GL context the GL tests draw in.
#pragma once

struct GLFWwindow;
GLFWwindow* testWindow();
