// One step's collision, streaming and force decays as one pass over
// memory (step_pass.cpp). The pass keeps the distributions direction-major
// (direction_major.h) and in the form streaming-then-collision: it pulls
// each cell's streamed values from the previous step's collided values,
// collides them through the collision's own per-cell code and stores the
// new collided values, so that each value is read once and written once.
// Wherever the arrays can be observed they hold, bit for bit, what the
// four launches run one by one leave. launch_queue.h recognises a step in
// the launches as they come and runs this pass; docs/step-pass.md draws a
// row's journey.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cstdint>

// A force field's cells in cache lines of 16 (64 bytes); the zero
// mask says of each whether it holds only +0.0.
constexpr int kZeroMaskLineCells = 16;

// What one pass does: f collided (depth to h), streamed into fStream, both
// force fields decayed; the five arrays never overlap. The pass leaves the
// collided values direction-major in f, their streaming into fStream
// deferred.
//
// Where the collision's input comes from: with collidedInFStream, fStream
// holds the previous step's collided values direction-major, their
// streaming into f deferred (as the previous pass left them, with the two
// pointers exchanged), and the pass pulls the streamed values from fStream; else f
// holds the streamed values in cell order, as the launches leave them.
//
// Where a force field has a zero mask (one byte per line, non-zero
// where it holds only +0.0), the pass neither reads nor writes the masked
// lines, the collision taking +0.0 there, and updates the mask from
// the decay's results.
struct StepPass {
    float* f = nullptr;
    float* fStream = nullptr;
    float* fx = nullptr;
    float* fy = nullptr;
    float* h = nullptr;
    int width = 0;
    int height = 0;
    bool fInitialized = true;
    bool collidedInFStream = false;
    uint8_t* fxZeroMask = nullptr;  // null: nothing known
    uint8_t* fyZeroMask = nullptr;
    unsigned long long* movedBytes = nullptr;  // out: the bytes the pass read and wrote in these arrays
};
