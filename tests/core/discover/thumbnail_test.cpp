#include "core/discover/thumbnail.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/file/attractor_file.h"
#include "core/property/color_map.h"
#include "core/render/render_loop.h"
#include "core/scene/scene_file.h"

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

class DevelopSink final : public RenderSink {
public:
    explicit DevelopSink(TBitmap3D& t) : t_(t) {}
    void develop() override { t_.BuildImage(); }

private:
    TBitmap3D& t_;
};

// A find kept as a scene opens framed as its thumbnail: the scene, read back from its text and
// rendered at the thumbnail's size, gives the thumbnail's bytes (Julia for the mirror).
TEST(Thumbnail, SceneOfAThumbnailRendersTheThumbnailAgain) {
    for (const char* name : {"julia.qmattr", "lorenz.qmattr"}) {
        for (int mode : {0, 2, 4}) {
            SCOPED_TRACE(std::string(name) + " mode " + std::to_string(mode));
            ThumbnailSettings settings = lightSettings();
            settings.mode = mode;
            settings.iterations = 50000;
            auto a = load(std::filesystem::path(QM_DATA_DIR) / "examples" / name);
            const auto thumb = renderThumbnail(*a, settings);
            ASSERT_TRUE(thumb);
            RenderScene scene = thumbnailScene(*thumb);
            EXPECT_EQ(scene.mode, mode);
            EXPECT_EQ(scene.width, 640);
            EXPECT_EQ(scene.height, 480);

            SceneLoad loaded = readScene(sceneText(*a, scene));
            ASSERT_TRUE(loaded);
            EXPECT_EQ(loaded.render.camera, scene.camera);
            RenderScene small = loaded.render;
            small.width = thumb->width;
            small.height = thumb->height;
            threadRandom31().state = 12345;  // the scene holds the sampling's state
            PreparedScene prepared = prepareScene(*loaded.attractor, small, settings.speedGradient,
                                                  settings.angleGradient);
            ASSERT_TRUE(prepared.bounded);
            TBitmap3D& t = *prepared.target;
            t.ClearImage();
            loaded.attractor->restart();
            RenderControl control;
            DevelopSink sink(t);
            const RenderOutcome outcome =
                runRender(*loaded.attractor, t, {settings.iterations, 1}, sink, control);
            if (outcome.needsFinalDevelop) t.BuildImage();
            const ImageView view = t.imageView();
            std::vector<std::uint8_t> bytes;
            for (std::int32_t y = 0; y < view.height; ++y)
                bytes.insert(bytes.end(), view.bits + std::ptrdiff_t{y} * view.bytesPerLine,
                             view.bits + std::ptrdiff_t{y} * view.bytesPerLine + 3 * view.width);
            EXPECT_EQ(bytes, thumb->pixels);
        }
    }
}

}  // namespace
}  // namespace qm
