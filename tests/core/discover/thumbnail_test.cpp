#include "core/discover/thumbnail.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/file/attractor_file.h"
#include "core/property/color_map.h"

namespace qm {
namespace {

std::unique_ptr<Attractor> load(const std::filesystem::path& path) {
    auto parser = makeAttractorParser();
    LoadResult r = loadAttractor(*parser, path);
    EXPECT_TRUE(r) << path;
    return std::move(r.attractor);
}

ThumbnailSettings lightSettings() {
    ThumbnailSettings s;
    setBuiltinSpeedGradient(s.speedGradient);
    setBuiltinAngleGradient(s.angleGradient);
    return s;
}

TEST(ScoreDensity, EmptyUniformAndSpreadFrames) {
    std::vector<float> d(64 * 48, 0.0f);
    EXPECT_EQ(scoreDensity(d.data(), 64, 48).score, 0.0);
    // An evenly filled frame covers everything but has no variety.
    std::fill(d.begin(), d.end(), 3.0f);
    ThumbnailScore uniform = scoreDensity(d.data(), 64, 48);
    EXPECT_EQ(uniform.coverage, 1.0);
    EXPECT_EQ(uniform.variety, 0.0);
    // Cells spread one per half-octave over 40 bins: the largest variety.
    std::fill(d.begin(), d.end(), 0.0f);
    for (int c = 0; c < 40; ++c)
        d[static_cast<std::size_t>((c / 16) * 4 * 64 + (c % 16) * 4)] = std::exp2(-c / 2.0f);
    const ThumbnailScore spread = scoreDensity(d.data(), 64, 48);
    EXPECT_NEAR(spread.variety, 1.0, 1e-12);  // rounding of log2 only
    EXPECT_NEAR(spread.coverage, 40.0 / (64 * 48), 1e-15);
}

TEST(Thumbnail, DullSetsScoreBelowEveryShippedExample) {
    const ThumbnailSettings settings = lightSettings();
    double dullest = 0;
    for (const char* name : {"square.qmattr", "dots.qmattr"}) {
        auto a = load(std::filesystem::path(QM_TEST_DATA_DIR) / "discover" / name);
        const auto thumb = renderThumbnail(*a, settings);
        ASSERT_TRUE(thumb) << name;
        dullest = std::max(dullest, thumb->score.score);
    }
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(QM_DATA_DIR) / "examples")) {
        auto a = load(entry.path());
        const auto thumb = renderThumbnail(*a, settings);
        ASSERT_TRUE(thumb) << entry.path();
        EXPECT_GT(thumb->score.score, dullest) << entry.path();
    }
}

TEST(Thumbnail, BytesDependOnTheParametersAlone) {
    ThumbnailSettings settings = lightSettings();
    auto a = load(std::filesystem::path(QM_DATA_DIR) / "examples" / "ifs.qmattr");
    seedRandom31(12345);
    const auto first = renderThumbnail(*a, settings);
    seedRandom31(999);
    a->iterate();
    const auto second = renderThumbnail(*a, settings);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->width, 200);
    EXPECT_EQ(first->height, 150);
    EXPECT_EQ(first->pixels, second->pixels);
    EXPECT_EQ(first->score.score, second->score.score);
}

}  // namespace
}  // namespace qm
