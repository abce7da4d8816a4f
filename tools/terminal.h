// Whether a standard stream is an interactive terminal: the one place the
// tools ask the operating system directly.
#pragma once

#include <cstdio>

bool isTerminal(std::FILE* stream);
