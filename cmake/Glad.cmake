# Generates the OpenGL loader at configure time with Debian's glad
# generator, offline from the specifications it carries, and builds it as
# the static library `glad`. The generated files stay in the build tree.
find_program(GLAD_GENERATOR glad REQUIRED)

set(GLAD_OUTPUT_DIR "${CMAKE_BINARY_DIR}/generated/glad")
set(GLAD_ARGS
    --quiet --reproducible
    --api gl:compatibility=3.2
    --extensions GL_ARB_multisample,GL_ARB_robustness,GL_EXT_separate_specular_color
    --out-path "${GLAD_OUTPUT_DIR}"
    c)

if(NOT EXISTS "${GLAD_OUTPUT_DIR}/src/gl.c" OR NOT "${GLAD_ARGS}" STREQUAL "${GLAD_GENERATED_WITH}")
    execute_process(COMMAND "${GLAD_GENERATOR}" ${GLAD_ARGS}
                    RESULT_VARIABLE glad_result OUTPUT_QUIET ERROR_VARIABLE glad_errors)
    if(NOT glad_result EQUAL 0)
        message(FATAL_ERROR "glad could not generate the OpenGL loader:\n${glad_errors}")
    endif()
    set(GLAD_GENERATED_WITH "${GLAD_ARGS}" CACHE INTERNAL "arguments of the last glad run")
endif()

add_library(glad STATIC "${GLAD_OUTPUT_DIR}/src/gl.c")
target_include_directories(glad SYSTEM PUBLIC "${GLAD_OUTPUT_DIR}/include")
target_link_libraries(glad PUBLIC ${CMAKE_DL_LIBS})
