# Checks that the CPU backend's folders include one another in one
# direction only: runtime/ (the stand-in for the CUDA runtime), then
# kernels/ (compiled once per instruction set), then dispatch/ (compiled
# once). A folder may include its own headers and those of the folders
# before it: a kernel set that included the dispatch's headers would build
# code meant to exist once into every set, and the runtime knows nothing of
# what runs on it.
#
#   cmake -DSOURCE_DIR=<the project> -P cpu_backend_layers.cmake
set(layers runtime kernels dispatch)
set(faults "")
foreach(index RANGE 2)
    list(GET layers ${index} layer)
    file(GLOB_RECURSE files "${SOURCE_DIR}/cpu_backend/${layer}/*")
    foreach(file IN LISTS files)
        file(STRINGS "${file}" includes REGEX "^#include \"cpu_backend/")
        foreach(line IN LISTS includes)
            string(REGEX MATCH "cpu_backend/([a-z_]+)/" _ "${line}")
            list(FIND layers "${CMAKE_MATCH_1}" used)
            if(used LESS 0 OR used GREATER index)
                string(APPEND faults "  ${file}: ${line}\n")
            endif()
        endforeach()
    endforeach()
endforeach()
if(faults)
    message(FATAL_ERROR "CPU backend folders included against their order (runtime, kernels, dispatch):\n${faults}")
endif()
message(STATUS "CPU backend folders: every include follows runtime, kernels, dispatch")
