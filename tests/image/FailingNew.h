#pragma once
// Makes large allocations fail on purpose, to test what a pass does when
// memory runs out without exhausting the machine. The test program's global
// operator new (FailingNew.cpp) honours it.

#include <cstddef>

namespace veltrad::test {

// Allocations of at least this many bytes are the ones that can fail.
inline constexpr std::size_t kLargeAllocation = 100 * 1024;

// While alive, the n-th large allocation on this thread and every later one
// throw std::bad_alloc.
class FailLargeAllocations {
public:
    explicit FailLargeAllocations(int fromNth);
    ~FailLargeAllocations();
    FailLargeAllocations(const FailLargeAllocations&) = delete;
    FailLargeAllocations& operator=(const FailLargeAllocations&) = delete;
};

}  // namespace veltrad::test
