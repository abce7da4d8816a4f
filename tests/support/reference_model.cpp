#include "reference_model.h"

#include <cmath>
#include <cstring>

namespace reference {
namespace {

float fromBits(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof(value));
    return value;
}

// The model's constants, taken from their bit patterns.
const float kGravity = fromBits(0x411CF5C3u);        // 9.81
const float kStillDepth = fromBits(0x3D4CCCCDu);     // 0.05
const float kForceWeight = fromBits(0x3E2AAAABu);    // 1/6, every moving direction
const float kDecayStep = fromBits(0x3727C5ACu);       // 1e-5

bool isAxis(int k)
{
    return k % 2 == 1;
}

}  // namespace

const float kDefaultRelaxation = fromBits(0x3F2AAAABu);  // 2/3
const float kDefaultBlackDepth = fromBits(0x3D4AC083u);  // 0.0495
const float kDefaultWhiteDepth = fromBits(0x3D4ED917u);  // 0.0505

float collideCell(const float in[kDirections], float forceX, float forceY, bool initialized, float out[kDirections],
                  float relaxation)
{
    float h = kStillDepth;
    float u = 0.0f;
    float v = 0.0f;
    if (initialized) {
        // Each sum strictly from left to right.
        h = in[0];
        for (int k = 1; k < kDirections; ++k) h = h + in[k];
        float mx = in[1] + in[2];
        mx = mx - in[4];
        mx = mx - in[5];
        mx = mx - in[6];
        mx = mx + in[8];
        float my = in[2] + in[3];
        my = my + in[4];
        my = my - in[6];
        my = my - in[7];
        my = my - in[8];
        u = mx / h;
        v = my / h;
    }

    const float g = kGravity;
    const float q = std::fma(u, u, v * v);
    const float G = h * (h * g);

    float feq[kDirections];
    {
        const float squareTerm = (h * -2.0f) / 3.0f;
        const float depthTerm = h + (h * (h * (g * -5.0f))) / 6.0f;
        feq[0] = std::fma(q, squareTerm, depthTerm);
    }
    for (int k = 1; k < kDirections; ++k) {
        const float ex = static_cast<float>(kVelocityX[k]);
        const float ey = static_cast<float>(kVelocityY[k]);
        const float ux = u * ex;
        const float vy = v * ey;
        const float eu = ux + vy;
        const float cross = v * (ey * (u * (ex + ex)));
        const float squareX = std::fma(u, ex * (u * ex), cross);
        const float square = std::fma(v, ey * (v * ey), squareX);
        if (isAxis(k)) {
            const float inner = std::fma(eu, h / 3.0f, G / 6.0f);
            const float outer = std::fma(h * 0.5f, square, inner);
            feq[k] = outer - q * (h / 6.0f);
        } else {
            const float inner = std::fma(eu, h / 12.0f, G / 24.0f);
            const float outer = std::fma(h * 0.125f, square, inner);
            feq[k] = outer - q * (h / 24.0f);
        }
    }

    const float keep = 1.0f - relaxation;
    for (int k = 0; k < kDirections; ++k) {
        const float before = initialized ? in[k] : feq[k];
        const float relaxed = std::fma(feq[k], relaxation, before * keep);
        const float ex = static_cast<float>(kVelocityX[k]);
        const float ey = static_cast<float>(kVelocityY[k]);
        const float push = std::fma(forceX, ex, forceY * ey);
        const float weight = k == 0 ? 0.0f : kForceWeight;
        out[k] = std::fma(push, weight, relaxed);
    }
    return h;
}

float decayForce(float value)
{
    if (value > kDecayStep) return value + (-kDecayStep);
    if (value < -kDecayStep) return value + kDecayStep;
    return 0.0f;
}

uint32_t depthToPixel(float depth, float blackDepth, float whiteDepth)
{
    float level;
    if (std::isnan(depth) || depth < blackDepth) {
        level = 0.0f;
    } else if (depth > whiteDepth) {
        level = 255.0f;
    } else {
        const float span = whiteDepth - blackDepth;
        level = ((depth - blackDepth) / span) * 255.0f;
    }
    const uint32_t grey = static_cast<uint32_t>(std::trunc(level));
    return 0xFF000000u | grey << 16 | grey << 8 | grey;
}

