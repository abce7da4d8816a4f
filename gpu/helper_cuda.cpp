// Command-line parsing, cores per multiprocessor, the automatic device
// choice, the table of CUDA status names and the fatal check.
#include "helper_cuda.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

char toLowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares at most `count` characters ignoring ASCII letter case; stops
// early at a difference or at the end of both strings.
bool equalsIgnoringCase(const char* a, const char* b, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (toLowerAscii(a[i]) != toLowerAscii(b[i])) return false;
        if (a[i] == '\0') return true;
    }
    return true;
}

// Skips the leading dashes of an argument, unless that would leave at most
// one character: "-" and "-x" stay as they are.
const char* withoutLeadingDashes(const char* argument)
{
    const size_t length = std::strlen(argument);
    size_t dashes = 0;
    while (argument[dashes] == '-') ++dashes;
    return dashes + 1 < length ? argument + dashes : argument;
}

// The decimal number at the start of `text` (after blanks and a sign), as
// atoi reads it, but clamped to the int range where atoi's result would be
// undefined. 0 when there is no number.
int clampedLeadingInt(const char* text)
{
    const long long value = std::strtoll(text, nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

struct ArchitectureCores {
    int key;  // major * 16 + minor; -1 ends the table
    int cores;
};

constexpr ArchitectureCores kCoresPerMultiprocessor[] = {
    {0x20, 32},  {0x21, 48},  {0x30, 192}, {0x32, 192}, {0x35, 192},
    {0x37, 192}, {0x50, 128}, {0x52, 128}, {-1, -1},
};

// What the automatic choice reads of one device.
struct DeviceRatingInputs {
    bool readable = false;  // false when the properties could not be read
    int major = 0;
    int minor = 0;
    int multiProcessorCount = 0;
    int clockRateKHz = 0;
    int computeMode = cudaComputeModeDefault;
};

// The query statuses are not fatal here: a device whose properties cannot
// be read is simply never chosen.
DeviceRatingInputs readRatingInputs(int device)
{
    DeviceRatingInputs inputs;
    cudaDeviceProp properties;
    std::memset(&properties, 0, sizeof(properties));
    if (cudaGetDeviceProperties(&properties, device) != cudaSuccess) return inputs;
    inputs.readable = true;
    inputs.major = properties.major;
    inputs.minor = properties.minor;
    inputs.multiProcessorCount = properties.multiProcessorCount;
    // The clock rate and compute mode are device attributes in current
    // runtimes; an unreadable attribute leaves its default.
    cudaDeviceGetAttribute(&inputs.clockRateKHz, cudaDevAttrClockRate, device);
    cudaDeviceGetAttribute(&inputs.computeMode, cudaDevAttrComputeMode, device);
    return inputs;
}

}  // namespace

bool hasCommandLineFlag(int argc, const char* const* argv, const char* name)
{
    if (argc < 2 || argv == nullptr || name == nullptr) return false;
    const size_t nameLength = std::strlen(name);
    bool found = false;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        const char* argument = withoutLeadingDashes(argv[i]);
        const char* equals = std::strchr(argument, '=');
        const size_t keyLength = equals != nullptr ? static_cast<size_t>(equals - argument) : std::strlen(argument);
        if (keyLength == nameLength && equalsIgnoringCase(argument, name, nameLength)) found = true;
    }
    return found;
}

int getDeviceArgument(int argc, const char* const* argv)
{
    static const char kOption[] = "device=";
    const size_t optionLength = sizeof(kOption) - 1;
    if (argc < 2 || argv == nullptr) return 0;
    int device = 0;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr) continue;
        const char* argument = withoutLeadingDashes(argv[i]);
        if (!equalsIgnoringCase(argument, kOption, optionLength)) continue;
        if (std::strlen(argument) <= optionLength) {
            device = 0;
            continue;
        }
        const char* value = argument + optionLength;
        if (*value == '=') ++value;  // "device==3" reads as 3
        device = clampedLeadingInt(value);
    }
    return device;
}

