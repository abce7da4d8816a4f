// Whether a test program runs under an emulator: the tests of a cross build
// (ARM under qemu) get its name in SHALLOW_WATER_EMULATOR.
#pragma once

#include <cstdlib>

inline bool runsUnderEmulator()
{
    const char* emulator = std::getenv("SHALLOW_WATER_EMULATOR");
    return emulator != nullptr && *emulator != '\0';
}

// What the slow tests say when they skip under an emulator: what they
// check is arithmetic that the emulated build shares bit for bit with the
// native ones (the regression test and the kernel cross-check prove that
// under the emulator), at some hundred times the native time.
constexpr const char* kTooSlowUnderEmulator =
    "minutes or more under an emulator; the same bits are checked natively, and the regression test holds this build to them";
