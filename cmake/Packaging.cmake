# Install rules and packages. `cmake --install` puts the programs in bin/
# and the README, the pages of docs/ it links to, the licence and the
# licence texts of what the programs link statically in
# share/doc/shallow-water/. CPack makes from the same
# build a .tar.gz and a Debian package on Linux (its dependencies found by
# dpkg-shlibdeps from the programs themselves), a .zip for Windows.
include(GNUInstallDirs)
set(CMAKE_INSTALL_DOCDIR "${CMAKE_INSTALL_DATAROOTDIR}/doc/shallow-water")

set(installed_programs "")
foreach(program shallow-water-cpu shallow-water-headless-cpu shallow-water shallow-water-headless)
    if(TARGET ${program})
        list(APPEND installed_programs ${program})
    endif()
endforeach()
install(TARGETS ${installed_programs} RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
install(FILES README.md LICENSE DESTINATION "${CMAKE_INSTALL_DOCDIR}")
# The README's links into docs/ stay whole beside it.
install(DIRECTORY docs/ DESTINATION "${CMAKE_INSTALL_DOCDIR}/docs" FILES_MATCHING PATTERN "*.md" PATTERN "*.png")

if(WIN32)
    # GLFW, zlib, libpng, Dear ImGui and the MinGW-w64 runtime are linked
    # into the programs: their licences travel with them.
    # scripts/windows-check puts the texts in share/licenses of the
    # libraries' prefix.
    set(static_licenses glfw.txt zlib.txt libpng.txt imgui.txt mingw-w64-runtime.txt)
    foreach(license IN LISTS static_licenses)
        set(license_file "")
        foreach(root IN LISTS CMAKE_FIND_ROOT_PATH)
            if(NOT license_file AND EXISTS "${root}/share/licenses/${license}")
                set(license_file "${root}/share/licenses/${license}")
            endif()
        endforeach()
        if(license_file)
            install(FILES "${license_file}" DESTINATION "${CMAKE_INSTALL_DOCDIR}/licenses")
        else()
            message(WARNING "No licence text ${license} in share/licenses of CMAKE_FIND_ROOT_PATH: "
                            "a package made from this build lacks it")
        endif()
    endforeach()
    # The note on running the programs, with Windows line ends, at the top.
    configure_file(docs/windows-package.txt "${CMAKE_BINARY_DIR}/README.txt" NEWLINE_STYLE CRLF)
    install(FILES "${CMAKE_BINARY_DIR}/README.txt" DESTINATION .)
elseif(SHALLOW_WATER_IMGUI_LICENSES)
    # The other libraries are shared ones here: Dear ImGui (with Debian's
    # stb under it) alone is linked in (cmake/ImGui.cmake).
    install(FILES ${SHALLOW_WATER_IMGUI_LICENSES} DESTINATION "${CMAKE_INSTALL_DOCDIR}/licenses")
endif()

set(CPACK_PACKAGE_NAME shallow-water)
set(CPACK_PACKAGE_VENDOR "The shallow-water simulation developers")
set(CPACK_PACKAGE_CONTACT "The shallow-water simulation developers <shallow-water@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Real-time shallow-water simulation with rain, shown as it runs")
set(CPACK_PACKAGE_DESCRIPTION "A D2Q9 lattice Boltzmann model of the shallow-water equations on a \
2688 x 1536 grid, one step per displayed frame, with random rain drops; the depth is drawn as a \
grey-level image in a window. The headless runner runs the same frames without a window.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_RESOURCE_FILE_README "${PROJECT_SOURCE_DIR}/README.md")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/packages")
if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME "shallow-water-${PROJECT_VERSION}-windows-x64")
else()
    set(CPACK_GENERATOR TGZ DEB)
    set(CPACK_PACKAGE_FILE_NAME "shallow-water-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION science)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    # --video writes through the ffmpeg program when it is installed.
    set(CPACK_DEBIAN_PACKAGE_SUGGESTS ffmpeg)
    if(CMAKE_CROSSCOMPILING AND SHALLOW_WATER_DEBIAN_ARCHITECTURE)
        set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${SHALLOW_WATER_DEBIAN_ARCHITECTURE}")
    endif()
endif()
include(CPack)