int MapSMtoCores(int major, int minor)
{
    // 64-bit so that no reported version can overflow the key.
    const long long key = static_cast<long long>(major) * 16 + minor;
    size_t row = 0;
    for (; kCoresPerMultiprocessor[row].key != -1; ++row) {
        if (kCoresPerMultiprocessor[row].key == key) return kCoresPerMultiprocessor[row].cores;
    }
    const int fallback = kCoresPerMultiprocessor[row - 1].cores;
    std::printf("MapSMtoCores for SM %d.%d is undefined.  Default to use %d Cores/SM\n", major, minor, fallback);
    return fallback;
}

int gpuGetMaxGflopsDeviceId()
{
    int device_count = 0;
    REQUIRE_CUDA_SUCCESS(cudaGetDeviceCount(&device_count));
    if (device_count == 0) {
        std::fprintf(stderr, "gpuGetMaxGflopsDeviceId() CUDA error: no devices supporting CUDA.\n");
        std::exit(1);
    }

    // First pass: the newest major architecture among the usable devices.
    std::vector<DeviceRatingInputs> devices;
    int prohibitedCount = 0;
    int bestMajor = 0;
    for (int ordinal = 0; ordinal < device_count; ++ordinal) {
        devices.push_back(readRatingInputs(ordinal));
        const DeviceRatingInputs& device = devices.back();
        if (device.computeMode == cudaComputeModeProhibited) {
            ++prohibitedCount;
        } else if (device.major > 0 && device.major < 9999 && device.major > bestMajor) {
            bestMajor = device.major;
        }
    }
    if (prohibitedCount == device_count) {
        std::fprintf(stderr, "gpuGetMaxGflopsDeviceId() CUDA error: all devices have compute mode prohibited.\n");
        std::exit(1);
    }

    // Second pass: the highest rating; on machines with architecture 3 or
    // newer only devices of the newest major version compete.
    int chosen = 0;
    uint64_t bestRating = 0;
    for (int ordinal = 0; ordinal < device_count; ++ordinal) {
        const DeviceRatingInputs& device = devices[static_cast<size_t>(ordinal)];
        if (device.computeMode == cudaComputeModeProhibited || !device.readable) continue;
        const int cores = (device.major == 9999 && device.minor == 9999) ? 1 : MapSMtoCores(device.major, device.minor);
        // Unsigned arithmetic: no rating can overflow into undefined behaviour.
        const uint64_t rating = static_cast<uint64_t>(device.multiProcessorCount) *
                                static_cast<uint64_t>(device.clockRateKHz) * static_cast<uint64_t>(cores);
        if (rating > bestRating && (bestMajor <= 2 || device.major == bestMajor)) {
            chosen = ordinal;
            bestRating = rating;
        }
    }
    return chosen;
}

