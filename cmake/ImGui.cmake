# Dear ImGui for the window's settings panel, as the static library
# `imgui_panel`: the core, its GLFW backend, and its OpenGL 3 backend drawing
# through the program's own glad loader (app/panel/imgui_gl_backend.cpp).
#
# The core comes from one of two places:
#   - Debian's libimgui-dev (the default): the compiled core and its headers;
#     the core's font code is Debian's stb library, linked statically. The
#     backends come as sources with the package's examples;
#   - SHALLOW_WATER_IMGUI_SOURCE, an unpacked Dear ImGui source tree (the
#     Windows build, for which Debian ships no library): everything compiled
#     from there.
set(SHALLOW_WATER_IMGUI_SOURCE "" CACHE PATH "Dear ImGui source tree to compile instead of the system's library")

if(SHALLOW_WATER_IMGUI_SOURCE)
    if(NOT EXISTS "${SHALLOW_WATER_IMGUI_SOURCE}/imgui.cpp" OR
       NOT EXISTS "${SHALLOW_WATER_IMGUI_SOURCE}/backends/imgui_impl_glfw.cpp")
        message(FATAL_ERROR "SHALLOW_WATER_IMGUI_SOURCE (${SHALLOW_WATER_IMGUI_SOURCE}) is not a Dear ImGui "
                            "source tree: it lacks imgui.cpp or backends/imgui_impl_glfw.cpp")
    endif()
    set(imgui_include_dir "${SHALLOW_WATER_IMGUI_SOURCE}")
    set(imgui_backend_dir "${SHALLOW_WATER_IMGUI_SOURCE}/backends")
    set(imgui_core_sources
        "${SHALLOW_WATER_IMGUI_SOURCE}/imgui.cpp"
        "${SHALLOW_WATER_IMGUI_SOURCE}/imgui_draw.cpp"
        "${SHALLOW_WATER_IMGUI_SOURCE}/imgui_tables.cpp"
        "${SHALLOW_WATER_IMGUI_SOURCE}/imgui_widgets.cpp")
    set(imgui_core_libraries "")
    set(imgui_license_sources "imgui.txt=${SHALLOW_WATER_IMGUI_SOURCE}/LICENSE.txt")
else()
    find_path(IMGUI_INCLUDE_DIR imgui.h PATH_SUFFIXES imgui)
    find_library(IMGUI_LIBRARY NAMES libimgui.a imgui)
    find_library(STB_LIBRARY NAMES libstb.a stb)
    find_path(IMGUI_BACKEND_DIR imgui_impl_glfw.cpp
              PATHS /usr/share/doc/libimgui-dev/examples/backends NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(NOT IMGUI_INCLUDE_DIR OR NOT IMGUI_LIBRARY OR NOT STB_LIBRARY OR NOT IMGUI_BACKEND_DIR)
        message(FATAL_ERROR "Dear ImGui not found: install libimgui-dev (Debian), or set "
                            "SHALLOW_WATER_IMGUI_SOURCE to a Dear ImGui source tree")
    endif()
    set(imgui_include_dir "${IMGUI_INCLUDE_DIR}")
    set(imgui_backend_dir "${IMGUI_BACKEND_DIR}")
    set(imgui_core_sources "")
    set(imgui_core_libraries "${IMGUI_LIBRARY}" "${STB_LIBRARY}")
    set(imgui_license_sources "imgui.txt=/usr/share/doc/libimgui-dev/copyright"
                              "stb.txt=/usr/share/doc/libstb-dev/copyright")
endif()

# The licence texts of what imgui_panel links in statically, copied under
# the names the packages give them (cmake/Packaging.cmake installs them).
set(SHALLOW_WATER_IMGUI_LICENSES "")
foreach(entry IN LISTS imgui_license_sources)
    string(REGEX MATCH "^([^=]+)=(.*)$" _ "${entry}")
    if(EXISTS "${CMAKE_MATCH_2}")
        configure_file("${CMAKE_MATCH_2}" "${CMAKE_BINARY_DIR}/licenses/${CMAKE_MATCH_1}" COPYONLY)
        list(APPEND SHALLOW_WATER_IMGUI_LICENSES "${CMAKE_BINARY_DIR}/licenses/${CMAKE_MATCH_1}")
    else()
        message(WARNING "No licence text ${CMAKE_MATCH_2}: a package made from this build lacks it")
    endif()
endforeach()

add_library(imgui_panel STATIC
    ${imgui_core_sources}
    "${imgui_backend_dir}/imgui_impl_glfw.cpp"
    "${PROJECT_SOURCE_DIR}/app/panel/imgui_gl_backend.cpp")
# The library's own headers are not held to the project's warnings.
target_include_directories(imgui_panel SYSTEM PUBLIC "${imgui_include_dir}" "${imgui_include_dir}/backends")
target_include_directories(imgui_panel PRIVATE "${imgui_backend_dir}")
target_link_libraries(imgui_panel PUBLIC ${imgui_core_libraries} glad glfw)
