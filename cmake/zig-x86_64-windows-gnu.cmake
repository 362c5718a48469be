# x64 Windows with zig's clang and libc++: the twin of the ARM64 build, with the same compiler and C++
# library, run under the host's Wine. See zig-windows-gnu.cmake for the arguments.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VELMORA_ZIG_TARGET x86_64-windows-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/zig-windows-gnu.cmake)

# Test executables run under the host's Wine in the build folder's own prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
