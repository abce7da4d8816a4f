// Which picture of the water the window draws: the grey depth image, or a
// water-coloured one (a blue ramp by depth, lit by the depth's slope so the
// rings read as waves). Both are fragment shaders over the same texture; the
// pixels themselves stay grey.
#pragma once

#include <glad/gl.h>

extern const char* const kColouredFragmentShaderSource;

class WaterView {
public:
    // Switches between grey and coloured. The coloured program is built at
    // the first switch; if it does not build (its log is printed), the view
    // stays grey. Returns whether the view is now coloured.
    bool toggleColours();
    bool coloured() const { return coloured_; }

    // The program to draw with, given the grey one.
    GLuint program(GLuint greyProgram) const { return coloured_ ? colouredProgram_ : greyProgram; }

private:
    bool coloured_ = false;
    GLuint colouredProgram_ = 0;
};
