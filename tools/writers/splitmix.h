#pragma once
// A small, fast pseudo-random generator whose seed alone decides every number, so that the
// stores the writer makes are the same on every machine.

#include <cstddef>
#include <cstdint>

class SplitMix {
public:
    explicit SplitMix(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // A number from 0 to n - 1.
    std::size_t below(std::size_t n) { return std::size_t(next() % n); }

private:
    std::uint64_t m_state;
};
