// The bounded readers: what they refuse unread, and where their caps fall.
#include "core/file/input_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace qm {
namespace {

namespace fs = std::filesystem;

class InputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm-input-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    fs::path write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }
    fs::path dir;
};

TEST_F(InputFileTest, AnythingButARegularFileIsRefusedUnreadAndAtOnce) {
    // A pipe without a writer would block a plain open forever; /dev/zero never ends.
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = (dir / "socket").string();
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    fs::create_symlink("/dev/zero", dir / "zero.map");
    fs::create_symlink("pipe", dir / "link-to-pipe");
    fs::create_directory(dir / "folder");

    for (const fs::path& p : {dir / "pipe", dir / "socket", dir / "zero.map", dir / "link-to-pipe",
                              dir / "folder", fs::path("/dev/urandom")}) {
        std::string text = "stale";
        EXPECT_EQ(readTextFile(p, TextLimits{}, text), ReadStatus::NotRegular) << p;
        EXPECT_TRUE(text.empty());
        InputFile file;
        EXPECT_EQ(file.open(p), ReadStatus::NotRegular) << p;
    }
    close(sock);

    std::string text;
    int error = 0;
    EXPECT_EQ(readTextFile(dir / "missing", TextLimits{}, text, &error), ReadStatus::CannotOpen);
    EXPECT_EQ(error, ENOENT);
}

TEST_F(InputFileTest, TextCapsFallExactlyAtTheirLimits) {
    const TextLimits limits{100, 3};
    std::string text;
    EXPECT_EQ(readTextFile(write("bytes", std::string(100, 'a')), limits, text), ReadStatus::Ok);
    EXPECT_EQ(text.size(), 100u);
    EXPECT_EQ(readTextFile(write("more", std::string(101, 'a')), limits, text),
              ReadStatus::TooLarge);
    // Three lines, the last without its line feed; then a fourth, even an empty one.
    EXPECT_EQ(readTextFile(write("three", "a\n\nc"), limits, text), ReadStatus::Ok);
    EXPECT_EQ(readTextFile(write("three-ended", "a\n\nc\n"), limits, text), ReadStatus::Ok);
    EXPECT_EQ(readTextFile(write("four", "a\n\nc\n\n"), limits, text), ReadStatus::TooManyLines);
    EXPECT_EQ(readTextFile(write("nul", std::string("a\0b", 3)), limits, text),
              ReadStatus::NotText);
    EXPECT_EQ(readTextFile(dir / "nul", TextLimits{100, 3, true}, text), ReadStatus::Ok);
    EXPECT_EQ(text.size(), 3u);
}

TEST_F(InputFileTest, ADescriptorIsReadUpToItsCapAndNoFurther) {
    // An endless writer: the reader stops one byte past the cap and reports it.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::thread writer([fd = fds[1]] {
        const std::string chunk(4096, 'x');
        while (::write(fd, chunk.data(), chunk.size()) > 0) {
        }
        close(fd);
    });
    std::string text;
    EXPECT_EQ(readTextDescriptor(fds[0], TextLimits{10000}, text), ReadStatus::TooLarge);
    EXPECT_EQ(text.size(), 10001u);
    close(fds[0]);  // the writer gets EPIPE (SIGPIPE is ignored below) and ends
    writer.join();

    const int zero = open("/dev/zero", O_RDONLY);
    EXPECT_EQ(readTextDescriptor(zero, TextLimits{}, text), ReadStatus::NotRegular);
    close(zero);
}

TEST_F(InputFileTest, BinaryFileKnowsItsSizeAndNeverReadsPastIt) {
    InputFile file;
    ASSERT_EQ(file.open(write("state", "0123456789")), ReadStatus::Ok);
    EXPECT_EQ(file.size(), 10u);
    char head[4];
    ASSERT_EQ(file.read(head, 4), ReadStatus::Ok);
    EXPECT_EQ(std::string(head, 4), "0123");
    std::string rest;
    EXPECT_EQ(file.readRest(rest, 5), ReadStatus::TooLarge);
    EXPECT_EQ(file.readRest(rest, 6), ReadStatus::Ok);
    EXPECT_EQ(rest, "456789");
    EXPECT_EQ(file.read(head, 1), ReadStatus::ReadFailed);
}

}  // namespace
}  // namespace qm

// A closed pipe must not kill the test program.
static const bool kIgnoreSigpipe = [] {
    signal(SIGPIPE, SIG_IGN);
    return true;
}();
