// Storage of bulk data (vertex, index and pixel data): plain vectors whose large buffers sit on
// huge pages.
#pragma once

#include <cstddef>
#include <vector>

namespace Lode::Core {

// Memory for bulk data blocks. Blocks of 2 MiB and more are aligned to and advised for huge
// pages: a new vertex array of a million vertices is then first touched in a few dozen page
// faults instead of tens of thousands.
void* kaAllocateBlock(size_t bytes);
void kaFreeBlock(void* memory);

template <class T> struct kaBlockAllocator {
    using value_type = T;
    kaBlockAllocator() = default;
    template <class U> kaBlockAllocator(const kaBlockAllocator<U>&) {}
    T* allocate(size_t count) { return static_cast<T*>(kaAllocateBlock(count * sizeof(T))); }
    void deallocate(T* memory, size_t) { kaFreeBlock(memory); }
    template <class U> bool operator==(const kaBlockAllocator<U>&) const { return true; }
};

// The storage of a data block member.
template <class T> using kaBlock = std::vector<T, kaBlockAllocator<T>>;

} // namespace Lode::Core
