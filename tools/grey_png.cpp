#include "grey_png.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// libpng reports errors by jumping back here; nothing in this frame needs
// destroying when it does.
bool encode(png_structp png, png_infop info, std::FILE* file, const std::vector<png_bytep>& rows, int width,
            int height)
{
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, nullptr);
    return true;
}

}  // namespace

bool writeGreyPng(const std::string& path, const std::vector<uint32_t>& pixels, int width, int height)
{
    if (width <= 0 || height <= 0 || pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        std::fprintf(stderr, "Cannot write the image '%s': %zu pixels do not make %d x %d.\n", path.c_str(),
                     pixels.size(), width, height);
        return false;
    }
    std::vector<png_byte> grey(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) grey[i] = static_cast<png_byte>(pixels[i] & 0xFFu);
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) rows[y] = grey.data() + static_cast<size_t>(y) * width;

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "Cannot write the image '%s': %s.\n", path.c_str(), std::strerror(errno));
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool written = png != nullptr && info != nullptr && encode(png, info, file, rows, width, height);
    png_destroy_write_struct(&png, &info);
    // libpng does not look at the result of its flushes: a failed write
    // shows only in the stream's error flag, or when it is closed.
    written = std::ferror(file) == 0 && written;
    written = std::fclose(file) == 0 && written;
    if (!written) {
        std::fprintf(stderr, "Cannot write the image '%s'.\n", path.c_str());
        // Leave no truncated image behind (but never remove a device or the like).
        std::error_code ignored;
        if (std::filesystem::is_regular_file(path, ignored)) std::filesystem::remove(path, ignored);
    }
    return written;
}
