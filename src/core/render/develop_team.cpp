#include "core/render/develop_team.h"

#include <algorithm>
#include <system_error>

#include "core/render/bitmap3d.h"

namespace qm {

DevelopThreads::DevelopThreads(std::int32_t threads) : barrier_(1) {
    const std::int32_t want = std::clamp(threads, 1, 256);
    // The helpers wait at the gate until the barrier counts every thread that could start.
    helpers_.reserve(static_cast<std::size_t>(want - 1));
    for (std::int32_t t = 1; t < want; ++t) {
        try {
            const auto self = static_cast<std::int32_t>(helpers_.size()) + 1;
            helpers_.emplace_back([this, self] {
                gate_.wait(false, std::memory_order_acquire);
                serve(self);
            });
        } catch (const std::system_error&) {
            break;  // no more threads (a process limit): the team works with those it has
        }
    }
    size_ = static_cast<std::int32_t>(helpers_.size()) + 1;
    barrier_.setThreads(size_);
    gate_.store(true, std::memory_order_release);
    gate_.notify_all();
}

DevelopThreads::~DevelopThreads() {
    if (size_ > 1) {
        task_ = nullptr;
        barrier_.arriveAndWait();
    }
    for (std::thread& h : helpers_) h.join();
}

void DevelopThreads::run(const PartTask& task) {
    if (size_ == 1) {
        task(0);
        return;
    }
    task_ = &task;
    barrier_.arriveAndWait();
    task(0);
    barrier_.arriveAndWait();
}

void DevelopThreads::serve(std::int32_t self) {
    for (;;) {
        barrier_.arriveAndWait();  // a task, or the end
        const PartTask* task = task_;
        if (!task) return;
        (*task)(self);
        barrier_.arriveAndWait();
    }
}

LendDevelopTeam::LendDevelopTeam(TBitmap3D& target, DevelopTeam* team)
    : target_(target), before_(target.developTeam()) {
    target.setDevelopTeam(team);
}

LendDevelopTeam::~LendDevelopTeam() {
    target_.setDevelopTeam(before_);
}

namespace {

// Rows a thread takes at a time: the rows of a development differ in cost (Solid's covered
// rows against its background), and a thread may start late, so a thread takes a few rows
// at a time rather than a fixed share.
std::int32_t rowStep(std::int32_t rows, DevelopTeam* team) {
    const std::int32_t parts = team ? team->size() : 1;
    return parts <= 1 ? std::max(rows, 1) : std::clamp(rows / (8 * parts), 1, 16);
}

// Steps 1 and 2 of a development (TBitmap3D::findPeakPart, preparePeaks). The buffers are cut
// in more pieces than there are threads, taken in turn; each thread keeps the greatest of the
// pieces it took, and a piece's peaks (never NaN, never below +0) give the same greatest
// value in any order.
void preparePeaks(TBitmap3D& target, DevelopTeam* team) {
    const std::int32_t parts = team ? team->size() : 1;
    const std::int32_t pieces = parts == 1 ? 1 : 8 * parts;
    const auto count = static_cast<std::size_t>(target.peakCount());
    std::vector<float> peaks(static_cast<std::size_t>(parts) * count, 0.0f);
    std::vector<float> piece(static_cast<std::size_t>(parts) * count);
    shareRanges(team, pieces, 1, [&](std::int32_t self, std::int32_t first, std::int32_t) {
        float* const mine = peaks.data() + static_cast<std::size_t>(self) * count;
        float* const found = piece.data() + static_cast<std::size_t>(self) * count;
        target.findPeakPart(first, pieces, found);
        for (std::size_t i = 0; i < count; ++i) mine[i] = std::max(mine[i], found[i]);
    });
    target.preparePeaks(peaks.data(), parts);
}

}  // namespace

void developImage(TBitmap3D& target, DevelopTeam* team) {
    preparePeaks(target, team);
    shareRanges(team, target.imageHeight, rowStep(target.imageHeight, team),
                [&](std::int32_t, std::int32_t first, std::int32_t last) {
                    target.buildRows(first, last);
                });
}

void developImage16(TBitmap3D& target, std::uint16_t* out, std::ptrdiff_t rowStride,
                    DevelopTeam* team) {
    preparePeaks(target, team);
    shareRanges(team, target.imageHeight, rowStep(target.imageHeight, team),
                [&](std::int32_t, std::int32_t first, std::int32_t last) {
                    target.buildRows16(out, rowStride, first, last);
                });
}

void buildImageOn(TBitmap3D& target, std::int32_t threads) {
    if (threads <= 1) {
        developImage(target, nullptr);
        return;
    }
    DevelopThreads team(threads);
    developImage(target, &team);
}

void buildImage16On(TBitmap3D& target, std::uint16_t* out, std::ptrdiff_t rowStride,
                    std::int32_t threads) {
    if (threads <= 1) {
        developImage16(target, out, rowStride, nullptr);
        return;
    }
    DevelopThreads team(threads);
    developImage16(target, out, rowStride, &team);
}

}  // namespace qm
