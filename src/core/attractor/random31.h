// random31: the attractor model's 64-bit linear congruential generator, giving integers
// 0 to 2147483647. Every thread has its own state; a new thread starts at state 0.
//
// Hot loops copy the thread's state into a Random31 value, draw from it, and store it back,
// so that a block of steps touches thread-local storage twice instead of once per draw.
#pragma once

#include <cstdint>

namespace qm {

struct Random31 {
    std::uint64_t state = 0;

    std::int32_t next() {
        state = state * kMultiplier + 1;  // modulo 2^64 by unsigned wrap-around
        return static_cast<std::int32_t>((state >> 32) & 0x7fffffffu);
    }
    // Uniform number in [0, 1], both ends reachable.
    double uniform() { return next() / 2147483647.0; }

    static constexpr std::uint64_t kMultiplier = (std::uint64_t{346} << 32) + 20021;
};

namespace detail {
// Constant-initialised, so access needs no guard: one TLS load.
inline constinit thread_local Random31 threadGenerator{};
}  // namespace detail

// The calling thread's generator.
inline Random31& threadRandom31() { return detail::threadGenerator; }

// Next value of the calling thread's generator.
inline std::int32_t random31() { return threadRandom31().next(); }

// Seeding sets the low half of the state to seed and the high half to 0.
inline void seedRandom31(std::uint32_t seed) { threadRandom31().state = seed; }

}  // namespace qm
