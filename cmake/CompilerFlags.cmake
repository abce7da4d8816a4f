# Flags chosen per compiler, so that the same sources build with GCC or
# Clang (Linux, MinGW-w64) and with MSVC (Visual Studio, with nvcc on top).
#
# Sets:
#   SHALLOW_WATER_WARNINGS          the warnings of the project's own targets
#   SHALLOW_WATER_OPTIMIZE          the CPU kernels' optimisation options
#   SHALLOW_WATER_NATIVE_FLAGS      this machine's instruction set (empty where
#                                   the compiler has no such option)
#   SHALLOW_WATER_CUDA_HOST_FLAGS   nvcc's options for the host compiler
# and, for every C++ target, the floating-point model: each operation rounded
# on its own, never contracted into a fused multiply-add (the kernels fuse
# where they say so) and never reordered, so that the CPU backend gives the
# GPU's bits.
include(CheckCXXCompilerFlag)

if(MSVC)
    # /fp:precise does not contract (since Visual Studio 2022, contraction
    # needs /fp:contract, which must never be given, nor /fp:fast).
    add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:/fp:precise>)
    set(SHALLOW_WATER_WARNINGS /W4)
    set(SHALLOW_WATER_OPTIMIZE /O2)
    # MSVC has no "this machine": AVX2 (with FMA3, which /arch:AVX2 implies)
    # is the nearest, and such a program does not start on an older processor.
    set(SHALLOW_WATER_NATIVE_FLAGS /arch:AVX2)
    set(SHALLOW_WATER_CUDA_HOST_FLAGS -Xcompiler=/fp:precise -Xcompiler=/W4)
    # Standard names without the secure-CRT and min/max macro noise.
    add_compile_definitions(NOMINMAX _CRT_SECURE_NO_WARNINGS)
else()
    add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-ffp-contract=off>)
    set(SHALLOW_WATER_WARNINGS -Wall -Wextra -Wshadow -Werror=return-type)
    # Floating-point exception flags are never read, so the kernels may
    # compute both sides of a selection and pick one with vector blends (the
    # values are the same; by default GCC keeps such selections as branches,
    # because a comparison could raise a flag). Clang and MSVC assume this
    # already.
    set(SHALLOW_WATER_OPTIMIZE -O3 -fno-trapping-math)
    check_cxx_compiler_flag(-march=native SHALLOW_WATER_HAS_MARCH_NATIVE)
    if(SHALLOW_WATER_HAS_MARCH_NATIVE)
        set(SHALLOW_WATER_NATIVE_FLAGS -march=native)
    else()
        set(SHALLOW_WATER_NATIVE_FLAGS "")
    endif()
    set(SHALLOW_WATER_CUDA_HOST_FLAGS -Xcompiler=-Wall,-Wextra,-ffp-contract=off)
endif()
