#include "core/render/phase_barrier.h"

#include <chrono>

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

namespace {

// How long an early thread spins before it sleeps: a few times what the system takes to wake a
// sleeping thread on a virtual machine, and short enough to cost little when the other thread
// has been preempted.
constexpr std::chrono::microseconds kSpin{50};

void pause() {
#if defined(__SSE2__)
    _mm_pause();
#endif
}

}  // namespace

void PhaseBarrier::release(std::uint32_t generation) {
    // Sequentially consistent with the sleepers' count: a thread that counts itself as a
    // sleeper after this store sees the new generation before it sleeps, and one that counted
    // itself before is seen here.
    generation_.store(generation + 1, std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_seq_cst) == 0) return;
#if defined(__linux__)
    ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&generation_), FUTEX_WAKE_PRIVATE,
              0x7fffffff, nullptr, nullptr, 0);
#else
    generation_.notify_all();
#endif
}

void PhaseBarrier::wait(std::uint32_t generation) {
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + kSpin;
    for (int i = 1;; ++i) {
        if (generation_.load(std::memory_order_acquire) != generation) return;
        pause();
        if (i % 64 == 0 && Clock::now() > until) break;
    }
    sleepers_.fetch_add(1, std::memory_order_seq_cst);
    while (generation_.load(std::memory_order_seq_cst) == generation) {
#if defined(__linux__)
        // Returns at once when the generation has moved on since the load.
        ::syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(&generation_), FUTEX_WAIT_PRIVATE,
                  generation, nullptr, nullptr, 0);
#else
        generation_.wait(generation, std::memory_order_seq_cst);
#endif
    }
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace qm
