#pragma once
// Allocation failures on demand for this test executable: it replaces the global operator new, and a
// test arms one failure on its own thread (other threads allocate as usual).

namespace failing_allocations
{
// The allocation `n` allocations from now (0: the next one) on this thread throws std::bad_alloc; every
// other allocation succeeds. -1 disarms.
void fail_allocation(long n) noexcept;
// Whether the armed failure has happened since fail_allocation.
bool failure_happened() noexcept;
} // namespace failing_allocations
