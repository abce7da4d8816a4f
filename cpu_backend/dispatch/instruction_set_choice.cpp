// The choice of compiled kernel set: what each set needs of the processor,
// and the start-up choice from SHALLOW_WATER_CPU_ISA.
#include "instruction_set_choice.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>

#if defined(CPU_KERNELS_DISPATCH)
namespace cpu_kernels_baseline {
extern const KernelSet kernelSet;
}
namespace cpu_kernels_avx2 {
extern const KernelSet kernelSet;
}
namespace cpu_kernels_avx512 {
extern const KernelSet kernelSet;
}
#endif

namespace cpu_kernels {
namespace {

// Each set runs faster than the sets before it where the processor runs
// it, unless fasterThanThoseBefore (where there is one) says not there.
struct CompiledSet {
    const char* name;
    bool (*processorRunsIt)();
    const KernelSet* kernels;
    bool (*fasterThanThoseBefore)();
};

bool anyProcessor()
{
    return true;
}

#if defined(CPU_KERNELS_DISPATCH)
#if !(defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)))
#error "Kernel sets per instruction set need an x86 target and GCC's processor checks"
#endif

// The features each set is compiled with (CMakeLists.txt). The compiler's
// checks also require the operating system to save the wider registers.
bool processorHasAvx2()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2");
}

bool processorHasAvx512()
{
    return processorHasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
}

// AMD's family 19h processors with AVX-512 (Zen 4) run each 512-bit
// operation as two 256-bit halves; there the avx2 set's step took 0.95 to
// 0.99 times as long as the avx512 set's, on one core and on two
// (docs/performance.md).
bool avx512FasterThanAvx2()
{
    __builtin_cpu_init();
    return !(__builtin_cpu_is("amd") && __builtin_cpu_is("amdfam19h"));
}

const CompiledSet kCompiledSets[] = {
    {"baseline", anyProcessor, &cpu_kernels_baseline::kernelSet, nullptr},
    {"avx2", processorHasAvx2, &cpu_kernels_avx2::kernelSet, nullptr},
    {"avx512", processorHasAvx512, &cpu_kernels_avx512::kernelSet, avx512FasterThanAvx2},
};
#else
const CompiledSet kCompiledSets[] = {{CPU_KERNELS_NAME, anyProcessor, &CPU_KERNELS::kernelSet, nullptr}};
#endif

const CompiledSet* findSet(const std::string& name)
{
    for (const CompiledSet& set : kCompiledSets)
        if (name == set.name) return &set;
    return nullptr;
}

const CompiledSet& fastestSupported()
{
    for (int i = static_cast<int>(std::size(kCompiledSets)) - 1; i > 0; --i) {
        const CompiledSet& set = kCompiledSets[i];
        if (set.processorRunsIt() && (set.fasterThanThoseBefore == nullptr || set.fasterThanThoseBefore())) return set;
    }
    return kCompiledSets[0];
}

const CompiledSet& choose(const char* requested)
{
    const CompiledSet& fastest = fastestSupported();
    if (requested == nullptr || *requested == '\0') return fastest;
    const CompiledSet* named = findSet(requested);
    if (named == nullptr) {
        std::string names;
        for (const CompiledSet& set : kCompiledSets) names += (names.empty() ? "" : ", ") + std::string(set.name);
        std::fprintf(stderr, "SHALLOW_WATER_CPU_ISA: no instruction set '%s' in this build (it has %s); using %s\n",
                     requested, names.c_str(), fastest.name);
        return fastest;
    }
    if (!named->processorRunsIt()) {
        std::fprintf(stderr, "SHALLOW_WATER_CPU_ISA: this processor cannot run %s; using %s\n", named->name,
                     fastest.name);
        return fastest;
    }
    return *named;
}

const CompiledSet*& activeSet()
{
    static const CompiledSet* active = &choose(std::getenv("SHALLOW_WATER_CPU_ISA"));
    return active;
}

}  // namespace

std::vector<std::string> compiledInstructionSets()
{
    std::vector<std::string> names;
    for (const CompiledSet& set : kCompiledSets) names.push_back(set.name);
    return names;
}

bool instructionSetSupported(const std::string& name)
{
    const CompiledSet* set = findSet(name);
    return set != nullptr && set->processorRunsIt();
}

std::string chooseInstructionSet(const char* requested)
{
    return choose(requested).name;
}

const KernelSet& activeKernelSet()
{
    return *activeSet()->kernels;
}

std::string activeInstructionSet()
{
    return activeSet()->name;
}

bool useInstructionSet(const std::string& name)
{
    if (!instructionSetSupported(name)) return false;
    activeSet() = findSet(name);
    return true;
}

}  // namespace cpu_kernels
