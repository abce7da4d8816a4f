#include "water_view.h"

#include "display_pipeline.h"

// The texel under the fragment (row 0 at the top, as in the grey view) and
// its four neighbours: the grey level is the depth, their differences the
// slope. The ramp from deep to shallow blue spans the middle of the grey
// range, where the waves are; the surface's normal, its slope exaggerated so
// that a step of a few grey levels shows, is lit from the upper left. Still
// water is the ramp's middle, evenly lit.
const char* const kColouredFragmentShaderSource =
    "#version 410 core\n"
    "layout(location = 0) out vec4 vFragColor;\n"
    "smooth in vec2 vUV;\n"
    "uniform sampler2D textureMap;\n"
    "float depthAt(ivec2 texel, ivec2 size)\n"
    "{\n"
    "    return texelFetch(textureMap, clamp(texel, ivec2(0), size - 1), 0).r;\n"
    "}\n"
    "void main()\n"
    "{\n"
    "    ivec2 size = textureSize(textureMap, 0);\n"
    "    ivec2 texel = ivec2(vec2(vUV.x, 1.0 - vUV.y) * vec2(size));\n"
    "    float depth = depthAt(texel, size);\n"
    "    float dx = depthAt(texel + ivec2(1, 0), size) - depthAt(texel - ivec2(1, 0), size);\n"
    "    float dy = depthAt(texel + ivec2(0, 1), size) - depthAt(texel - ivec2(0, 1), size);\n"
    "    vec3 normal = normalize(vec3(-40.0 * dx, 40.0 * dy, 1.0));\n"
    "    vec3 light = normalize(vec3(-0.4, 0.5, 0.77));\n"
    "    float diffuse = max(dot(normal, light), 0.0);\n"
    "    float glint = pow(max(dot(reflect(-light, normal), vec3(0.0, 0.0, 1.0)), 0.0), 40.0);\n"
    "    vec3 water = mix(vec3(0.0, 0.10, 0.32), vec3(0.30, 0.72, 0.92), clamp(2.5 * depth - 0.75, 0.0, 1.0));\n"
    "    vFragColor = vec4(water * (0.25 + 0.85 * diffuse) + vec3(0.25 * glint), 1.0);\n"
    "}\n";

bool WaterView::toggleColours()
{
    if (!coloured_ && colouredProgram_ == 0) {
        colouredProgram_ = createShaderProgram(kVertexShaderSource, kColouredFragmentShaderSource);
        if (colouredProgram_ == 0) return false;
    }
    coloured_ = !coloured_;
    return coloured_;
}
