#include "panel_layer.h"

#include <imgui.h>
#include <imgui_impl_opengl3.h>

#include <cstdio>

#include "app/display_pipeline.h"

namespace {

// The layer's texel under the fragment, as it is: Dear ImGui's blending
// leaves colours multiplied by their coverage, which the blend of the
// composite expects.
const char* const kLayerFragmentShaderSource =
    "#version 410 core\n"
    "layout(location = 0) out vec4 vFragColor;\n"
    "uniform sampler2D panelLayer;\n"
    "void main()\n"
    "{\n"
    "    vFragColor = texelFetch(panelLayer, ivec2(gl_FragCoord.xy), 0);\n"
    "}\n";

// How long the panel's figures may stand still while nothing else changes.
constexpr std::chrono::milliseconds kRefreshInterval(250);

}  // namespace

bool PanelLayer::resize(int width, int height)
{
    if (program_ == 0) {
        program_ = createShaderProgram(kVertexShaderSource, kLayerFragmentShaderSource);
        if (program_ == 0) return false;
    }
    if (framebuffer_ == 0) glGenFramebuffers(1, &framebuffer_);
    if (texture_ == 0) glGenTextures(1, &texture_);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture_, 0);
    const bool complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (!complete) {
        std::fprintf(stderr, "The settings panel's layer cannot be drawn into; the panel is drawn directly.\n");
        return false;
    }
    width_ = width;
    height_ = height;
    framesToDraw_ = 1;
    return true;
}

bool PanelLayer::show(ImDrawData* drawData, int panelWidth, int panelHeight, GLuint quadVao)
{
    const int width = static_cast<int>(drawData->DisplaySize.x * drawData->FramebufferScale.x);
    const int height = static_cast<int>(drawData->DisplaySize.y * drawData->FramebufferScale.y);
    if (width <= 0 || height <= 0) return true;
    if ((width != width_ || height != height_) && !resize(width, height)) return false;

    const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    if (framesToDraw_ > 0 || now - drawn_ >= kRefreshInterval) {
        glBindFramebuffer(GL_FRAMEBUFFER, framebuffer_);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        ImGui_ImplOpenGL3_RenderDrawData(drawData);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        if (framesToDraw_ > 0) --framesToDraw_;
        drawn_ = now;
    }

    // The panel's corner only (window rows count from the top, GL's from
    // the bottom).
    const float scaleX = drawData->FramebufferScale.x;
    const float scaleY = drawData->FramebufferScale.y;
    const int right = static_cast<int>(panelWidth * scaleX) + 1;
    const int bottom = static_cast<int>(panelHeight * scaleY) + 1;
    glViewport(0, 0, width, height);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, height - bottom, right, bottom);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glUseProgram(program_);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture_);
    glUniform1i(glGetUniformLocation(program_, "panelLayer"), 0);
    glBindVertexArray(quadVao);
    glDrawArrays(GL_TRIANGLES, 0, 6);
    glDisable(GL_BLEND);
    glDisable(GL_SCISSOR_TEST);
    return true;
}

void PanelLayer::release()
{
    if (framebuffer_ != 0) glDeleteFramebuffers(1, &framebuffer_);
    if (texture_ != 0) glDeleteTextures(1, &texture_);
    if (program_ != 0) glDeleteProgram(program_);
    framebuffer_ = texture_ = program_ = 0;
    width_ = height_ = 0;
}
