// The headless runner's entry point under the name Emscripten's start-up
// code calls. Clang 19 names a WebAssembly program's main(argc, argv)
// __main_argc_argv, which Emscripten 3.1.6 does not know; it looks for main.
extern "C" int __main_argc_argv(int argc, char** argv);
extern "C" int programEntry(int argc, char** argv) __asm__("main");

extern "C" int programEntry(int argc, char** argv)
{
    return __main_argc_argv(argc, argv);
}
