#pragma once

#include <cstddef>

// How the process's heap gives memory back to the system. A photo intake allocates a few
// hundred megabytes in buffers of megabytes each, on several threads; glibc would keep most of
// them in its arenas afterwards. Both calls do nothing where the C library is not glibc.
namespace ProcessMemory {

// Serves every block of a megabyte or more from its own mapping, returned to the system the
// moment it is freed, instead of letting glibc raise that bar after each large free and keep
// such blocks in its arenas. Called once at start, before the intake's threads exist.
void returnLargeBlocksWhenFreed();

// Hands back the free pages of every arena, after a large piece of work ends.
void releaseFreedMemory();

// Asks for the block at `data` to be backed by huge pages where the system lends them on
// request (Linux's transparent huge pages in their "madvise" mode). Called on a block of
// megabytes before it is first written: each page of it costs the kernel a fault the first
// time, and a virtual machine's fault is slow, so a 64 MB photo faults 32 times, not 16 384.
void adviseHugePages(void* data, size_t size);

} // namespace ProcessMemory
