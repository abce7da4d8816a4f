// libFuzzer target of the command-line parsers. The input is split at
// newlines into an argument vector (the first piece is the program name),
// which both parsers read as the program would; the last piece is also used
// as a flag name. A device value without the device flag is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gpu/helper_cuda.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            words.emplace_back();
        } else {
            words.back().push_back(static_cast<char>(data[i]));
        }
    }
    // Arguments cannot hold a NUL byte, so c_str() ends each one where the
    // process's own argument would end.
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    const bool deviceFlag = hasCommandLineFlag(argc, argv.data(), "device");
    hasCommandLineFlag(argc, argv.data(), "quiet");
    hasCommandLineFlag(argc, argv.data(), words.back().c_str());
    const int device = getDeviceArgument(argc, argv.data());
    if (device != 0 && !deviceFlag) std::abort();
    return 0;
}
