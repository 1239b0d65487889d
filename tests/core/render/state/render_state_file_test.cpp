// The state file: a round trip keeps every value; a damaged, foreign or oversized file is
// refused with its own status, never crashes, and leaves the caller's state alone.
#include "core/render/state/render_state_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace qm {
namespace {

namespace fs = std::filesystem;

RenderState smallState() {
    RenderState s;
    s.scene = "attractor {\n\ttype lorenz\n\tparameters <10, 28, 2.667, 0.01>\n}\n";
    s.set("mode", "4");
    s.set("width", "64");
    s.set("camera.scale", 0.1);
    s.set("text", "é à ü");
    for (int k = 0; k < 2; ++k) {
        StreamState r;
        r.point = {1.5 + k, -2.25, 1e-300};
        r.random = 0xFEDCBA9876543210ull + k;
        r.count = (std::uint64_t{1} << 40) + k;
        r.diverged = k == 1;
        r.before = {1, 2, 3};
        r.last = {4, 5, 6};
        r.plotColor = {0.5f, 0.25f, 2.0f};
        r.orbitMemory = {7, 0, -0.0};
        s.streams.push_back(r);
    }
    s.iterationsDone = 123456789012345ull;
    s.developmentsDone = 7;
    std::vector<float> density(1000);
    for (std::size_t i = 0; i < density.size(); ++i)
        density[i] = static_cast<float>(i % 37) * 0.125f;
    s.addBuffer("density", density);
    s.addBuffer("depth", std::vector<float>(600, 1.0f));
    s.addBuffer("empty", std::vector<float>{});
    s.setValues("light.ranges", {0.1, 0.2, 0.1, -1, 1, 2});
    s.setValues("nothing", {});
    return s;
}

std::string contents(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void put(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::uint32_t crcOf(std::string_view b) {
    return static_cast<std::uint32_t>(
        crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(b.data()), b.size()));
}

template <class T>
T field(const std::string& bytes, std::size_t at) {
    T v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

template <class T>
void setField(std::string& bytes, std::size_t at, T v) {
    std::memcpy(bytes.data() + at, &v, sizeof v);
}

void resealHeader(std::string& bytes) {
    setField(bytes, 108, crcOf(std::string_view(bytes).substr(0, 108)));
}

class StateFile : public ::testing::Test {
protected:
    void SetUp() override {
        // Thousands of small files: in memory where the system offers it.
        const fs::path base =
            fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
        std::string pattern = (base / "qm-statefile-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        file = dir / "s.qmrender";
        ASSERT_TRUE(writeRenderState(file, smallState()));
        bytes = contents(file);
    }
    void TearDown() override { fs::remove_all(dir); }

    // Reads bytes as a file; the state passed in must come back untouched unless Ok.
    StateReadStatus readBytes(const std::string& b, const StateReadOptions& options = {}) {
        const fs::path p = dir / "damaged.qmrender";
        put(p, b);
        RenderState s;
        s.scene = "untouched";
        const StateReadResult r = readRenderState(p, s, options);
        if (!r) {
            EXPECT_EQ(s.scene, "untouched");
        }
        return r.status;
    }

    fs::path dir, file;
    std::string bytes;
};

TEST_F(StateFile, RoundTripKeepsEveryValueAndTheLayoutDeclaresItself) {
    RenderState read;
    ASSERT_TRUE(readRenderState(file, read));
    EXPECT_EQ(read, smallState());
    EXPECT_EQ(bytes.substr(0, 8), "QMRENDER");
    EXPECT_EQ(field<std::uint32_t>(bytes, 8), kRenderStateVersion);
    EXPECT_EQ(field<std::uint64_t>(bytes, 16), bytes.size());
    EXPECT_EQ(field<std::uint32_t>(bytes, 60), 2u);                      // streams
    EXPECT_EQ(field<std::uint64_t>(bytes, 48), 2u * kStreamRecordSize);  // their section
    EXPECT_EQ(field<std::uint32_t>(bytes, 88), 3u);                      // buffers

    // Writing again over it gives the same bytes.
    ASSERT_TRUE(writeRenderState(file, read));
    EXPECT_EQ(contents(file), bytes);
}

TEST_F(StateFile, EveryTruncationIsRefusedAsTruncated) {
    for (std::size_t n = 0; n < bytes.size(); n += n < 200 ? 1 : 13)
        ASSERT_EQ(readBytes(bytes.substr(0, n)), StateReadStatus::Truncated) << n;
}

TEST_F(StateFile, EverySingleByteChangeIsRefused) {
    // Every byte once, with a bit that changes from byte to byte; the stream records' long run
    // of zero orbit memory only every few bytes.
    const std::size_t streamsAt = 112 + field<std::uint64_t>(bytes, 40);
    const std::size_t streamsEnd = streamsAt + field<std::uint64_t>(bytes, 48);
    for (std::size_t i = 0; i < bytes.size(); i += i >= streamsAt + 120 && i < streamsEnd ? 5 : 1) {
        {
            const auto x = static_cast<unsigned char>(i % 9 == 8 ? 0xFF : 1u << (i % 9));
            std::string damaged = bytes;
            damaged[i] = static_cast<char>(damaged[i] ^ x);
            const StateReadStatus expected = i < 8    ? StateReadStatus::NotAState
                                             : i < 12 ? StateReadStatus::OtherVersion
                                                      : StateReadStatus::Corrupt;
            ASSERT_EQ(readBytes(damaged), expected) << "byte " << i << " ^ " << int(x);
        }
    }
    // Bytes after the end the header declares.
    EXPECT_EQ(readBytes(bytes + "x"), StateReadStatus::Corrupt);
}

TEST_F(StateFile, SizesThatDisagreeAreCorruptEvenUnderValidChecksums) {
    // A record size, a stream count and a data size that do not add up to the file.
    for (const auto& [at, delta] :
         std::vector<std::pair<std::size_t, std::uint32_t>>{{56, 8}, {60, 1}, {88, 1}}) {
        std::string damaged = bytes;
        setField(damaged, at, field<std::uint32_t>(damaged, at) + delta);
        resealHeader(damaged);
        EXPECT_EQ(readBytes(damaged), StateReadStatus::Corrupt) << at;
    }
    std::string damaged = bytes;
    setField<std::uint64_t>(damaged, 40, ~0ull);  // a text section of 2^64 - 1 bytes
    resealHeader(damaged);
    EXPECT_EQ(readBytes(damaged), StateReadStatus::Corrupt);
}

TEST_F(StateFile, OtherVersionIsRefusedWithItsNumber) {
    std::string other = bytes;
    setField<std::uint32_t>(other, 8, 2);
    const fs::path p = dir / "v2.qmrender";
    put(p, other);
    RenderState s;
    const StateReadResult r = readRenderState(p, s);
    EXPECT_EQ(r.status, StateReadStatus::OtherVersion);
    EXPECT_EQ(r.version, 2u);
}

TEST_F(StateFile, BuffersLargerThanMemoryAreRefusedBeforeAnythingIsAllocated) {
    // The first directory entry ("density", 7 bytes of name) declares 2^40 floats; every
    // checksum still holds.
    const std::size_t directoryAt = 112 + field<std::uint64_t>(bytes, 40) +
                                    field<std::uint64_t>(bytes, 48) +
                                    field<std::uint64_t>(bytes, 64);
    ASSERT_EQ(bytes.substr(directoryAt + 4, 7), "density");
    std::string huge = bytes;
    setField<std::uint64_t>(huge, directoryAt + 11, std::uint64_t{1} << 40);
    setField(huge, 104,
             crcOf(std::string_view(huge).substr(directoryAt, field<std::uint64_t>(huge, 72))));
    resealHeader(huge);
    EXPECT_EQ(readBytes(huge), StateReadStatus::TooLarge);

    // And a valid state against a limit below what it declares.
    EXPECT_EQ(readBytes(bytes, {.memoryLimit = 4000}), StateReadStatus::TooLarge);
    EXPECT_EQ(readBytes(bytes, {.memoryLimit = 1 << 20}), StateReadStatus::Ok);
    EXPECT_GT(availableMemoryBytes(), 0u);
}

TEST_F(StateFile, WhatIsNoStateFileIsRefusedWithoutWaiting) {
    RenderState s;
    EXPECT_EQ(readRenderState(dir / "missing", s).status, StateReadStatus::CannotOpen);
    EXPECT_EQ(readRenderState(dir, s).status, StateReadStatus::NotRegularFile);
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(readRenderState(fifo, s).status, StateReadStatus::NotRegularFile);
    EXPECT_EQ(readBytes("\x89PNG\r\n\x1a\n and more"), StateReadStatus::NotAState);
    EXPECT_EQ(readBytes("QMRENDEX" + bytes.substr(8)), StateReadStatus::NotAState);
}

TEST_F(StateFile, AFailedWriteLeavesThePreviousStateInPlace) {
    fs::create_directory(dir / "taken.qmrender");
    EXPECT_EQ(writeRenderState(dir / "taken.qmrender", smallState()).status,
              WriteStatus::NotRegular);
    EXPECT_FALSE(writeRenderState(dir / "missing" / "s.qmrender", smallState()));
    EXPECT_EQ(contents(file), bytes);
    // No temporary is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace qm
