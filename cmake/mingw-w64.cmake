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

# CLI11 is header-only, so the host's copy serves the cross build too. Its package config
# points at /usr/include, which must never reach the cross compiler (glibc headers), so
# a private prefix holding only CLI/ is staged in the build tree and searched instead.
set(KORVAN_HOST_CLI11_HEADERS /usr/include/CLI)
set(KORVAN_HOST_CLI11_CONFIG /usr/share/cmake/CLI11)
if(EXISTS ${KORVAN_HOST_CLI11_HEADERS}/CLI.hpp AND EXISTS ${KORVAN_HOST_CLI11_CONFIG})
    set(KORVAN_CLI11_PREFIX ${CMAKE_BINARY_DIR}/mingw-deps)
    if(NOT EXISTS ${KORVAN_CLI11_PREFIX}/include/CLI)
        file(MAKE_DIRECTORY ${KORVAN_CLI11_PREFIX}/include ${KORVAN_CLI11_PREFIX}/share/cmake)
        file(CREATE_LINK ${KORVAN_HOST_CLI11_HEADERS} ${KORVAN_CLI11_PREFIX}/include/CLI
             SYMBOLIC)
        file(COPY ${KORVAN_HOST_CLI11_CONFIG} DESTINATION ${KORVAN_CLI11_PREFIX}/share/cmake)
    endif()
    set(CLI11_DIR ${KORVAN_CLI11_PREFIX}/share/cmake/CLI11 CACHE PATH "CLI11 for the cross build")
    list(APPEND CMAKE_FIND_ROOT_PATH ${KORVAN_CLI11_PREFIX})
endif()
