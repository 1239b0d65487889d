// quillmere-cli animate: frames that are the renders they claim to be (frame 0 of a turntable
// is render's image; a frame's own scene renders it again; a journey starts and ends on its
// scenes), diverging frames, --resume, the video through ffmpeg, and refused arguments.
#include "cli/cli.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/video_encoder.h"
#include "png/png_image.h"
#include "run_cli.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

// The pixels alone: the PNG texts name the frame, which two renders of one image need not.
QImage pixels(const fs::path& png) {
    return QImage(QString::fromStdString(png.string())).convertToFormat(QImage::Format_RGB888);
}

const std::string kLorenz = QM_TEST_DATA_DIR "/lorenz.qmattr";
// Small and short: every case renders a handful of frames.
const std::vector<std::string> kSmall = {
    "--size", "64x48", "--iterations", "40000", "--streams", "4", "--seed", "7", "--quiet"};

class AnimateTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quillmere_animate_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
               std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    Outcome animate(std::vector<std::string> args, bool small = true) {
        args.insert(args.begin(), "animate");
        if (small) args.insert(args.end(), kSmall.begin(), kSmall.end());
        return runCli(args);
    }
    std::string frame(int i) const {
        char name[32];
        std::snprintf(name, sizeof name, "f-%03d.png", i);
        return (dir / "frames" / name).string();
    }
    std::string pattern() const { return (dir / "frames" / "f-%03d.png").string(); }

    fs::path dir;
};

// Frame 0 of a turntable, with each frame's own exposure, is the image render makes of the
// same file and options; every frame, fixed exposure included, renders again from the scene
// it carries.
TEST_F(AnimateTest, FramesAreRendersOfTheScenesTheyCarry) {
    const std::string still = (dir / "still.png").string();
    ASSERT_EQ(runCli({"render", kLorenz, "-o", still, "--mode", "Lumière", "--size", "64x48",
                      "--iterations", "40000", "--streams", "4", "--seed", "7", "--quiet"})
                  .status,
              0);
    Outcome own = animate({kLorenz, "--frames", "3", "--turn", "90", "--mode", "Lumière", "-o",
                           pattern(), "--exposure", "per-frame"});
    ASSERT_EQ(own.status, 0) << own.err;
    EXPECT_EQ(pixels(frame(0)), pixels(still));

    Outcome fixed = animate({kLorenz, "--frames", "3", "--turn", "90", "--axis", "z", "--mode",
                             "Lumière", "-o", pattern()});
    ASSERT_EQ(fixed.status, 0) << fixed.err;
    const auto kv = keyValues(fixed.out);
    EXPECT_EQ(kv.at("animation"), "turntable");
    EXPECT_EQ(kv.at("rendered"), "3");
    EXPECT_EQ(kv.at("diverged_frames"), "none");
    for (int i = 0; i < 3; ++i) {
        PngTexts texts;
        ASSERT_EQ(readPngTexts(frame(i), texts), PngSceneStatus::Ok);
        EXPECT_NE(texts.scene.find("exposure " + kv.at("exposure_peak")), std::string::npos)
            << texts.scene;
        const std::string again = (dir / ("again" + std::to_string(i) + ".png")).string();
        ASSERT_EQ(runCli({"render", frame(i), "-o", again, "--quiet", "--threads", "1"}).status, 0);
        EXPECT_EQ(pixels(again), pixels(frame(i))) << "frame " << i;
    }
    // Rendered longer, a frame keeps its brightness: its exposure grows with the points
    // plotted (40000 iterations less the 4 streams' transients of 1000, then 76000).
    const std::string longer = (dir / "longer.png").string();
    ASSERT_EQ(runCli({"render", frame(1), "-o", longer, "--iterations", "80000", "--quiet"}).status,
              0);
    PngTexts texts;
    ASSERT_EQ(readPngTexts(longer, texts), PngSceneStatus::Ok);
    const auto at = texts.scene.find("\texposure ");
    ASSERT_NE(at, std::string::npos) << texts.scene;
    EXPECT_NEAR(std::stod(texts.scene.substr(at + 10)),
                std::stod(kv.at("exposure_peak")) * 76000 / 36000, 1e-3);
}

