#include "core/discover/lane_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <thread>

#include "core/discover/worker_pool.h"
#include "core/file/attractor_file.h"

namespace qm {
namespace {

std::vector<Find> search(const DiscoverySettings& settings, int threads, int rounds) {
    WorkerPool pool(threads);
    LaneSearch lanes(settings);
    std::atomic<bool> stop{false};
    std::vector<Find> finds;
    for (int r = 0; r < rounds; ++r)
        for (Find& f : lanes.runRound(pool, stop)) finds.push_back(std::move(f));
    return finds;
}

TEST(LaneSearch, FindsDependOnTheSeedAloneNotOnTheThreadCount) {
    DiscoverySettings settings;
    settings.kind = static_cast<int>(AttractorKind::Icon);
    settings.seed = 7;
    settings.lanes = 16;
    settings.trialsPerRound = 16;
    const auto one = search(settings, 1, 3);
    const auto three = search(settings, 3, 3);
    ASSERT_FALSE(one.empty()) << "seed 7 should find Icon sets within 768 trials";
    ASSERT_EQ(one.size(), three.size());
    for (std::size_t i = 0; i < one.size(); ++i) {
        EXPECT_EQ(one[i].file, three[i].file) << i;
        EXPECT_EQ(one[i].lyapunov, three[i].lyapunov) << i;
        EXPECT_EQ(one[i].dimension, three[i].dimension) << i;
        // In (round, lane, trial) order.
        if (i > 0) {
            const auto& a = one[i - 1];
            const auto& b = one[i];
            EXPECT_LT(std::tie(a.round, a.lane, a.trial), std::tie(b.round, b.lane, b.trial));
        }
    }
    settings.seed = 8;
    const auto other = search(settings, 1, 3);
    ASSERT_FALSE(other.empty());
    EXPECT_NE(one.front().file, other.front().file);
}

TEST(LaneSearch, RoundsInOneBatchFindWhatRoundsOneByOneFind) {
    DiscoverySettings settings;
    settings.kind = static_cast<int>(AttractorKind::Icon);
    settings.seed = 7;
    settings.lanes = 16;
    settings.trialsPerRound = 8;
    const auto single = search(settings, 1, 12);
    ASSERT_GE(single.size(), 3u) << "seed 7 should find Icon sets within 1536 trials";

    // Batches of 5, 1 and 6 rounds, with extra jobs that clobber the thread's generator as a
    // thumbnail does: the lanes must not notice.
    WorkerPool pool(3);
    LaneSearch lanes(settings);
    std::atomic<bool> stop{false};
    std::atomic<int> extras{0};
    const auto extra = [&](std::int64_t) {
        threadRandom31().state = 12345;
        ++extras;
    };
    std::vector<Find> batched;
    for (int rounds : {5, 1, 6})
        for (Find& f : lanes.runRounds(pool, stop, rounds, 7, extra)) batched.push_back(f);
    EXPECT_EQ(extras.load(), 21);
    EXPECT_EQ(lanes.rounds(), 12u);
    EXPECT_EQ(lanes.trials(), 12 * 16 * 8);
    ASSERT_EQ(batched.size(), single.size());
    for (std::size_t i = 0; i < single.size(); ++i) {
        EXPECT_EQ(batched[i].file, single[i].file) << i;
        EXPECT_EQ(std::tie(batched[i].round, batched[i].lane, batched[i].trial),
                  std::tie(single[i].round, single[i].lane, single[i].trial))
            << i;
    }
}

TEST(LaneSearch, FindsAreAcceptedTrialsThatLoadBack) {
    DiscoverySettings settings;
    settings.kind = kAllKinds;
    settings.seed = 3;
    settings.lanes = 22;
    const auto finds = search(settings, 2, 3);
    ASSERT_FALSE(finds.empty());
    std::set<int> kinds;
    auto parser = makeAttractorParser();
    for (const Find& f : finds) {
        EXPECT_GE(f.dimension, 1.5);
        EXPECT_GE(f.lyapunov, 0.001);
        EXPECT_EQ(f.kind, f.lane % kAttractorKindCount);
        kinds.insert(f.kind);
        std::istringstream in(f.file);
        const LoadResult loaded = readAttractor(*parser, in);
        ASSERT_TRUE(loaded) << f.file;
        EXPECT_EQ(loaded.attractor->kindCode(), f.kind);
    }
    EXPECT_GE(kinds.size(), 3u);
}

TEST(LaneSearch, LaneGeneratorsStartApart) {
    std::set<std::uint64_t> states;
    for (std::uint32_t seed : {0u, 1u, 2u})
        for (int lane = 0; lane < kDiscoveryLanes; ++lane)
            states.insert(laneGeneratorState(seed, lane));
    EXPECT_EQ(states.size(), 3u * kDiscoveryLanes);
}

TEST(LaneSearch, StopEndsARoundBetweenTrials) {
    DiscoverySettings settings;
    settings.kind = static_cast<int>(AttractorKind::Lorenz);
    settings.lanes = 4;
    settings.trialsPerRound = 1 << 30;  // a round that would never end by itself
    WorkerPool pool(2);
    LaneSearch lanes(settings);
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        stop = true;
    });
    lanes.runRound(pool, stop);
    stopper.join();
    EXPECT_TRUE(lanes.stopped());
    EXPECT_GT(lanes.trials(), 0);
}

