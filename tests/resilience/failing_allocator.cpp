#include "failing_allocator.h"

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace
{
std::atomic<bool> armed{false};
std::atomic<std::uint64_t> counted{0};
std::atomic<std::uint64_t> failing{0};
std::atomic<DWORD> failed_on{0};
// The exemptions of each thread, in a slot of the system's thread-local storage: some threads of ARM64
// Wine have no storage for `thread_local` variables.
DWORD exempt_slot() noexcept
{
    static const DWORD slot = TlsAlloc();
    return slot;
}

INT_PTR exempt_depth() noexcept
{
    return reinterpret_cast<INT_PTR>(TlsGetValue(exempt_slot()));
}

// With VELMORA_ALLOCATION_BACKTRACE set, the failing allocation prints its return addresses, for
// x86_64-w64-mingw32-addr2line -f -C -e allocation_failure_tests.exe <addresses>.
void print_backtrace() noexcept
{
    void* frames[48];
    const USHORT count = CaptureStackBackTrace(2, 48, frames, nullptr);
    std::fprintf(stderr, "failing allocation %llu on thread %lu:", static_cast<unsigned long long>(failing.load()),
                 GetCurrentThreadId());
    for (USHORT i = 0; i < count; ++i)
        std::fprintf(stderr, " %p", frames[i]);
    std::fprintf(stderr, "\n");
}

bool fails_now() noexcept
{
    if (!armed.load(std::memory_order_acquire) || exempt_depth() > 0)
        return false;
    const std::uint64_t number = counted.fetch_add(1) + 1;
    if (number != failing.load())
        return false;
    failed_on = GetCurrentThreadId();
    static const bool backtrace = GetEnvironmentVariableW(L"VELMORA_ALLOCATION_BACKTRACE", nullptr, 0) != 0;
    if (backtrace)
        print_backtrace();
    return true;
}

void* allocate(std::size_t size) noexcept
{
    return fails_now() ? nullptr : std::malloc(size ? size : 1);
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment) noexcept
{
    return fails_now() ? nullptr : _aligned_malloc(size ? size : 1, static_cast<std::size_t>(alignment));
}
} // namespace

namespace failing_allocator
{
void arm(std::uint64_t fail_at) noexcept
{
    counted = 0;
    failed_on = 0;
    failing = fail_at;
    armed.store(true, std::memory_order_release);
}

void disarm() noexcept
{
    armed.store(false, std::memory_order_release);
}

bool failure_reached() noexcept { return failed_on.load() != 0; }
DWORD failed_thread() noexcept { return failed_on.load(); }
exempt::exempt() noexcept { TlsSetValue(exempt_slot(), reinterpret_cast<void*>(exempt_depth() + 1)); }
exempt::~exempt() { TlsSetValue(exempt_slot(), reinterpret_cast<void*>(exempt_depth() - 1)); }
} // namespace failing_allocator

// The replaced forms: the throwing ones throw std::bad_alloc where the nothrow ones answer null.
void* operator new(std::size_t size)
{
    if (void* memory = allocate(size))
        return memory;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    if (void* memory = allocate_aligned(size, alignment))
        return memory;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept { return allocate_aligned(size, alignment); }
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept { return allocate_aligned(size, alignment); }

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete[](void* memory, const std::nothrow_t&) noexcept { std::free(memory); }
void operator delete(void* memory, std::align_val_t) noexcept { _aligned_free(memory); }
void operator delete[](void* memory, std::align_val_t) noexcept { _aligned_free(memory); }
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept { _aligned_free(memory); }
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept { _aligned_free(memory); }
void operator delete(void* memory, std::align_val_t, const std::nothrow_t&) noexcept { _aligned_free(memory); }
void operator delete[](void* memory, std::align_val_t, const std::nothrow_t&) noexcept { _aligned_free(memory); }
