// Developments shared by threads: every mode's 8- and 16-bit image, its peaks included, is the
// same on 1, 2, 3 or 7 threads; the team runs every part once, on threads of its own.
#include "core/render/develop_team.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "core/property/color_map.h"
#include "core/render/light.h"
#include "core/render/sampling.h"
#include "core/render/solid.h"
#include "example_sets.h"

namespace qm {
namespace {

// A target of the mode with a Lorenz render in it; the mirror on, so that the buffers are
// not symmetric in the rows the threads share.
std::unique_ptr<TBitmap3D> rendered(int mode, std::int32_t width, std::int32_t height,
                                    std::int32_t iterations) {
    auto attractor = examples::makeExample(examples::exampleSets()[0]);
    auto target = CreateRenderTarget(mode);
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(target.get())) {
        setBuiltinSpeedGradient(light->speedGradient);
        setBuiltinAngleGradient(light->angleGradient);
    }
    target->SetWidth(width);
    target->SetHeight(height);
    target->SetEye({0, 0, -5});
    target->SetTarget({0, 0, 0});
    target->mirror = true;
    EXPECT_TRUE(sampleAttractor(*attractor, *target, kPreviewIterations, SamplingMode::Fit));
    target->ClearImage();
    attractor->restart();
    std::vector<Vecd> block(512);
    for (std::int32_t done = 0; done < iterations; done += 512)
        target->PlotBlock(block.data(), attractor->iterateBlock(block.data(), 512));
    return target;
}

struct Developed {
    std::vector<std::uint8_t> image;
    std::vector<std::uint16_t> deep;
    std::vector<float> peaks;  // foundPeak, then Solid's light maps'
};

Developed develop(TBitmap3D& t, DevelopTeam* team) {
    Developed d;
    LendDevelopTeam lend(t, team);
    // A stride wider than the row: the padding must stay as it was.
    const std::ptrdiff_t stride = 4 * t.imageWidth + 3;
    d.deep.assign(static_cast<std::size_t>(stride * t.imageHeight), 7);
    t.BuildImage16(d.deep.data(), stride);
    t.BuildImage();
    d.image = t.imageBytes();
    d.peaks.push_back(t.foundPeak);
    if (auto* solid = dynamic_cast<TBitmap3D_Solid*>(&t))
        for (const auto& light : solid->lights) d.peaks.push_back(light->mapPeak);
    return d;
}

void expectSame(const Developed& a, const Developed& b, std::int32_t threads) {
    EXPECT_EQ(a.image, b.image) << threads << " threads";
    EXPECT_EQ(a.deep, b.deep) << threads << " threads";
    EXPECT_EQ(a.peaks, b.peaks) << threads << " threads";
}

class DevelopModes : public ::testing::TestWithParam<int> {};

TEST_P(DevelopModes, AnyNumberOfThreadsGivesOneThreadsBytes) {
    const int mode = GetParam();
    // An odd size whose rows do not share out evenly, and one with fewer rows than threads.
    for (const auto& [width, height] : {std::pair{132, 101}, std::pair{8, 3}}) {
        for (const float exposure : {0.0f, 0.5f}) {
            // A new target for each development, so that a row left out shows.
            auto developOn = [&](DevelopTeam* team) {
                const auto t = rendered(mode, width, height, 40000);
                t->fixedPeak = exposure;
                return develop(*t, team);
            };
            const Developed alone = developOn(nullptr);
            ASSERT_GT(alone.peaks[0], 0.0f);
            for (std::int32_t threads : {1, 2, 3, 7}) {
                DevelopThreads team(threads);
                ASSERT_EQ(team.size(), threads);
                expectSame(developOn(&team), alone, threads);
            }
        }
    }
}

TEST_P(DevelopModes, NothingPlottedLeavesTheBackgroundOnAnyThreadCount) {
    const int mode = GetParam();
    const auto t = rendered(mode, 52, 37, 0);
    const std::vector<std::uint8_t> background = t->imageBytes();
    const Developed alone = develop(*t, nullptr);
    EXPECT_EQ(alone.image, background);
    for (std::int32_t threads : {2, 7}) {
        DevelopThreads team(threads);
        expectSame(develop(*t, &team), alone, threads);
    }
}

std::string modeName(const ::testing::TestParamInfo<int>& info) {
    static const char* const names[] = {"Gas", "Liquid", "Light", "Plasma", "Solid"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(AllModes, DevelopModes, ::testing::Range(0, kRenderModeCount), modeName);

TEST(DevelopThreads, RunsEveryPartOnceOnThreadsOfItsOwn) {
    DevelopThreads team(4);
    ASSERT_EQ(team.size(), 4);
    std::vector<int> counts(4, 0);
    std::mutex mutex;
    std::set<std::thread::id> threads;
    // Many tasks back to back: a part that ran twice or late would show in the counts.
    for (int round = 0; round < 500; ++round) {
        auto task = [&](std::int32_t part) {
            ++counts[static_cast<std::size_t>(part)];
            std::lock_guard<std::mutex> lock(mutex);
            threads.insert(std::this_thread::get_id());
        };
        team.run(PartTask(task));
        for (int c : counts) ASSERT_EQ(c, round + 1);
    }
    EXPECT_EQ(threads.size(), 4u);
    EXPECT_TRUE(threads.count(std::this_thread::get_id()));
}

}  // namespace
}  // namespace qm
