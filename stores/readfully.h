#pragma once
// Reading a stretch of a file whatever the kernel hands out at a time.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <sys/types.h>
#include <unistd.h>

// Reads up to `count` bytes at `offset` into `into`, going on after short reads and
// interruptions. Returns how many bytes were read (fewer only at the end of the file), or -1
// on a read error (errno says which).
inline long long ReadFullyAt(int fd, void *into, std::size_t count, std::uint64_t offset)
{
    auto *to = static_cast<unsigned char *>(into);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, to + done, count - done, off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += std::size_t(n);
    }
    return (long long)done;
}
