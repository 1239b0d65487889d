#include "core/discover/worker_pool.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qm {

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
    ++batch_;
    wake_.notify_all();
    done_.wait(guard, [this] { return busy_ == 0; });
    job_ = nullptr;
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
            guard.unlock();
            (*job)(i);
            guard.lock();
        }
        if (--busy_ == 0) done_.notify_all();
    }
}

}  // namespace qm
