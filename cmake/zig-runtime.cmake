# The unwinder for binaries linked by zig (cmake/zig-windows-gnu.cmake).
#
# zig links LLVM's libunwind into every C++ binary, compiled so that its 25 functions (_Unwind_*,
# unw_*, _GCC_specific_handler) carry dllexport: a DLL would export them beside the entries of its
# .def file, and lld offers no switch to drop exports that objects ask for. The DLL links this copy
# instead, compiled from the same sources in zig's lib folder with its symbols hidden
# (_LIBUNWIND_HIDE_SYMBOLS, as LLVM's own build does for a static libunwind). Its objects define every
# symbol zig's library would have supplied, so the linker takes nothing from that library.
enable_language(ASM)
set(velmora_unwind_sources
    libunwind.cpp
    Unwind-seh.cpp
    Unwind-EHABI.cpp
    UnwindLevel1.c
    UnwindLevel1-gcc-ext.c
    Unwind-sjlj.c
    gcc_personality_v0.c
    UnwindRegistersRestore.S
    UnwindRegistersSave.S)
list(TRANSFORM velmora_unwind_sources PREPEND "${VELMORA_ZIG_LIB_DIR}/libunwind/src/")
add_library(velmora_unwind OBJECT ${velmora_unwind_sources})
target_include_directories(velmora_unwind BEFORE PRIVATE "${VELMORA_ZIG_LIB_DIR}/libunwind/include")
target_compile_definitions(velmora_unwind PRIVATE _LIBUNWIND_HIDE_SYMBOLS _LIBUNWIND_IS_NATIVE_ONLY NDEBUG)
target_compile_options(velmora_unwind PRIVATE -funwind-tables -w
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
set_target_properties(velmora_unwind PROPERTIES CXX_STANDARD 17)
