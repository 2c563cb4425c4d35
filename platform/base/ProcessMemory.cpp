#include "platform/base/ProcessMemory.h"

#include <cstdint>
#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <unistd.h>

namespace ProcessMemory {

void returnLargeBlocksWhenFreed()
{
#ifdef __GLIBC__
    // Setting the threshold fixes it: glibc no longer raises it to 32 MB as big blocks are freed.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
#endif
}

void releaseFreedMemory()
{
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void adviseHugePages(void* data, size_t size)
{
#ifdef MADV_HUGEPAGE
    // The whole pages inside the block; the kernel uses huge ones where they fit within.
    const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (uintptr_t(data) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(data) + size) & ~(page - 1);
    if (end > first)
        madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)data;
    (void)size;
#endif
}

} // namespace ProcessMemory
