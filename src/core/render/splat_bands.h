// The band phase of the parallel render: how a buffer's rows are split into bands, and how a
// stream's splats of one round are kept by band as the stream makes them, so that a band reads
// only its own splats. Engine internals (render_engine.cpp), in a header of their own so that
// the tests can check the split and the sorting against the plain order.
//
// A splat of cell row j writes rows j and j + 1. It goes to the band that owns row j and, when
// row j + 1 starts another band, to that band as well; each band then writes only its own
// rows. Within a band the splats keep their order (stream by stream, each stream's in orbit
// order), so every pixel receives its splats in the same order however the rows are split.
#pragma once

#include "core/hot_path.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/render/bitmap3d.h"

namespace qm::detail {

inline constexpr std::int32_t kMaxBands = 64;
// Rows are counted in up to this many slices of equal height; band edges fall on slice edges.
inline constexpr std::int32_t kSlices = 128;

// The rows of one buffer (the camera image or a light map) split into bands for a round.
class BandSplit {
public:
    BandSplit() = default;
    BandSplit(std::int32_t width, std::int32_t height, std::int32_t bands);

    // Moves the band edges so that each band holds about the same share of the splats counted
    // per slice (kSlices values; the last round's); keeps the split when nothing was counted.
    void balance(const std::uint32_t* sliceCounts);

    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    std::int32_t bands() const { return bands_; }
    // Rows [firstRow(b), firstRow(b + 1)) form band b.
    std::int32_t firstRow(std::int32_t b) const { return first_[static_cast<std::size_t>(b)]; }
    // Per row: its band (bits 0 to 7), the band of the next row (bits 8 to 15) and its slice
    // (bits 16 to 23).
    const std::uint32_t* rowInfo() const { return rowInfo_.data(); }

private:
    void fillRows();

    std::int32_t width_ = 0, height_ = 0, bands_ = 1, slices_ = 1;
    std::vector<std::int32_t> first_{0, 0};
    std::vector<std::int32_t> sliceFirst_{0, 0};
    std::vector<std::uint32_t> rowInfo_;
};

// One stream's splats of one buffer for a round, by band: band b's are
// entries[b * capacity, b * capacity + count[b]). hist counts them per slice, for the next
// split. The entries are left uninitialised: the system commits only the pages written.
template <class Entry>
struct SplatBucket {
    std::unique_ptr<Entry[]> entries;
    std::array<std::int32_t, kMaxBands> count{};
    std::array<std::uint32_t, kSlices> hist{};
};

// Every stream's buckets for `families` buffers.
//   an Appender per family on the thread that runs a stream;
//   then inBand for each band, on any thread, stream after stream for a band;
//   then, once every band has had every stream, rebalance, alone, before the next round.
template <class Entry>
class SplatBands {
public:
    // capacity: the most splats a stream adds to one buffer in a round.
    SplatBands(std::int32_t streams, std::int32_t bands, std::int32_t capacity,
               const std::vector<std::array<std::int32_t, 2>>& sizes)
        : streams_(streams),
          families_(static_cast<std::int32_t>(sizes.size())),
          bands_(std::clamp(bands, 1, kMaxBands)),
          capacity_(capacity) {
        for (const auto& wh : sizes) splits_.emplace_back(wh[0], wh[1], bands_);
        buckets_.resize(static_cast<std::size_t>(streams * families_));
        for (auto& b : buckets_)
            b.entries.reset(
                new Entry[static_cast<std::size_t>(capacity) * static_cast<std::size_t>(bands_)]);
    }

    std::int32_t bands() const { return bands_; }
    const BandSplit& split(std::int32_t family) const {
        return splits_[static_cast<std::size_t>(family)];
    }

    // Stream k starts its share of the round (or has none).
    void clear(std::int32_t k) {
        for (std::int32_t f = 0; f < families_; ++f) bucket(k, f).count.fill(0);
    }

    // Stream k's splats of buffer `family`, in orbit order, on the thread that runs stream k:
    // the places they go to and their counts are kept here, where no entry written can alias
    // them, and the counts go to the bucket when the appender goes. One appender at a time
    // per stream and family.
    class Appender {
    public:
        Appender(SplatBands& sb, std::int32_t k, std::int32_t family)
            : bucket_(sb.bucket(k, family)),
              rowInfo_(sb.split(family).rowInfo()),
              first_(bucket_.entries.get()),
              capacity_(static_cast<std::size_t>(sb.capacity_)),
              bands_(sb.bands_) {
            for (std::int32_t b = 0; b < bands_; ++b)
                next_[static_cast<std::size_t>(b)] =
                    first_ + static_cast<std::size_t>(b) * capacity_ +
                    static_cast<std::size_t>(bucket_.count[static_cast<std::size_t>(b)]);
        }
        ~Appender() {
            for (std::int32_t b = 0; b < bands_; ++b)
                bucket_.count[static_cast<std::size_t>(b)] = static_cast<std::int32_t>(
                    next_[static_cast<std::size_t>(b)] - first_ -
                    static_cast<std::ptrdiff_t>(static_cast<std::size_t>(b) * capacity_));
            if (bands_ > 1)
                for (std::int32_t s = 0; s < kSlices; ++s)
                    bucket_.hist[static_cast<std::size_t>(s)] += hist_[static_cast<std::size_t>(s)];
        }
        Appender(const Appender&) = delete;
        Appender& operator=(const Appender&) = delete;

