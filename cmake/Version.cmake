# The version every program prints with --version: the project's version
# and, in a build from a git checkout, the commit it was built from (nothing
# from a source archive, even one unpacked inside another checkout). The
# library `sw_version` carries the generated header.
set(SHALLOW_WATER_COMMIT "")
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS "${PROJECT_SOURCE_DIR}/.git")
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --short=12 HEAD
                    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                    OUTPUT_VARIABLE SHALLOW_WATER_COMMIT OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    # A new commit, or another branch checked out, configures again, so that
    # the programs name the commit they are built from.
    execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --git-path HEAD --symbolic-full-name HEAD
                    WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                    OUTPUT_VARIABLE git_head OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    string(REPLACE "\n" ";" git_head "${git_head}")
    list(GET git_head 0 head_file)
    get_filename_component(head_file "${head_file}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${head_file}")
    list(LENGTH git_head head_parts)
    if(head_parts GREATER 1)
        list(GET git_head 1 branch_ref)
        execute_process(COMMAND "${GIT_EXECUTABLE}" rev-parse --git-path "${branch_ref}"
                        WORKING_DIRECTORY "${PROJECT_SOURCE_DIR}"
                        OUTPUT_VARIABLE branch_file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        get_filename_component(branch_file "${branch_file}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
        # A branch whose ref sits only in packed-refs has no file of its own.
        if(EXISTS "${branch_file}")
            set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${branch_file}")
        endif()
    endif()
endif()
if(SHALLOW_WATER_COMMIT)
    message(STATUS "Version ${PROJECT_VERSION}, commit ${SHALLOW_WATER_COMMIT}")
else()
    message(STATUS "Version ${PROJECT_VERSION} (not built from a git checkout)")
endif()

set(version_header_dir "${CMAKE_BINARY_DIR}/generated/version")
configure_file("${CMAKE_CURRENT_LIST_DIR}/shallow_water_version.h.in"
               "${version_header_dir}/shallow_water_version.h" @ONLY)
add_library(sw_version INTERFACE)
target_include_directories(sw_version INTERFACE "${version_header_dir}")
