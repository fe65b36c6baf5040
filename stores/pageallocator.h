#pragma once
// Gives large blocks straight from the system and back, so that a read of a big store never
// leaves a hole in the heap under the entry blocks that outlive it (the C library would
// otherwise raise its threshold and keep the next read's buffers on the heap).

#include <cstddef>
#include <string>

void *AllocatePages(std::size_t bytes);
void FreePages(void *p, std::size_t bytes);

template <typename T>
struct PageAllocator {
    using value_type = T;
    PageAllocator() = default;
    template <typename U>
    PageAllocator(const PageAllocator<U> &)
    {}
    T *allocate(std::size_t n) { return static_cast<T *>(AllocatePages(n * sizeof(T))); }
    void deallocate(T *p, std::size_t n) { FreePages(p, n * sizeof(T)); }
    bool operator==(const PageAllocator &) const { return true; }
};

using PageString = std::basic_string<char, std::char_traits<char>, PageAllocator<char>>;
