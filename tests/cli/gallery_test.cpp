// quillmere-cli gallery, driven through the tool's entry point.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QImage>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "run_cli.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> folderBytes(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir))
        files[e.path().filename().string()] = slurp(e.path());
    return files;
}

class Gallery : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("quillmere_gallery_" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
               std::to_string(getpid()));
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    // A small, quick gallery of Icon sets.
    Outcome gallery(const fs::path& out, std::vector<std::string> extra) {
        std::vector<std::string> args = {"gallery",    "--kind",  "icon",  "--out",
                                         out.string(), "--thumb", "64x48", "--iterations",
                                         "20000",      "--seed",  "5"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runCli(args);
    }
    fs::path dir;
};

TEST_F(Gallery, SameSeedWritesTheSameFilesWhateverTheThreadCount) {
    const Outcome one = gallery(dir / "one", {"--count", "5", "--threads", "1"});
    ASSERT_EQ(one.status, 0) << one.err;
    const Outcome two = gallery(dir / "two", {"--count", "5", "--threads", "2"});
    ASSERT_EQ(two.status, 0) << two.err;
    const auto a = folderBytes(dir / "one");
    const auto b = folderBytes(dir / "two");
    ASSERT_EQ(a.size(), 5u * 2 + 2);  // files and thumbnails, sheet and page
    EXPECT_EQ(a, b);
    for (const char* name : {"0001.qmscene", "0005.png", "sheet.png", "index.html"})
        EXPECT_TRUE(a.contains(name)) << name;

    // The thumbnail carries what the sheet shows; the sheet has a cell per find.
    QImage thumb(QString::fromStdString((dir / "one" / "0001.png").string()));
    EXPECT_EQ(thumb.size(), QSize(64, 48));
    EXPECT_EQ(thumb.text("Kind"), "icon");
    EXPECT_GT(thumb.text("Score").toDouble(), 0.0);
    EXPECT_GE(thumb.text("Dimension").toDouble(), 1.5);
    const QImage sheet(QString::fromStdString((dir / "one" / "sheet.png").string()));
    EXPECT_EQ(sheet.width(), 5 * (64 + 8));
    const std::string page = a.at("index.html");
    for (const char* link : {"href=\"0001.qmscene\"", "src=\"0005.png\"", "icon"})
        EXPECT_NE(page.find(link), std::string::npos) << link;

    // The scene opens framed and drawn as its thumbnail: rendered at the thumbnail's size, it
    // gives the thumbnail's pixels.
    std::string scene = a.at("0001.qmscene");
    EXPECT_NE(scene.find("mode light"), std::string::npos) << scene;
    EXPECT_EQ(thumb.text("quillmere-scene").toStdString(), scene);
    for (const auto& [from, to] : {std::pair{"width 640", "width 64"},
                                   {"height 480", "height 48"},
                                   {"iterations 20000000", "iterations 20000\n\tstreams 1"}}) {
        const auto at = scene.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        scene.replace(at, std::string_view(from).size(), to);
    }
    std::ofstream(dir / "small.qmscene") << scene;
    const Outcome rendered = runCli({"render", (dir / "small.qmscene").string(), "-o",
                                     (dir / "again.png").string(), "--quiet"});
    ASSERT_EQ(rendered.status, 0) << rendered.err;
    EXPECT_EQ(QImage(QString::fromStdString((dir / "again.png").string()))
                  .convertToFormat(QImage::Format_RGB888),
              thumb.convertToFormat(QImage::Format_RGB888));

    // Another seed finds other sets.
    const Outcome other =
        runCli({"gallery", "--kind", "icon", "--out", (dir / "other").string(), "--thumb", "64x48",
                "--iterations", "20000", "--seed", "6", "--count", "1"});
    ASSERT_EQ(other.status, 0) << other.err;
    EXPECT_NE(slurp(dir / "other" / "0001.qmscene"), a.at("0001.qmscene"));
}

TEST_F(Gallery, NumberingGoesOnAfterTheFolderAndTheSheetCoversEveryFind) {
    fs::create_directories(dir);
    fs::copy_file(QM_DATA_DIR "/examples/lorenz.qmattr", dir / "0003.qmattr");
    std::ofstream(dir / "0007.png") << "not ours";
    std::ofstream(dir / "sheet.png") << "old sheet";
    const Outcome r = gallery(dir, {"--count", "2", "--min-score", "0.2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "0003.qmattr"), slurp(QM_DATA_DIR "/examples/lorenz.qmattr"));
    EXPECT_EQ(slurp(dir / "0007.png"), "not ours");
    for (const char* name : {"0008.qmscene", "0008.png", "0009.qmscene", "0009.png"})
        EXPECT_TRUE(fs::exists(dir / name)) << name;
    EXPECT_FALSE(fs::exists(dir / "0010.qmscene"));
    // The earlier find got its thumbnail, measured, and the sheet and page show all three.
    QImage lorenz(QString::fromStdString((dir / "0003.png").string()));
    EXPECT_EQ(lorenz.text("Kind"), "lorenz");
    EXPECT_GT(lorenz.text("Lyapunov").toDouble(), 0.0);
    for (const char* thumb : {"0008.png", "0009.png"})
        EXPECT_GE(QImage(QString::fromStdString((dir / thumb).string())).text("Score").toDouble(),
                  0.2);
    const QImage sheet(QString::fromStdString((dir / "sheet.png").string()));
    EXPECT_EQ(sheet.width(), 3 * (64 + 8));
    const std::string page = slurp(dir / "index.html");
    for (const char* link : {"0003.qmattr", "0008.qmscene", "0009.qmscene"})
        EXPECT_NE(page.find(link), std::string::npos) << link;
}

TEST_F(Gallery, BadArgumentsUnwritableFoldersAndBudgets) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"gallery", "--out", dir.string()},
          {"gallery", "--kind", "nothing", "--out", dir.string()},
          {"gallery", "--kind", "icon"},
          {"gallery", "--kind", "icon", "--out", dir.string(), "--thumb", "8x8"},
          {"gallery", "--kind", "icon", "--out", dir.string(), "--min-score", "1.5"},
          {"gallery", "--kind", "icon", "--out", dir.string(), "--mode", "Crayon"},
          {"gallery", "--kind", "lorenz", "--out", dir.string(), "--option", "3"}}) {
        const Outcome r = runCli(args);
        EXPECT_EQ(r.status, 2) << args[2];
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_FALSE(fs::exists(dir));

    // A folder that cannot be made: under a regular file.
    fs::create_directories(dir);
    std::ofstream(dir / "file") << "x";
    EXPECT_EQ(gallery(dir / "file" / "out", {"--count", "1"}).status, 3);

    // A budget that runs out: what was found is kept and shown.
    const Outcome r = gallery(dir / "budget", {"--count", "50", "--max-trials", "600"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(fs::exists(dir / "budget" / "sheet.png"));
    EXPECT_TRUE(fs::exists(dir / "budget" / "index.html"));
}

}  // namespace
}  // namespace qm::cli
