// The command-line tool, driven through its entry point with captured output.
#include "cli/cli.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>

#include <QImage>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "run_cli.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

// Runs the tool as a process through the shell (so that a redirection or a ulimit can come
// first); its exit status and standard error.
Outcome runProcess(const std::string& before, const std::string& arguments,
                   const fs::path& errFile) {
    const std::string command = before + " " QM_CLI_EXE " " + arguments + " 2>" + errFile.string();
    const int status = std::system(command.c_str());
    std::ifstream in(errFile);
    return {
        WIFEXITED(status) ? WEXITSTATUS(status) : -1, {}, {std::istreambuf_iterator<char>(in), {}}};
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quillmere_cli_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
               "_" + std::to_string(getpid()));
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(CliTest, InfoReportsTheClassicLorenzAsChaotic) {
    const Outcome r = runCli({"info", QM_TEST_DATA_DIR "/lorenz.qmattr", "--seed", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto kv = keyValues(r.out);
    EXPECT_EQ(kv.at("kind"), "lorenz");
    EXPECT_EQ(kv.at("name"), "Lorenz");
    EXPECT_EQ(kv.count("option"), 0u);
    EXPECT_EQ(kv.at("parameters"), "4");
    EXPECT_EQ(kv.at("param.A"), "10");
    EXPECT_EQ(kv.at("param.C"), "2.66666666666667");
    EXPECT_EQ(kv.at("param.dT"), "0.01");
    EXPECT_EQ(kv.at("iterations"), "20000");
    EXPECT_EQ(kv.at("diverged"), "no");
    EXPECT_GT(std::stod(kv.at("lyapunov")), 0);
    EXPECT_GT(std::stod(kv.at("dimension")), 1);
    EXPECT_LT(std::stod(kv.at("dimension")), 3);
}

TEST_F(CliTest, BadArgumentsExitWithTwoAndWriteNothing) {
    const std::vector<std::vector<std::string>> cases = {
        {"info"},
        {"info", "/nonexistent/file.qmattr"},
        {"info", QM_TEST_DATA_DIR "/lorenz.qmattr", "--seed", "-1"},
        {"search", "--out", dir.string()},
        {"search", "--kind", "lorentz", "--out", dir.string()},
        {"search", "--kind", "11", "--out", dir.string()},
        {"search", "--kind", "lorenz", "--option", "3", "--out", dir.string()},
        {"search", "--kind", "ifs", "--option", "9", "--out", dir.string()},
        {"search", "--kind", "polynomial_sprott", "--option", "1", "--out", dir.string()},
        {"search", "--kind", "icon", "--randomness", "0", "--out", dir.string()},
        {"search", "--kind", "icon", "--randomness", "101", "--out", dir.string()},
        {"search", "--kind", "icon", "--count", "0", "--out", dir.string()},
        {"search", "--kind", "icon", "--threads", "x", "--out", dir.string()},
        {"search", "--kind", "icon"},
        {"search", "--kind", "icon", "--bogus", "1", "--out", dir.string()},
        {"render"},
    };
    for (const auto& args : cases) {
        const Outcome r = runCli(args);
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_FALSE(r.err.empty()) << args.back();
        EXPECT_TRUE(r.out.empty()) << args.back();
    }
    EXPECT_FALSE(fs::exists(dir));
}

TEST_F(CliTest, SearchWritesNumberedFindsThatAreChaotic) {
    const Outcome r = runCli({"search", "--kind", "icon", "--count", "2", "--seed", "7", "--out", dir.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("found: " + (dir / "0001.qmattr").string() + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("found: " + (dir / "0002.qmattr").string() + "\n"), std::string::npos);
    const auto kv = keyValues(r.out);
    EXPECT_EQ(kv.at("accepted"), "2");
    EXPECT_GE(std::stoll(kv.at("trials")), 2);
    for (const char* name : {"0001.qmattr", "0002.qmattr"}) {
        const Outcome info = runCli({"info", (dir / name).string(), "--seed", "3"});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(keyValues(info.out).at("kind"), "icon");
    }
}

TEST_F(CliTest, SameSeedAndThreadsWriteTheSameFiles) {
    for (const char* threads : {"1", "2"}) {
        const fs::path a = dir / "a", b = dir / "b";
        const std::vector<std::string> common = {"search", "--kind", "polynomial_sprott", "--option", "3",
                                                 "--count", "3", "--randomness", "50", "--seed", "99",
                                                 "--threads", threads, "--out"};
        auto argsA = common, argsB = common;
        argsA.push_back(a.string());
        argsB.push_back(b.string());
        ASSERT_EQ(runCli(argsA).status, 0);
        ASSERT_EQ(runCli(argsB).status, 0);
        for (const char* name : {"0001.qmattr", "0002.qmattr", "0003.qmattr"}) {
            ASSERT_TRUE(fs::exists(a / name)) << threads << ' ' << name;
            EXPECT_EQ(slurp(a / name), slurp(b / name)) << threads << ' ' << name;
        }
        fs::remove_all(dir);
    }
}

TEST_F(CliTest, SearchStopsWhenTheBudgetRunsOut) {
    const Outcome r = runCli({"search", "--kind", "polynomial_a", "--count", "5", "--max-trials", "3",
                              "--seed", "1", "--out", dir.string()});
    EXPECT_EQ(r.status, 1);
    const auto kv = keyValues(r.out);
    EXPECT_EQ(kv.at("trials"), "3");
    EXPECT_LT(std::stoi(kv.at("accepted")), 5);
    // Standard error says what came of it.
    EXPECT_NE(
        r.err.find("the budget of 3 trials ran out: found " + kv.at("accepted") + " of 5 sets"),
        std::string::npos)
        << r.err;
}

TEST_F(CliTest, EveryCommandPrintsTheSeedItUsed) {
    fs::create_directories(dir);
    const std::string file = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const std::vector<std::vector<std::string>> commands = {
        {"info", file},
        {"search", "--kind", "lorenz", "--max-trials", "1", "--out", (dir / "s").string()},
        {"render", file, "-o", (dir / "r.bmp").string(), "--size", "32x32", "--iterations",
         "20000"}};
    for (std::vector<std::string> args : commands) {
        const Outcome first = runCli(args);
        const std::string seed = keyValues(first.out).at("seed");
        EXPECT_FALSE(seed.empty()) << args.front();
        // The seed printed repeats the run.
        args.insert(args.end(), {"--seed", seed});
        const Outcome again = runCli(args);
        EXPECT_EQ(keyValues(again.out).at("seed"), seed) << args.front();
    }
}

TEST_F(CliTest, RenderPansTheViewLikeTheProgram) {
    fs::create_directories(dir);
    const std::string file = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const auto render = [&](const std::string& name, std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", file,    "-o",           (dir / name).string(),
                                         "--size", "64x48", "--iterations", "50000",
                                         "--seed", "2"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runCli(args);
    };
    const Outcome fitted = render("fitted.bmp", {});
    const Outcome panned = render("panned.bmp", {"--pan", "0.25,-0.125"});
    ASSERT_EQ(panned.status, 0) << panned.err;
    EXPECT_EQ(keyValues(panned.out).at("pan_x"), "0.25");
    EXPECT_EQ(keyValues(panned.out).at("pan_y"), "-0.125");
    EXPECT_NE(slurp(dir / "fitted.bmp"), slurp(dir / "panned.bmp"));
    // The pan it printed gives the same image again.
    const Outcome again = render("again.bmp", {"--pan", keyValues(fitted.out).at("pan_x") + "," +
                                                            keyValues(fitted.out).at("pan_y")});
    EXPECT_EQ(slurp(dir / "fitted.bmp"), slurp(dir / "again.bmp"));
    EXPECT_EQ(render("bad.bmp", {"--pan", "0.5"}).status, 2);
}

TEST_F(CliTest, RenderIsRepeatableInEveryModeAndItsBmpDecodesElsewhere) {
    fs::create_directories(dir);
    for (const char* mode : {"Gaz", "Liquide", "lumiere", "Plasma", "Solide"}) {
        std::string images[2];
        for (int pass = 0; pass < 2; ++pass) {
            const fs::path out = dir / ("image" + std::to_string(pass) + ".bmp");
            const Outcome r = runCli({"render", QM_TEST_DATA_DIR "/lorenz.qmattr", "-o", out.string(),
                                      "--mode", mode, "--size", "70x50", "--iterations", "200000",
                                      "--seed", "4", "--builtin-gradients"});
            ASSERT_EQ(r.status, 0) << mode << ": " << r.err;
            const auto kv = keyValues(r.out);
            EXPECT_EQ(kv.at("width"), "68");  // a multiple of 4
            EXPECT_EQ(kv.at("height"), "50");
            EXPECT_EQ(kv.at("iterations"), "200000");
            EXPECT_EQ(kv.at("diverged"), "no");
            EXPECT_EQ(kv.at("streams"), "16");  // the default
            EXPECT_GE(std::stoi(kv.at("threads")), 1);
            EXPECT_EQ(kv.at("output"), out.string());
            images[pass] = slurp(out);
        }
        EXPECT_EQ(images[0], images[1]) << mode;
    }
    // The same render as PNG (encoded from the rows top-down) and as BMP (our writer, rows
    // bottom-up) decode to the same picture.
    const Outcome bmp = runCli({"render", QM_TEST_DATA_DIR "/lorenz.qmattr", "-o", (dir / "a.bmp").string(),
                                "--size", "64x48", "--iterations", "100000", "--seed", "1", "--rotate", "20,7"});
    const Outcome png = runCli({"render", QM_TEST_DATA_DIR "/lorenz.qmattr", "-o", (dir / "a.png").string(),
                                "--size", "64x48", "--iterations", "100000", "--seed", "1", "--rotate", "20,7"});
    ASSERT_EQ(bmp.status, 0) << bmp.err;
    ASSERT_EQ(png.status, 0) << png.err;
    const QImage fromBmp(QString::fromStdString((dir / "a.bmp").string()));
    const QImage fromPng(QString::fromStdString((dir / "a.png").string()));
    ASSERT_FALSE(fromBmp.isNull());
    EXPECT_EQ(fromBmp.width(), 64);
    EXPECT_EQ(fromBmp.height(), 48);
    EXPECT_EQ(fromBmp.convertToFormat(QImage::Format_RGB32), fromPng.convertToFormat(QImage::Format_RGB32));
    EXPECT_NE(fromBmp.mirrored(false, true).convertToFormat(QImage::Format_RGB32),
              fromPng.convertToFormat(QImage::Format_RGB32));
}

TEST_F(CliTest, RenderReportsItsThreadsAndStreamsAndTheSeedChangesTheImage) {
    fs::create_directories(dir);
    std::string images[3];
    const char* seeds[3] = {"0", "0", "18446744073709551615"};
    const char* threads[3] = {"1", "3", "3"};
    for (int i = 0; i < 3; ++i) {
        const fs::path out = dir / std::string("s").append(std::to_string(i)).append(".bmp");
        const Outcome r =
            runCli({"render", QM_TEST_DATA_DIR "/lorenz.qmattr", "-o", out.string(), "--size",
                    "64x48", "--iterations", "100000", "--seed", "1", "--streams", "5", "--threads",
                    threads[i], "--render-seed", seeds[i]});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto kv = keyValues(r.out);
        EXPECT_EQ(kv.at("threads"), threads[i]);
        EXPECT_EQ(kv.at("streams"), "5");
        EXPECT_EQ(kv.at("render_seed"), seeds[i]);
        EXPECT_EQ(kv.at("iterations"), "100000");
        images[i] = slurp(out);
    }
    EXPECT_EQ(images[0], images[1]);
    EXPECT_NE(images[0], images[2]);
}

TEST_F(CliTest, RenderRejectsBadArgumentsAndReportsFailures) {
    fs::create_directories(dir);
    const std::string file = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const std::string out = (dir / "x.bmp").string();
    const std::vector<std::vector<std::string>> usage = {
        {"render", file},
        {"render", file, "-o", (dir / "x.jpg").string()},
        {"render", file, "-o", out, "--size", "8x8"},
        {"render", file, "-o", out, "--size", "16385x20"},
        {"render", file, "-o", out, "--updates", "0"},
        {"render", file, "-o", out, "--updates", "101"},
        {"render", file, "-o", out, "--iterations", "-1"},
        {"render", file, "-o", out, "--iterations", "1000000000000001"},
        {"render", file, "-o", out, "--streams", "0"},
        {"render", file, "-o", out, "--streams", "257"},
        {"render", file, "-o", out, "--threads", "0"},
        {"render", file, "-o", out, "--render-seed", "-1"},
        {"render", file, "-o", out, "--render-seed", "18446744073709551616"},
        {"render", file, "-o", out, "--scale", "0.00001"},
        {"render", file, "-o", out, "--opacity", "2"},
        {"render", file, "-o", out, "--mode", "Solide", "--luminosity", "2"},
        {"render", file, "-o", out, "--mode", "Brouillard"},
        {"render", file, "-o", out, "--mode", "lumiere", "--speed-map", "/nonexistent.map"},
        {"render", "/nonexistent.qmattr", "-o", out},
    };
    for (const auto& args : usage) {
        const Outcome r = runCli(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_FALSE(fs::exists(out));

    const Outcome unwritable = runCli({"render", file, "-o", (dir / "no" / "such" / "x.bmp").string(),
                                       "--iterations", "20000", "--size", "32x32"});
    EXPECT_EQ(unwritable.status, 3);

    // An Unravel of radius 0 diverges at once: nothing to render, nothing written.
    const fs::path unravel = dir / "unravel.qmattr";
    std::ofstream(unravel) << "attractor {\n\ttype unravel\n\tparameters <0, 0, 0, 1, 1, 1, 0>\n}\n";
    const Outcome diverging = runCli({"render", unravel.string(), "-o", out});
    EXPECT_EQ(diverging.status, 1);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliTest, SearchNeverOverwritesAFindAlreadyInTheFolder) {
    fs::create_directories(dir);
    std::ofstream(dir / "0001.qmattr") << "an earlier find";
    std::ofstream(dir / "0007.qmattr") << "another";
    const Outcome r =
        runCli({"search", "--kind", "icon", "--count", "2", "--seed", "7", "--out", dir.string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "0001.qmattr"), "an earlier find");
    EXPECT_EQ(slurp(dir / "0007.qmattr"), "another");
    EXPECT_NE(r.out.find("found: " + (dir / "0008.qmattr").string() + "\n"), std::string::npos);
    EXPECT_NE(r.out.find("found: " + (dir / "0009.qmattr").string() + "\n"), std::string::npos);
    EXPECT_TRUE(fs::exists(dir / "0009.qmattr"));
}

TEST_F(CliTest, RenderToStandardOutputAndNeverOverASpecialFile) {
    fs::create_directories(dir);
    const std::string file = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const std::vector<std::string> common = {"render",       file,    "--size", "32x32",
                                             "--iterations", "20000", "--seed", "1"};
    auto args = common;
    args.insert(args.end(), {"-o", "-", "--format", "png"});
    const Outcome r = runCli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    // The image on the output, the report on the error stream.
    const QImage image = QImage::fromData(reinterpret_cast<const uchar*>(r.out.data()),
                                          static_cast<int>(r.out.size()), "PNG");
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(keyValues(r.err).at("output"), "-");
    // The encoder streams into the file and into the output alike: the same bytes.
    args = common;
    args.insert(args.end(), {"-o", (dir / "same.png").string()});
    ASSERT_EQ(runCli(args).status, 0);
    EXPECT_TRUE(slurp(dir / "same.png") == r.out);
    args = common;
    args.insert(args.end(), {"-o", "-", "--format", "bmp"});
    EXPECT_EQ(runCli(args).out.substr(0, 2), "BM");
    args = common;
    args.insert(args.end(), {"-o", "-"});
    EXPECT_EQ(runCli(args).status, 2);  // which format?

    // A pipe, a folder, a link to a pipe: refused with 3 and left as they were.
    ASSERT_EQ(mkfifo((dir / "pipe.bmp").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.bmp");
    fs::create_symlink("pipe.bmp", dir / "link.bmp");
    for (const char* name : {"pipe.bmp", "folder.bmp", "link.bmp"}) {
        args = common;
        args.insert(args.end(), {"-o", (dir / name).string()});
        const Outcome refused = runCli(args);
        EXPECT_EQ(refused.status, 3) << name;
        EXPECT_NE(refused.err.find("not a regular file"), std::string::npos) << refused.err;
    }
    EXPECT_TRUE(fs::is_fifo(dir / "pipe.bmp"));
    EXPECT_TRUE(fs::is_directory(dir / "folder.bmp"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.bmp"));
}

// A PNG the tool writes carries its scene: rendering that PNG, or the scene printed from it,
// gives the same file again, in every mode; its 16-bit form lies within one step of it. (The
// count of iterations is no multiple of the update interval: the render loop then develops
// the image after the last point, as the 16-bit image is developed. At a multiple its last
// development comes one point before the end.)
TEST_F(CliTest, PngCarriesItsSceneAndRendersToTheSameFileInEveryMode) {
    fs::create_directories(dir);
    for (const char* mode : {"Gaz", "Liquide", "lumiere", "Plasma", "Solide"}) {
        const fs::path first = dir / "first.png", again = dir / "again.png",
                       deep = dir / "deep.png";
        const fs::path scene = dir / "scene.qmscene", fromScene = dir / "from_scene.png";
        Outcome r = runCli({"render", QM_DATA_DIR "/examples/julia.qmattr", "-o", first.string(),
                            "--mode", mode, "--size", "80x60", "--iterations", "120001", "--seed",
                            "9", "--rotate", "15,-40", "--scale", "0.3"});
        ASSERT_EQ(r.status, 0) << mode << ": " << r.err;
        r = runCli({"render", first.string(), "-o", again.string(), "--quiet"});
        ASSERT_EQ(r.status, 0) << mode << ": " << r.err;
        EXPECT_EQ(slurp(again), slurp(first)) << mode;

        r = runCli({"info", "--scene", first.string()});
        ASSERT_EQ(r.status, 0) << r.err;
        std::ofstream(scene) << r.out;
        r = runCli({"render", scene.string(), "-o", fromScene.string()});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(slurp(fromScene), slurp(first)) << mode;

        r = runCli({"render", first.string(), "-o", deep.string(), "--depth", "16"});
        ASSERT_EQ(r.status, 0) << r.err;
        const QImage bytes(QString::fromStdString(first.string()));
        const QImage wide(QString::fromStdString(deep.string()));
        ASSERT_EQ(wide.depth(), 64) << mode;
        ASSERT_EQ(wide.size(), bytes.size());
        int worst = 0;
        for (int y = 0; y < bytes.height(); ++y)
            for (int x = 0; x < bytes.width(); ++x) {
                const QRgba64 w = wide.pixelColor(x, y).rgba64();
                const QRgb b = bytes.pixel(x, y);
                for (const auto& [sixteen, eight] :
                     {std::pair{w.red(), qRed(b)}, std::pair{w.green(), qGreen(b)},
                      std::pair{w.blue(), qBlue(b)}})
                    worst = std::max(worst, std::abs((sixteen + 128) / 257 - eight));
            }
        EXPECT_LE(worst, 1) << mode;
    }
    const auto kv = keyValues(runCli({"info", (dir / "first.png").string(), "--seed", "1"}).out);
    EXPECT_EQ(kv.at("kind"), "julia");
    EXPECT_EQ(kv.at("render.mode"), "Solide");
    EXPECT_EQ(kv.at("render.width"), "80");
    EXPECT_EQ(kv.at("software").rfind("Quillmere ", 0), 0u);
}

// The streams and their seed are part of the scene: an image rendered with its own renders
// to the same file again, whatever the thread count.
TEST_F(CliTest, SceneKeepsItsStreamsAndRenderSeed) {
    fs::create_directories(dir);
    const fs::path first = dir / "first.png", again = dir / "again.png";
    Outcome r = runCli({"render", QM_DATA_DIR "/examples/lorenz.qmattr", "-o", first.string(),
                        "--size", "64x48", "--iterations", "90001", "--seed", "2", "--streams", "3",
                        "--render-seed", "12345", "--threads", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string scene = runCli({"info", "--scene", first.string()}).out;
    EXPECT_NE(scene.find("\tstreams 3\n\trender_seed 12345\n"), std::string::npos) << scene;
    r = runCli({"render", first.string(), "-o", again.string(), "--threads", "2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(keyValues(r.out).at("streams"), "3");
    EXPECT_EQ(slurp(again), slurp(first));
}

TEST_F(CliTest, SceneRenderRefusesSettingsOfItsOwnAndWrongScenes) {
    fs::create_directories(dir);
    const fs::path scene = dir / "a.qmscene";
    std::ofstream(scene)
        << "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.01>\n}\nrender {\n"
           "\tmode solid\n\twidth 64\n\theight 48\n}\n";
    const std::string out = (dir / "x.png").string();
    for (const char* option :
         {"--mode", "--size", "--scale", "--gamma", "--seed", "--streams", "--render-seed"}) {
        const Outcome r = runCli({"render", scene.string(), "-o", out, option, "1"});
        EXPECT_EQ(r.status, 2) << option;
    }
    EXPECT_EQ(
        runCli({"render", scene.string(), "-o", (dir / "x.bmp").string(), "--depth", "16"}).status,
        2);
    EXPECT_FALSE(fs::exists(out));
    // Iterations may change; a scene without a camera is fitted.
    const Outcome fitted = runCli({"render", scene.string(), "-o", out, "--iterations", "20000"});
    ASSERT_EQ(fitted.status, 0) << fitted.err;
    EXPECT_EQ(keyValues(fitted.out).at("iterations"), "20000");
    EXPECT_NE(keyValues(fitted.out).at("scale"), "1");

    const fs::path wrong = dir / "wrong.qmscene";
    std::ofstream(wrong)
        << "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.01>\n}\nrender {\n"
           "\tmode solid\n\twidth 6\n}\n";
    const Outcome refused = runCli({"render", wrong.string(), "-o", (dir / "y.png").string()});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("line 7"), std::string::npos) << refused.err;

    // A PNG without a scene.
    QImage plain(16, 16, QImage::Format_RGB32);
    plain.fill(Qt::red);
    const fs::path bare = dir / "bare.png";
    ASSERT_TRUE(plain.save(QString::fromStdString(bare.string())));
    const Outcome none = runCli({"render", bare.string(), "-o", (dir / "z.png").string()});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("no scene"), std::string::npos) << none.err;
}

// A stream that takes nothing, as standard output on a full disk.
class FullBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type) override { return traits_type::eof(); }
    std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST_F(CliTest, UnwritableStandardOutputExitsThree) {
    fs::create_directories(dir);
    FullBuffer full;
    std::ostream out(&full);
    std::ostringstream err;
    const char* argv[] = {"quillmere-cli", "info", QM_TEST_DATA_DIR "/lorenz.qmattr", "--seed",
                          "1"};
    EXPECT_EQ(run(5, argv, out, err), 3);
    EXPECT_NE(err.str().find("standard output"), std::string::npos) << err.str();

    // The process, with its standard output on a full device, for each command.
    const std::string file = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const std::vector<std::string> commands = {
        "--help",
        "info " + file + " --seed 1",
        "render " + file + " -o " + (dir / "x.bmp").string() +
            " --size 32x32 --iterations 20000 --seed 1",
        "search --kind icon --count 1 --seed 7 --out " + (dir / "finds").string(),
    };
    for (const std::string& command : commands) {
        const Outcome r = runProcess("", command + " >/dev/full", dir / "err.txt");
        EXPECT_EQ(r.status, 3) << command << ": " << r.err;
        EXPECT_NE(r.err.find("standard output"), std::string::npos) << command << ": " << r.err;
    }
}

TEST_F(CliTest, OptionsTakeOneNonEmptyValueOnceEach) {
    fs::create_directories(dir);
    const std::string file = QM_TEST_DATA_DIR "/lorenz.qmattr";
    const std::string out = (dir / "x.bmp").string();
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"render", file, "--size", "-o", out}, "option --size needs a value"},
        {{"render", file, "-o", out, "--size", "--quiet"}, "option --size needs a value"},
        {{"render", file, "-o", out, "--size=", "--size", "64x48"}, "option --size needs a value"},
        {{"render", file, "-o", out, "--seed", "1", "--seed", "2"}, "option --seed is given twice"},
        {{"render", file, "-o", out, "-o", out}, "option -o is given twice"},
        {{"render", file, "-o", out, "--quiet", "--quiet"}, "option --quiet is given twice"},
        {{"info", file, "--seed"}, "option --seed needs a value"},
    };
    for (const Case& c : cases) {
        const Outcome r = runCli(c.args);
        EXPECT_EQ(r.status, 2) << c.message;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(out));
    // A negative number is a value, not an option.
    const Outcome rotated = runCli({"render", file, "-o", out, "--size", "32x32", "--iterations",
                                    "20000", "--seed", "1", "--rotate", "-10,5", "--scale=0.5"});
    EXPECT_EQ(rotated.status, 0) << rotated.err;
}

TEST_F(CliTest, RenderRefusesATotalWithinTheTransient) {
    fs::create_directories(dir);
    const std::string out = (dir / "x.bmp").string();
    // Each of the 16 streams of the default render has its own transient.
    for (const char* total : {"0", "1", "5", "1000", "16000"}) {
        const Outcome r =
            runCli({"render", QM_TEST_DATA_DIR "/lorenz.qmattr", "-o", out, "--iterations", total});
        EXPECT_EQ(r.status, 2) << total;
        EXPECT_NE(r.err.find("transient"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(out));
    const Outcome one = runCli({"render", QM_TEST_DATA_DIR "/lorenz.qmattr", "-o", out,
                                "--iterations", "1001", "--streams", "1", "--size", "32x32", "--seed", "1"});
    EXPECT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(keyValues(one.out).at("iterations"), "1001");
}

TEST_F(CliTest, NaNOrbitIsReportedAsDiverged) {
    fs::create_directories(dir);
    const fs::path julia = dir / "julia.qmattr";
    std::ofstream(julia)
        << "attractor {\n\ttype julia\n\tparameters <1e300, 1e300, 1e300, 1e300>\n}\n";
    const Outcome info = runCli({"info", julia.string(), "--seed", "1"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(keyValues(info.out).at("diverged"), "yes");
    EXPECT_EQ(keyValues(info.out).at("chaotic"), "no");
    const fs::path out = dir / "x.bmp";
    const Outcome render = runCli({"render", julia.string(), "-o", out.string(), "--seed", "1"});
    EXPECT_EQ(render.status, 1);
    EXPECT_NE(render.err.find("diverges"), std::string::npos) << render.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliTest, PointsOfAnImageEqualThoseOfItsAttractorFile) {
    // The scene a PNG carries gives the same cloud as the file, mode and seed it was made
    // from; the colours depend on the mode.
    fs::create_directories(dir);
    const std::string lorenz = QM_DATA_DIR "/examples/lorenz.qmattr";
    const fs::path image = dir / "l.png", fromImage = dir / "image.ply",
                   fromFile = dir / "file.ply", solid = dir / "solid.ply";
    Outcome r = runCli({"render", lorenz, "-o", image.string(), "--mode", "Plasma", "--size",
                        "80x60", "--iterations", "20001", "--streams", "1", "--seed", "4",
                        "--quiet"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = runCli({"points", image.string(), "-o", fromImage.string(), "--count", "3000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(keyValues(r.out).at("points"), "3000");
    EXPECT_EQ(keyValues(r.out).at("bytes"), std::to_string(fs::file_size(fromImage)));
    r = runCli({"points", lorenz, "-o", fromFile.string(), "--count", "3000", "--mode", "plasma",
                "--seed", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The records (the headers name the view's size, which the image set).
    auto records = [](const fs::path& p) {
        const std::string all = slurp(p);
        return all.substr(all.find("end_header\n") + 11);
    };
    EXPECT_EQ(records(fromFile).size(), 3000u * 15);
    EXPECT_TRUE(records(fromFile) == records(fromImage));
    r = runCli({"points", lorenz, "-o", solid.string(), "--count", "3000", "--mode", "Solide",
                "--seed", "4"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(records(solid) == records(fromFile));
}

TEST_F(CliTest, PointsRefusesBadArgumentsAndReportsFailures) {
    fs::create_directories(dir);
    const std::string lorenz = QM_DATA_DIR "/examples/lorenz.qmattr";
    const std::string out = (dir / "c.ply").string();
    const std::vector<std::vector<std::string>> usage = {
        {"points", lorenz},
        {"points", lorenz, "-o", "-"},
        {"points", lorenz, "-o", out, "--count", "0"},
        {"points", lorenz, "-o", out, "--count", "100000001"},
        {"points", lorenz, "-o", out, "--mode", "Aquarelle"},
        {"points", (dir / "missing.qmattr").string(), "-o", out},
    };
    for (const auto& args : usage) {
        const Outcome r = runCli(args);
        EXPECT_EQ(r.status, 2) << args.back() << ": " << r.err;
        EXPECT_NE(r.err.find("quillmere-cli points: "), std::string::npos) << r.err;
    }
    const fs::path image = dir / "l.png";
    ASSERT_EQ(runCli({"render", lorenz, "-o", image.string(), "--size", "32x32", "--iterations",
                      "20001", "--quiet"})
                  .status,
              0);
    EXPECT_EQ(runCli({"points", image.string(), "-o", out, "--mode", "Gaz"}).status, 2);

    const fs::path julia = dir / "julia.qmattr";
    std::ofstream(julia)
        << "attractor {\n\ttype julia\n\tparameters <1e300, 1e300, 1e300, 1e300>\n}\n";
    Outcome r = runCli({"points", julia.string(), "-o", out, "--seed", "1"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("diverges"), std::string::npos) << r.err;

    r = runCli({"points", lorenz, "-o", (dir / "no" / "c.ply").string(), "--count", "10"});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliTest, MalformedFileNamesItsLineAndTheReason) {
    fs::create_directories(dir);
    const std::pair<std::string, std::string> cases[] = {
        {"attractor {\n\ttype lorenz\n\tcolour red\n}\n", "line 3: unknown keyword"},
        {"attractor {\n\ttype lorenz\n\tparameters <1, x>\n}\n",
         "line 3: a value that cannot be read"},
        {"attractor {\n\ttype lorenz\n", "line 3: the file ends too early"},
    };
    for (const auto& [text, reason] : cases) {
        const fs::path file = dir / "bad.qmattr";
        std::ofstream(file) << text;
        for (const auto& args :
             {std::vector<std::string>{"info", file.string()},
              std::vector<std::string>{"render", file.string(), "-o", (dir / "x.bmp").string()}}) {
            const Outcome r = runCli(args);
            EXPECT_EQ(r.status, 2);
            EXPECT_NE(r.err.find("file: " + reason), std::string::npos)
                << r.err;
        }
    }
}

TEST_F(CliTest, EmptyColourMapWarnsAndKeepsTheDefaultGradient) {
    fs::create_directories(dir);
    std::ofstream(dir / "empty.map") << "no colour here\n";
    std::string images[2];
    for (int withMap = 0; withMap < 2; ++withMap) {
        const fs::path out = dir / std::string("x").append(std::to_string(withMap)).append(".bmp");
        std::vector<std::string> args = {"render",       QM_TEST_DATA_DIR "/lorenz.qmattr",
                                         "-o",           out.string(),
                                         "--mode",       "Lumière",
                                         "--size",       "32x32",
                                         "--iterations", "20000",
                                         "--seed",       "2"};
        if (withMap) args.insert(args.end(), {"--speed-map", (dir / "empty.map").string()});
        const Outcome r = runCli(args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("holds no colour") != std::string::npos, withMap == 1) << r.err;
        images[withMap] = slurp(out);
    }
    EXPECT_EQ(images[0], images[1]);
}

TEST_F(CliTest, SearchSharesEveryTrialOfTheBudgetAmongTheThreads) {
    // polynomial_a finds rarely, so every thread spends its whole share.
    for (const auto& [trials, threads] :
         {std::pair{"10", "3"}, std::pair{"2", "4"}, std::pair{"7", "1"}}) {
        const Outcome r =
            runCli({"search", "--kind", "polynomial_a", "--count", "9999", "--max-trials", trials,
                    "--threads", threads, "--seed", "1", "--out", dir.string()});
        EXPECT_EQ(keyValues(r.out).at("trials"), trials) << threads;
        fs::remove_all(dir);
    }
}

TEST_F(CliTest, SearchExitsThreeWhenItsFindsCannotBeWritten) {
    fs::create_directories(dir);
    std::ofstream(dir / "file") << "x";
    const Outcome r = runCli(
        {"search", "--kind", "icon", "--seed", "7", "--out", (dir / "file" / "finds").string()});
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_FALSE(r.err.empty());
}

TEST_F(CliTest, SizeBeyondTheMemoryLimitExitsFourWithTheFigures) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer reserves more address space than any ulimit -v leaves";
#endif
    fs::create_directories(dir);
    const Outcome r =
        runProcess("ulimit -v 1000000;",
                   "render " QM_TEST_DATA_DIR "/lorenz.qmattr -o " + (dir / "x.png").string() +
                       " --size 16384x16384 --iterations 20000 --seed 1",
                   dir / "err.txt");
    EXPECT_EQ(r.status, 4) << r.err;
    for (const char* part : {"16384x16384", "Gaz", "4608 MiB", "ulimit -v"})
        EXPECT_NE(r.err.find(part), std::string::npos) << part << " in " << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.png"));
}

}  // namespace
}  // namespace qm::cli
