# Cross build for 64-bit Windows with Debian's mingw-w64 toolchain (g++-mingw-w64-x86-64).
# Every executable is linked statically, so the .exe files run on a bare Windows (or Wine)
# without any MinGW runtime DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVAN_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVAN_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KORVAN_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KORVAN_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVAN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# CLI11 and nlohmann-json are header-only, so the host's copies serve the cross build too.
# Their package configs point at /usr/include, which must never reach the cross compiler
# (glibc headers), so a private prefix holding only their header folders is staged in the
# build tree and searched instead.
set(KORVAN_HEADER_ONLY_PREFIX ${CMAKE_BINARY_DIR}/mingw-deps)
# package name, its header folder in /usr/include, its package config folder
function(korvan_stage_header_only package headers config)
    if(NOT EXISTS /usr/include/${headers} OR NOT EXISTS /usr/share/cmake/${config})
        return()
    endif()
    if(NOT EXISTS ${KORVAN_HEADER_ONLY_PREFIX}/include/${headers})
        file(MAKE_DIRECTORY ${KORVAN_HEADER_ONLY_PREFIX}/include
             ${KORVAN_HEADER_ONLY_PREFIX}/share/cmake)
        file(CREATE_LINK /usr/include/${headers} ${KORVAN_HEADER_ONLY_PREFIX}/include/${headers}
             SYMBOLIC)
        file(COPY /usr/share/cmake/${config} DESTINATION ${KORVAN_HEADER_ONLY_PREFIX}/share/cmake)
    endif()
    set(${package}_DIR ${KORVAN_HEADER_ONLY_PREFIX}/share/cmake/${config}
        CACHE PATH "${package} for the cross build")
endfunction()
korvan_stage_header_only(CLI11 CLI CLI11)
korvan_stage_header_only(nlohmann_json nlohmann nlohmann_json)
list(APPEND CMAKE_FIND_ROOT_PATH ${KORVAN_HEADER_ONLY_PREFIX})
