// Scenes: a document's attractor, camera, settings and hidden states written as text, read
// back bit for bit, and rendered again to the same image; defaults for what a scene leaves
// out; refusals with the line of the fault. Also the 16-bit development of every mode.
#include "core/scene/scene_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "core/attractor/random31.h"
#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/render_loop.h"
#include "core/render/sampling.h"
#include "core/render/solid.h"
#include "example_sets.h"

namespace qm {
namespace {

constexpr std::int32_t kIterations = 30000;

struct DevelopSink final : RenderSink {
    explicit DevelopSink(TBitmap3D& t) : target(t) {}
    void develop() override { target.BuildImage(); }
    TBitmap3D& target;
};

void render(Attractor& attractor, TBitmap3D& target, std::int32_t iterations = kIterations) {
    target.ClearImage();
    attractor.restart();
    DevelopSink sink(target);
    RenderControl control;
    const RenderOutcome outcome = runRender(attractor, target, {iterations, 3}, sink, control);
    if (outcome.needsFinalDevelop) target.BuildImage();
}

Gradientf builtinSpeed() {
    Gradientf g;
    setBuiltinSpeedGradient(g);
    return g;
}
Gradientf builtinAngle() {
    Gradientf g;
    setBuiltinAngleGradient(g);
    return g;
}

// A document's history in short: a new target, a fitted sampling, a drag, a zoom, a pan, a
// software preview (which leaves the Light family's last colour behind) and, for the Light
// family, a gradient of its own.
struct Document {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<TBitmap3D> target;
    std::uint64_t previewRandom = 0;

    Document(const examples::ExampleSet& set, int mode) : attractor(examples::makeExample(set)) {
        target = CreateRenderTarget(mode);
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
            light->speedGradient = builtinSpeed();
            light->angleGradient.Clear();
            light->angleGradient.AddStop(0, {0.1f, 0.2f, 0.3f});
            light->angleGradient.AddStop(0.5, {0.7f, 0.1f, 0.9f});
            light->angleGradient.AddStop(0.5, {0.2f, 0.6f, 0.0f});
            light->angleGradient.AddStop(1, {1, 1, 1});
        }
        target->SetWidth(96);
        target->SetHeight(64);
        target->SetEye({0, 0, -5});
        target->SetTarget({0, 0, 0});
        target->mirror = attractor->kind() == AttractorKind::Julia;
        seedRandom31(1234567u + static_cast<std::uint32_t>(set.kind));
        previewRandom = threadRandom31().state;
        sampleAttractor(*attractor, *target, kPreviewIterations, SamplingMode::Fit);
        target->Rotate(31, -12);
        target->scale *= 1.0 / 1.1;
        target->panX += 0.0123;
        target->panY -= 0.0071;
        target->RenderPreview();
    }

