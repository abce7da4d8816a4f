// A plain implementation of the simulation, cell by cell on the host, kept
// apart from the kernels: the tests hold the kernels' results against it
// bit for bit. Its arithmetic follows the model's equations term by term
// (std::fma where a fused multiply-add is meant, single roundings
// everywhere else, float throughout); it shares no code with the kernels.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace reference {

constexpr int kDirections = 9;

// D2Q9 velocities: rest, then counter-clockwise from +x.
constexpr int kVelocityX[kDirections] = {0, 1, 1, 0, -1, -1, -1, 0, 1};
constexpr int kVelocityY[kDirections] = {0, 0, 1, 1, 1, 0, -1, -1, -1};
constexpr int kOpposite[kDirections] = {0, 5, 6, 7, 8, 1, 2, 3, 4};

// The settings a user may change, at the values the program starts with.
extern const float kDefaultRelaxation;
extern const float kDefaultBlackDepth;
extern const float kDefaultWhiteDepth;

// The collision of one cell: in are the nine values before collision
// (ignored on the first step), out receives the nine new values. Returns
// the depth before collision.
float collideCell(const float in[kDirections], float forceX, float forceY, bool initialized,
                  float out[kDirections], float relaxation = kDefaultRelaxation);

// One force component after one decay step.
float decayForce(float value);

// The grey pixel word of a depth: black up to blackDepth, white above
// whiteDepth.
uint32_t depthToPixel(float depth, float blackDepth = kDefaultBlackDepth, float whiteDepth = kDefaultWhiteDepth);

// Writes one drop's push into force fields of width x height cells.
void addRainDrop(std::vector<float>& fx, std::vector<float>& fy, int width, int height, float x, float y,
                 float strength, float radius);

// The whole model's state and its per-step operations.
struct Model {
    Model(int width, int height);  // still water of depth 0.05, no force

    int width;
    int height;
    std::vector<float> h;
    std::vector<float> f;  // nine values per cell, cell-major
    std::vector<float> fStream;
    std::vector<float> fx;
    std::vector<float> fy;
    std::vector<uint32_t> pixels;
    float relaxation = kDefaultRelaxation;  // of every collision
    float blackDepth = kDefaultBlackDepth;  // of every image
    float whiteDepth = kDefaultWhiteDepth;

    int cellCount() const { return width * height; }
    float& value(std::vector<float>& field, int x, int y, int k) { return field[(y * width + x) * kDirections + k]; }

    void collide(bool notFirstFrame);
    void stream();
    void swapDistributions() { f.swap(fStream); }
    void decayForces();
    void addRainDrop(float x, float y, float strength, float radius)
    {
        reference::addRainDrop(fx, fy, width, height, x, y, strength, radius);
    }
    void renderPixels();
};

// One drop's centre cell.
struct DropCell {
    int column;
    int row;
};

// The rain's schedule: its own generator from the same seed, so it sees the
// same stream as the program's.
class RainSchedule {
public:
    // The drops of the next frame (at most four).
    std::vector<DropCell> nextFrame();

    static constexpr float kStrength = 0.0002f;
    static constexpr float kRadius = 89.6f;

private:
    std::mt19937 rng_{5489u};
};

// One frame as the program makes it: collide, stream, swap, decay, the given
// drops, pixels.
void advanceFrame(Model& model, bool firstFrame, const std::vector<DropCell>& drops);

}  // namespace reference
