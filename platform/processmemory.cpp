#include "processmemory.h"

#include <cstdlib> // defines __GLIBC__ on glibc systems
#ifdef __GLIBC__
#include <malloc.h>
#endif

void KeepLargeBuffersOffHeap()
{
#ifdef __GLIBC__
    // Setting the threshold explicitly also switches its dynamic adjustment off.
    ::mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
}

void ReturnFreedMemory()
{
#ifdef __GLIBC__
    ::malloc_trim(0);
#endif
}
