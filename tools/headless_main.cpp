// shallow-water-headless: the simulation without a window. It creates the
// application's model and runs frames exactly as the window does (the same
// step, then the depth turned into pixel words, here into a device buffer of
// its own), then reports how long they took and, on request, hashes of the
// final depth and pixels, the total volume of water, the final grey image
// and a video of every frame; or, with --bench, times each kernel against
// the memory bandwidth.
#include <cuda_runtime.h>

#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <numeric>
#include <vector>

#include "model/grid_size.h"
#include "model/simulation_step.h"
#include "program_output/standard_output.h"
#include "program_output/version_line.h"
#include "benchmark.h"
#include "fnv1a.h"
#include "program_output/png_image.h"
#include "headless_options.h"
#include "kernels/device_constants.h"
#include "model/device_settings.h"
#include "model/water_model.h"
#include "progress_line.h"
#include "terminal.h"
#include "video_writer.h"

namespace {

// The signal that asked the run to stop (Ctrl-C, SIGTERM, or SIGHUP when the
// terminal goes away), 0 while none did: the frames stop, the progress line
// is ended, nothing is written, and the status is 128 + the signal's number,
// as shells report it.
volatile std::sig_atomic_t s_interrupted = 0;

extern "C" void onInterrupt(int signalNumber)
{
    s_interrupted = signalNumber;
}

constexpr int kStopSignals[] = {
    SIGINT, SIGTERM,
#if defined(SIGHUP)
    SIGHUP,
#endif
};

void handleStopSignals(void (*handler)(int))
{
    for (const int signalNumber : kStopSignals) std::signal(signalNumber, handler);
}

// The model and the pixel buffer, freed on every way out that leaves the
// device usable.
class HeadlessSession {
public:
    ~HeadlessSession()
    {
        // A device that cannot continue would refuse every free, each with
        // its line; its memory goes with the process.
        if (deviceCannotContinue()) {
            forgetWaterModel(model);
            return;
        }
        if (pixels != nullptr) checkCudaStatus(cudaFree(pixels));
        destroyWaterModel(model);
    }

    bool create()
    {
        model = createWaterModel(kGridWidth, kGridHeight);
        if (model == nullptr) {
            std::fprintf(stderr, "Failed to allocate CUDA LB water model on GPU.\n");
            return false;
        }
        const size_t bytes = static_cast<size_t>(model->cellCount()) * sizeof(unsigned int);
        return checkCudaStatus(cudaMalloc(reinterpret_cast<void**>(&pixels), bytes));
    }

    // Runs the frames, each one's image into the video when there is one;
    // false when producing a frame's pixels failed (the step's own
    // operations report their failures and carry on, as in the window) or
    // the video took no more frames (the frames then stop). `done` counts
    // the frames run; fewer than asked after Ctrl-C. Each frame is
    // stepsPerFrame steps with the given rain.
    bool runFrames(int frames, int stepsPerFrame, const RainSettings& rain, VideoWriter* video, int* done)
    {
        ProgressLine progress(frames, isTerminal(stderr));
        bool allPixelsWritten = true;
        bool videoWritten = true;
        std::vector<uint32_t> frameImage;
        for (*done = 0; *done < frames && s_interrupted == 0;) {
            // A device that cannot continue ends the frames at its first
            // failure, so that it is reported once.
            bool stepped = true;
            for (int step = 0; step < stepsPerFrame && stepped; ++step)
                stepped = advanceOneStep(*model, frameCounter, rain);
            if (!stepped) {
                allPixelsWritten = false;
                break;
            }
            const bool pixelsWritten = model->writeDepthPixels(pixels) == cudaSuccess;
            if (!pixelsWritten && deviceCannotContinue()) {
                allPixelsWritten = false;
                break;
            }
            allPixelsWritten = pixelsWritten && allPixelsWritten;
            if (video != nullptr) {
                videoWritten = pixelsWritten && readPixels(&frameImage) && video->writeFrame(frameImage);
                if (!videoWritten) {
                    ++*done;
                    break;
                }
            }
            progress.update(++*done);
        }
        progress.finish();
        // Kernels may still be running on the GPU; the time must include them.
        // A device that has already failed for good is not asked again.
        if (!allPixelsWritten && deviceCannotContinue()) return false;
        return checkCudaStatus(cudaDeviceSynchronize()) && allPixelsWritten && videoWritten;
    }

    bool readPixels(std::vector<uint32_t>* pixelWords) const
    {
        const size_t cells = static_cast<size_t>(model->cellCount());
        pixelWords->resize(cells);
        return checkCudaStatus(cudaMemcpy(pixelWords->data(), pixels, cells * sizeof(uint32_t), cudaMemcpyDeviceToHost));
    }

    bool bench(int frames) { return runBenchmark(*model, pixels, frames, frameCounter); }

