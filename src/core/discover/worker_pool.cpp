#include "core/discover/worker_pool.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace qm {

namespace {

double threadSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

}  // namespace

void lowerThreadPriority() {
    // setpriority on a thread id changes that thread alone on Linux.
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    const int current = ::getpriority(PRIO_PROCESS, tid);
    ::setpriority(PRIO_PROCESS, tid, current + 5 > 19 ? 19 : current + 5);
}

WorkerPool::WorkerPool(int threads) {
    if (threads < 1) threads = 1;
    threads_.reserve(static_cast<std::size_t>(threads));
    for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard guard(lock_);
        quit_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void WorkerPool::run(std::int64_t n, const std::function<void(std::int64_t)>& job) {
    if (n <= 0) return;
    std::unique_lock guard(lock_);
    job_ = &job;
    count_ = n;
    next_ = 0;
    busy_ = threadCount();
    if (measuring_) jobSeconds_.assign(static_cast<std::size_t>(n), 0.0);
    ++batch_;
    wake_.notify_all();
    done_.wait(guard, [this] { return busy_ == 0; });
    job_ = nullptr;
    if (!measuring_) return;
    // The batch again on idle cores: each job to the core that comes free first.
    std::vector<double> cores(threads_.size(), 0.0);
    for (double seconds : jobSeconds_) {
        *std::min_element(cores.begin(), cores.end()) += seconds;
        usage_.busySeconds += seconds;
    }
    usage_.criticalSeconds += *std::max_element(cores.begin(), cores.end());
    ++usage_.batches;
}

void WorkerPool::setMeasuring(bool on) {
    std::lock_guard guard(lock_);
    measuring_ = on;
}

WorkerPool::Usage WorkerPool::usage() const {
    std::lock_guard guard(lock_);
    return usage_;
}

void WorkerPool::work() {
    lowerThreadPriority();
    std::uint64_t seen = 0;
    std::unique_lock guard(lock_);
    for (;;) {
        wake_.wait(guard, [&] { return quit_ || batch_ != seen; });
        if (quit_) return;
        seen = batch_;
        while (next_ < count_) {
            const std::int64_t i = next_++;
            const auto* job = job_;
            const bool measuring = measuring_;
            guard.unlock();
            const double start = measuring ? threadSeconds() : 0;
            (*job)(i);
            const double spent = measuring ? threadSeconds() - start : 0;
            guard.lock();
            if (measuring) jobSeconds_[static_cast<std::size_t>(i)] = spent;
        }
        if (--busy_ == 0) done_.notify_all();
    }
}

}  // namespace qm
