// The image writer of builds without libpng.
#include <cstdio>

#include "grey_png.h"

bool writeGreyPng(const std::string& path, const std::vector<uint32_t>&, int, int)
{
    std::fprintf(stderr, "Cannot write the image '%s': this build has no PNG support (libpng was not found).\n",
                 path.c_str());
    return false;
}
