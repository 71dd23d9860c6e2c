#include "FailingNew.h"

#include <cstdlib>
#include <new>

namespace {
thread_local int t_failFrom = 0;  // 0: nothing fails
thread_local int t_largeSeen = 0;
}  // namespace

namespace veltrad::test {

FailLargeAllocations::FailLargeAllocations(int fromNth)
{
    t_failFrom = fromNth;
    t_largeSeen = 0;
}

FailLargeAllocations::~FailLargeAllocations() { t_failFrom = 0; }

}  // namespace veltrad::test

// In a file of their own, so no caller sees malloc and free paired with new
// and delete.
void* operator new(std::size_t size)
{
    if (t_failFrom > 0 && size >= veltrad::test::kLargeAllocation && ++t_largeSeen >= t_failFrom)
        throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept { std::free(p); }

void operator delete(void* p, std::size_t) noexcept { std::free(p); }