Model::Model(int w, int hgt)
    : width(w),
      height(hgt),
      h(static_cast<size_t>(w) * hgt, kStillDepth),
      f(static_cast<size_t>(w) * hgt * kDirections, 0.0f),
      fStream(f.size(), 0.0f),
      fx(h.size(), 0.0f),
      fy(h.size(), 0.0f),
      pixels(h.size(), 0u)
{
}

void Model::collide(bool notFirstFrame)
{
    for (int i = 0; i < cellCount(); ++i) {
        float* cell = &f[static_cast<size_t>(i) * kDirections];
        float after[kDirections];
        h[i] = collideCell(cell, fx[i], fy[i], notFirstFrame, after, relaxation);
        std::memcpy(cell, after, sizeof(after));
    }
}

void Model::stream()
{
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int k = 0; k < kDirections; ++k) {
                // The value arriving along k comes from the cell behind; a
                // wall sends the cell's own opposite value back instead.
                const int sourceX = x - kVelocityX[k];
                const int sourceY = y - kVelocityY[k];
                const bool inside = sourceX >= 0 && sourceX < width && sourceY >= 0 && sourceY < height;
                value(fStream, x, y, k) = inside ? value(f, sourceX, sourceY, k) : value(f, x, y, kOpposite[k]);
            }
        }
    }
}

void Model::decayForces()
{
    for (float& component : fx) component = decayForce(component);
    for (float& component : fy) component = decayForce(component);
}

void addRainDrop(std::vector<float>& fx, std::vector<float>& fy, int width, int height, float x, float y,
                 float strength, float radius)
{
    const int centreX = static_cast<int>(std::round(x));
    const int centreY = static_cast<int>(std::round(y));
    // The launch's square of threads, centred on the drop.
    const int blocksPerSide = static_cast<int>(std::floor((radius + radius) * 0.0625f)) + 1;
    const int side = 16 * blocksPerSide;
    for (int row = 0; row < side; ++row) {
        for (int column = 0; column < side; ++column) {
            const int dx = column - side / 2;
            const int dy = row - side / 2;
            const int cellX = centreX + dx;
            const int cellY = centreY + dy;
            if (cellX < 0 || cellX >= width || cellY < 0 || cellY >= height) continue;
            const float fdx = static_cast<float>(dx);
            const float fdy = static_cast<float>(dy);
            const float distance = std::sqrt(std::fma(fdx, fdx, fdy * fdy));
            if (!(distance <= radius)) continue;
            const float profile = ((radius - distance) / radius) * strength;
            const int i = cellY * width + cellX;
            fx[i] = profile * (fdx / radius);
            fy[i] = profile * (fdy / radius);
        }
    }
}

void Model::renderPixels()
{
    for (int i = 0; i < cellCount(); ++i) pixels[i] = depthToPixel(h[i], blackDepth, whiteDepth);
}

std::vector<DropCell> RainSchedule::nextFrame()
{
    const double threshold = static_cast<double>(0.1f);
    const double scale = 1.0 / 4294967295.0;
    std::vector<DropCell> drops;
    double chance = static_cast<double>(rng_()) * scale;
    while (chance < threshold) {
        if (drops.size() == 4) break;
        const int column = static_cast<int>(rng_() % 2688u);
        const int row = static_cast<int>(rng_() % 1536u);
        drops.push_back({column, row});
        chance = static_cast<double>(rng_()) * scale;
    }
    return drops;
}

void advanceFrame(Model& model, bool firstFrame, const std::vector<DropCell>& drops)
{
    model.collide(!firstFrame);
    model.stream();
    model.swapDistributions();
    model.decayForces();
    for (const DropCell& drop : drops) {
        model.addRainDrop(static_cast<float>(drop.column), static_cast<float>(drop.row), RainSchedule::kStrength,
                          RainSchedule::kRadius);
    }
    model.renderPixels();
}

}  // namespace reference
