// Error strings, devices, memory and events of the CPU runtime.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

#include "device_symbols.h"
#include "graphics_resource.h"
#include "launch_workers.h"
#include "large_pages.h"
#include "memory_access_hook.h"
#include "memory_copy.h"
#include "runtime_state.h"

namespace cpu_runtime {
namespace {

// Device memory is host memory with the alignment cudaMalloc guarantees,
// and big blocks start on a large page so that they can be backed by them.
size_t allocationAlignment(size_t bytes)
{
    return bytes >= kLargePageBytes ? kLargePageBytes : 256;
}

struct AllocationTable {
    std::mutex mutex;
    std::map<const char*, size_t> sizes;  // start address -> bytes
};

AllocationTable& allocations()
{
    static AllocationTable* table = new AllocationTable;
    return *table;
}

// True when [p, p + count) lies inside one live allocation.
bool isDeviceRange(const void* p, size_t count)
{
    AllocationTable& table = allocations();
    std::lock_guard<std::mutex> lock(table.mutex);
    const char* start = static_cast<const char*>(p);
    auto it = table.sizes.upper_bound(start);
    if (it == table.sizes.begin()) return false;
    --it;
    return start >= it->first && count <= it->second - static_cast<size_t>(start - it->first);
}

// The size of the block that cudaMalloc returned at p; 0 for any other
// pointer.
size_t allocationSize(const void* p)
{
    AllocationTable& table = allocations();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.sizes.find(static_cast<const char*>(p));
    return it == table.sizes.end() ? 0 : it->second;
}

// A call's status: the injected failure if one is armed, else no device,
// else success. Failures become the last error.
cudaError_t callStatus(const char* name)
{
    const cudaError_t injected = injectedStatus(name);
    if (injected != cudaSuccess) return recordStatus(injected);
    if (devices().empty()) return recordStatus(cudaErrorNoDevice);
    return cudaSuccess;
}

cudaError_t deviceStatus(const char* name, int device)
{
    const cudaError_t status = callStatus(name);
    if (status != cudaSuccess) return status;
    if (device < 0 || static_cast<size_t>(device) >= devices().size()) return recordStatus(cudaErrorInvalidDevice);
    return cudaSuccess;
}

bool rangesOverlap(const void* a, const void* b, size_t count)
{
    const auto x = reinterpret_cast<uintptr_t>(a);
    const auto y = reinterpret_cast<uintptr_t>(b);
    return x < y + count && y < x + count;
}

// Device-to-device copies use every core and bypass the cache, as a GPU's
// copy uses all of its memory bandwidth.
void copyInParallel(char* dst, const char* src, size_t count)
{
    constexpr size_t kChunk = 1 << 20;
    const size_t chunks = (count + kChunk - 1) / kChunk;
    runBlocksInParallel(chunks, [&](size_t first, size_t end) {
        const size_t begin = first * kChunk;
        copyBypassingCache(dst + begin, src + begin, std::min(end * kChunk, count) - begin);
        finishCopiesBypassingCache();
    });
}

}  // namespace

size_t liveAllocationCount()
{
    AllocationTable& table = allocations();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.sizes.size();
}

void freeAllAllocations()
{
    AllocationTable& table = allocations();
    std::lock_guard<std::mutex> lock(table.mutex);
    for (const auto& entry : table.sizes)
        ::operator delete(const_cast<char*>(entry.first), std::align_val_t(allocationAlignment(entry.second)));
    table.sizes.clear();
}

cudaError_t bindDevice(const char* callName, int device)
{
    const cudaError_t status = deviceStatus(callName, device);
    if (status != cudaSuccess) return status;
    if (devices()[static_cast<size_t>(device)].computeMode == cudaComputeModeProhibited)
        return recordStatus(cudaErrorDevicesUnavailable);
    currentDevice() = device;
    return cudaSuccess;
}

}  // namespace cpu_runtime

using cpu_runtime::callStatus;
using cpu_runtime::recordStatus;

