#include "png_image.h"

#include <png.h>

#include <fcntl.h>
#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <string>

#include "output_file.h"

namespace {

// What went wrong inside libpng: the system's error of a failed write, or
// libpng's own message.
struct WriteState {
    std::FILE* file = nullptr;
    int writeError = 0;
    std::string libpngMessage;
};

WriteState* stateOf(png_structp png)
{
    return static_cast<WriteState*>(png_get_io_ptr(png));
}

void writeData(png_structp png, png_bytep data, png_size_t length)
{
    WriteState* state = stateOf(png);
    errno = 0;
    if (std::fwrite(data, 1, length, state->file) != length) {
        state->writeError = errno != 0 ? errno : EIO;
        png_error(png, "write failed");
    }
}

void flushData(png_structp png)
{
    WriteState* state = stateOf(png);
    errno = 0;
    if (std::fflush(state->file) != 0) {
        state->writeError = errno != 0 ? errno : EIO;
        png_error(png, "write failed");
    }
}

// libpng's errors end in a jump back into encode(); its warnings are of no
// use to the user of the tool.
void onError(png_structp png, png_const_charp message)
{
    auto* state = static_cast<WriteState*>(png_get_error_ptr(png));
    if (state->libpngMessage.empty()) state->libpngMessage = message != nullptr ? message : "libpng error";
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// Nothing in this frame needs destroying when libpng jumps back here.
bool encode(png_structp png, png_infop info, WriteState* state, const std::vector<png_bytep>& rows, int width,
            int height, int colourType)
{
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_write_fn(png, state, writeData, flushData);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    png_write_image(png, const_cast<png_bytepp>(rows.data()));
    png_write_end(png, nullptr);
    return true;
}

bool fail(const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "Cannot write the image '%s': %s.\n", path.c_str(), reason.c_str());
    return false;
}

// Encodes the rows into the open file and closes it; false with the reason
// when the encoder or a write failed.
bool writePngFile(std::FILE* file, const std::vector<png_bytep>& rows, int width, int height, int colourType,
                  std::string* reason)
{
    WriteState state;
    state.file = file;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state, onError, onWarning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    bool written = png != nullptr && info != nullptr && encode(png, info, &state, rows, width, height, colourType);
    png_destroy_write_struct(&png, &info);
    if (written) {
        errno = 0;
        if (std::fflush(file) != 0 || std::ferror(file) != 0) {
            state.writeError = errno != 0 ? errno : EIO;
            written = false;
        }
    }
    errno = 0;
    if (std::fclose(file) != 0 && written) {
        state.writeError = errno != 0 ? errno : EIO;
        written = false;
    }
    if (!written) {
        *reason = state.writeError != 0 ? systemErrorText(state.writeError)
                  : state.libpngMessage.empty() ? "the PNG encoder failed"
                                                : state.libpngMessage;
    }
    return written;
}

// Opens `path` for writing only if no file of that name exists yet.
std::FILE* openNewFile(const std::string& path)
{
#ifdef _WIN32
    const int descriptor = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    std::FILE* file = descriptor >= 0 ? _fdopen(descriptor, "wb") : nullptr;
    if (descriptor >= 0 && file == nullptr) _close(descriptor);
#else
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    std::FILE* file = descriptor >= 0 ? fdopen(descriptor, "wb") : nullptr;
    if (descriptor >= 0 && file == nullptr) close(descriptor);
#endif
    return file;
}

}  // namespace

bool checkGreyPngDestination(const std::string& path)
{
    std::string reason;
    return outputDestinationUsable(path, &reason) || fail(path, reason);
}

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

    // Written beside the destination first: a failure part way leaves an
    // existing file of that name untouched.
    PendingOutput pending;
    std::string reason;
    if (!beginOutput(path, &pending, &reason)) return fail(path, reason);
    errno = 0;
    std::FILE* file = std::fopen(pending.temporary.c_str(), "wb");
    if (file == nullptr) {
        reason = systemErrorText(errno);
        abandonOutput(pending);
        return fail(path, reason);
    }
    if (!writePngFile(file, rows, width, height, PNG_COLOR_TYPE_GRAY, &reason)) {
        abandonOutput(pending);
        return fail(path, reason);
    }
    if (!commitOutput(pending, &reason)) return fail(path, reason);
    return true;
}

std::string writeNewRgbPng(const std::string& path, const std::vector<uint8_t>& rgb, int width, int height)
{
    if (width <= 0 || height <= 0 || rgb.size() != static_cast<size_t>(width) * static_cast<size_t>(height) * 3) {
        fail(path, std::to_string(rgb.size()) + " bytes do not make " + std::to_string(width) + " x " +
                       std::to_string(height) + " colour pixels");
        return {};
    }
    std::vector<png_bytep> rows(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        rows[y] = const_cast<png_bytep>(rgb.data()) + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;

    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : "";
    for (int copy = 1; copy <= 1000; ++copy) {
        const std::string name = copy == 1 ? path : stem + "-" + std::to_string(copy) + extension;
        errno = 0;
        std::FILE* file = openNewFile(name);
        if (file == nullptr && errno == EEXIST) continue;
        if (file == nullptr) {
            fail(name, systemErrorText(errno));
            return {};
        }
        std::string reason;
        if (!writePngFile(file, rows, width, height, PNG_COLOR_TYPE_RGB, &reason)) {
            std::remove(name.c_str());
            fail(name, reason);
            return {};
        }
        return name;
    }
    fail(path, "a thousand files of that name exist already");
    return {};
}
