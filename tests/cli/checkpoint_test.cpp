// quillmere-cli render --checkpoint and resume: a render stopped by a signal leaves a state
// that resume finishes into the bytes of an uninterrupted render; state files that cannot be
// used are refused with their status and nothing is written.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>
#include <zlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"
#include "run_cli.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

class Checkpoint : public ::testing::Test {
protected:
    void SetUp() override { dir = makeTemporaryFolder("qm-checkpoint"); }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<std::string> renderArgs(const std::string& file, const std::string& output,
                                        const std::string& mode) const {
        return {"render", std::string(QM_DATA_DIR "/examples/") + file,
                "-o",     (dir / output).string(),
                "--mode", mode,
                "--size", "160x120",
                "--seed", "5",
                "--quiet"};
    }

    // Runs a render with checkpoints every 10 ms and sends it the signal once the first
    // checkpoint is on disk.
    Outcome interrupted(std::vector<std::string> args, const fs::path& state, int signal) {
        args.insert(args.end(), {"--checkpoint", state.string(), "--checkpoint-every", "0.01"});
        auto render = std::async(std::launch::async, [args] { return runCli(args); });
        while (!fs::exists(state) &&
               render.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready) {
        }
        if (fs::exists(state)) ::kill(::getpid(), signal);
        return render.get();
    }

    fs::path dir;
};

TEST_F(Checkpoint, RenderStoppedBySignalResumesToTheUninterruptedBytes) {
    struct Case {
        const char* file;
        const char* mode;
        const char* streams;
        int signal;
    };
    for (const Case& c : {Case{"julia.qmattr", "Plasma", "16", SIGINT},
                          Case{"ifs.qmattr", "Solide", "1", SIGTERM}}) {
        SCOPED_TRACE(c.file);
        auto args = renderArgs(c.file, "full.bmp", c.mode);
        args.insert(args.end(),
                    {"--iterations", "6000000", "--streams", c.streams, "--threads", "2"});
        ASSERT_EQ(runCli(args).status, 0);

        const fs::path state = dir / "render.qmrender";
        fs::remove(state);
        args[3] = (dir / "part.bmp").string();
        const Outcome stopped = interrupted(args, state, c.signal);
        ASSERT_EQ(stopped.status, 128 + c.signal) << stopped.err;
        EXPECT_FALSE(fs::exists(dir / "part.bmp"));
        EXPECT_NE(stopped.err.find("quillmere-cli resume"), std::string::npos);

        const Outcome resumed =
            runCli({"resume", state.string(), "-o", (dir / "resumed.bmp").string(), "--threads",
                    "3", "--quiet", "--checkpoint-every", "1000"});
        ASSERT_EQ(resumed.status, 0) << resumed.err;
        EXPECT_NE(resumed.out.find("resumed_from: "), std::string::npos);
        EXPECT_NE(resumed.out.find("iterations: 6000000\n"), std::string::npos);
        EXPECT_EQ(slurp(dir / "resumed.bmp"), slurp(dir / "full.bmp"));
    }
}

