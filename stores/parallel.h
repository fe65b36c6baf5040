#pragma once
// Fork-join over a few threads, for work split into parts known in advance.

#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

// Runs fn(0) ... fn(count - 1) at the same time: part 0 on the calling thread, every other
// part on a thread of its own. Returns once every part has returned. A count of 0 or 1 starts
// no thread. A part that talks to the caller's objects (progress, a stop question) is part 0.
template <typename Fn>
void ParallelParts(std::size_t count, Fn &&fn)
{
    std::vector<std::jthread> others; // joined when they go, also if part 0 throws
    others.reserve(count > 1 ? count - 1 : 0);
    for (std::size_t part = 1; part < count; ++part)
        others.emplace_back([&fn, part] { fn(part); });
    if (count > 0)
        fn(std::size_t(0));
}

// Items [begin, end) of `total` that part `part` of `count` takes: contiguous shares in
// order, the same size but for the last ones, which may be shorter or empty.
struct PartRange {
    std::size_t begin = 0;
    std::size_t end = 0;
};
inline PartRange ShareOf(std::size_t total, std::size_t count, std::size_t part)
{
    if (count == 0)
        return {};
    const std::size_t share = total / count + (total % count != 0);
    const std::size_t begin = part < count ? std::min(total, part * share) : total;
    return {begin, std::min(total, begin + share)};
}
