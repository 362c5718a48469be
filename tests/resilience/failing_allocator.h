#pragma once
// The allocation-failure runs replace the global operator new and new[] (every form, nothrow and
// aligned included) of their executable. While armed, every allocation of every thread is counted, and
// the Nth fails once: the throwing forms throw std::bad_alloc, the nothrow forms answer null. Counting
// every thread, not only the caller's, is what reaches the search and waiting threads that an
// enumeration starts. The test's own bookkeeping runs in an `exempt` scope, which takes the allocations
// of its thread out of the count.
//
// Only the code linked into the executable allocates through these: the product's libraries, the C++
// library and the tests. Wine's DLLs and the search stand-in have allocators of their own.

#include <windows.h>

#include <cstdint>

namespace failing_allocator
{
// Starts counting from zero; allocation number `fail_at` fails (0: none fails).
void arm(std::uint64_t fail_at) noexcept;
// Stops counting.
void disarm() noexcept;
// Whether the armed allocation failed, and the thread it failed on (0 when none did).
bool failure_reached() noexcept;
DWORD failed_thread() noexcept;

// Allocations of this thread are not counted, and never fail, while one of these lives.
class exempt
{
public:
    exempt() noexcept;
    ~exempt();
    exempt(const exempt&) = delete;
    exempt& operator=(const exempt&) = delete;
};
} // namespace failing_allocator
