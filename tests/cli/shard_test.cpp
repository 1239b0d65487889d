// quillmere-cli render --shard and merge: the parts of a render merge into the whole render's
// streams exactly and into its image within the stated bounds; parts that do not make one
// render are refused; a shard stopped and run again gives the same part.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/render/gas.h"
#include "core/render/state/render_state_file.h"
#include "run_cli.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

class Shards : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTemporaryFolder("qm-shard"); }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::string> scene(const std::string& file, const std::string& mode,
                                   const std::string& iterations = "200000") const {
        return {"render",       std::string(QM_DATA_DIR "/examples/") + file,
                "--mode",       mode,
                "--size",       "160x120",
                "--iterations", iterations,
                "--seed",       "1",
                "--quiet"};
    }
    fs::path part(const std::string& name, int i) const {
        return dir / (name + "-" + std::to_string(i) + ".qmrender");
    }
    // Renders the K parts of a scene; the file names are name-I.qmrender.
    void renderParts(std::vector<std::string> args, const std::string& name, int k) {
        for (int i = 0; i < k; ++i) {
            auto a = args;
            a.insert(a.end(), {"--shard", std::to_string(i) + "/" + std::to_string(k), "--state",
                               part(name, i).string()});
            const Outcome o = runCli(a);
            ASSERT_EQ(o.status, 0) << o.err;
        }
    }

    fs::path dir;
};

// The largest and the mean difference of two BMP images of the same size, byte by byte.
std::pair<int, double> difference(const std::string& a, const std::string& b) {
    EXPECT_EQ(a.size(), b.size());
    int most = 0;
    double sum = 0;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 54; i < n; ++i) {
        const int d = std::abs(static_cast<int>(static_cast<unsigned char>(a[i])) -
                               static_cast<int>(static_cast<unsigned char>(b[i])));
        most = std::max(most, d);
        sum += d;
    }
    return {most, n > 54 ? sum / static_cast<double>(n - 54) : 0.0};
}

TEST_F(Shards, MergedPartsAreTheWholeRenderWithinTheStatedBounds) {
    // Mode, and the bounds the README states for it: the sums only change their addition order
    // (a few levels where a pixel holds few points); the surfaces and depths are rebuilt by a
    // rule of their own.
    struct Mode {
        const char* name;
        int maxBound;
        double meanBound;
    };
    const Mode modes[] = {{"Gaz", 8, 0.05},
                          {"Liquide", 255, 25},
                          {"Lumière", 8, 0.05},
                          {"Plasma", 255, 25},
                          {"Solide", 255, 30}};
    for (const char* file : {"lorenz.qmattr", "icon.qmattr", "julia.qmattr"}) {
        for (const Mode& m : modes) {
            SCOPED_TRACE(std::string(file) + " " + m.name);
            auto whole = scene(file, m.name);
            whole.insert(whole.end(), {"--state", (dir / "whole.qmrender").string()});
            ASSERT_EQ(runCli(whole).status, 0);
            auto image = scene(file, m.name);
            image.insert(image.end(), {"-o", (dir / "whole.bmp").string()});
            ASSERT_EQ(runCli(image).status, 0);
            renderParts(scene(file, m.name), "p", 4);
            // In any order: the merge puts them in shard order.
            const Outcome merged =
                runCli({"merge", part("p", 2).string(), part("p", 0).string(),
                        part("p", 3).string(), part("p", 1).string(), "-o",
                        (dir / "merged.bmp").string(), "--state", (dir / "all.qmrender").string()});
            ASSERT_EQ(merged.status, 0) << merged.err;

            // Every stream is the whole render's, bit for bit.
            RenderState a, b;
            ASSERT_TRUE(readRenderState(dir / "whole.qmrender", a));
            ASSERT_TRUE(readRenderState(dir / "all.qmrender", b));
            EXPECT_EQ(a.streams, b.streams);
            EXPECT_EQ(a.iterationsDone, b.iterationsDone);
            EXPECT_EQ(a.developmentsDone, b.developmentsDone);
            // Gaz sums integers: the merged sums are the whole render's exactly.
            if (std::string(m.name) == "Gaz") {
                const StateBuffer* sa = a.buffer(kFixedDensityBuffer);
                const StateBuffer* sb = b.buffer(kFixedDensityBuffer);
                ASSERT_TRUE(sa && sb);
                EXPECT_TRUE(*sa == *sb);
            }

            const auto [most, mean] =
                difference(slurp(dir / "whole.bmp"), slurp(dir / "merged.bmp"));
            std::cout << "merge difference " << file << ' ' << m.name << ": max " << most
                      << " mean " << mean << '\n';
            EXPECT_LE(most, m.maxBound);
            EXPECT_LE(mean, m.meanBound);

            // The merged state is a finished render that resume develops into the same image.
            ASSERT_EQ(runCli({"resume", (dir / "all.qmrender").string(), "-o",
                              (dir / "resumed.bmp").string(), "--quiet"})
                          .status,
                      0);
            EXPECT_TRUE(slurp(dir / "resumed.bmp") == slurp(dir / "merged.bmp"));
        }
    }
}

