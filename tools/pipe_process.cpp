#include "pipe_process.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#else
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

std::string findProgramOnPath(const std::string& program)
{
#if defined(_WIN32)
    const char separator = ';';
    const std::string name = program + ".exe";
#else
    const char separator = ':';
    const std::string& name = program;
#endif
    const char* path = std::getenv("PATH");
    if (path == nullptr) return "";
    const std::string folders(path);
    size_t start = 0;
    while (start <= folders.size()) {
        size_t end = folders.find(separator, start);
        if (end == std::string::npos) end = folders.size();
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = (std::filesystem::path(folder) / name).string();
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) {
#if defined(_WIN32)
            return candidate;
#else
            if (access(candidate.c_str(), X_OK) == 0) return candidate;
#endif
        }
        start = end + 1;
    }
    return "";
}

std::string quoteArgument(const std::string& text)
{
#if defined(_WIN32)
    // Windows file names cannot hold a double quote.
    return "\"" + text + "\"";
#else
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
#endif
}

std::FILE* openWritePipe(const std::string& command)
{
#if defined(_WIN32)
    // cmd.exe drops the outer quotes of a command that starts with one.
    return _popen(("\"" + command + "\"").c_str(), "wb");
#else
    std::signal(SIGPIPE, SIG_IGN);
    std::fflush(nullptr);  // the child must not repeat what is still buffered
    return popen(command.c_str(), "w");
#endif
}

int closeWritePipe(std::FILE* pipe)
{
#if defined(_WIN32)
    return _pclose(pipe);
#else
    const int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
#endif
}
