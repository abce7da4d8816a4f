// The image writer of builds without libpng.
#include <cstdio>

#include "grey_png.h"

namespace {

bool unavailable(const std::string& path)
{
    std::fprintf(stderr, "Cannot write the image '%s': this build has no PNG support (libpng was not found).\n",
                 path.c_str());
    return false;
}

}  // namespace

bool checkGreyPngDestination(const std::string& path)
{
    return unavailable(path);
}

bool writeGreyPng(const std::string& path, const std::vector<uint32_t>&, int, int)
{
    return unavailable(path);
}
