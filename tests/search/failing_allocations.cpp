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
    if (countdown >= 0 && countdown-- == 0)
    {
        happened = true;
        throw std::bad_alloc();
    }
    for (;;)
    {
        if (void* memory = std::malloc(size ? size : 1))
            return memory;
        const std::new_handler handler = std::get_new_handler();
        if (!handler)
            throw std::bad_alloc();
        handler();
    }
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