TEST_F(Shards, MergeRefusesPartsThatDoNotMakeOneRender) {
    renderParts(scene("lorenz.qmattr", "Gaz", "50000"), "p", 3);
    auto other = scene("lorenz.qmattr", "Gaz", "50000");
    other[9] = "2";  // another --seed
    renderParts(other, "seed", 3);
    renderParts(scene("icon.qmattr", "Gaz", "50000"), "icon", 3);
    renderParts(scene("lorenz.qmattr", "Gaz", "50000"), "four", 4);
    const std::string out = (dir / "out.png").string();
    struct Case {
        std::vector<std::string> parts;
        const char* says;
    };
    const Case cases[] = {
        {{part("p", 0).string(), part("p", 2).string()}, "shard 1 of 3 is missing"},
        {{part("p", 0).string(), part("p", 1).string(), part("p", 1).string()},
         "shard 1 is given twice"},
        {{part("p", 0).string(), part("seed", 1).string(), part("p", 2).string()},
         "the setting seed differs"},
        {{part("p", 0).string(), part("icon", 1).string(), part("p", 2).string()}, "another scene"},
        {{part("p", 0).string(), part("four", 1).string(), part("p", 2).string()},
         "is a shard of 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        std::vector<std::string> args{"merge"};
        args.insert(args.end(), c.parts.begin(), c.parts.end());
        args.insert(args.end(), {"-o", out});
        const Outcome o = runCli(args);
        EXPECT_EQ(o.status, kExitUsage);
        EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST_F(Shards, StoppedShardRunAgainGivesTheSamePart) {
    auto args = scene("julia.qmattr", "Liquide", "3000000");
    args.insert(args.end(), {"--shard", "1/4", "--threads", "2"});
    auto reference = args;
    reference.insert(reference.end(), {"--state", (dir / "reference.qmrender").string()});
    ASSERT_EQ(runCli(reference).status, 0);

    const fs::path checkpoint = dir / "part.checkpoint";
    args.insert(args.end(), {"--state", (dir / "part.qmrender").string(), "--checkpoint",
                             checkpoint.string(), "--checkpoint-every", "0.05"});
    auto render = std::async(std::launch::async, [args] { return runCli(args); });
    while (!fs::exists(checkpoint) &&
           render.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
    }
    if (fs::exists(checkpoint)) ::kill(::getpid(), SIGTERM);
    const Outcome stopped = render.get();
    ASSERT_EQ(stopped.status, 128 + SIGTERM) << stopped.err;
    EXPECT_FALSE(fs::exists(dir / "part.qmrender"));

    // A checkpoint of another render is not taken for this one's.
    auto foreign = args;
    foreign[9] = "2";
    const Outcome refused = runCli(foreign);
    EXPECT_EQ(refused.status, kExitUsage);
    EXPECT_NE(refused.err.find("another render"), std::string::npos) << refused.err;

    const Outcome again = runCli(args);
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("resumed_from: "), std::string::npos);
    // The same part (the files differ only in the checkpoint interval they record).
    RenderState a, b;
    ASSERT_TRUE(readRenderState(dir / "part.qmrender", a));
    ASSERT_TRUE(readRenderState(dir / "reference.qmrender", b));
    EXPECT_EQ(a.streams, b.streams);
    EXPECT_EQ(a.buffers, b.buffers);
    EXPECT_EQ(a.iterationsDone, b.iterationsDone);
    EXPECT_EQ(a.developmentsDone, b.developmentsDone);
}

}  // namespace
}  // namespace qm::cli
