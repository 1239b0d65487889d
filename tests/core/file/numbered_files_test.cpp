// Numbered finds: numbering goes on after the highest, and a taken name is never replaced.
#include "core/file/numbered_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qm {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(NumberedFiles, NumberingContinuesAfterTheHighestAndSkipsTakenNames) {
    std::string pattern = (fs::temp_directory_path() / "qm-numbered-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    EXPECT_EQ(highestFileNumber(dir, ".qmattr"), 0);
    EXPECT_EQ(highestFileNumber(dir / "missing", ".qmattr"), 0);
    for (const char* name : {"0001.qmattr", "0007.qmattr", "12.qmattr", "0099.map", "x0200.qmattr",
                             "0300.qmattr.bak", "0400a.qmattr"})
        std::ofstream(dir / name) << name;
    fs::create_directory(dir / "0050.qmattr");  // a folder of that name counts as taken too
    EXPECT_EQ(highestFileNumber(dir, ".qmattr"), 50);
    EXPECT_EQ(numberedFileName(7, ".qmattr"), "0007.qmattr");
    EXPECT_EQ(numberedFileName(12345, ".qmattr"), "12345.qmattr");

    // Number 7 is taken: the find goes to 8, and 7 keeps its bytes.
    std::int64_t n = 7;
    fs::path written;
    ASSERT_TRUE(writeNumberedFile(dir, n, ".qmattr", "find", written));
    EXPECT_EQ(n, 8);
    EXPECT_EQ(written, dir / "0008.qmattr");
    EXPECT_EQ(contents(dir / "0007.qmattr"), "0007.qmattr");
    EXPECT_EQ(contents(written), "find");
    n = 50;
    ASSERT_TRUE(writeNumberedFile(dir, n, ".qmattr", "after the folder", written));
    EXPECT_EQ(n, 51);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qm
