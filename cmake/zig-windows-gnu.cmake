# Shared part of the zig toolchain files (zig-aarch64-windows-gnu.cmake, zig-x86_64-windows-gnu.cmake):
# Windows through zig's clang, lld, libc++ and mingw-w64 CRT. Set VELMORA_ZIG_TARGET before including.
#   cmake -S . -B build/arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/zig-aarch64-windows-gnu.cmake \
#         -DVELMORA_ZIG=<folder>/zig [-DVELMORA_ARM64_ROOT=<ARM64 Debian root with Wine>]
# zig is named by VELMORA_ZIG (or the environment variable of that name, or found on PATH). Its caches
# lie in a "zig-cache" folder beside the zig folder, shared by both targets and kept between builds.
set(CMAKE_SYSTEM_NAME Windows)

if(NOT VELMORA_ZIG AND DEFINED ENV{VELMORA_ZIG})
    set(VELMORA_ZIG $ENV{VELMORA_ZIG})
endif()
if(NOT VELMORA_ZIG)
    find_program(VELMORA_ZIG zig)
endif()
if(NOT VELMORA_ZIG OR NOT EXISTS "${VELMORA_ZIG}")
    message(FATAL_ERROR "zig not found: pass -DVELMORA_ZIG=<path of zig> (scripts/zig-toolchain.sh fetches it)")
endif()
# try_compile runs this file again in the same process, without the cache: the environment carries it.
set(ENV{VELMORA_ZIG} "${VELMORA_ZIG}")
set(VELMORA_ZIG "${VELMORA_ZIG}" CACHE FILEPATH "The zig compiler")
get_filename_component(velmora_zig_dir "${VELMORA_ZIG}" DIRECTORY)
get_filename_component(velmora_zig_home "${velmora_zig_dir}" DIRECTORY)
set(VELMORA_ZIG_LIB_DIR "${velmora_zig_dir}/lib")

# CMake needs one program per tool: small wrappers that name zig's sub-command and the target. A
# wrapper is rewritten only when its text changes, so that compiler caches keyed on it stay valid.
set(velmora_wrappers "${velmora_zig_home}/wrappers/${VELMORA_ZIG_TARGET}")
function(velmora_zig_wrapper name command)
    set(text "#!/bin/sh\n# Written by cmake/zig-windows-gnu.cmake.\nZIG_GLOBAL_CACHE_DIR='${velmora_zig_home}/zig-cache' ZIG_LOCAL_CACHE_DIR='${velmora_zig_home}/zig-cache' exec '${VELMORA_ZIG}' ${command} \"$@\"\n")
    set(file "${velmora_wrappers}/${name}")
    if(EXISTS "${file}")
        file(READ "${file}" old)
    else()
        set(old "")
    endif()
    if(NOT old STREQUAL text)
        file(WRITE "${file}" "${text}")
        file(CHMOD "${file}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    endif()
endfunction()
velmora_zig_wrapper(cc "cc -target ${VELMORA_ZIG_TARGET}")
velmora_zig_wrapper(c++ "c++ -target ${VELMORA_ZIG_TARGET}")
velmora_zig_wrapper(ar "ar")
velmora_zig_wrapper(ranlib "ranlib")

set(CMAKE_C_COMPILER "${velmora_wrappers}/cc")
set(CMAKE_CXX_COMPILER "${velmora_wrappers}/c++")
set(CMAKE_ASM_COMPILER "${velmora_wrappers}/cc")
set(CMAKE_AR "${velmora_wrappers}/ar" CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB "${velmora_wrappers}/ranlib" CACHE FILEPATH "" FORCE)
# The compiler checks compile only; zig builds the target's C and C++ runtime at the first link (once,
# then from its cache).
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH "${velmora_zig_home}/no-packages")

# What the build does differently with this toolchain (see CMakeLists.txt).
set(VELMORA_ZIG_TOOLCHAIN ON)
# Header-only libraries that Debian installs for the host can serve the cross build as well.
set(VELMORA_HOST_HEADER_ROOT /usr/include)
