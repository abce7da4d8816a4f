// Last error, injected failures and the device list of the CPU runtime.
#include "runtime_state.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace cpu_runtime {
namespace {

thread_local cudaError_t lastError = cudaSuccess;

// A failure that has left the device unusable. As in the CUDA runtime, it
// belongs to the device, not to a thread: every later call of every thread
// returns it, and cudaGetLastError does not clear it. Only a reset of the
// test hooks does (clearFailures).
std::atomic<int> stickyError{cudaSuccess};

struct ArmedFailure {
    std::string call;
    long long use;  // the use count at which it fires
    cudaError_t status;
};

struct FailureTable {
    std::mutex mutex;
    std::map<std::string, long long> useCounts;
    std::vector<ArmedFailure> armed;
};

// Parses "call:n:status" entries; malformed entries are reported and skipped.
void armFromEnvironment(FailureTable& table)
{
    const char* text = std::getenv("SHALLOW_WATER_CPU_FAIL");
    if (text == nullptr) return;
    std::stringstream entries(text);
    std::string entry;
    while (std::getline(entries, entry, ',')) {
        if (entry.empty()) continue;
        const size_t first = entry.find(':');
        const size_t second = first == std::string::npos ? first : entry.find(':', first + 1);
        char* end = nullptr;
        long long use = 0;
        long status = 0;
        bool valid = second != std::string::npos;
        if (valid) {
            use = std::strtoll(entry.c_str() + first + 1, &end, 10);
            valid = end == entry.c_str() + second && use > 0;
        }
        if (valid) {
            status = std::strtol(entry.c_str() + second + 1, &end, 10);
            valid = *end == '\0' && end != entry.c_str() + second + 1;
        }
        if (!valid) {
            std::fprintf(stderr, "SHALLOW_WATER_CPU_FAIL: ignoring malformed entry '%s'\n", entry.c_str());
            continue;
        }
        table.armed.push_back({entry.substr(0, first), use, static_cast<cudaError_t>(status)});
    }
}

FailureTable& failures()
{
    static FailureTable* table = [] {
        auto* t = new FailureTable;
        armFromEnvironment(*t);
        return t;
    }();
    return *table;
}

std::vector<EmulatedDevice> environmentDevices()
{
    const char* text = std::getenv("SHALLOW_WATER_CPU_DEVICES");
    if (text == nullptr) return {defaultDevice()};
    std::vector<EmulatedDevice> list;
    if (!parseDeviceList(text, &list)) {
        std::fprintf(stderr, "SHALLOW_WATER_CPU_DEVICES: malformed device list, using the default device\n");
        return {defaultDevice()};
    }
    return list;
}

std::vector<EmulatedDevice>& deviceList()
{
    static std::vector<EmulatedDevice>* list = new std::vector<EmulatedDevice>(environmentDevices());
    return *list;
}

}  // namespace

cudaError_t recordStatus(cudaError_t status)
{
    if (status != cudaSuccess) lastError = status;
    return status;
}

bool isStickyStatus(cudaError_t status)
{
    switch (status) {
    case cudaErrorDevicesUnavailable:
    case cudaErrorECCUncorrectable:
    case cudaErrorIllegalAddress:
    case cudaErrorLaunchTimeout:
    case cudaErrorAssert:
    case cudaErrorHardwareStackError:
    case cudaErrorIllegalInstruction:
    case cudaErrorMisalignedAddress:
    case cudaErrorInvalidAddressSpace:
    case cudaErrorInvalidPc:
    case cudaErrorLaunchFailure: return true;
    default: return false;
    }
}

cudaError_t stickyStatus()
{
    return static_cast<cudaError_t>(stickyError.load());
}

cudaError_t injectedStatus(const char* callName)
{
    FailureTable& table = failures();
    std::lock_guard<std::mutex> lock(table.mutex);
    const long long use = ++table.useCounts[callName];
    const cudaError_t sticky = stickyStatus();
    if (sticky != cudaSuccess) return sticky;
    for (auto it = table.armed.begin(); it != table.armed.end(); ++it) {
        if (it->call == callName && it->use == use) {
            const cudaError_t status = it->status;
            table.armed.erase(it);
            if (isStickyStatus(status)) stickyError.store(status);
            return status;
        }
    }
    return cudaSuccess;
}

void failCall(const std::string& callName, int nthUse, cudaError_t status)
{
    FailureTable& table = failures();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.armed.push_back({callName, table.useCounts[callName] + nthUse, status});
}

void clearFailures()
{
    FailureTable& table = failures();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.armed.clear();
    stickyError.store(cudaSuccess);
}

EmulatedDevice defaultDevice()
{
    EmulatedDevice device;
    device.name = "Shallow-water CPU backend";
    device.multiProcessorCount = static_cast<int>(workerCount());
    return device;
}

bool parseDeviceList(const std::string& text, std::vector<EmulatedDevice>* devices)
{
    devices->clear();
    std::stringstream entries(text);
    std::string entry;
    while (std::getline(entries, entry, ';')) {
        if (entry.empty()) continue;
        std::vector<std::string> fields;
        std::stringstream parts(entry);
        std::string field;
        while (std::getline(parts, field, ',')) fields.push_back(field);
        if (fields.size() != 4 && fields.size() != 5) return false;
        EmulatedDevice device;
        device.name = fields[0];
        int consumed = 0;
        if (std::sscanf(fields[1].c_str(), "%d.%d%n", &device.major, &device.minor, &consumed) != 2 ||
            static_cast<size_t>(consumed) != fields[1].size())
            return false;
        auto toInt = [](const std::string& s, int* out) {
            char* end = nullptr;
            const long value = std::strtol(s.c_str(), &end, 10);
            if (s.empty() || *end != '\0' || value < 0 || value > 0x7FFFFFFF) return false;
            *out = static_cast<int>(value);
            return true;
        };
        if (!toInt(fields[2], &device.multiProcessorCount) || !toInt(fields[3], &device.clockRateKHz)) return false;
        if (fields.size() == 5 && !toInt(fields[4], &device.computeMode)) return false;
        devices->push_back(device);
    }
    return true;
}

int& currentDevice()
{
    static int device = 0;
    return device;
}

const std::vector<EmulatedDevice>& devices()
{
    return deviceList();
}

void setDevices(const std::vector<EmulatedDevice>& list)
{
    deviceList() = list;
}

void resetDevices()
{
    deviceList() = environmentDevices();
}

}  // namespace cpu_runtime

cudaError_t cudaGetLastError(void)
{
    const cudaError_t sticky = cpu_runtime::stickyStatus();
    const cudaError_t status = cpu_runtime::lastError;
    cpu_runtime::lastError = cudaSuccess;
    return sticky != cudaSuccess ? sticky : status;
}

cudaError_t cudaPeekAtLastError(void)
{
    const cudaError_t sticky = cpu_runtime::stickyStatus();
    return sticky != cudaSuccess ? sticky : cpu_runtime::lastError;
}
