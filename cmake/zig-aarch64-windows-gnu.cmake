# ARM64 Windows with zig's clang and libc++ (the DLL that Explorer on ARM64 loads). Tests run under
# Debian's ARM64 Wine in an ARM64 Debian root, through qemu-user: VELMORA_ARM64_ROOT names that root
# (scripts/arm64-root.sh makes it). See zig-windows-gnu.cmake for the other arguments.
set(CMAKE_SYSTEM_PROCESSOR ARM64)
set(VELMORA_ZIG_TARGET aarch64-windows-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/zig-windows-gnu.cmake)

if(NOT VELMORA_ARM64_ROOT AND DEFINED ENV{VELMORA_ARM64_ROOT})
    set(VELMORA_ARM64_ROOT $ENV{VELMORA_ARM64_ROOT})
endif()
if(VELMORA_ARM64_ROOT)
    set(ENV{VELMORA_ARM64_ROOT} "${VELMORA_ARM64_ROOT}")
    set(VELMORA_ARM64_ROOT "${VELMORA_ARM64_ROOT}" CACHE PATH "ARM64 Debian root with Wine, for the tests")
endif()
# Test executables run under the ARM64 Wine of that root, in the build folder's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/arm64-wine-run.sh")
# `wine`, `wineboot` and `wineserver` of that root, for the scripts that call Wine themselves.
get_filename_component(VELMORA_WINE_PATH "${CMAKE_CURRENT_LIST_DIR}/../scripts/arm64-wine" ABSOLUTE)
