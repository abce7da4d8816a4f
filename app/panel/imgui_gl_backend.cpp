// Dear ImGui's OpenGL 3 backend, compiled against the program's glad loader
// rather than the loader it carries, so that the panel draws through the
// same GL entry points as the water.
#include <glad/gl.h>

#define IMGUI_IMPL_OPENGL_LOADER_CUSTOM
#include "imgui_impl_opengl3.cpp"
