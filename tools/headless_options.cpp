#include "headless_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "model/device_settings.h"

namespace {

// A whole number from 1 to `largest`, in decimal and nothing else.
bool parseCount(const char* text, int* count, long long largest = INT_MAX)
{
    if (*text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 1 || value > largest) return false;
    *count = static_cast<int>(value);
    return true;
}

constexpr int kLargestFps = 1000;

// A finite decimal number from `lowest` to `highest`, nothing else.
bool parseSetting(const char* text, float lowest, float highest, float* setting)
{
    errno = 0;
    char* end = nullptr;
    const float value = std::strtof(text, &end);
    if (end == text || *end != '\0' || errno != 0 || !(value >= lowest && value <= highest)) return false;
    *setting = value;
    return true;
}

// Two numbers separated by one comma, each as parseSetting takes it
// (within the widest range; the caller checks them together).
bool parseNumberPair(const std::string& text, float* first, float* second)
{
    const size_t comma = text.find(',');
    if (comma == std::string::npos) return false;
    constexpr float kAny = 3.0e38f;
    return parseSetting(text.substr(0, comma).c_str(), -kAny, kAny, first) &&
           parseSetting(text.substr(comma + 1).c_str(), -kAny, kAny, second);
}

// Splits "--name=value" into its name and value; other arguments have no
// inline value.
bool splitInlineValue(const std::string& argument, std::string* name, std::string* value)
{
    const size_t equals = argument.find('=');
    if (argument.rfind("--", 0) != 0 || equals == std::string::npos) return false;
    *name = argument.substr(0, equals);
    *value = argument.substr(equals + 1);
    return true;
}

}  // namespace

void printHeadlessUsage(std::FILE* stream, const char* program)
{
    std::fprintf(stream,
                 "Usage: %s [--frames N] [--checksum] [--volume] [--png FILE] [--video FILE [--fps N]]\n"
                 "          [--steps-per-frame N] [--no-rain] [--rain-chance P] [--drop-radius R]\n"
                 "          [--drop-strength S] [--relaxation W] [--depth-range BLACK,WHITE]\n"
                 "       %s --bench [--frames N]\n"
                 "Runs the water simulation without a window.\n"
                 "  --frames N   number of frames to run (default 600)\n"
                 "  --checksum   print FNV-1a 64 hashes of the depth field and of the pixels after the last frame\n"
                 "  --volume     print the total water depth after the last frame and its drift from the start\n"
                 "  --png FILE   write the last frame's grey image to FILE\n"
                 "  --video FILE write every frame's grey image to FILE as an H.264 video (yuv420p),\n"
                 "               through the ffmpeg program, which must be on PATH\n"
                 "  --fps N      frames a second of that video (default %d)\n"
                 "  --steps-per-frame N  simulation steps a frame, 1 to %d (default 1); the outputs are\n"
                 "               the frames'\n"
                 "  --no-rain    no rain falls\n"
                 "  --rain-chance P  chance of a drop each step, and of each further one (up to four),\n"
                 "               0 to %g (default 0.1)\n"
                 "  --drop-radius R  the drops' radius in cells, %g to %g (default %g)\n"
                 "  --drop-strength S  the drops' push, -%g to %g (default %g)\n"
                 "  --relaxation W  the collision's relaxation factor, %g to %g (default %.7g); lower\n"
                 "               is more viscous\n"
                 "  --depth-range BLACK,WHITE  the depths the image draws black and white, with\n"
                 "               0 < BLACK < WHITE <= %g (default %g,%g)\n"
                 "  --bench      time each kernel and the whole frame against the memory bandwidth\n"
                 "               (median of N frames, default %d); no other output\n"
                 "  --help       show this text\n"
                 "  --version    show the version (and the commit built from)\n"
                 "An output file is checked before the first frame, and written under a temporary name\n"
                 "beside it that replaces FILE only once complete. Exit status: 0 when everything was\n"
                 "done, 1 when something failed (standard output that cannot be written, or the GPU\n"
                 "failing so that it cannot continue, included), 2 for a wrong command line, 128 + the signal\n"
                 "after Ctrl-C (130), SIGTERM (143) or SIGHUP (129), which stop the run with nothing written.\n",
                 program, program, kDefaultVideoFps, kMostStepsPerFrame, static_cast<double>(kLargestRainChance),
                 static_cast<double>(kSmallestDropRadius),
                 static_cast<double>(kLargestDropRadius), static_cast<double>(kDropRadius),
                 static_cast<double>(kStrongestDrop), static_cast<double>(kStrongestDrop),
                 static_cast<double>(kDropStrength), static_cast<double>(kSmallestRelaxation),
                 static_cast<double>(kLargestRelaxation), static_cast<double>(kDefaultRelaxation),
                 static_cast<double>(kDeepestDrawnDepth), static_cast<double>(kDefaultBlackDepth),
                 static_cast<double>(kDefaultWhiteDepth), kDefaultBenchFrames);
}

