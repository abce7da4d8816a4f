// One frame's collision, streaming and force decays as one pass over
// memory (frame_pass.cpp): each grid row collided and its forces decayed
// while the row two above it is streamed, through the same row code as the
// launches run alone, so every array ends as the four launches leave it,
// bit for bit. frame_queue.h recognises a frame in the launches as they
// come and runs this pass; docs/frame-pass.md draws a row's journey.
#pragma once

#include <cstdint>

// A force field's cells in segments of 16 (one 64-byte line); the zero
// mask says of each whether it holds only +0.0.
constexpr int kZeroSegmentCells = 16;

// What one pass does: f collided (depth to h), streamed into fStream, both
// force fields decayed. The five arrays never overlap. With
// mayDeferWriteBack the pass need not write the collided values back to f
// where streaming moves each value exactly once: the write-back is then
// deferred (the values are the inverse streaming of fStream,
// KernelSet::unstream). Where a force field has a zero mask (one byte per
// segment, non-zero where it holds only +0.0), the pass neither reads nor
// writes the masked segments, the collision taking +0.0 there, and updates
// the mask from the decay's results.
struct FramePass {
    float* f = nullptr;
    float* fStream = nullptr;
    float* fx = nullptr;
    float* fy = nullptr;
    float* h = nullptr;
    int width = 0;
    int height = 0;
    bool fInitialized = true;
    bool mayDeferWriteBack = false;
    uint8_t* fxZeroMask = nullptr;  // null: nothing known
    uint8_t* fyZeroMask = nullptr;
    unsigned long long* movedBytes = nullptr;  // out: the bytes the pass read and wrote in these arrays
};

// How a frame pass ran, if it did.
enum class FramePassRun { kNotRun, kFWritten, kWriteBackDeferred };