// A journey between two attractor files starts on the first's render and ends on the
// second's, bit for bit; a scene that diverges on the way gives black frames, named, and
// exit status 1, or none with --skip-diverged.
TEST_F(AnimateTest, JourneyEndsOnItsScenesAndReportsDivergingFrames) {
    const std::string b = (dir / "b.qmattr").string();
    std::ofstream(b) << "attractor {\n\ttype lorenz\n\tparameters <10, 20, 4, 0.012>\n}\n";
    const std::string firstStill = (dir / "a.png").string(), lastStill = (dir / "b.png").string();
    for (const auto& [file, still] : {std::pair{kLorenz, firstStill}, std::pair{b, lastStill}}) {
        std::vector<std::string> args = {"render", file, "-o", still};
        args.insert(args.end(), kSmall.begin(), kSmall.end());
        ASSERT_EQ(runCli(args).status, 0);
    }
    Outcome journey = animate({kLorenz, b, "--frames", "4", "--ease", "smooth", "--exposure",
                               "per-frame", "-o", pattern()});
    ASSERT_EQ(journey.status, 0) << journey.err;
    EXPECT_EQ(keyValues(journey.out).at("animation"), "journey");
    EXPECT_EQ(pixels(frame(0)), pixels(firstStill));
    EXPECT_EQ(pixels(frame(3)), pixels(lastStill));
    EXPECT_NE(pixels(frame(1)), pixels(frame(0)));

    // A time step of 0.5 leaves at once: frames 2 to 4 of 5 diverge (the mix passes 0.25).
    const std::string away = (dir / "away.qmattr").string();
    std::ofstream(away) << "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.5>\n}\n";
    fs::remove_all(dir / "frames");
    Outcome black = animate({kLorenz, away, "--frames", "5", "-o", pattern()});
    // The last scene diverges already while it is sampled: nothing to animate towards.
    EXPECT_EQ(black.status, 1) << black.err;
    EXPECT_FALSE(fs::exists(frame(0)));

    // Near the edge of the Euler step's stability, and far below it with a small rho: the
    // mix of the two passes through steps too long for its rho (frames 2 to 4 of 9).
    const std::string edge = (dir / "edge.qmattr").string();
    std::ofstream(edge) << "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.022>\n}\n";
    const std::string far = (dir / "far.qmattr").string();
    std::ofstream(far) << "attractor {\n\ttype lorenz\n\tparameters <10, 8, 2.667, 0.06>\n}\n";
    Outcome diverging =
        animate({edge, far, "--frames", "9", "--exposure", "per-frame", "-o", pattern()});
    const auto kv = keyValues(diverging.out);
    EXPECT_EQ(kv.at("diverged_frames"), "2 3 4");
    EXPECT_EQ(diverging.status, 1);
    EXPECT_NE(diverging.err.find("frame 3: the attractor diverges; the frame is black"),
              std::string::npos)
        << diverging.err;
    EXPECT_TRUE(fs::exists(frame(8)));  // the rest is rendered
    const int first = std::stoi(kv.at("diverged_frames"));
    const QImage blackFrame = pixels(frame(first));
    for (int y = 0; y < blackFrame.height(); ++y)
        for (int x = 0; x < blackFrame.width(); ++x)
            ASSERT_EQ(blackFrame.pixel(x, y), qRgb(0, 0, 0)) << x << ", " << y;

    fs::remove_all(dir / "frames");
    Outcome skipped = animate({edge, far, "--frames", "9", "--skip-diverged", "-o", pattern()});
    EXPECT_EQ(skipped.status, 0) << skipped.err;
    EXPECT_EQ(keyValues(skipped.out).at("diverged_frames"), kv.at("diverged_frames"));
    EXPECT_FALSE(fs::exists(frame(first)));
    EXPECT_TRUE(fs::exists(frame(0)));
}

// --resume renders only the missing frames, to the same bytes, and refuses a frame of
// another animation.
TEST_F(AnimateTest, ResumeRendersTheMissingFramesOnly) {
    const std::vector<std::string> args = {kLorenz, "--frames", "4",      "--turn",
                                           "360",   "-o",       pattern()};
    ASSERT_EQ(animate(args).status, 0);
    const std::string second = slurp(frame(2));
    fs::remove(frame(2));
    std::vector<std::string> resumed = args;
    resumed.push_back("--resume");
    Outcome r = animate(resumed);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(keyValues(r.out).at("kept"), "3");
    EXPECT_EQ(keyValues(r.out).at("rendered"), "1");
    EXPECT_EQ(slurp(frame(2)), second);

    // The frames of a turn of 90 degrees are not those of a whole turn.
    ASSERT_EQ(animate({kLorenz, "--frames", "4", "--turn", "90", "-o", pattern()}).status, 0);
    const std::string foreign = slurp(frame(1));
    Outcome refused = animate(resumed);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("of this animation"), std::string::npos) << refused.err;
    EXPECT_EQ(slurp(frame(1)), foreign);
}

