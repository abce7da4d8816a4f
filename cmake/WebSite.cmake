# The browser version's site (the `web` preset): the project built four
# times for WebAssembly (cmake/wasm32-emscripten.cmake), the `relaxed` and
# `portable` kernel sets each with threads and without, and the page's
# files beside the modules in site/.
include(ExternalProject)

set(SHALLOW_WATER_SITE_DIR ${CMAKE_BINARY_DIR}/site)
set(module_targets "")
foreach(kernels relaxed portable)
    foreach(threads OFF ON)
        set(variant ${kernels}-threads-${threads})
        ExternalProject_Add(module-${variant}
            SOURCE_DIR ${PROJECT_SOURCE_DIR}
            BINARY_DIR ${CMAKE_BINARY_DIR}/modules/${variant}
            CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/wasm32-emscripten.cmake
                       -DCMAKE_BUILD_TYPE=Release
                       -DSHALLOW_WATER_WEB_KERNELS=${kernels}
                       -DSHALLOW_WATER_WEB_THREADS=${threads}
            BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target shallow-water-web
            INSTALL_COMMAND ""
            BUILD_ALWAYS ON
            USES_TERMINAL_BUILD ON)
        list(APPEND module_targets module-${variant})
    endforeach()
endforeach()

file(GLOB page_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/web/*.html ${PROJECT_SOURCE_DIR}/web/*.js
     ${PROJECT_SOURCE_DIR}/web/*.css)
add_custom_target(site ALL
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${SHALLOW_WATER_SITE_DIR}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${SHALLOW_WATER_SITE_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${page_files} ${SHALLOW_WATER_SITE_DIR}
    COMMAND ${CMAKE_COMMAND} -DMODULES=${CMAKE_BINARY_DIR}/modules -DSITE=${SHALLOW_WATER_SITE_DIR}
            -P ${PROJECT_SOURCE_DIR}/cmake/CopyWebModules.cmake
    DEPENDS ${module_targets}
    COMMENT "The page and its modules in ${SHALLOW_WATER_SITE_DIR}")

# The site as a zip, to unpack on any static host (docs/web.md).
add_custom_target(site-zip
    COMMAND ${CMAKE_COMMAND} -E tar cf ${CMAKE_BINARY_DIR}/shallow-water-web-${PROJECT_VERSION}.zip --format=zip site
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
    DEPENDS site
    COMMENT "The site as shallow-water-web-${PROJECT_VERSION}.zip")
