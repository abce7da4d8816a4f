// A video of a run: each frame's grey image piped to the ffmpeg program,
// which encodes it as H.264 in 4:2:0 (yuv420p, which every player opens).
#pragma once

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "program_output/output_file.h"

class VideoWriter {
public:
    ~VideoWriter();

    // Whether a video can be written to `path`: ffmpeg on PATH and a
    // destination that takes a file. Checked before the first frame; prints
    // the reason on standard error and returns false when not.
    static bool check(const std::string& path);

    // Starts ffmpeg for frames of width x height at `fps` frames a second.
    bool open(const std::string& path, int width, int height, int fps);

    // One frame: the low byte of every pixel word, row 0 on top.
    bool writeFrame(const std::vector<uint32_t>& pixels);

    // Ends the stream, waits for ffmpeg and puts the file in place; false
    // (after a message) when ffmpeg failed or a frame could not be written.
    // When *stopRequested has become non-zero by the time ffmpeg is done,
    // the file is abandoned instead and false returned without a message.
    bool finish(const volatile std::sig_atomic_t* stopRequested = nullptr);

    // Stops without a file: ffmpeg is waited for, its output removed.
    void abandon();

private:
    bool fail(const std::string& reason);

    std::string path_;
    PendingOutput pending_;
    std::FILE* pipe_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool failed_ = false;
    std::vector<unsigned char> grey_;
};
