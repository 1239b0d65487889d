// DevelopTeam: threads that share an image development (TBitmap3D::BuildImage and
// BuildImage16), each taking a part of it. The development splits by image rows and reduces
// its peaks in a fixed way, so the bytes do not depend on how many threads take part.
//
//   DevelopThreads team(threads);        // threads - 1 helpers, started once
//   developImage(target, &team);         // BuildImage on every thread of the team
//   buildImageOn(target, threads);       // the same, for one development
//   LendDevelopTeam lend(target, &team);  // every BuildImage and BuildImage16 of a scope
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>
#include <vector>

#include "core/render/phase_barrier.h"

namespace qm {

class TBitmap3D;

// One part of a task: called with the part's index, 0 to parts - 1. A reference to a callable
// that lives as long as the call of run; it allocates nothing.
class PartTask {
public:
    template <class Fn>
    explicit PartTask(Fn& fn)
        : call_([](void* f, std::int32_t part) { (*static_cast<Fn*>(f))(part); }), fn_(&fn) {}
    void operator()(std::int32_t part) const { call_(fn_, part); }

private:
    void (*call_)(void*, std::int32_t);
    void* fn_;
};

class DevelopTeam {
public:
    virtual ~DevelopTeam() = default;
    // The parts run makes, one per thread of the team, the caller's included; at least 1.
    virtual std::int32_t size() const = 0;
    // Calls task(part) for every part of 0 .. size() - 1, each on a thread of its own (the
    // calling thread takes part 0), and returns when every call has returned. What the caller
    // wrote before is visible to every part, and what the parts wrote to the caller after.
    virtual void run(const PartTask& task) = 0;
};

// A team of its own: threads - 1 helpers started by the constructor (fewer if the system
// refuses some), waiting between tasks, joined by the destructor.
class DevelopThreads final : public DevelopTeam {
public:
    explicit DevelopThreads(std::int32_t threads);
    ~DevelopThreads() override;
    DevelopThreads(const DevelopThreads&) = delete;
    DevelopThreads& operator=(const DevelopThreads&) = delete;

    std::int32_t size() const override { return size_; }
    void run(const PartTask& task) override;

private:
    void serve(std::int32_t self);

    std::int32_t size_ = 1;
    std::atomic<bool> gate_{false};
    PhaseBarrier barrier_;
    const PartTask* task_ = nullptr;  // nullptr between tasks tells the helpers to end
    std::vector<std::thread> helpers_;
};

// Calls fn(part, first, last) for ranges [first, last) of [0, count), step long (the last one
// shorter), on every thread of team (none: on the calling thread), part being the thread's
// part. The ranges are handed out in turn: each is taken once, and a thread that starts late
// or meets costlier ranges leaves more of them to the others.
template <class Fn>
void shareRanges(DevelopTeam* team, std::int32_t count, std::int32_t step, Fn&& fn) {
    std::atomic<std::int32_t> next{0};
    auto part = [&](std::int32_t self) {
        for (;;) {
            const std::int32_t first = next.fetch_add(step, std::memory_order_relaxed);
            if (first >= count) return;
            fn(self, first, count - first < step ? count : first + step);
        }
    };
    if (team)
        team->run(PartTask(part));
    else
        part(0);
}

// Lends a team to a target (TBitmap3D::setDevelopTeam) for a scope, then gives the target
// back the team it had.
class LendDevelopTeam {
public:
    LendDevelopTeam(TBitmap3D& target, DevelopTeam* team);
    ~LendDevelopTeam();
    LendDevelopTeam(const LendDevelopTeam&) = delete;
    LendDevelopTeam& operator=(const LendDevelopTeam&) = delete;

private:
    TBitmap3D& target_;
    DevelopTeam* before_;
};

// Develops target's image (BuildImage), or its 16-bit image (BuildImage16), on the threads of
// team (none: on the calling thread alone).
void developImage(TBitmap3D& target, DevelopTeam* team);
void developImage16(TBitmap3D& target, std::uint16_t* out, std::ptrdiff_t rowStride,
                    DevelopTeam* team);

// The same on `threads` threads started for the call (1 or less: the calling thread alone),
// for the developments outside a render: the last one, a resumed or merged render's.
void buildImageOn(TBitmap3D& target, std::int32_t threads);
void buildImage16On(TBitmap3D& target, std::uint16_t* out, std::ptrdiff_t rowStride,
                    std::int32_t threads);

}  // namespace qm
