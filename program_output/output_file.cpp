#include "output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

int processId()
{
#if defined(_WIN32)
    return _getpid();
#else
    return static_cast<int>(getpid());
#endif
}

// Creates `path` as a new empty file; fails if it exists. The new file gets
// the permissions a plain new file gets (the umask applies).
bool createExclusive(const std::string& path, int* errorNumber)
{
#if defined(_WIN32)
    const int fd = _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) {
        *errorNumber = errno;
        return false;
    }
    _close(fd);
#else
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        *errorNumber = errno;
        return false;
    }
    close(fd);
#endif
    return true;
}

// An existing destination that is neither a folder nor a regular file (a
// device such as /dev/stdout, a pipe): written in place, never replaced.
bool isSpecialFile(const fs::path& path)
{
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    return !error && fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

}  // namespace

std::string systemErrorText(int errorNumber)
{
    return std::strerror(errorNumber);
}

bool beginOutput(const std::string& path, PendingOutput* pending, std::string* reason)
{
    const fs::path destination(path);
    pending->destination = path;
    std::error_code error;
    if (fs::is_directory(destination, error)) {
        *reason = systemErrorText(EISDIR);
        return false;
    }
    if (isSpecialFile(destination)) {
        pending->temporary = path;
        pending->direct = true;
        return true;
    }
    // A symbolic link stays: the file it points to is the one replaced.
    fs::path target = destination;
    if (fs::is_symlink(fs::symlink_status(destination, error))) {
        const fs::path resolved = fs::canonical(destination, error);
        if (!error) target = resolved;
    }
    pending->destination = target.string();
    const std::string stem = target.stem().string();
    const std::string extension = target.extension().string();
    const fs::path folder = target.parent_path();
    int lastError = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            stem + ".partial-" + std::to_string(processId()) + "-" + std::to_string(attempt) + extension;
        const std::string candidate = (folder / name).string();
        if (createExclusive(candidate, &lastError)) {
            pending->temporary = candidate;
            pending->direct = false;
            return true;
        }
        if (lastError != EEXIST) break;
    }
    *reason = systemErrorText(lastError);
    return false;
}

bool commitOutput(const PendingOutput& pending, std::string* reason)
{
    if (pending.direct) return true;
    std::error_code error;
    // A file that is replaced keeps its permissions.
    const fs::file_status existing = fs::status(pending.destination, error);
    if (!error && fs::is_regular_file(existing)) fs::permissions(pending.temporary, existing.permissions(), error);
    error.clear();
    fs::rename(pending.temporary, pending.destination, error);  // replaces an existing file
    if (error) {
        *reason = error.message();
        abandonOutput(pending);
        return false;
    }
    return true;
}

void abandonOutput(const PendingOutput& pending)
{
    if (pending.direct || pending.temporary.empty()) return;
    std::error_code ignored;
    fs::remove(pending.temporary, ignored);
}

bool outputDestinationUsable(const std::string& path, std::string* reason)
{
    PendingOutput trial;
    if (!beginOutput(path, &trial, reason)) return false;
    abandonOutput(trial);
    return true;
}
