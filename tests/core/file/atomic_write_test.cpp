#include "core/file/atomic_write.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace qm {
namespace {

namespace fs = std::filesystem;

class AtomicWrite : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm-atomic-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(dir, ec);
    }
    static std::string contents(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int entries() const {
        return static_cast<int>(
            std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
    }

    fs::path dir;
};

TEST_F(AtomicWrite, ReplacesTheTargetAndLeavesNoTemporary) {
    const fs::path target = dir / "a.txt";
    ASSERT_TRUE(writeFileAtomically(target, "first"));
    ASSERT_TRUE(writeFileAtomically(target, "second, longer"));
    EXPECT_EQ(contents(target), "second, longer");
    ASSERT_TRUE(writeFileAtomically(target, ""));
    EXPECT_EQ(contents(target), "");
    EXPECT_EQ(entries(), 1);
}

TEST_F(AtomicWrite, MissingFolderFailsToCreate) {
    const WriteResult r = writeFileAtomically(dir / "missing" / "a.txt", "x");
    EXPECT_EQ(r.status, WriteStatus::CannotCreate);
    EXPECT_EQ(r.systemError, ENOENT);
}

TEST_F(AtomicWrite, FailedRenameRemovesTheTemporary) {
    fs::create_directory(dir / "taken");
    const WriteResult r = writeFileAtomically(dir / "taken", "x");
    EXPECT_EQ(r.status, WriteStatus::RenameFailed);
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    EXPECT_EQ(entries(), 1);
}

TEST_F(AtomicWrite, ReadOnlyFolderKeepsThePreviousFile) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
    const fs::path target = dir / "a.txt";
    ASSERT_TRUE(writeFileAtomically(target, "previous"));
    fs::permissions(dir, fs::perms::owner_write, fs::perm_options::remove);
    EXPECT_EQ(writeFileAtomically(target, "new").status, WriteStatus::CannotCreate);
    EXPECT_EQ(contents(target), "previous");
}

TEST_F(AtomicWrite, ReplacedFileKeepsItsPermissionsAndLinksStayLinks) {
    const fs::path target = dir / "a.txt";
    ASSERT_TRUE(writeFileAtomically(target, "old"));
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(target, dir / "link.txt");
    ASSERT_TRUE(writeFileAtomically(dir / "link.txt", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(contents(target), "new");
    EXPECT_EQ(fs::status(target).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

}  // namespace
}  // namespace qm
