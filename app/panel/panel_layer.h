// The settings panel's picture, kept in a texture of the window's size.
// Dear ImGui draws into it only when the panel may look different (input
// came, the window's size changed, or a quarter second passed, for the
// figures); every frame lays it over the water with one quad, clipped to
// the panel. A software renderer spends far less on that than on drawing
// the panel anew each frame.
#pragma once

#include <glad/gl.h>

#include <chrono>

struct ImDrawData;

class PanelLayer {
public:
    PanelLayer() = default;
    PanelLayer(const PanelLayer&) = delete;
    PanelLayer& operator=(const PanelLayer&) = delete;

    // Input came: the next frames draw the panel anew (Dear ImGui may take
    // a frame more to show what the input did).
    void markChanged() { framesToDraw_ = 3; }

    // Draws `drawData` into the layer if it is due, then lays the layer's
    // panelWidth x panelHeight top-left corner over the frame. False (with
    // its reason printed) when the layer cannot be made; the caller then
    // draws the panel directly.
    bool show(ImDrawData* drawData, int panelWidth, int panelHeight, GLuint quadVao);

    // Deletes the GL objects; before the context goes.
    void release();

private:
    bool resize(int width, int height);

    GLuint framebuffer_ = 0;
    GLuint texture_ = 0;
    GLuint program_ = 0;
    int width_ = 0;
    int height_ = 0;
    int framesToDraw_ = 1;
    std::chrono::steady_clock::time_point drawn_;
};
