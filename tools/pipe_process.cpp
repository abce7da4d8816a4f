#include "pipe_process.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <io.h>
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The programs started by openWritePipe, by the pipe that feeds them.
struct PipedChild {
    std::FILE* pipe;
    pid_t pid;
};

std::mutex s_childrenMutex;
std::vector<PipedChild> s_children;

}  // namespace
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
    int ends[2];
    if (pipe(ends) != 0) return nullptr;
    fcntl(ends[1], F_SETFD, FD_CLOEXEC);

    // The program gets a process group of its own: an interrupt typed on the
    // terminal goes to the foreground group, this program, which then ends
    // the program's input; it does not stop the program under our feet.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[0], STDIN_FILENO);
    posix_spawn_file_actions_addclose(&actions, ends[0]);
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF);
    const char* arguments[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, "/bin/sh", &actions, &attributes, const_cast<char**>(arguments), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(ends[0]);
    if (error != 0) {
        close(ends[1]);
        errno = error;
        return nullptr;
    }
    std::FILE* stream = fdopen(ends[1], "w");
    if (stream == nullptr) {
        close(ends[1]);
        waitpid(pid, nullptr, 0);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(s_childrenMutex);
    s_children.push_back({stream, pid});
    return stream;
#endif
}

int closeWritePipe(std::FILE* pipe)
{
#if defined(_WIN32)
    return _pclose(pipe);
#else
    pid_t pid = -1;
    {
        std::lock_guard<std::mutex> lock(s_childrenMutex);
        for (auto it = s_children.begin(); it != s_children.end(); ++it) {
            if (it->pipe == pipe) {
                pid = it->pid;
                s_children.erase(it);
                break;
            }
        }
    }
    std::fclose(pipe);
    if (pid < 0) return -1;
    int status = 0;
    pid_t waited = 0;
    do {
        waited = waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0 || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
#endif
}
