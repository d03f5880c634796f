#pragma once
// Blocks of one size taken from slabs of their own, handed out in address order and reused
// newest freed first: what a scene builds in order (node records, their values, the plug-ins'
// node objects) lies in order, a few to a page at a steady stride, and walking a chain or a hub
// along creation order reads memory the hardware prefetches. The slabs are kept for the process's
// life: a plug-in may hold a node past the host's end. Any thread.
#include <cstddef>

namespace rova::detail {

void* takeSlabBlock(std::size_t bytes);
void giveSlabBlock(void* block, std::size_t bytes);

template <class T>
struct SlabAllocator {
    using value_type = T;
    SlabAllocator() = default;
    template <class U>
    SlabAllocator(const SlabAllocator<U>&) {}  // rebinding
    T* allocate(std::size_t n) {
        static_assert(alignof(T) <= 64, "blocks are aligned to a cache line");
        return static_cast<T*>(takeSlabBlock(n * sizeof(T)));
    }
    void deallocate(T* block, std::size_t n) { giveSlabBlock(block, n * sizeof(T)); }
    template <class U>
    bool operator==(const SlabAllocator<U>&) const {
        return true;
    }
};

}  // namespace rova::detail
