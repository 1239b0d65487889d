// WorkerPool: a fixed set of threads, each one step below normal priority, that runs the jobs
// of one batch at a time while the calling thread waits. The gallery's search lanes and its
// thumbnails run on it; the priority keeps the interface and a document's render ahead.
//
// Usage:
//   WorkerPool pool(2);
//   pool.run(64, [&](std::int64_t i) { lanes[i].runTrials(); });  // returns when all are done
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qm {

class WorkerPool {
public:
    // threads is at least 1.
    explicit WorkerPool(int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int threadCount() const { return static_cast<int>(threads_.size()); }

    // The processor time the pool's jobs took, and the time the batches would have taken on
    // as many idle cores as the pool has threads: each job, in the order handed out, going to
    // the core that comes free first. busy / critical is then the speed-up the batches allow,
    // measured in thread time and so unaffected by other programs that share the cores.
    // Recorded only while measuring is on (two clock reads per job).
    struct Usage {
        double busySeconds = 0;
        double criticalSeconds = 0;
        std::int64_t batches = 0;
    };
    void setMeasuring(bool on);
    Usage usage() const;

    // Calls job(i) for every i in [0, n), each exactly once, on the pool's threads, in no fixed
    // order; returns when every call has returned. One batch at a time: not reentrant.
    void run(std::int64_t n, const std::function<void(std::int64_t)>& job);

private:
    void work();

    std::vector<std::thread> threads_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(std::int64_t)>* job_ = nullptr;
    std::int64_t count_ = 0;
    std::int64_t next_ = 0;    // the next job index to hand out
    std::uint64_t batch_ = 0;  // counts batches, so that a thread joins each batch once
    int busy_ = 0;             // threads still in the current batch
    bool measuring_ = false;
    std::vector<double> jobSeconds_;  // of the current batch, by job index
    Usage usage_;
    bool quit_ = false;
};

// Lowers the calling thread's priority by one step of five, as the render worker does.
void lowerThreadPriority();

}  // namespace qm
