# Every program answers --version with the same line: its name, the
# project's version and, in a build from a git checkout, the commit that git
# names now (so a build configured before the last commit is caught too).
#   cmake -DVERSION=X.Y.Z -DSOURCE_DIR=... -DPROGRAMS="a|b" [-DEMULATOR=wine] -P program_versions.cmake
string(REPLACE "|" ";" PROGRAMS "${PROGRAMS}")
set(commit "")
find_program(GIT git)
if(GIT AND EXISTS "${SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT}" rev-parse --short=12 HEAD WORKING_DIRECTORY "${SOURCE_DIR}"
                    OUTPUT_VARIABLE commit OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
set(failures 0)
foreach(program IN LISTS PROGRAMS)
    get_filename_component(name "${program}" NAME_WE)
    set(expected "${name} ${VERSION}")
    if(commit)
        string(APPEND expected " (commit ${commit})")
    endif()
    execute_process(COMMAND ${EMULATOR} "${program}" --version RESULT_VARIABLE status
                    OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    string(REPLACE "\r" "" output "${output}")
    if(NOT status EQUAL 0 OR NOT output STREQUAL "${expected}\n" OR NOT errors STREQUAL "")
        message("${name} --version: status ${status}, printed '${output}' '${errors}', expected '${expected}'")
        math(EXPR failures "${failures} + 1")
    else()
        message("${output}")
    endif()
endforeach()
if(failures GREATER 0)
    message(FATAL_ERROR "${failures} of the programs answered --version wrongly")
endif()
