#include "image/PacketAllocator.h"

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace veltrad::detail {

namespace {
// Below this, the ordinary heap is as good as anything.
constexpr std::size_t kLargeAllocation = 4u << 20;
}  // namespace

void* AllocateLarge(std::size_t bytes)
{
#if defined(__linux__)
    if (bytes >= kLargeAllocation) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            throw std::bad_alloc();
        // Only advice: without huge pages the memory works all the same.
        (void)madvise(p, bytes, MADV_HUGEPAGE);
        return p;
    }
#endif
    return ::operator new(bytes);
}

void DeallocateLarge(void* p, std::size_t bytes) noexcept
{
#if defined(__linux__)
    if (bytes >= kLargeAllocation) {
        (void)munmap(p, bytes);
        return;
    }
#endif
    ::operator delete(p, bytes);
}

}  // namespace veltrad::detail
