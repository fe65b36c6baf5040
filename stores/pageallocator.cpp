#include "pageallocator.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace {
constexpr std::size_t PageAllocationMinimum = 256 * 1024;
}

void *AllocatePages(std::size_t bytes)
{
    if (bytes < PageAllocationMinimum) {
        if (void *p = std::malloc(bytes ? bytes : 1))
            return p;
        throw std::bad_alloc();
    }
    // Populated at once: cheaper than a page fault for every 4 KiB as the buffer fills.
    void *p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    return p;
}

void FreePages(void *p, std::size_t bytes)
{
    if (bytes < PageAllocationMinimum)
        std::free(p);
    else
        ::munmap(p, bytes);
}
