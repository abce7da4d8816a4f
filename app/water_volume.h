// The water's volume as a live figure: the sum of the depth over every cell
// (in cell areas times depth units), and its drift since the still water of
// the start. Read back from the device at most once a second, since a GPU
// must copy the whole depth field for it.
#pragma once

#include <chrono>
#include <cstdint>

struct WaterModel;

class WaterVolume {
public:
    // Measures again when the step has changed and a second has passed
    // since the last measurement, or at once while paused (the steps are
    // then few). False after a failed copy, which reports itself.
    bool update(const WaterModel& model, int32_t step, bool paused);

    bool measured() const { return measured_; }
    double volume() const { return volume_; }
    // (volume - still water's) / still water's.
    double relativeDrift() const { return drift_; }

private:
    using Clock = std::chrono::steady_clock;
    bool measured_ = false;
    int32_t step_ = -1;
    Clock::time_point when_;
    double volume_ = 0.0;
    double drift_ = 0.0;
};

// The sum, in double precision from the first cell to the last, of the
// depth field, as the headless runner's --volume adds it. False after a
// failed copy, which reports itself.
bool measureWaterVolume(const WaterModel& model, double* volume);