const char* cudaGetErrorString(cudaError_t error)
{
    switch (error) {
    case cudaSuccess: return "no error";
    case cudaErrorInvalidValue: return "invalid argument";
    case cudaErrorMemoryAllocation: return "out of memory";
    case cudaErrorInitializationError: return "initialization error";
    case cudaErrorCudartUnloading: return "driver shutting down";
    case cudaErrorInvalidConfiguration: return "invalid configuration argument";
    case cudaErrorInvalidPitchValue: return "invalid pitch argument";
    case cudaErrorInvalidSymbol: return "invalid device symbol";
    case cudaErrorInvalidHostPointer: return "invalid host pointer";
    case cudaErrorInvalidDevicePointer: return "invalid device pointer";
    case cudaErrorInvalidMemcpyDirection: return "invalid copy direction for memcpy";
    case cudaErrorInsufficientDriver: return "CUDA driver version is insufficient for CUDA runtime version";
    case cudaErrorDevicesUnavailable: return "CUDA-capable device(s) is/are busy or unavailable";
    case cudaErrorMissingConfiguration: return "__global__ function call is not configured";
    case cudaErrorInvalidDeviceFunction: return "invalid device function";
    case cudaErrorNoDevice: return "no CUDA-capable device is detected";
    case cudaErrorInvalidDevice: return "invalid device ordinal";
    case cudaErrorStartupFailure: return "initialization error";
    case cudaErrorInvalidKernelImage: return "device kernel image is invalid";
    case cudaErrorMapBufferObjectFailed: return "mapping of buffer object failed";
    case cudaErrorUnmapBufferObjectFailed: return "unmapping of buffer object failed";
    case cudaErrorAlreadyMapped: return "resource already mapped";
    case cudaErrorNoKernelImageForDevice: return "no kernel image is available for execution on the device";
    case cudaErrorNotMapped: return "resource not mapped";
    case cudaErrorECCUncorrectable: return "uncorrectable ECC error encountered";
    case cudaErrorInvalidGraphicsContext: return "invalid OpenGL or DirectX context";
    case cudaErrorOperatingSystem: return "OS call failed or operation not supported on this OS";
    case cudaErrorInvalidResourceHandle: return "invalid resource handle";
    case cudaErrorNotReady: return "device not ready";
    case cudaErrorIllegalAddress: return "an illegal memory access was encountered";
    case cudaErrorLaunchOutOfResources: return "too many resources requested for launch";
    case cudaErrorLaunchTimeout: return "the launch timed out and was terminated";
    case cudaErrorAssert: return "device-side assert triggered";
    case cudaErrorHardwareStackError: return "hardware stack error";
    case cudaErrorIllegalInstruction: return "an illegal instruction was encountered";
    case cudaErrorMisalignedAddress: return "misaligned address";
    case cudaErrorInvalidAddressSpace: return "operation not supported on global/shared address space";
    case cudaErrorInvalidPc: return "invalid program counter";
    case cudaErrorLaunchFailure: return "unspecified launch failure";
    case cudaErrorNotPermitted: return "operation not permitted";
    case cudaErrorNotSupported: return "operation not supported";
    case cudaErrorUnknown: return "unknown error";
    default: return "unrecognized error code";
    }
}

cudaError_t cudaGetDeviceCount(int* count)
{
    const cudaError_t injected = cpu_runtime::injectedStatus("cudaGetDeviceCount");
    if (injected != cudaSuccess) {
        *count = 0;
        return recordStatus(injected);
    }
    *count = static_cast<int>(cpu_runtime::devices().size());
    return *count == 0 ? recordStatus(cudaErrorNoDevice) : cudaSuccess;
}

cudaError_t cudaGetDeviceProperties(cudaDeviceProp* prop, int device)
{
    const cudaError_t status = cpu_runtime::deviceStatus("cudaGetDeviceProperties", device);
    if (status != cudaSuccess) return status;
    const cpu_runtime::EmulatedDevice& source = cpu_runtime::devices()[static_cast<size_t>(device)];
    std::memset(prop, 0, sizeof(*prop));
    std::strncpy(prop->name, source.name.c_str(), sizeof(prop->name) - 1);
    prop->sharedMemPerBlock = 48 * 1024;
    prop->maxThreadsPerBlock = 1024;
    prop->maxThreadsDim[0] = 1024;
    prop->maxThreadsDim[1] = 1024;
    prop->maxThreadsDim[2] = 64;
    prop->maxGridSize[0] = 0x7FFFFFFF;
    prop->maxGridSize[1] = 65535;
    prop->maxGridSize[2] = 65535;
    prop->major = source.major;
    prop->minor = source.minor;
    prop->multiProcessorCount = source.multiProcessorCount;
    return cudaSuccess;
}

