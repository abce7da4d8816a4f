# Checks that one compiled set of the CPU kernels shares no code with the
# others. Every symbol that an object of set SET defines for the linker must
# lie in the set's namespace (cpu_kernels_SET): an inline function or
# template instance outside it would be emitted by every set, and the linker
# would keep one of the copies, compiled for whichever instruction set, for
# all of them. Nor may a set run code before it is chosen (a dynamic
# initialiser runs at start-up on any processor).
#
#   cmake -DNM=nm -DSET=avx2 -DOBJECTS="a.o|b.o" -P kernel_set_symbols.cmake
string(REPLACE "|" ";" objects "${OBJECTS}")
# The compilers' own shared helpers, the same in every object whatever its
# instruction set: a pointer to the exception personality routine (GCC) and
# the call of std::terminate for an exception out of a noexcept function
# (Clang).
set(compiler_helpers "^(DW\\.ref\\.__gxx_personality_v0|__clang_call_terminate)$")
set(faults "")
foreach(object IN LISTS objects)
    execute_process(COMMAND "${NM}" --defined-only "${object}" OUTPUT_VARIABLE listing RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
        message(FATAL_ERROR "${NM} failed on ${object}")
    endif()
    string(REPLACE "\n" ";" lines "${listing}")
    foreach(line IN LISTS lines)
        # "address type name": lower-case types are local to the object.
        if(NOT line MATCHES "^[0-9a-fA-F]* ([A-Za-z]) (.*)$")
            continue()
        endif()
        set(type "${CMAKE_MATCH_1}")
        set(name "${CMAKE_MATCH_2}")
        if(name MATCHES "^_GLOBAL__sub_I")
            string(APPEND faults "  ${object}: dynamic initialiser ${name}\n")
        elseif(type MATCHES "[A-Z]" AND NOT name MATCHES "cpu_kernels_${SET}" AND NOT name MATCHES "${compiler_helpers}")
            string(APPEND faults "  ${object}: ${type} ${name}\n")
        endif()
    endforeach()
endforeach()
list(LENGTH objects count)
if(faults)
    message(FATAL_ERROR "Kernel set ${SET} defines symbols that other sets may share:\n${faults}")
endif()
message(STATUS "Kernel set ${SET}: ${count} objects, every shared symbol in cpu_kernels_${SET}")