    std::string text() const {
        return sceneText(*attractor,
                         captureScene(*attractor, *target, kIterations, 7, previewRandom, 3, 77));
    }
};

std::string kindName(const testing::TestParamInfo<std::tuple<int, int>>& info) {
    const int kind = std::get<0>(info.param);
    return "kind" + std::to_string(kind) + "_mode" + std::to_string(std::get<1>(info.param));
}

class SceneRoundTrip : public testing::TestWithParam<std::tuple<int, int>> {};

// The text read back makes a document whose scene writes the same text, and whose render
// gives the same bytes as the document the text came from.
TEST_P(SceneRoundTrip, ReadsBackExactlyAndRendersTheSameImage) {
    const auto& set = examples::exampleSets()[static_cast<std::size_t>(std::get<0>(GetParam()))];
    Document original(set, std::get<1>(GetParam()));
    const std::string text = original.text();
    ASSERT_FALSE(text.empty());

    SceneLoad loaded = readScene(text);
    ASSERT_TRUE(loaded) << text;
    // The generator stands elsewhere now: the scene must bring its own state.
    seedRandom31(99);
    PreparedScene copy = prepareScene(*loaded.attractor, loaded.render, {}, {});
    ASSERT_TRUE(copy.bounded);
    EXPECT_EQ(copy.target->combinedMatrix, original.target->combinedMatrix);
    EXPECT_EQ(sceneText(*loaded.attractor, captureScene(*loaded.attractor, *copy.target,
                                                        kIterations, 7, copy.previewRandom, 3, 77)),
              text);

    render(*original.attractor, *original.target);
    render(*loaded.attractor, *copy.target);
    EXPECT_EQ(copy.target->imageBytes(), original.target->imageBytes());
}

INSTANTIATE_TEST_SUITE_P(AllKindsAllModes, SceneRoundTrip,
                         testing::Combine(testing::Range(0, 11),
                                          testing::Range(0, kRenderModeCount)),
                         kindName);

TEST(SceneFile, AttractorBlockIsTheAttractorFilesWithExactValues) {
    Document doc(examples::exampleSets()[3], 0);  // Lorenz
    doc.attractor->params()[1].set(28.000000000000004);
    const std::string text = doc.text();
    EXPECT_EQ(
        text.rfind(
            "attractor {\n\ttype lorenz\n\tparameters <10, 28.000000000000004, 2.667, 0.01>\n}\n"
            "render {\n\tversion 1\n\tmode gas\n\twidth 96\n\theight 64\n",
            0),
        0u)
        << text;
    // A parameter file reader takes the same block.
    std::istringstream in(text.substr(0, text.find("render")));
    auto parser = makeAttractorParser();
    LoadResult attractorOnly = readAttractor(*parser, in);
    ASSERT_TRUE(attractorOnly);
    EXPECT_EQ(attractorOnly.attractor->params()[1].get(), 28.000000000000004);
}

// What a scene leaves out takes the defaults of a new document; without a camera the view
// is fitted as when an attractor file is opened.
TEST(SceneFile, MissingRenderValuesTakeTheNewDocumentDefaults) {
    const std::string attractorBlock =
        "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.01>\n}\n";
    SceneLoad bare = readScene(attractorBlock);
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare.render, RenderScene{});

    SceneLoad partial =
        readScene(attractorBlock + "render {\n mode solid\n scale 0.5\n gamma 2\n}\n");
    ASSERT_TRUE(partial);
    EXPECT_EQ(partial.render.mode, 4);
    EXPECT_EQ(partial.render.width, 640);
    ASSERT_TRUE(partial.render.camera);
    EXPECT_EQ(partial.render.camera->scale, 0.5);
    EXPECT_EQ(partial.render.camera->eye, (Vecd{0, 0, -5}));
    EXPECT_EQ(partial.render.gamma, 2.0);
    EXPECT_FALSE(partial.render.opacity);

    PreparedScene fitted =
        prepareScene(*bare.attractor, bare.render, builtinSpeed(), builtinAngle());
    ASSERT_TRUE(fitted.bounded);
    EXPECT_EQ(fitted.target->imageWidth, 640);
    EXPECT_NE(fitted.target->scale, 1.0);  // fitted
    PreparedScene framed = prepareScene(*partial.attractor, partial.render, {}, {});
    EXPECT_EQ(framed.target->scale, 0.5);
    EXPECT_EQ(dynamic_cast<TBitmap3D_Solid&>(*framed.target).opacity, 8.0);
}

