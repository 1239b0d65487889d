// The band phase's pieces: a split balanced by skewed counts still gives every row to one
// band, and splats kept by band and applied band by band land in every pixel in the order of
// one pass over them all, boundary rows and empty bands included.
#include "core/render/splat_bands.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace qm::detail {
namespace {

TEST(BandSplit, SkewedCountsKeepEveryRowInOneBandInOrder) {
    std::vector<std::uint32_t> counts(kSlices, 0);
    counts[3] = 1000;  // nearly everything in one slice
    counts[100] = 10;
    counts[127] = 1;
    for (std::int32_t height : {7, 480, 2048}) {
        BandSplit split(640, height, 5);
        split.balance(counts.data());
        EXPECT_EQ(split.firstRow(0), 0);
        EXPECT_EQ(split.firstRow(5), height);
        for (std::int32_t b = 0; b < 5; ++b) {
            EXPECT_LE(split.firstRow(b), split.firstRow(b + 1)) << height;
            for (std::int32_t r = split.firstRow(b); r < split.firstRow(b + 1); ++r) {
                const std::uint32_t info = split.rowInfo()[r];
                ASSERT_EQ(info & 0xFF, static_cast<std::uint32_t>(b)) << "row " << r;
                const std::uint32_t next = r + 1 < height ? split.rowInfo()[r + 1] & 0xFF : b;
                ASSERT_EQ((info >> 8) & 0xFF, next) << "row " << r;
            }
        }
    }
    // Nothing counted: the split stays as it was.
    BandSplit even(640, 480, 4);
    const std::vector<std::uint32_t> none(kSlices, 0);
    even.balance(none.data());
    EXPECT_EQ(even.firstRow(1), 120);
}

struct Entry {
    std::int32_t index;
    float fx, fy;
};

// Splats of cells on every row, boundary rows of any split included, over a 12 x 40 buffer:
// the sums from 1 band and from 6 bands (split by skewed counts, some bands empty) must be the
// same floats.
TEST(SplatBands, BandsApplyEverySplatOnceInOrder) {
    constexpr std::int32_t width = 12, height = 40;
    std::vector<std::pair<Entry, std::int32_t>> splats;  // entry, cell row
    std::uint32_t state = 12345;
    auto next = [&state] { return state = state * 1664525u + 1013904223u; };
    for (int i = 0; i < 3000; ++i) {
        const std::int32_t row = 1 + static_cast<std::int32_t>(next() % (height - 2));
        const std::int32_t column = 1 + static_cast<std::int32_t>(next() % (width - 2));
        const float fx = static_cast<float>(next() % 1000) / 1000 - 0.5f;
        const float fy = static_cast<float>(next() % 1000) / 1000 - 0.5f;
        splats.push_back({{column + row * width, fx, fy}, row});
    }
    auto render = [&](std::int32_t bands, bool skew) {
        constexpr std::int32_t streams = 3;
        SplatBands<Entry> sb(streams, bands, 2000, {{width, height}});
        if (skew) {
            // One round of counts piles the edges up near the top.
            for (std::int32_t k = 0; k < streams; ++k) {
                sb.clear(k);
                SplatBands<Entry>::Appender out(sb, k, 0);
                for (int i = 0; i < 50; ++i) out.add(splats[0].first, 2);
            }
            sb.rebalance();
        }
        for (std::int32_t k = 0; k < streams; ++k) sb.clear(k);
        // Each stream's splats in two runs of its appender, as a stream's blocks come.
        for (std::size_t half : {0, 1}) {
            for (std::int32_t k = 0; k < streams; ++k) {
                SplatBands<Entry>::Appender out(sb, k, 0);
                for (std::size_t i = half * splats.size() / 2; i < (half + 1) * splats.size() / 2;
                     ++i)
                    if (static_cast<std::int32_t>(i % streams) == k)
                        out.add(splats[i].first, splats[i].second);
            }
        }
        std::vector<float> sum(width * height, 0.0f);
        for (std::int32_t b = bands - 1; b >= 0; --b)
            for (std::int32_t k = 0; k < streams; ++k)
                sb.inBand(0, b, k, [&](const Entry* e, const Entry* end) {
                    splatRows(
                        e, end, sb.split(0).firstRow(b), sb.split(0).firstRow(b + 1), width,
                        [&](const Entry&, std::int32_t at, float w) {
                            sum[at] = sum[at] * 0.5f + w;
                        },
                        [](std::int32_t) {});
                });
        return sum;
    };
    // sum = sum / 2 + w: any change of order or a splat applied twice or lost changes it.
    const std::vector<float> one = render(1, false);
    EXPECT_EQ(render(6, false), one);
    EXPECT_EQ(render(6, true), one);
}

}  // namespace
}  // namespace qm::detail
