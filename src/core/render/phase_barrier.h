// PhaseBarrier: the meeting point of the render engine's threads between two phases. A thread
// that arrives early spins for a few tens of microseconds before it sleeps: the phases of a
// render last a fraction of a millisecond, and a sleeping thread takes far longer to wake
// (a system call on each side, and the scheduler's delay) than the wait it would have spun.
//
//   PhaseBarrier barrier(threads);
//   barrier.arriveAndWait([&] { /* runs once, on the last thread to arrive */ });
#pragma once

#include <atomic>
#include <cstdint>

namespace qm {

class PhaseBarrier {
public:
    explicit PhaseBarrier(std::int32_t threads) : expected_(threads) {}
    PhaseBarrier(const PhaseBarrier&) = delete;
    PhaseBarrier& operator=(const PhaseBarrier&) = delete;

    // Sets the number of threads that meet here; only while none is waiting.
    void setThreads(std::int32_t threads) { expected_ = threads; }

    // Waits until every thread has arrived; the last one runs done() first, and no thread
    // goes on before done() has returned. Everything a thread wrote before it arrived is
    // visible to every thread after the barrier.
    template <class Done>
    void arriveAndWait(Done&& done) {
        const std::uint32_t generation = generation_.load(std::memory_order_acquire);
        if (arrived_.fetch_add(1, std::memory_order_acq_rel) + 1 == expected_) {
            arrived_.store(0, std::memory_order_relaxed);
            done();
            release(generation);
            return;
        }
        wait(generation);
    }
    void arriveAndWait() {
        arriveAndWait([] {});
    }

private:
    void release(std::uint32_t generation);
    void wait(std::uint32_t generation);

    std::int32_t expected_;
    std::atomic<std::int32_t> arrived_{0};
    // 32 bits: the width a futex waits on.
    alignas(64) std::atomic<std::uint32_t> generation_{0};
    std::atomic<std::int32_t> sleepers_{0};
};

}  // namespace qm
