#include "platform/base/ProcessMemory.h"

#include <cstdlib> // defines __GLIBC__ where the C library is glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif

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

} // namespace ProcessMemory