// A render's state carries its scene: the PNG that resume (or merge) develops from it is the
// file render writes, scene chunk and texts included; a state without the scene still gives
// an image that carries one, rebuilt from the render.
TEST_F(Checkpoint, ResumedAndMergedImagesCarryTheScene) {
    auto args = renderArgs("julia.qmattr", "full.png", "Lumière");
    args.insert(args.end(), {"--iterations", "300000", "--streams", "4", "--scale", "0.8"});
    ASSERT_EQ(runCli(args).status, 0);
    // The same render, its state written in place of the image.
    auto saved = args;
    saved.erase(saved.begin() + 2, saved.begin() + 4);  // -o full.png
    saved.insert(saved.end(), {"--state", (dir / "end.qmrender").string()});
    ASSERT_EQ(runCli(saved).status, 0);

    const Outcome resumed =
        runCli({"resume", (dir / "end.qmrender").string(), "-o", (dir / "resumed.png").string()});
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_EQ(slurp(dir / "resumed.png"), slurp(dir / "full.png"));
    const Outcome merged =
        runCli({"merge", (dir / "end.qmrender").string(), "-o", (dir / "merged.png").string()});
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(slurp(dir / "merged.png"), slurp(dir / "full.png"));

    // info's estimates draw from a generator seeded by the clock unless told.
    const Outcome info = runCli({"info", (dir / "resumed.png").string(), "--seed", "7"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("render.framed: yes"), std::string::npos) << info.out;
    EXPECT_EQ(info.out, runCli({"info", (dir / "full.png").string(), "--seed", "7"}).out);

    // Without the kept scene (a state of an earlier version), the scene is rebuilt from the
    // render: its image opens and renders again.
    RenderState old;
    ASSERT_TRUE(readRenderState(dir / "end.qmrender", old));
    std::erase_if(old.settings, [](const auto& kv) { return kv.first == kSceneFileSetting; });
    ASSERT_TRUE(writeRenderState(dir / "old.qmrender", old));
    ASSERT_EQ(runCli({"resume", (dir / "old.qmrender").string(), "-o", (dir / "old.png").string()})
                  .status,
              0);
    EXPECT_EQ(runCli({"render", (dir / "old.png").string(), "-o", (dir / "again.bmp").string(),
                      "--quiet"})
                  .status,
              0);
    const Outcome oldScene = runCli({"info", "--scene", (dir / "old.png").string()});
    EXPECT_NE(oldScene.out.find("render {"), std::string::npos) << oldScene.out;
}

// The state file of a short render, stopped by a signal.
class DamagedState : public Checkpoint {
protected:
    void SetUp() override {
        Checkpoint::SetUp();
        state = dir / "render.qmrender";
        output = dir / "out.png";
        auto args = renderArgs("lorenz.qmattr", "x.bmp", "Gaz");
        args.insert(args.end(), {"--iterations", "100000000", "--streams", "4"});
        ASSERT_EQ(interrupted(args, state, SIGINT).status, 130);
        bytes = slurp(state);
    }
    Outcome resumeBytes(const std::string& b) {
        std::ofstream(dir / "damaged.qmrender", std::ios::binary) << b;
        return runCli({"resume", (dir / "damaged.qmrender").string(), "-o", output.string()});
    }
    fs::path state, output;
    std::string bytes;
};

TEST_F(DamagedState, IsRefusedWithStatusTwoOrFourAndNothingIsWritten) {
    EXPECT_EQ(resumeBytes(bytes.substr(0, bytes.size() / 2)).status, kExitUsage);
    std::string flipped = bytes;
    flipped[bytes.size() - 10] ^= 0x10;
    const Outcome corrupt = resumeBytes(flipped);
    EXPECT_EQ(corrupt.status, kExitUsage);
    EXPECT_NE(corrupt.err.find("damaged"), std::string::npos);
    std::string other = bytes;
    other[8] = 9;
    EXPECT_NE(resumeBytes(other).err.find("version 9"), std::string::npos);
    EXPECT_EQ(resumeBytes(slurp(QM_DATA_DIR "/examples/lorenz.qmattr")).status, kExitUsage);

    // A buffer declared larger than any memory, under valid checksums.
    std::string huge = bytes;
    // Header: text and stream section sizes at 40 and 48, values and directory at 64 and 72.
    std::uint64_t sizes[4];
    std::memcpy(&sizes[0], huge.data() + 40, 16);
    std::memcpy(&sizes[2], huge.data() + 64, 16);
    const std::size_t directoryAt = 112 + sizes[0] + sizes[1] + sizes[2];
    ASSERT_LT(directoryAt + sizes[3], huge.size());
    std::uint32_t nameLength;
    std::memcpy(&nameLength, huge.data() + directoryAt, 4);
    const std::uint64_t elements = std::uint64_t{1} << 50;
    std::memcpy(huge.data() + directoryAt + 4 + nameLength, &elements, 8);
    auto crc = [](const char* p, std::size_t n) {
        return static_cast<std::uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(p), n));
    };
    const std::uint32_t directoryCrc = crc(huge.data() + directoryAt, sizes[3]);
    std::memcpy(huge.data() + 104, &directoryCrc, 4);
    const std::uint32_t headerCrc = crc(huge.data(), 108);
    std::memcpy(huge.data() + 108, &headerCrc, 4);
    const Outcome tooLarge = resumeBytes(huge);
    EXPECT_EQ(tooLarge.status, 4) << tooLarge.err;
    EXPECT_NE(tooLarge.err.find("memory"), std::string::npos);

    EXPECT_EQ(runCli({"resume", (dir / "missing.qmrender").string(), "-o", output.string()}).status,
              kExitUsage);
    EXPECT_EQ(runCli({"resume", dir.string(), "-o", output.string()}).status, kExitUsage);
    EXPECT_FALSE(fs::exists(output));
    // The damaged files stay as they were, and so does the good one.
    EXPECT_EQ(slurp(state), bytes);
}

TEST_F(Checkpoint, OptionsOfCheckpointsAreChecked) {
    auto args = renderArgs("lorenz.qmattr", "x.bmp", "Gaz");
    auto with = [&](std::vector<std::string> extra) {
        auto a = args;
        a.insert(a.end(), extra.begin(), extra.end());
        return runCli(a).status;
    };
    EXPECT_EQ(with({"--checkpoint-every", "5"}), kExitUsage);  // without --checkpoint
    EXPECT_EQ(with({"--checkpoint", (dir / "s").string(), "--checkpoint-every", "0"}), kExitUsage);
    EXPECT_EQ(with({"--checkpoint", (dir / "s").string(), "--checkpoint-every", "x"}), kExitUsage);
    EXPECT_EQ(runCli({"resume", (dir / "s").string()}).status, kExitUsage);  // no output
    EXPECT_FALSE(fs::exists(dir / "x.bmp"));
}

}  // namespace
}  // namespace qm::cli
