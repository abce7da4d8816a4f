// What a program prints on standard output is part of its result: hashes,
// figures, usage. Output that cannot be written (a full disk, a closed pipe
// or descriptor) makes the run fail, with a line on standard error, as a
// failed image does.
#pragma once

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

// Called first in main. A closed standard output is given /dev/null opened
// for reading: the descriptor stays taken, so that no file the program opens
// later becomes its standard output, and every write to it still fails. A
// reader that has gone away makes writes fail (EPIPE) instead of ending the
// program without a word (SIGPIPE); programs it starts get the default back
// (tools/pipe_process.cpp).
inline void guardStandardOutput()
{
#if !defined(_WIN32)
    if (fcntl(STDOUT_FILENO, F_GETFD) == -1 && errno == EBADF) {
        const int placeholder = open("/dev/null", O_RDONLY);
        if (placeholder != -1 && placeholder != STDOUT_FILENO) {
            dup2(placeholder, STDOUT_FILENO);
            close(placeholder);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
#endif
}

// Flushes standard output; false, with a line on standard error, when any of
// it could not be written.
inline bool standardOutputWritten(const char* program)
{
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int reason = errno;
    if (flushed && std::ferror(stdout) == 0) return true;
    std::fprintf(stderr, "%s: standard output could not be written (%s).\n", program,
                 reason != 0 ? std::strerror(reason) : "a write failed");
    return false;
}

// The status a program ends with: a run that succeeded fails when its
// standard output was lost; other statuses stay as they are.
inline int withStandardOutputChecked(int status, const char* program)
{
    return standardOutputWritten(program) || status != 0 ? status : 1;
}
