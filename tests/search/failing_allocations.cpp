#include "failing_allocations.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace
{
// Threads that arm nothing never read their thread-local counter: some threads of ARM64 Wine have no
// thread-local storage to read it from.
std::atomic<int> armed_threads{0};
thread_local bool armed = false;
thread_local long countdown = -1;
thread_local bool happened = false;
} // namespace

namespace failing_allocations
{
void fail_allocation(long n) noexcept
{
    if (armed != (n >= 0))
        armed_threads += n >= 0 ? 1 : -1;
    armed = n >= 0;
    countdown = n;
    happened = false;
}

bool failure_happened() noexcept
{
    return happened;
}
} // namespace failing_allocations

void* operator new(std::size_t size)
{
    if (armed_threads.load(std::memory_order_relaxed) > 0 && countdown >= 0 && countdown-- == 0)
    {
        happened = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
