// The image writer of builds without libpng.
#include <cstdio>

#include "png_image.h"

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

std::string writeNewRgbPng(const std::string& path, const std::vector<uint8_t>&, int, int)
{
    unavailable(path);
    return {};
}