std::string exampleText(const char* name) {
    std::ifstream in(std::filesystem::path(QM_DATA_DIR) / "examples" / name);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::unique_ptr<Attractor> loadText(const std::string& text) {
    auto parser = makeAttractorParser();
    return std::move(loadAttractorText(*parser, ReadStatus::Ok, text).attractor);
}

// "More like this": finds near a find, each within the percentage of the find's parameters
// (not drifting from find to find), the same for a seed on any number of threads.
TEST(LaneSearch, NearAFindStaysNearItWhateverTheThreads) {
    for (const char* example : {"icon.qmattr", "ifs.qmattr"}) {
        SCOPED_TRACE(example);
        DiscoverySettings settings;
        settings.origin = exampleText(example);
        settings.kind = static_cast<int>(AttractorKind::Lorenz);  // ignored near a find
        settings.percent = 10;
        settings.seed = 11;
        settings.lanes = 8;
        settings.trialsPerRound = 6;
        const auto one = search(settings, 1, 3);
        const auto two = search(settings, 2, 3);
        ASSERT_GE(one.size(), 3u) << "a chaotic example has chaotic neighbours";
        ASSERT_EQ(one.size(), two.size());
        const auto origin = loadText(settings.origin);
        const ParamList& o = origin->params();
        std::set<std::string> distinct;
        for (std::size_t i = 0; i < one.size(); ++i) {
            EXPECT_EQ(one[i].file, two[i].file) << i;
            EXPECT_EQ(one[i].kind, origin->kindCode());
            distinct.insert(one[i].file);
            const auto find = loadText(one[i].file);
            ASSERT_TRUE(find);
            const ParamList& p = find->params();
            ASSERT_EQ(p.count(), o.count());
            for (std::int32_t k = 0; k < p.count(); ++k) {
                if (!o[k].randomizable) continue;  // derived (the IFS map weights)
                const double width = (o[k].max() - o[k].min()) * 0.1;
                EXPECT_LE(std::abs(p[k].get() - o[k].get()), width + 1e-9) << "parameter " << k;
            }
        }
        EXPECT_EQ(distinct.size(), one.size()) << "every find differs";
    }

    DiscoverySettings broken;
    broken.origin = "not a parameter file";
    WorkerPool pool(1);
    LaneSearch lanes(broken);
    std::atomic<bool> stop{false};
    EXPECT_FALSE(lanes.valid());
    EXPECT_TRUE(lanes.runRound(pool, stop).empty());
}

TEST(WorkerPool, RunsEveryJobOnceInEveryBatch) {
    WorkerPool pool(3);
    for (int batch = 0; batch < 50; ++batch) {
        std::vector<std::atomic<int>> calls(97);
        pool.run(97, [&](std::int64_t i) { ++calls[static_cast<std::size_t>(i)]; });
        for (auto& c : calls) ASSERT_EQ(c.load(), 1);
    }
}

}  // namespace
}  // namespace qm
