#include "terminal.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

bool isTerminal(std::FILE* stream)
{
#if defined(_WIN32)
    return _isatty(_fileno(stream)) != 0;
#elif defined(__EMSCRIPTEN__)
    // A page's or node's output is never a terminal (Emscripten calls its
    // console one).
    (void)stream;
    return false;
#else
    return isatty(fileno(stream)) != 0;
#endif
}
