#include "host/core/kaBlock.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace Lode::Core {

namespace {
constexpr size_t kHugePageBytes = size_t{2} << 20;
}

void* kaAllocateBlock(size_t bytes)
{
    if (bytes < kHugePageBytes) {
        void* memory = std::malloc(bytes ? bytes : 1);
        if (!memory) throw std::bad_alloc();
        return memory;
    }
    size_t rounded = (bytes + kHugePageBytes - 1) / kHugePageBytes * kHugePageBytes;
    void* memory = std::aligned_alloc(kHugePageBytes, rounded);
    if (!memory) throw std::bad_alloc();
    madvise(memory, rounded, MADV_HUGEPAGE);
    return memory;
}

void kaFreeBlock(void* memory) { std::free(memory); }

} // namespace Lode::Core