TEST(SceneFile, RefusesWrongTextWithItsLine) {
    const std::string head =
        "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.01>\n}\nrender {\n";
    struct Case {
        const char* body;
        std::int32_t line;
    } cases[] = {
        {"\tcolour 3\n}\n", 6},               // unknown keyword
        {"\tmode gaz\n}\n", 6},               // unknown mode
        {"\twidth 640\n\theight 8\n}\n", 7},  // below 16
        {"\twidth 20000\n}\n", 6},            // above 16384
        {"\twidth 64.5\n}\n", 6},             // not a whole number
        {"\tupdates 0\n}\n", 6},
        {"\twidth 64\n\twidth 64\n}\n", 7},  // given twice
        {"\tscale 0\n}\n", 6},
        {"\tscale -1\n}\n", 6},
        {"\teye <0, 0>\n}\n", 6},  // two values for three
        {"\tgamma 0\n}\n", 6},
        {"\tmode light\n\tspeed_range <0, 1>\n}\n", 7},  // one range without the other
        {"\tmode light\n\tspeed_gradient <0, 1, 1, 1, 1, 0, 0>\n}\n", 7},
        {"\tmode light\n\tangle_gradient <1, 1, 1, 1,\n 0, 0, 0, 0>\n}\n", 7},  // out of order
        {"\tversion 0\n}\n", 6},
        {"\texposure 0\n}\n", 6},  // a peak is positive
        {"\texposure -3\n}\n", 6},
        {"\tmode solid\n", 7},  // the block never ends
    };
    for (const Case& c : cases) {
        const SceneLoad loaded = readScene(head + c.body);
        EXPECT_FALSE(loaded) << c.body;
        EXPECT_EQ(loaded.status, FileStatus::ReadError) << c.body;
        EXPECT_EQ(loaded.line, c.line) << c.body;
    }
    const SceneLoad newer = readScene(head + "\tversion 2\n}\n");
    EXPECT_EQ(newer.status, FileStatus::NewerVersion);
    EXPECT_EQ(newer.line, 6);
    EXPECT_EQ(readScene("attractor {\n\ttype lorenz\n}\n").line, 3);  // parameters missing
}

TEST(SceneFile, SavesCompletelyAndLoadsFromDisk) {
    Document doc(examples::exampleSets()[1], 2);  // IFS, Lumière: seed, ranges, gradients
    const auto path = std::filesystem::temp_directory_path() / "quillmere_scene_test.qmscene";
    const RenderScene scene =
        captureScene(*doc.attractor, *doc.target, 5, 7, doc.previewRandom, 16, 5);
    ASSERT_TRUE(saveScene(path, *doc.attractor, scene));
    SceneLoad loaded = loadScene(path);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded.render, scene);
    std::filesystem::remove(path);
    EXPECT_EQ(loadScene(path).status, FileStatus::CannotOpen);

    doc.target->scale = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(
        saveScene(path, *doc.attractor, captureScene(*doc.attractor, *doc.target, 5, 7, 0, 1, 0))
            .status,
        FileStatus::InvalidValue);
    EXPECT_FALSE(std::filesystem::exists(path));
}

// The 16-bit development reduced to 8 bits is within one step of the 8-bit image, in every
// mode, and the 8-bit image itself is left as it was.
TEST(BuildImage16, IsWithinOneStepOfTheBytesInEveryMode) {
    for (int mode = 0; mode < kRenderModeCount; ++mode) {
        Document doc(examples::exampleSets()[5], mode);  // Pickover
        render(*doc.attractor, *doc.target, 60000);
        // The loop's last development comes one point before its end: develop all of them.
        doc.target->BuildImage();
        const std::vector<std::uint8_t> bytes = doc.target->imageBytes();
        const std::int32_t w = doc.target->imageWidth, h = doc.target->imageHeight;
        std::vector<std::uint16_t> deep(static_cast<std::size_t>(w) * h * 4, 1);
        doc.target->BuildImage16(deep.data(), 4 * w);
        EXPECT_EQ(doc.target->imageBytes(), bytes) << "mode " << mode;
        int differing = 0, worst = 0;
        for (std::int32_t line = 0; line < h; ++line) {
            for (std::int32_t x = 0; x < w; ++x) {
                const std::uint16_t* d = &deep[(static_cast<std::size_t>(line) * w + x) * 4];
                const std::uint8_t* b = doc.target->scanLine(line) + 3 * x;
                const int channels[3][2] = {{d[0], b[2]}, {d[1], b[1]}, {d[2], b[0]}};
                for (const auto& c : channels) {
                    const int reduced = (c[0] + 128) / 257;
                    worst = std::max(worst, std::abs(reduced - c[1]));
                    if (c[0] != c[1] * 257) ++differing;
                }
                EXPECT_EQ(d[3], 65535);
            }
        }
        EXPECT_LE(worst, 1) << "mode " << mode;
        EXPECT_GT(differing, 0) << "mode " << mode << ": no finer level than the bytes";
    }
}

}  // namespace
}  // namespace qm