cudaError_t cudaDeviceGetAttribute(int* value, cudaDeviceAttr attr, int device)
{
    const cudaError_t status = cpu_runtime::deviceStatus("cudaDeviceGetAttribute", device);
    if (status != cudaSuccess) return status;
    const cpu_runtime::EmulatedDevice& source = cpu_runtime::devices()[static_cast<size_t>(device)];
    switch (attr) {
    case cudaDevAttrMaxThreadsPerBlock: *value = 1024; return cudaSuccess;
    case cudaDevAttrClockRate: *value = source.clockRateKHz; return cudaSuccess;
    case cudaDevAttrMultiProcessorCount: *value = source.multiProcessorCount; return cudaSuccess;
    case cudaDevAttrComputeMode: *value = source.computeMode; return cudaSuccess;
    case cudaDevAttrComputeCapabilityMajor: *value = source.major; return cudaSuccess;
    case cudaDevAttrComputeCapabilityMinor: *value = source.minor; return cudaSuccess;
    }
    return recordStatus(cudaErrorInvalidValue);
}

cudaError_t cudaSetDevice(int device)
{
    return cpu_runtime::bindDevice("cudaSetDevice", device);
}

cudaError_t cudaGetDevice(int* device)
{
    const cudaError_t status = callStatus("cudaGetDevice");
    if (status != cudaSuccess) return status;
    if (device == nullptr) return recordStatus(cudaErrorInvalidValue);
    *device = cpu_runtime::currentDevice();
    return cudaSuccess;
}

cudaError_t cudaDeviceReset(void)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    // Every block may go: all of memory counts as written.
    cpu_runtime::beforeAccess({{nullptr, SIZE_MAX, true}});
    const cudaError_t status = callStatus("cudaDeviceReset");
    if (status != cudaSuccess) return status;
    cpu_runtime::freeAllAllocations();
    return cudaSuccess;
}

cudaError_t cudaDeviceSynchronize(void)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    // Waits for the launches; the memory they left is read by copies.
    cpu_runtime::beforeAccess({});
    return callStatus("cudaDeviceSynchronize");
}

cudaError_t cudaMalloc(void** devPtr, size_t size)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    if (devPtr == nullptr) return recordStatus(cudaErrorInvalidValue);
    *devPtr = nullptr;
    const cudaError_t status = callStatus("cudaMalloc");
    if (status != cudaSuccess) return status;
    if (size == 0) return cudaSuccess;
    void* block = ::operator new(size, std::align_val_t(cpu_runtime::allocationAlignment(size)), std::nothrow);
    if (block == nullptr) return recordStatus(cudaErrorMemoryAllocation);
    if (size >= cpu_runtime::kLargePageBytes) cpu_runtime::adviseLargePages(block, size);
    cpu_runtime::AllocationTable& table = cpu_runtime::allocations();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.sizes[static_cast<const char*>(block)] = size;
    *devPtr = block;
    return cudaSuccess;
}

cudaError_t cudaFree(void* devPtr)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    // The whole block counts as written: whatever waits to be stored in it
    // is stored first, and nothing kept about its contents outlives it.
    cpu_runtime::beforeAccess({{devPtr, cpu_runtime::allocationSize(devPtr), true}});
    const cudaError_t status = callStatus("cudaFree");
    if (status != cudaSuccess) return status;
    if (devPtr == nullptr) return cudaSuccess;
    cpu_runtime::AllocationTable& table = cpu_runtime::allocations();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.sizes.find(static_cast<const char*>(devPtr));
    if (it == table.sizes.end()) return recordStatus(cudaErrorInvalidValue);  // not a pointer we handed out
    const size_t size = it->second;
    table.sizes.erase(it);
    ::operator delete(devPtr, std::align_val_t(cpu_runtime::allocationAlignment(size)));
    return cudaSuccess;
}