// The video, when ffmpeg is there (scripts/install-deps.sh installs it); a clear refusal
// before any render when it is not.
TEST_F(AnimateTest, VideoThroughFfmpeg) {
    const std::string video = (dir / "turn.mp4").string();
    {
        setenv("QM_FFMPEG", (dir / "no-ffmpeg-here").c_str(), 1);
        Outcome missing =
            animate({kLorenz, "--frames", "2", "--turn", "360", "-o", pattern(), "--video", video});
        unsetenv("QM_FFMPEG");
        EXPECT_EQ(missing.status, 2);
        EXPECT_NE(missing.err.find("needs the ffmpeg program, which is not installed"),
                  std::string::npos)
            << missing.err;
        EXPECT_FALSE(fs::exists(frame(0)));
    }
    if (!findFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";

    Outcome made = animate({kLorenz, "--frames", "3", "--turn", "360", "-o", pattern(), "--video",
                            video, "--fps", "12"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(slurp(video).substr(4, 4), "ftyp");
    EXPECT_TRUE(fs::exists(frame(2)));

    // Without -o and with --no-frames, only the video is left.
    const std::string webm = (dir / "turn.webm").string();
    fs::remove_all(dir / "frames");
    Outcome alone = animate({kLorenz, "--frames", "2", "--turn", "360", "--video", webm});
    ASSERT_EQ(alone.status, 0) << alone.err;
    EXPECT_EQ(slurp(webm).substr(0, 4), "\x1a\x45\xdf\xa3");  // EBML
    std::vector<fs::path> left;
    for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename());
    EXPECT_EQ(left.size(), 2u);  // turn.mp4 and turn.webm
}

TEST_F(AnimateTest, RefusesArgumentsItCannotUse) {
    const std::string out = pattern();
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{kLorenz, "--turn", "360", "-o", out}, "--frames N is required"},
        {{kLorenz, "--frames", "3", "-o", out}, "--turn DEGREES is required"},
        {{kLorenz, kLorenz, "--frames", "3", "--turn", "90", "-o", out}, "not a journey"},
        {{kLorenz, "--frames", "3", "--turn", "90", "--ease", "smooth", "-o", out}, "--ease"},
        {{kLorenz, "--frames", "3", "--turn", "90", "--axis", "w", "-o", out}, "--axis takes"},
        {{kLorenz, "--frames", "3", "--turn", "90", "-o", (dir / "f.png").string()},
         "one frame number"},
        {{kLorenz, "--frames", "3", "--turn", "90", "-o", (dir / "f-%d-%d.png").string()},
         "one frame number"},
        {{kLorenz, "--frames", "3", "--turn", "90", "-o", (dir / "f-%d.bmp").string()},
         "must end in .png"},
        {{kLorenz, "--frames", "3", "--turn", "90", "-o", out, "--no-frames"}, "needs --video"},
        {{kLorenz, "--frames", "3", "--turn", "90", "-o", out, "--video", "x.avi"},
         ".mp4 or .webm"},
        {{kLorenz, "--frames", "0", "--turn", "90", "-o", out}, "--frames takes"},
        {{kLorenz, "--frames", "3", "--turn", "90", "-o", out, "--exposure", "auto"},
         "fixed or per-frame"},
        {{kLorenz, QM_TEST_DATA_DIR "/angle_only/angle.map", "--frames", "3", "-o", out}, ""},
    };
    for (const auto& c : cases) {
        const Outcome o = animate(c.args);
        EXPECT_EQ(o.status, 2) << c.args[1] << ' ' << c.args[2] << ": " << o.err;
        EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    }
    EXPECT_FALSE(fs::exists(dir / "frames"));

    // Scenes of other kinds make no journey.
    const std::string icon = (dir / "icon.qmattr").string();
    std::ofstream(icon) << slurp(QM_DATA_DIR "/examples/icon.qmattr");
    const Outcome kinds = animate({kLorenz, icon, "--frames", "3", "-o", out});
    EXPECT_EQ(kinds.status, 2);
    EXPECT_NE(kinds.err.find("same kind"), std::string::npos) << kinds.err;
}

}  // namespace
}  // namespace qm::cli
