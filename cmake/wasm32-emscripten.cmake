# WebAssembly for the browser: compiled by Clang 19 against Emscripten's
# libc and libc++ headers, linked by emcc.
#
# Debian's Emscripten (3.1.6, Clang 14) encodes relaxed SIMD with the
# pre-standard opcodes, which browsers reject; Clang 19 emits the final ones.
# emcc then only links: at -O0 with WASM_BIGINT it runs no Binaryen pass,
# and Binaryen 108 cannot read the final opcodes.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CROSSCOMPILING ON)

set(SHALLOW_WATER_LLVM_BIN /usr/lib/llvm-19/bin CACHE PATH "Clang 19 for the WebAssembly build")
set(SHALLOW_WATER_EMSCRIPTEN_SYSROOT /usr/share/emscripten/cache/sysroot CACHE PATH "Emscripten's sysroot")
find_program(SHALLOW_WATER_EMCC emcc REQUIRED)

set(CMAKE_C_COMPILER ${SHALLOW_WATER_LLVM_BIN}/clang)
set(CMAKE_CXX_COMPILER ${SHALLOW_WATER_LLVM_BIN}/clang++)
set(CMAKE_AR ${SHALLOW_WATER_LLVM_BIN}/llvm-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${SHALLOW_WATER_LLVM_BIN}/llvm-ranlib CACHE FILEPATH "")
set(CMAKE_C_COMPILER_TARGET wasm32-unknown-emscripten)
set(CMAKE_CXX_COMPILER_TARGET wasm32-unknown-emscripten)
set(CMAKE_SYSROOT ${SHALLOW_WATER_EMSCRIPTEN_SYSROOT})
# Emscripten's libc++ is built with ABI version 2; its compat headers come
# before the C library's, as emcc orders them. Bulk memory makes each copy
# one memory.copy instruction rather than a call of the C library's memcpy
# (which took half of a frame's time); every browser with SIMD has it, and
# the float-to-integer conversions that saturate, too.
set(web_compile_flags "-DEMSCRIPTEN -D__EMSCRIPTEN__ -D_LIBCPP_ABI_VERSION=2 -Xclang -iwithsysroot/include/compat")
string(APPEND web_compile_flags " -msimd128 -mbulk-memory -mnontrapping-fptoint")
if(SHALLOW_WATER_WEB_THREADS)
    string(APPEND web_compile_flags " -pthread")
endif()
set(CMAKE_C_FLAGS_INIT "${web_compile_flags}")
set(CMAKE_CXX_FLAGS_INIT "${web_compile_flags}")
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_EXECUTABLE_SUFFIX ".js")

set(CMAKE_C_LINK_EXECUTABLE "${SHALLOW_WATER_EMCC} <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")
set(CMAKE_CXX_LINK_EXECUTABLE "${SHALLOW_WATER_EMCC} <LINK_FLAGS> <OBJECTS> -o <TARGET> <LINK_LIBRARIES>")

set(CMAKE_FIND_ROOT_PATH ${SHALLOW_WATER_EMSCRIPTEN_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
