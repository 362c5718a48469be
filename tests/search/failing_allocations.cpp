#include "failing_allocations.h"

#include <cstdlib>
#include <new>

namespace
{
thread_local long countdown = -1;
thread_local bool happened = false;
} // namespace

namespace failing_allocations
{
void fail_allocation(long n) noexcept
{
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
    const bool armed_failure = countdown >= 0 && countdown-- == 0;
    happened = happened || armed_failure;
    if (void* memory = armed_failure ? nullptr : std::malloc(size ? size : 1))
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