        // Splat e of cell row `row`.
        QM_HOT_INLINE void add(const Entry& e, std::int32_t row) {
            if (bands_ == 1) {
                *next_[0]++ = e;
                return;
            }
            const std::uint32_t info = rowInfo_[row];
            const std::uint32_t band = info & 0xFF, next = (info >> 8) & 0xFF;
            *next_[band]++ = e;
            if (next != band) *next_[next]++ = e;
            ++hist_[info >> 16];
        }

    private:
        SplatBucket<Entry>& bucket_;
        const std::uint32_t* rowInfo_;
        Entry* first_;
        std::size_t capacity_;
        std::int32_t bands_;
        std::array<Entry*, kMaxBands> next_;
        std::array<std::uint32_t, kSlices> hist_{};
    };

    // Stream k's splats of `family` in band b: fn(first, last).
    template <class Fn>
    QM_HOT_INLINE void inBand(std::int32_t family, std::int32_t b, std::int32_t k, Fn&& fn) const {
        const SplatBucket<Entry>& bk = bucket(k, family);
        const std::int32_t n = bk.count[static_cast<std::size_t>(b)];
        const Entry* first =
            bk.entries.get() + static_cast<std::size_t>(b) * static_cast<std::size_t>(capacity_);
        if (n > 0) fn(first, first + n);
    }

    // New band edges from the round's counts; the counts start again from zero.
    void rebalance() {
        if (bands_ == 1) return;
        for (std::int32_t f = 0; f < families_; ++f) {
            std::array<std::uint32_t, kSlices> sum{};
            for (std::int32_t k = 0; k < streams_; ++k) {
                auto& hist = bucket(k, f).hist;
                for (std::int32_t i = 0; i < kSlices; ++i)
                    sum[static_cast<std::size_t>(i)] += hist[static_cast<std::size_t>(i)];
                hist.fill(0);
            }
            splits_[static_cast<std::size_t>(f)].balance(sum.data());
        }
    }

private:
    SplatBucket<Entry>& bucket(std::int32_t k, std::int32_t f) {
        return buckets_[static_cast<std::size_t>(k * families_ + f)];
    }
    const SplatBucket<Entry>& bucket(std::int32_t k, std::int32_t f) const {
        return buckets_[static_cast<std::size_t>(k * families_ + f)];
    }

    std::int32_t streams_, families_, bands_, capacity_;
    std::vector<BandSplit> splits_;
    std::vector<SplatBucket<Entry>> buckets_;
};

// The pixels of a run of splats that fall in rows [r0, r1) of a buffer `width` pixels wide,
// splat by splat: pixel(entry, index, weight) for each of the four pixels in the order of
// TBitmap3D::splatCell. Entries hold the cell's pixel index and its fractions fx, fy; the
// weights are formed from them as splatCell forms them. prefetch(index) is called for the
// cell of a splat a few places ahead: the buffers are larger than the processor's caches, and
// the addresses are known long before they are needed.
template <class Entry, class Pixel, class Prefetch>
QM_HOT_INLINE void splatRows(const Entry* e, const Entry* end, std::int32_t r0, std::int32_t r1,
                             std::int32_t width, Pixel&& pixel, Prefetch&& prefetch) {
    constexpr std::ptrdiff_t kAhead = 8;
    // The cell's row j is in the band from index r0 * width on; row j + 1 is in it while the
    // index is below (r1 - 1) * width.
    const std::int32_t lo = r0 * width, hi = (r1 - 1) * width;
    for (std::ptrdiff_t i = 0; i < std::min(kAhead, end - e); ++i) prefetch(e[i].index);
    for (; e != end; ++e) {
        if (end - e > kAhead) prefetch(e[kAhead].index);
        Splat s;
        TBitmap3D::splatWeights(e->fx, e->fy, s);
        const std::int32_t at = e->index;
        if (at >= lo) {
            pixel(*e, at, s.w00);
            pixel(*e, at + 1, s.w10);
        }
        if (at < hi) {
            pixel(*e, at + width, s.w01);
            pixel(*e, at + width + 1, s.w11);
        }
    }
}

// Asks for the cache line of p, to be written soon.
template <class T>
QM_HOT_INLINE void prefetchForWrite(const T* p) {
    __builtin_prefetch(p, 1, 3);
}

}  // namespace qm::detail
