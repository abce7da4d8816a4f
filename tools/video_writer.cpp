#include "video_writer.h"

#include <cerrno>
#include <filesystem>

#include "pipe_process.h"

namespace {

const char kFfmpeg[] = "ffmpeg";

bool report(const std::string& path, const std::string& reason)
{
    std::fprintf(stderr, "Cannot write the video '%s': %s.\n", path.c_str(), reason.c_str());
    return false;
}

}  // namespace

VideoWriter::~VideoWriter()
{
    if (pipe_ != nullptr) abandon();
}

bool VideoWriter::check(const std::string& path)
{
    if (findProgramOnPath(kFfmpeg).empty())
        return report(path, "the ffmpeg program is not on PATH (install it, e.g. apt-get install ffmpeg)");
    std::string reason;
    return outputDestinationUsable(path, &reason) || report(path, reason);
}

bool VideoWriter::fail(const std::string& reason)
{
    if (!failed_) report(path_, reason);
    failed_ = true;
    return false;
}

bool VideoWriter::open(const std::string& path, int width, int height, int fps)
{
    path_ = path;
    width_ = width;
    height_ = height;
    const std::string ffmpeg = findProgramOnPath(kFfmpeg);
    if (ffmpeg.empty()) return fail("the ffmpeg program is not on PATH (install it, e.g. apt-get install ffmpeg)");
    std::string reason;
    if (!beginOutput(path, &pending_, &reason)) return fail(reason);

    // Raw grey frames in, H.264 out; ffmpeg prints only its errors and reads
    // no keys from the terminal. The container follows the file's extension
    // (mp4 when it has none).
    std::string command = quoteArgument(ffmpeg) + " -hide_banner -loglevel error -nostdin -y" +
                          " -f rawvideo -pix_fmt gray -video_size " + std::to_string(width) + "x" +
                          std::to_string(height) + " -framerate " + std::to_string(fps) + " -i pipe:0" +
                          " -an -c:v libx264 -pix_fmt yuv420p";
    if (std::filesystem::path(path).extension().empty()) command += " -f mp4";
    command += " " + quoteArgument(pending_.temporary);
    errno = 0;
    pipe_ = openWritePipe(command);
    if (pipe_ == nullptr) {
        const int error = errno;
        abandonOutput(pending_);
        return fail("ffmpeg could not be started: " + systemErrorText(error != 0 ? error : ENOMEM));
    }
    grey_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
    return true;
}

bool VideoWriter::writeFrame(const std::vector<uint32_t>& pixels)
{
    if (pipe_ == nullptr || failed_) return false;
    if (pixels.size() != grey_.size()) return fail("a frame of the wrong size");
    for (size_t i = 0; i < pixels.size(); ++i) grey_[i] = static_cast<unsigned char>(pixels[i] & 0xFFu);
    errno = 0;
    if (std::fwrite(grey_.data(), 1, grey_.size(), pipe_) != grey_.size()) {
        const int error = errno;
        return fail("ffmpeg stopped taking frames (" + systemErrorText(error != 0 ? error : EIO) + ")");
    }
    return true;
}

bool VideoWriter::finish(const volatile std::sig_atomic_t* stopRequested)
{
    if (pipe_ == nullptr) return false;
    std::FILE* pipe = pipe_;
    pipe_ = nullptr;
    const int status = closeWritePipe(pipe);
    if (failed_ || (stopRequested != nullptr && *stopRequested != 0)) {
        abandonOutput(pending_);
        return false;
    }
    if (status != 0) {
        abandonOutput(pending_);
        return fail(status < 0 ? "ffmpeg did not end normally" : "ffmpeg ended with status " + std::to_string(status));
    }
    std::string reason;
    if (!commitOutput(pending_, &reason)) return fail(reason);
    return true;
}

void VideoWriter::abandon()
{
    if (pipe_ != nullptr) {
        closeWritePipe(pipe_);
        pipe_ = nullptr;
    }
    abandonOutput(pending_);
}
