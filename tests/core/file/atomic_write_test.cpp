#include "core/file/atomic_write.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

TEST_F(AtomicWrite, PiecewiseWritePatchesWhatItWroteAndAFailedOneLeavesNoTrace) {
    const fs::path target = dir / "a.bin";
    ASSERT_TRUE(writeFileAtomically(target, "old"));
    // Patching past the end, or giving up, fails the write; the old file stays.
    const WriteResult past = writeFileInPieces(target, [](FileSink& out) {
        out.write("header....");
        out.write("body");
        EXPECT_FALSE(out.writeAt(12, "xyz"));
        EXPECT_FALSE(out.write("more"));  // the first failure sticks
        return true;
    });
    EXPECT_EQ(past.status, WriteStatus::WriteFailed);
    EXPECT_EQ(
        writeFileInPieces(target, [](FileSink& out) { return out.write("x") && false; }).status,
        WriteStatus::WriteFailed);
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(entries(), 1);

    ASSERT_TRUE(writeFileInPieces(target, [](FileSink& out) {
        out.write("header....");
        out.write("body");
        EXPECT_EQ(out.size(), 14u);
        return out.writeAt(6, "1234");
    }));
    EXPECT_EQ(contents(target), "header1234body");
    EXPECT_EQ(entries(), 1);
}

TEST_F(AtomicWrite, MissingFolderFailsToCreate) {
    const WriteResult r = writeFileAtomically(dir / "missing" / "a.txt", "x");
    EXPECT_EQ(r.status, WriteStatus::CannotCreate);
    EXPECT_EQ(r.systemError, ENOENT);
}

TEST_F(AtomicWrite, OnlyARegularFileIsEverReplaced) {
    // A folder, a pipe, a socket and a device, named or behind a link: each refused, untouched,
    // and nothing left beside it.
    fs::create_directory(dir / "folder");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket").string();
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::vector<std::string> targets = {"folder", "pipe", "socket"};
    // A device node of our own (the null device's numbers), never a real one: a faulty
    // writer would replace it.
    if (mknod((dir / "device").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0)
        targets.push_back("device");
    for (const std::string& name : std::vector<std::string>(targets)) {
        fs::create_symlink(name, dir / ("link-" + name));
        targets.push_back("link-" + name);
    }
    const auto count = entries();
    for (const std::string& name : targets) {
        const WriteResult r = writeFileAtomically(dir / name, "x");
        EXPECT_EQ(r.status, WriteStatus::NotRegular) << name;
    }
    close(sock);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_TRUE(fs::is_fifo(dir / "pipe"));
    EXPECT_TRUE(fs::is_socket(dir / "socket"));
    if (fs::exists(dir / "device")) {
        EXPECT_TRUE(fs::is_character_file(dir / "device"));
    }
    EXPECT_EQ(entries(), count);
}

TEST_F(AtomicWrite, NamedTemporaryAsWhereTheFileSystemHasNoAnonymousFile) {
    // The fallback does what the anonymous way does, and leaves nothing behind either.
    detail::setAnonymousTemporaries(false);
    const fs::path target = dir / "a.txt";
    const bool first = static_cast<bool>(writeFileAtomically(target, "first"));
    const bool second = static_cast<bool>(writeFileAtomically(target, "second"));
    const WriteStatus again = writeFileAtomically(target, "third", Replace::Never).status;
    detail::setAnonymousTemporaries(true);
    EXPECT_TRUE(first && second);
    EXPECT_EQ(again, WriteStatus::Exists);
    EXPECT_EQ(contents(target), "second");
    EXPECT_EQ(entries(), 1);
}

TEST_F(AtomicWrite, NeverReplaceKeepsAnExistingFile) {
    const fs::path target = dir / "a.txt";
    ASSERT_TRUE(writeFileAtomically(target, "first", Replace::Never));
    EXPECT_EQ(writeFileAtomically(target, "second", Replace::Never).status, WriteStatus::Exists);
    fs::create_symlink("dangling-target", dir / "link");
    EXPECT_EQ(writeFileAtomically(dir / "link", "through the link", Replace::Never).status,
              WriteStatus::Ok);
    EXPECT_EQ(contents(target), "first");
    EXPECT_EQ(contents(dir / "dangling-target"), "through the link");
    EXPECT_EQ(entries(), 3);
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
