#include "core/file/data_location.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/property/color_map.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;

// Sets an environment variable for its lifetime.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class DataLocation : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm-data-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    // A file with some text, its folders made on the way.
    void put(const fs::path& file, const std::string& text = "0 0 0\n") {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    // An environment that names only folders under root.
    DataEnvironment nowhere() const {
        return {(root / "home-data").string(), (root / "system-data").string(),
                (root / "home").string()};
    }

    fs::path root;
};

TEST_F(DataLocation, BuildTreeAndPortableCopyFindTheirFilesBesideTheProgram) {
    const fs::path bin = root / "build" / "bin";
    put(bin / "speed.map");
    // The same file installed elsewhere does not win over the one beside the program.
    put(root / "home-data" / "quillmere" / "speed.map");
    const auto folders = dataFolders(bin, nowhere());
    EXPECT_EQ(folders.front(), bin);
    EXPECT_EQ(findDataFile(folders, "speed.map"), bin / "speed.map");
    EXPECT_EQ(findDataFile(folders, "angle.map"), std::nullopt);
}

TEST_F(DataLocation, AnInstalledProgramFindsShareBesideItsBinFolder) {
    const fs::path prefix = root / "usr";
    put(prefix / "share" / "quillmere" / "quillmere.ENU");
    put(root / "system-data" / "quillmere" / "quillmere.ENU");
    const auto folders = dataFolders(prefix / "bin", nowhere());
    EXPECT_EQ(folders.at(1), prefix / "share" / "quillmere");
    EXPECT_EQ(findDataFile(folders, "quillmere.ENU"),
              prefix / "share" / "quillmere" / "quillmere.ENU");
    // A folder of that name is not a data file.
    fs::create_directories(prefix / "bin" / "quillmere.ENU");
    EXPECT_EQ(findDataFile(folders, "quillmere.ENU"),
              prefix / "share" / "quillmere" / "quillmere.ENU");
}

TEST_F(DataLocation, XdgFoldersComeLastUserFirstThenSystemInOrder) {
    const DataEnvironment env{(root / "home-data").string(),
                              "relative/share:" + (root / "a").string() +
                                  "/::" + (root / "b").string() + ":" + (root / "a").string(),
                              (root / "home").string()};
    const fs::path program = root / "opt" / "bin";
    EXPECT_THAT(
        dataFolders(program, env),
        ElementsAre(program, root / "opt" / "share" / "quillmere", root / "home-data" / "quillmere",
                    root / "a" / "quillmere", root / "b" / "quillmere"));

    put(root / "b" / "quillmere" / "angle.map");
    EXPECT_EQ(findDataFile(dataFolders(program, env), "angle.map"),
              root / "b" / "quillmere" / "angle.map");
    put(root / "home-data" / "quillmere" / "angle.map");
    EXPECT_EQ(findDataFile(dataFolders(program, env), "angle.map"),
              root / "home-data" / "quillmere" / "angle.map");
}

TEST_F(DataLocation, UnsetOrRelativeXdgVariablesTakeTheirDefaults) {
    const fs::path program = "/usr/bin";
    EXPECT_THAT(dataFolders(program, {"", "", "/home/u"}),
                ElementsAre("/usr/bin", "/usr/share/quillmere", "/home/u/.local/share/quillmere",
                            "/usr/local/share/quillmere"));
    EXPECT_THAT(dataFolders(program, {"not/absolute", "", ""}),
                ElementsAre("/usr/bin", "/usr/share/quillmere", "/usr/local/share/quillmere"));
}

TEST_F(DataLocation, EachDefaultGradientComesFromTheFirstFolderHoldingIt) {
    const fs::path bin = root / "bin";
    put(bin / "angle.map", "0 0 255\n255 255 0\n");
    put(root / "share" / "quillmere" / "angle.map", "255 0 0\n");
    put(root / "share" / "quillmere" / "speed.map", "0 255 0\n0 0 255\n");
    Gradientf speed;
    Gradientf angle;
    loadDefaultGradients(dataFolders(bin, nowhere()), speed, angle);
    ASSERT_EQ(speed.count(), 2u);
    EXPECT_EQ(speed.stops().front().color, (ColorRGBf{0.0f, 1.0f, 0.0f}));
    ASSERT_EQ(angle.count(), 2u);
    EXPECT_EQ(angle.stops().front().color, (ColorRGBf{0.0f, 0.0f, 1.0f}));

    // Nowhere at all: the built-in ramps.
    loadDefaultGradients(dataFolders(root / "elsewhere" / "bin", nowhere()), speed, angle);
    EXPECT_EQ(speed.count(), 7u);
}

TEST_F(DataLocation, LocateFallsBackToTheFileBesideTheProgram) {
    ScopedVariable home("XDG_DATA_HOME", (root / "home-data").string());
    ScopedVariable dirs("XDG_DATA_DIRS", (root / "system-data").string());
    const fs::path bin = root / "bin";
    EXPECT_EQ(locateDataFile(bin, "speed.map"), bin / "speed.map");
    put(root / "system-data" / "quillmere" / "speed.map");
    EXPECT_EQ(locateDataFile(bin, "speed.map"), root / "system-data" / "quillmere" / "speed.map");
}

}  // namespace
}  // namespace qm