const char* cudaErrorEnumName(int code)
{
    switch (code) {
    case 0: return "cudaSuccess";
    case 1: return "cudaErrorInvalidValue";
    case 2: return "cudaErrorMemoryAllocation";
    case 3: return "cudaErrorInitializationError";
    case 4: return "cudaErrorCudartUnloading";
    case 5: return "cudaErrorProfilerDisabled";
    case 6: return "cudaErrorProfilerNotInitialized";
    case 7: return "cudaErrorProfilerAlreadyStarted";
    case 8: return "cudaErrorProfilerAlreadyStopped";
    case 9: return "cudaErrorInvalidConfiguration";
    case 12: return "cudaErrorInvalidPitchValue";
    case 13: return "cudaErrorInvalidSymbol";
    case 16: return "cudaErrorInvalidHostPointer";
    case 17: return "cudaErrorInvalidDevicePointer";
    case 18: return "cudaErrorInvalidTexture";
    case 19: return "cudaErrorInvalidTextureBinding";
    case 20: return "cudaErrorInvalidChannelDescriptor";
    case 21: return "cudaErrorInvalidMemcpyDirection";
    case 22: return "cudaErrorAddressOfConstant";
    case 23: return "cudaErrorTextureFetchFailed";
    case 24: return "cudaErrorTextureNotBound";
    case 25: return "cudaErrorSynchronizationError";
    case 26: return "cudaErrorInvalidFilterSetting";
    case 27: return "cudaErrorInvalidNormSetting";
    case 28: return "cudaErrorMixedDeviceExecution";
    case 31: return "cudaErrorNotYetImplemented";
    case 32: return "cudaErrorMemoryValueTooLarge";
    case 35: return "cudaErrorInsufficientDriver";
    case 37: return "cudaErrorInvalidSurface";
    case 43: return "cudaErrorDuplicateVariableName";
    case 44: return "cudaErrorDuplicateTextureName";
    case 45: return "cudaErrorDuplicateSurfaceName";
    case 46: return "cudaErrorDevicesUnavailable";
    case 49: return "cudaErrorIncompatibleDriverContext";
    case 52: return "cudaErrorMissingConfiguration";
    case 53: return "cudaErrorPriorLaunchFailure";
    case 65: return "cudaErrorLaunchMaxDepthExceeded";
    case 66: return "cudaErrorLaunchFileScopedTex";
    case 67: return "cudaErrorLaunchFileScopedSurf";
    case 68: return "cudaErrorSyncDepthExceeded";
    case 69: return "cudaErrorLaunchPendingCountExceeded";
    case 98: return "cudaErrorInvalidDeviceFunction";
    case 100: return "cudaErrorNoDevice";
    case 101: return "cudaErrorInvalidDevice";
    case 127: return "cudaErrorStartupFailure";
    case 200: return "cudaErrorInvalidKernelImage";
    case 205: return "cudaErrorMapBufferObjectFailed";
    case 206: return "cudaErrorUnmapBufferObjectFailed";
    case 209: return "cudaErrorNoKernelImageForDevice";
    case 214: return "cudaErrorECCUncorrectable";
    case 215: return "cudaErrorUnsupportedLimit";
    case 216: return "cudaErrorDeviceAlreadyInUse";
    case 217: return "cudaErrorPeerAccessUnsupported";
    case 218: return "cudaErrorInvalidPtx";
    case 219: return "cudaErrorInvalidGraphicsContext";
    case 302: return "cudaErrorSharedObjectSymbolNotFound";
    case 303: return "cudaErrorSharedObjectInitFailed";
    case 304: return "cudaErrorOperatingSystem";
    case 400: return "cudaErrorInvalidResourceHandle";
    case 600: return "cudaErrorNotReady";
    case 700: return "cudaErrorIllegalAddress";
    case 701: return "cudaErrorLaunchOutOfResources";
    case 702: return "cudaErrorLaunchTimeout";
    case 704: return "cudaErrorPeerAccessAlreadyEnabled";
    case 705: return "cudaErrorPeerAccessNotEnabled";
    case 708: return "cudaErrorSetOnActiveProcess";
    case 710: return "cudaErrorAssert";
    case 711: return "cudaErrorTooManyPeers";
    case 712: return "cudaErrorHostMemoryAlreadyRegistered";
    case 713: return "cudaErrorHostMemoryNotRegistered";
    case 714: return "cudaErrorHardwareStackError";
    case 715: return "cudaErrorIllegalInstruction";
    case 716: return "cudaErrorMisalignedAddress";
    case 717: return "cudaErrorInvalidAddressSpace";
    case 718: return "cudaErrorInvalidPc";
    case 719: return "cudaErrorLaunchFailure";
    case 800: return "cudaErrorNotPermitted";
    case 801: return "cudaErrorNotSupported";
    case 999: return "cudaErrorUnknown";
    case 10000: return "cudaErrorApiFailureBase";
    default: return "<unknown>";
    }
}

void requireCudaSuccess(cudaError_t status, const char* callText, const char* file, int line)
{
    if (status == cudaSuccess) return;
    const int code = static_cast<int>(status);
    std::fprintf(stderr, "CUDA error at %s:%d code=%d(%s) \"%s\" \n", file, line, code, cudaErrorEnumName(code), callText);
    cudaDeviceReset();
    std::exit(1);
}