cudaError_t cudaMemcpy(void* dst, const void* src, size_t count, cudaMemcpyKind kind)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    cpu_runtime::beforeAccess({{dst, count, true}, {src, count, false}});
    const cudaError_t status = callStatus("cudaMemcpy");
    if (status != cudaSuccess) return status;
    if (count == 0) return cudaSuccess;
    const bool srcOnDevice = kind == cudaMemcpyDeviceToHost || kind == cudaMemcpyDeviceToDevice;
    const bool dstOnDevice = kind == cudaMemcpyHostToDevice || kind == cudaMemcpyDeviceToDevice;
    if (kind > cudaMemcpyDefault) return recordStatus(cudaErrorInvalidMemcpyDirection);
    if (dst == nullptr || src == nullptr || (srcOnDevice && !cpu_runtime::isDeviceRange(src, count)) ||
        (dstOnDevice && !cpu_runtime::isDeviceRange(dst, count)))
        return recordStatus(cudaErrorInvalidValue);
    if (kind == cudaMemcpyDeviceToDevice && !cpu_runtime::rangesOverlap(dst, src, count)) {
        cpu_runtime::copyInParallel(static_cast<char*>(dst), static_cast<const char*>(src), count);
    } else {
        std::memmove(dst, src, count);
    }
    return cudaSuccess;
}

cudaError_t cudaMemset(void* devPtr, int value, size_t count)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    cpu_runtime::beforeAccess({{devPtr, count, true}});
    const cudaError_t status = callStatus("cudaMemset");
    if (status != cudaSuccess) return status;
    if (count == 0) return cudaSuccess;
    if (!cpu_runtime::isDeviceRange(devPtr, count)) return recordStatus(cudaErrorInvalidValue);
    std::memset(devPtr, value, count);
    return cudaSuccess;
}

namespace cpu_runtime {
namespace {

// The checks of a copy between a symbol and `other` (the source of a copy
// to the symbol, the target of one from it), after the call's status: the
// direction, the range within the symbol, and `other` on the side the
// direction names.
cudaError_t symbolCopyStatus(size_t symbolBytes, const void* other, size_t count, size_t offset, cudaMemcpyKind kind,
                             cudaMemcpyKind hostKind)
{
    if (kind != hostKind && kind != cudaMemcpyDeviceToDevice && kind != cudaMemcpyDefault)
        return recordStatus(cudaErrorInvalidMemcpyDirection);
    if (offset > symbolBytes || count > symbolBytes - offset) return recordStatus(cudaErrorInvalidValue);
    if (count == 0) return cudaSuccess;
    if (other == nullptr || (kind == cudaMemcpyDeviceToDevice && !isDeviceRange(other, count)))
        return recordStatus(cudaErrorInvalidValue);
    return cudaSuccess;
}

struct SymbolTable {
    std::mutex mutex;
    std::map<const void*, size_t> sizes;
};

SymbolTable& symbols()
{
    static SymbolTable* table = new SymbolTable;
    return *table;
}

}  // namespace

void registerDeviceSymbol(const void* symbol, size_t bytes)
{
    SymbolTable& table = symbols();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.sizes[symbol] = bytes;
}

size_t deviceSymbolBytes(const void* symbol)
{
    SymbolTable& table = symbols();
    std::lock_guard<std::mutex> lock(table.mutex);
    const auto it = table.sizes.find(symbol);
    return it == table.sizes.end() ? 0 : it->second;
}

}  // namespace cpu_runtime

