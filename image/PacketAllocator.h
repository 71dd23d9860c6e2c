#pragma once
// Allocator for the block and frame lists. A large image needs a few hundred
// MiB of nodes; faulting that in 4 KiB pages costs more than building the
// frames, so large lists ask the kernel for huge pages where it offers them.

#include <cstddef>
#include <new>

namespace veltrad {

namespace detail {
void* AllocateLarge(std::size_t bytes);  // throws std::bad_alloc
void DeallocateLarge(void* p, std::size_t bytes) noexcept;
}  // namespace detail

template <typename T>
struct PacketAllocator {
    using value_type = T;

    PacketAllocator() = default;
    template <typename U>
    PacketAllocator(const PacketAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n > static_cast<std::size_t>(-1) / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(detail::AllocateLarge(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { detail::DeallocateLarge(p, n * sizeof(T)); }

    template <typename U>
    bool operator==(const PacketAllocator<U>&) const noexcept
    {
        return true;
    }
};

}  // namespace veltrad
