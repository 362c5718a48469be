# Parts of the C++ runtime that our DLLs link in their own build when linked by zig
# (cmake/zig-windows-gnu.cmake): the unwinder, and libc++abi's per-thread exception state.
#
# zig links LLVM's libunwind into every C++ binary, compiled so that its 25 functions (_Unwind_*,
# unw_*, _GCC_specific_handler) carry dllexport: a DLL would export them beside the entries of its
# .def file, and lld offers no switch to drop exports that objects ask for. The DLL links this copy
# instead, compiled from the same sources in zig's lib folder with its symbols hidden
# (_LIBUNWIND_HIDE_SYMBOLS, as LLVM's own build does for a static libunwind). Its objects define every
# symbol zig's library would have supplied, so the linker takes nothing from that library.
enable_language(ASM)
set(velmora_zig_runtime_sources
    libunwind.cpp
    Unwind-seh.cpp
    Unwind-EHABI.cpp
    UnwindLevel1.c
    UnwindLevel1-gcc-ext.c
    Unwind-sjlj.c
    gcc_personality_v0.c
    UnwindRegistersRestore.S
    UnwindRegistersSave.S)
list(TRANSFORM velmora_zig_runtime_sources PREPEND "${VELMORA_ZIG_LIB_DIR}/libunwind/src/")
add_library(velmora_zig_runtime OBJECT ${velmora_zig_runtime_sources})
target_include_directories(velmora_zig_runtime BEFORE PRIVATE "${VELMORA_ZIG_LIB_DIR}/libunwind/include")
target_compile_definitions(velmora_zig_runtime PRIVATE _LIBUNWIND_HIDE_SYMBOLS _LIBUNWIND_IS_NATIVE_ONLY NDEBUG)
target_compile_options(velmora_zig_runtime PRIVATE -funwind-tables -w
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
set_target_properties(velmora_zig_runtime PROPERTIES CXX_STANDARD 17)

# libc++abi keeps each thread's exception state, and libc++ the data of each std::thread, in
# fiber-local slots whose destructors are code of the binary they are linked into, and frees neither.
# In a DLL that is unloaded while the host goes on (Explorer, after DllCanUnloadNow), the next thread
# to end would call those destructors in freed memory; Wine shows it as a page fault at exit.
# zig-runtime/exception_storage.cpp compiles libc++abi's source as zig does and frees both slots when
# the DLL ends; it defines both functions of zig's member, so that member is never linked. (The
# thread_local variant of that source needs implicit TLS in a DLL loaded at run time, which ARM64 Wine
# does not give threads that existed before the load.)
target_sources(velmora_zig_runtime PRIVATE ${CMAKE_CURRENT_LIST_DIR}/zig-runtime/exception_storage.cpp)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/zig-runtime/exception_storage.cpp PROPERTIES
    COMPILE_DEFINITIONS "VELMORA_CXA_EXCEPTION_STORAGE_SOURCE=\"${VELMORA_ZIG_LIB_DIR}/libcxxabi/src/cxa_exception_storage.cpp\";_LIBCPP_ENABLE_CXX17_REMOVED_UNEXPECTED_FUNCTIONS;_LIBCXXABI_DISABLE_VISIBILITY_ANNOTATIONS;_LIBCPP_DISABLE_VISIBILITY_ANNOTATIONS"
    INCLUDE_DIRECTORIES "${VELMORA_ZIG_LIB_DIR}/libcxxabi/include;${VELMORA_ZIG_LIB_DIR}/libcxxabi/src")
