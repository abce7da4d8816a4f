// The line each program prints for --version: its own name, the project's
// version and, in a build from a git checkout, the commit.
#pragma once

#include <cstdio>
#include <cstring>

#include "shallow_water_version.h"

inline void printVersionLine(const char* program)
{
    // The name without its folder (either separator, for Windows paths) and
    // without Windows' ".exe", so that it reads the same everywhere.
    const char* name = program;
    for (const char* c = program; *c != '\0'; ++c)
        if (*c == '/' || *c == '\\') name = c + 1;
    int length = static_cast<int>(std::strlen(name));
    if (length > 4 && (std::strcmp(name + length - 4, ".exe") == 0 || std::strcmp(name + length - 4, ".EXE") == 0))
        length -= 4;
    if (std::strlen(SHALLOW_WATER_COMMIT) > 0)
        std::printf("%.*s %s (commit %s)\n", length, name, SHALLOW_WATER_VERSION, SHALLOW_WATER_COMMIT);
    else
        std::printf("%.*s %s\n", length, name, SHALLOW_WATER_VERSION);
}
