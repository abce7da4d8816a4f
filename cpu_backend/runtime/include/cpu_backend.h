// What only the CPU backend has, for the programs that name it: which
// compiled set of its kernels runs, and what its step passes did. Every
// set gives the same bits; they differ only in speed.
#pragma once

#include <string>
#include <vector>

namespace cpu_kernels {

// The sets compiled into this build, from the most portable to the fastest:
// "baseline", "avx2", "avx512" in a portable x86-64 build; "native" in a
// build for one processor; "relaxed" or "portable" in the browser's.
std::vector<std::string> compiledInstructionSets();

// The set the launchers use: the fastest this processor runs, or the one the
// environment variable SHALLOW_WATER_CPU_ISA names, chosen at the first call.
std::string activeInstructionSet();

// Since the process started: the step passes run (one step's collision,
// streaming and force decays as one pass over memory), and the memory they
// moved (bytes read plus written in their five arrays, and their cells).
unsigned long long stepPassesRun();
struct StepPassTraffic {
    unsigned long long bytes;
    unsigned long long cells;
};
StepPassTraffic stepPassTraffic();

}  // namespace cpu_kernels
