// Starting a program with a pipe to its standard input: through /bin/sh in
// a process group of its own on POSIX systems, _popen on Windows (MinGW
// included).
#pragma once

#include <cstdio>
#include <string>

// The full path of `program` found on PATH (with ".exe" on Windows), or an
// empty string when it is not there.
std::string findProgramOnPath(const std::string& program);

// `text` quoted as one argument for the command interpreter that
// openWritePipe uses (/bin/sh, or cmd.exe on Windows).
std::string quoteArgument(const std::string& text);

// Runs `command` through the command interpreter with a binary pipe to its
// standard input; null when it cannot be started. On POSIX systems a
// broken pipe is made an error of the write (SIGPIPE is ignored) rather than
// the end of this process, and the program runs in its own process group,
// so that signals sent to this program's group (Ctrl-C on the terminal)
// reach this program alone.
std::FILE* openWritePipe(const std::string& command);

// Closes the pipe and waits for the program: its exit status, or -1 when it
// did not exit normally (killed by a signal) or could not be waited for.
int closeWritePipe(std::FILE* pipe);
