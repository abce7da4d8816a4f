#include "view_snapshot.h"

#include <glad/gl.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "program_output/png_image.h"

bool saveViewSnapshot(int32_t step)
{
    while (glGetError() != GL_NO_ERROR) {
    }
    GLint viewport[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, viewport);
    const int width = viewport[2];
    const int height = viewport[3];
    const size_t rowBytes = static_cast<size_t>(std::max(width, 0)) * 3;
    std::vector<uint8_t> bottomUp(rowBytes * static_cast<size_t>(std::max(height, 0)));
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(viewport[0], viewport[1], width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
    if (width <= 0 || height <= 0 || glGetError() != GL_NO_ERROR) {
        std::fprintf(stderr, "Cannot save the view: OpenGL could not read back the %d x %d frame.\n", width, height);
        return false;
    }
    // OpenGL's rows run from the bottom up, the image's from the top down.
    std::vector<uint8_t> rgb(bottomUp.size());
    for (int y = 0; y < height; ++y)
        std::copy_n(bottomUp.begin() + static_cast<std::ptrdiff_t>(rowBytes * static_cast<size_t>(height - 1 - y)),
                    rowBytes, rgb.begin() + static_cast<std::ptrdiff_t>(rowBytes * static_cast<size_t>(y)));
    const std::string name = writeNewRgbPng("shallow-water-step-" + std::to_string(step) + ".png", rgb, width, height);
    if (name.empty()) return false;
    std::printf("%s\n", name.c_str());
    std::fflush(stdout);
    return true;
}
