# Tests that cannot apply to a Windows build (cross-built with MinGW-w64 and
# run under Wine by scripts/windows-check): registered all the same, so that
# ctest lists them as skipped with their reason instead of leaving them out.
function(add_skipped_windows_test name reason)
    add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -E echo "SKIPPED on Windows: ${reason}")
    set_tests_properties(${name} PROPERTIES SKIP_REGULAR_EXPRESSION "SKIPPED on Windows")
endfunction()