CommandLine parseHeadlessOptions(int argc, const char* const* argv, HeadlessOptions* options)
{
    const char* program = argc > 0 ? argv[0] : "shallow-water-headless";
    auto invalid = [&](const std::string& message) {
        std::fprintf(stderr, "%s: %s\n", program, message.c_str());
        std::fprintf(stderr, "Try '%s --help' for the options.\n", program);
        return CommandLine::Invalid;
    };

    bool framesGiven = false;
    bool fpsGiven = false;
    bool settingGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        std::string name = argument;
        std::string value;
        const bool hasInlineValue = splitInlineValue(argument, &name, &value);
        auto takeValue = [&]() -> bool {
            if (hasInlineValue) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };

        if (name == "--help" && !hasInlineValue) return CommandLine::ShowHelp;
        if (name == "--version" && !hasInlineValue) return CommandLine::ShowVersion;
        if (name == "--checksum" && !hasInlineValue) {
            options->checksum = true;
        } else if (name == "--volume" && !hasInlineValue) {
            options->volume = true;
        } else if (name == "--bench" && !hasInlineValue) {
            options->bench = true;
        } else if (name == "--frames") {
            if (!takeValue()) return invalid("--frames needs a number of frames");
            if (!parseCount(value.c_str(), &options->frames))
                return invalid("--frames takes a whole number from 1 to " + std::to_string(INT_MAX) + ", not '" +
                               value + "'");
            framesGiven = true;
        } else if (name == "--png") {
            if (!takeValue() || value.empty()) return invalid("--png needs a file name");
            options->pngPath = value;
        } else if (name == "--video") {
            if (!takeValue() || value.empty()) return invalid("--video needs a file name");
            options->videoPath = value;
        } else if (name == "--fps") {
            if (!takeValue()) return invalid("--fps needs a number of frames a second");
            if (!parseCount(value.c_str(), &options->videoFps, kLargestFps))
                return invalid("--fps takes a whole number from 1 to " + std::to_string(kLargestFps) + ", not '" +
                               value + "'");
            fpsGiven = true;
        } else if (name == "--steps-per-frame") {
            if (!takeValue() || !parseCount(value.c_str(), &options->stepsPerFrame, kMostStepsPerFrame))
                return invalid("--steps-per-frame takes a whole number from 1 to " +
                               std::to_string(kMostStepsPerFrame) + ", not '" + value + "'");
            settingGiven = true;
        } else if (name == "--no-rain" && !hasInlineValue) {
            options->rain.falls = false;
            settingGiven = true;
        } else if (name == "--rain-chance" || name == "--drop-radius" || name == "--drop-strength") {
            const bool chance = name == "--rain-chance";
            const bool radius = name == "--drop-radius";
            const float lowest = chance ? 0.0f : radius ? kSmallestDropRadius : -kStrongestDrop;
            const float highest = chance ? kLargestRainChance : radius ? kLargestDropRadius : kStrongestDrop;
            float* setting = chance ? &options->rain.chance : radius ? &options->rain.dropRadius
                                                                     : &options->rain.dropStrength;
            if (!takeValue() || !parseSetting(value.c_str(), lowest, highest, setting)) {
                char range[64];
                std::snprintf(range, sizeof range, "%g to %g", static_cast<double>(lowest),
                              static_cast<double>(highest));
                return invalid(name + " takes a number from " + range + ", not '" + value + "'");
            }
            settingGiven = true;
        } else if (name == "--relaxation") {
            float omega = 0.0f;
            if (!takeValue() || !parseSetting(value.c_str(), kSmallestRelaxation, kLargestRelaxation, &omega)) {
                char range[64];
                std::snprintf(range, sizeof range, "%g to %g", static_cast<double>(kSmallestRelaxation),
                              static_cast<double>(kLargestRelaxation));
                return invalid("--relaxation takes a number from " + std::string(range) + ", not '" + value + "'");
            }
            options->relaxation = omega;
            settingGiven = true;
        } else if (name == "--depth-range") {
            HeadlessOptions::DepthRange range{};
            if (!takeValue() || !parseNumberPair(value, &range.black, &range.white) ||
                !isSettableDepthRange(range.black, range.white)) {
                char band[64];
                std::snprintf(band, sizeof band, "0 < BLACK < WHITE <= %g", static_cast<double>(kDeepestDrawnDepth));
                return invalid("--depth-range takes two depths BLACK,WHITE with " + std::string(band) + ", not '" +
                               value + "'");
            }
            options->depthRange = range;
            settingGiven = true;
        } else {
            return invalid("unknown option '" + argument + "'");
        }
    }
    if (options->bench && settingGiven)
        return invalid("--bench times the program's own frame: it cannot be combined with the rain's, the "
                       "steps' or the device constants' settings");
    if (options->bench && (options->checksum || options->volume || !options->pngPath.empty() ||
                           !options->videoPath.empty()))
        return invalid("--bench only times the kernels: it cannot be combined with --checksum, --volume, --png or "
                       "--video");
    if (fpsGiven && options->videoPath.empty()) return invalid("--fps is the frame rate of --video, which is not given");
    if (options->bench && !framesGiven) options->frames = kDefaultBenchFrames;
    return CommandLine::Run;
}
