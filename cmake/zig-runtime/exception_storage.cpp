// libc++abi's per-thread exception state exactly as zig builds it (a fiber-local slot per thread), plus
// what it lacks inside a DLL: the slot, whose destructor is code of this DLL, is freed when the DLL is
// unloaded. Left allocated, the next thread of the host to end would call that destructor in freed
// memory. The same holds for libc++'s slot of std::thread data, freed here too. See zig-runtime.cmake.
#include <windows.h>

#include VELMORA_CXA_EXCEPTION_STORAGE_SOURCE
#include <thread>

namespace {
struct runtime_slots {
    runtime_slots() = default;
    runtime_slots(const runtime_slots&) = delete;
    runtime_slots& operator=(const runtime_slots&) = delete;
    // Runs when the C runtime ends the DLL (DLL_PROCESS_DETACH, after DllMain): on FreeLibrary and at
    // process exit alike. FlsFree runs the slot's destructor for the threads that still hold data.
    ~runtime_slots()
    {
        // The exception state's slot exists once its one-time initialisation (an INIT_ONCE in libc++)
        // has run.
        BOOL pending = FALSE;
        if (InitOnceBeginInitialize(reinterpret_cast<PINIT_ONCE>(&__cxxabiv1::flag_), INIT_ONCE_CHECK_ONLY, &pending,
                                    nullptr) &&
            !pending)
        {
            FlsFree(__cxxabiv1::key_);
        }
        // std::thread's slot: the key is the only member of libc++'s holder (made here if it was not yet).
        static_assert(sizeof(std::__thread_local_data()) == sizeof(DWORD));
        FlsFree(*reinterpret_cast<const DWORD*>(&std::__thread_local_data()));
    }
} slots;
} // namespace