    bool readBack(std::vector<float>* depth, std::vector<uint32_t>* pixelWords) const
    {
        const size_t cells = static_cast<size_t>(model->cellCount());
        depth->resize(cells);
        pixelWords->resize(cells);
        return checkCudaStatus(cudaMemcpy(depth->data(), model->h, cells * sizeof(float), cudaMemcpyDeviceToHost)) &&
               checkCudaStatus(
                   cudaMemcpy(pixelWords->data(), pixels, cells * sizeof(uint32_t), cudaMemcpyDeviceToHost));
    }

private:
    WaterModel* model = nullptr;
    unsigned int* pixels = nullptr;
    int32_t frameCounter = 0;
};

}  // namespace

static int runHeadless(int argc, char** argv)
{
    HeadlessOptions options;
    switch (parseHeadlessOptions(argc, argv, &options)) {
    case CommandLine::ShowHelp:
        printHeadlessUsage(stdout, argv[0]);
        return 0;
    case CommandLine::ShowVersion:
        printVersionLine(argv[0]);
        return 0;
    case CommandLine::Invalid:
        return 2;
    case CommandLine::Run:
        break;
    }

    // Output files that cannot be written are found out before any frame.
    if (!options.pngPath.empty() && !checkGreyPngDestination(options.pngPath)) return 1;
    if (!options.videoPath.empty() && !VideoWriter::check(options.videoPath)) return 1;

    HeadlessSession session;
    if (!session.create()) return 1;
    // The device constants' settings, before the first launch that reads them.
    if (options.relaxation && !setRelaxationFactor(*options.relaxation)) return 1;
    if (options.depthRange && !setDepthRange(options.depthRange->black, options.depthRange->white)) return 1;
    if (options.bench) return session.bench(options.frames) ? 0 : 1;

    // A stop signal from now on ends the run without writing anything. (The
    // video's ffmpeg runs in a process group of its own, so that an
    // interrupt from the terminal reaches this program alone.)
    handleStopSignals(onInterrupt);
    VideoWriter video;
    const auto stopped = [&](int framesRun) {
        video.abandon();
        std::fprintf(stderr, "Interrupted after %d of %d frames; nothing written.\n", framesRun, options.frames);
        return 128 + s_interrupted;
    };
    if (!options.videoPath.empty() &&
        !video.open(options.videoPath, kGridWidth, kGridHeight, options.videoFps))
        return 1;

    const auto start = std::chrono::steady_clock::now();
    int framesRun = 0;
    bool framesDone = session.runFrames(options.frames, options.stepsPerFrame, options.rain,
                                            options.videoPath.empty() ? nullptr : &video, &framesRun);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (s_interrupted != 0) return stopped(framesRun);
    if (!framesDone && deviceCannotContinue()) {
        video.abandon();
        reportDeviceCannotContinue();
        return 1;
    }
    if (!options.videoPath.empty()) {
        if (framesDone)
            framesDone = video.finish(&s_interrupted);
        else
            video.abandon();
    }
    // A stop while ffmpeg finished the video: no video, no image.
    if (s_interrupted != 0) return stopped(framesRun);

    // Hashes and images only of frames that were all produced.
    bool outputsDone = framesDone;
    if (framesDone && (options.checksum || options.volume || !options.pngPath.empty())) {
        std::vector<float> depth;
        std::vector<uint32_t> pixelWords;
        outputsDone = session.readBack(&depth, &pixelWords);
        if (outputsDone && options.checksum) {
            std::printf("h-fnv1a64: %016" PRIx64 "\n", fnv1a64(depth));
            std::printf("pixels-fnv1a64: %016" PRIx64 "\n", fnv1a64(pixelWords));
        }
        if (outputsDone && options.volume) {
            // Still water holds the initial depth in every cell.
            const double initial = static_cast<double>(kInitialDepth) * static_cast<double>(depth.size());
            const double total = std::accumulate(depth.begin(), depth.end(), 0.0);
            std::printf("h-volume: %.9g, relative drift %.3g\n", total, (total - initial) / initial);
        }
        if (outputsDone && !options.pngPath.empty())
            outputsDone = writeGreyPng(options.pngPath, pixelWords, kGridWidth, kGridHeight);
    }

    if (!outputsDone && deviceCannotContinue()) {
        reportDeviceCannotContinue();
        return 1;
    }
    std::printf("%d frames in %.3f s, %.3f ms per frame\n", framesRun, seconds,
                1000.0 * seconds / (framesRun > 0 ? framesRun : 1));
    // A stop that came while the image was written found it complete.
    if (s_interrupted != 0) return 128 + s_interrupted;
    return framesDone && outputsDone ? 0 : 1;
}

int main(int argc, char** argv)
{
    guardStandardOutput();
    const int status = runHeadless(argc, argv);
    return withStandardOutputChecked(status, argc > 0 ? argv[0] : "shallow-water-headless");
}
