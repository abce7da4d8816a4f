// Command line of the headless runner.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

#include "model/simulation_step.h"

// Frames a second of a video unless --fps says otherwise.
constexpr int kDefaultVideoFps = 60;

struct HeadlessOptions {
    int frames = 600;     // simulation steps to run
    bool checksum = false;  // print the hashes of the depth and the pixels after the last frame
    bool volume = false;    // print the total depth after the last frame and its drift from the start
    std::string pngPath;  // where to write the last frame's grey image; empty: nowhere
    bool bench = false;     // time each kernel and the whole frame instead of a plain run
    std::string videoPath;  // where to write the video of every frame; empty: nowhere
    int videoFps = kDefaultVideoFps;    // frames a second of that video
    int stepsPerFrame = 1;  // simulation steps between two frames' outputs
    RainSettings rain;      // the rain of every step
    // Device constants to write once the model exists (model/device_settings.h);
    // none given: the kernels keep their initial values and nothing is written.
    std::optional<float> relaxation;  // the collision's relaxation factor
    struct DepthRange {
        float black;
        float white;
    };
    std::optional<DepthRange> depthRange;  // the depths the image draws black and white
};

// Timed frames of the benchmark unless --frames says otherwise.
constexpr int kDefaultBenchFrames = 50;

enum class CommandLine { Run, ShowHelp, ShowVersion, Invalid };

// Reads argv[1..argc-1] into options. Returns Invalid after printing what is
// wrong on standard error, ShowHelp for --help, ShowVersion for --version.
// --bench makes no other output, so it is refused together with --checksum,
// --volume, --png or --video, and times the program's own frame, so it is
// refused with the settings too; --fps is refused without --video.
CommandLine parseHeadlessOptions(int argc, const char* const* argv, HeadlessOptions* options);

void printHeadlessUsage(std::FILE* stream, const char* program);