// A symbol is host memory that no kernel's bookkeeping knows; telling the
// hook of the copy runs every launch still waiting, so that none of them
// sees the new value, as none would on a GPU. An address that is no
// registered symbol is refused before anything else is checked.
cudaError_t cudaMemcpyToSymbol(const void* symbol, const void* src, size_t count, size_t offset, cudaMemcpyKind kind)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const size_t symbolBytes = cpu_runtime::deviceSymbolBytes(symbol);
    cpu_runtime::beforeAccess({{symbol, symbolBytes, true}, {src, count, false}});
    cudaError_t status = cpu_runtime::callStatus("cudaMemcpyToSymbol");
    if (status == cudaSuccess && symbolBytes == 0) status = cpu_runtime::recordStatus(cudaErrorInvalidSymbol);
    if (status == cudaSuccess)
        status = cpu_runtime::symbolCopyStatus(symbolBytes, src, count, offset, kind, cudaMemcpyHostToDevice);
    if (status != cudaSuccess || count == 0) return status;
    std::memcpy(static_cast<char*>(const_cast<void*>(symbol)) + offset, src, count);
    return cudaSuccess;
}

cudaError_t cudaMemcpyFromSymbol(void* dst, const void* symbol, size_t count, size_t offset, cudaMemcpyKind kind)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    const size_t symbolBytes = cpu_runtime::deviceSymbolBytes(symbol);
    cpu_runtime::beforeAccess({{dst, count, true}, {symbol, symbolBytes, false}});
    cudaError_t status = cpu_runtime::callStatus("cudaMemcpyFromSymbol");
    if (status == cudaSuccess && symbolBytes == 0) status = cpu_runtime::recordStatus(cudaErrorInvalidSymbol);
    if (status == cudaSuccess)
        status = cpu_runtime::symbolCopyStatus(symbolBytes, dst, count, offset, kind, cudaMemcpyDeviceToHost);
    if (status != cudaSuccess || count == 0) return status;
    std::memcpy(dst, static_cast<const char*>(symbol) + offset, count);
    return cudaSuccess;
}

// Recording an event first lets the hook run every waiting launch, so an event is just the
// time it was recorded: the time by which all earlier work had finished.
struct CUevent_st {
    std::chrono::steady_clock::time_point time;
    bool recorded = false;
};

cudaError_t cudaEventCreate(cudaEvent_t* event)
{
    const cudaError_t status = callStatus("cudaEventCreate");
    if (status != cudaSuccess) return status;
    *event = new (std::nothrow) CUevent_st;
    return *event == nullptr ? recordStatus(cudaErrorMemoryAllocation) : cudaSuccess;
}

cudaError_t cudaEventDestroy(cudaEvent_t event)
{
    if (event == nullptr) return recordStatus(cudaErrorInvalidResourceHandle);
    delete event;
    return cudaSuccess;
}

cudaError_t cudaEventRecord(cudaEvent_t event, cudaStream_t)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    cpu_runtime::beforeAccess({});
    if (cpu_runtime::stickyStatus() != cudaSuccess) return recordStatus(cpu_runtime::stickyStatus());
    if (event == nullptr) return recordStatus(cudaErrorInvalidResourceHandle);
    event->time = std::chrono::steady_clock::now();
    event->recorded = true;
    return cudaSuccess;
}

cudaError_t cudaEventSynchronize(cudaEvent_t event)
{
    if (cpu_runtime::stickyStatus() != cudaSuccess) return recordStatus(cpu_runtime::stickyStatus());
    return event == nullptr ? recordStatus(cudaErrorInvalidResourceHandle) : cudaSuccess;
}

cudaError_t cudaEventElapsedTime(float* ms, cudaEvent_t start, cudaEvent_t end)
{
    if (start == nullptr || end == nullptr) return recordStatus(cudaErrorInvalidResourceHandle);
    if (!start->recorded || !end->recorded) return recordStatus(cudaErrorInvalidResourceHandle);
    *ms = std::chrono::duration<float, std::milli>(end->time - start->time).count();
    return cudaSuccess;
}

cudaError_t cudaGraphicsUnregisterResource(cudaGraphicsResource_t resource)
{
    const auto runtimeLock = cpu_runtime::lockRuntime();
    cpu_runtime::beforeAccess({});
    const cudaError_t injected = cpu_runtime::injectedStatus("cudaGraphicsUnregisterResource");
    if (injected != cudaSuccess) return recordStatus(injected);
    if (resource == nullptr) return recordStatus(cudaErrorInvalidResourceHandle);
    if (resource->mapped != nullptr && resource->unmap != nullptr) resource->unmap(resource);
    delete resource;
    return cudaSuccess;
}
