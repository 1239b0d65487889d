#include "core/render/splat_bands.h"

namespace qm::detail {

BandSplit::BandSplit(std::int32_t width, std::int32_t height, std::int32_t bands)
    : width_(width),
      height_(std::max(height, 0)),
      bands_(std::clamp(bands, 1, kMaxBands)),
      slices_(std::clamp(height, 1, kSlices)) {
    first_.resize(static_cast<std::size_t>(bands_) + 1);
    for (std::int32_t b = 0; b <= bands_; ++b)
        first_[static_cast<std::size_t>(b)] =
            static_cast<std::int32_t>(std::int64_t{height_} * b / bands_);
    sliceFirst_.resize(static_cast<std::size_t>(slices_) + 1);
    for (std::int32_t s = 0; s <= slices_; ++s)
        sliceFirst_[static_cast<std::size_t>(s)] =
            static_cast<std::int32_t>(std::int64_t{height_} * s / slices_);
    rowInfo_.resize(static_cast<std::size_t>(height_));
    fillRows();
}

void BandSplit::balance(const std::uint32_t* sliceCounts) {
    if (bands_ == 1) return;
    std::array<std::uint64_t, kSlices + 1> below{};  // splats in the slices before s
    for (std::int32_t s = 0; s < slices_; ++s)
        below[static_cast<std::size_t>(s) + 1] =
            below[static_cast<std::size_t>(s)] + sliceCounts[s];
    const std::uint64_t total = below[static_cast<std::size_t>(slices_)];
    if (total == 0) return;
    // Band b starts at the slice edge nearest to b / bands of the splats.
    std::int32_t s = 0;
    for (std::int32_t b = 1; b < bands_; ++b) {
        const std::uint64_t target = total * static_cast<std::uint64_t>(b) / bands_;
        while (s < slices_ && below[static_cast<std::size_t>(s) + 1] <= target) ++s;
        std::int32_t edge = s;
        if (s < slices_ && below[static_cast<std::size_t>(s) + 1] - target <
                               target - below[static_cast<std::size_t>(s)])
            edge = s + 1;
        first_[static_cast<std::size_t>(b)] = std::max(first_[static_cast<std::size_t>(b) - 1],
                                                       sliceFirst_[static_cast<std::size_t>(edge)]);
    }
    first_[static_cast<std::size_t>(bands_)] = height_;
    fillRows();
}

void BandSplit::fillRows() {
    std::int32_t slice = 0;
    for (std::int32_t b = 0; b < bands_; ++b) {
        for (std::int32_t r = first_[static_cast<std::size_t>(b)];
             r < first_[static_cast<std::size_t>(b) + 1]; ++r) {
            while (sliceFirst_[static_cast<std::size_t>(slice) + 1] <= r) ++slice;
            rowInfo_[static_cast<std::size_t>(r)] = static_cast<std::uint32_t>(b) |
                                                    static_cast<std::uint32_t>(b) << 8 |
                                                    static_cast<std::uint32_t>(slice) << 16;
        }
    }
    // The next row's band, where it differs.
    for (std::int32_t r = 0; r + 1 < height_; ++r) {
        const std::uint32_t next = rowInfo_[static_cast<std::size_t>(r) + 1] & 0xFF;
        rowInfo_[static_cast<std::size_t>(r)] =
            (rowInfo_[static_cast<std::size_t>(r)] & ~0xFF00u) | next << 8;
    }
}

}  // namespace qm::detail
