// Which compiled set of the CPU kernels the launchers run. A portable build
// compiles the kernels for three instruction sets: "baseline" (any x86-64
// processor, or whatever the target is elsewhere), "avx2" (AVX2, FMA, BMI,
// BMI2) and "avx512" (those and AVX-512 F, BW, DQ, VL); at the first launch
// it picks the fastest one this processor runs, or the one that the
// environment variable SHALLOW_WATER_CPU_ISA names. A build for this
// machine alone (SHALLOW_WATER_NATIVE) has one set, "native". Every set
// gives the same bits; they differ only in speed.
#pragma once

#include "cpu_backend/runtime/internal_header.h"

#include <cpu_backend.h>

#include "cpu_backend/kernels/kernel_set.h"

#include <string>

namespace cpu_kernels {

// True if the named set is compiled in and this processor runs it.
bool instructionSetSupported(const std::string& name);

// The set for a value of SHALLOW_WATER_CPU_ISA (null or empty: unset): the
// named one, or, if it is not compiled in or this processor cannot run it,
// the fastest one it can, after one line on stderr saying so. (Going on
// with another set is safe: the results do not depend on the set.)
std::string chooseInstructionSet(const char* requested);

// The functions of the set the launchers use (activeInstructionSet).
const KernelSet& activeKernelSet();

// Test hook: the launchers use the named set from now on (call it while no
// launch runs). Returns false and changes nothing if that set is not
// compiled in or this processor cannot run it.
bool useInstructionSet(const std::string& name);

}  // namespace cpu_kernels
