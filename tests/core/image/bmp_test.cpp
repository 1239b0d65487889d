#include "core/image/bmp.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace qm {
namespace {

std::uint32_t u32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<std::uint8_t>(s[at + static_cast<std::size_t>(k)]);
    return v;
}

TEST(Bmp, HeaderRowsBottomUpAndPadding) {
    // 2 x 3 pixels, top-down: each row is 6 bytes, padded to 8 in the file.
    std::vector<std::uint8_t> bits;
    for (int line = 0; line < 3; ++line)
        for (int x = 0; x < 2; ++x) {
            bits.push_back(static_cast<std::uint8_t>(line));
            bits.push_back(static_cast<std::uint8_t>(x));
            bits.push_back(200);
        }
    const std::string file = encodeBmp({bits.data(), 2, 3, 6});
    ASSERT_EQ(file.size(), 54u + 3 * 8);
    EXPECT_EQ(file.substr(0, 2), "BM");
    EXPECT_EQ(u32(file, 2), 54u + 24);
    EXPECT_EQ(u32(file, 10), 54u);
    EXPECT_EQ(u32(file, 14), 40u);
    EXPECT_EQ(u32(file, 18), 2u);
    EXPECT_EQ(u32(file, 22), 3u);  // positive: bottom-up
    EXPECT_EQ(u32(file, 26) & 0xffff, 1u);
    EXPECT_EQ(u32(file, 28) & 0xffff, 24u);
    EXPECT_EQ(u32(file, 30), 0u);
    EXPECT_EQ(u32(file, 34), 24u);
    // The first stored row is the bottom scan line (line 2).
    EXPECT_EQ(static_cast<std::uint8_t>(file[54]), 2);
    EXPECT_EQ(static_cast<std::uint8_t>(file[54 + 3 + 1]), 1);  // its second pixel's green
    EXPECT_EQ(file[54 + 6], 0);                                 // padding
    EXPECT_EQ(file[54 + 7], 0);
    EXPECT_EQ(static_cast<std::uint8_t>(file[54 + 2 * 8]), 0);  // the last stored row is line 0
}

TEST(Bmp, WriteFailureIsReportedAndLeavesNothing) {
    std::vector<std::uint8_t> bits(12 * 4, 7);
    const auto dir = std::filesystem::temp_directory_path() /
                     ("quillmere_bmp_test_" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    EXPECT_FALSE(writeBmp(dir / "missing" / "out.bmp", {bits.data(), 4, 4, 12}));
    std::filesystem::create_directories(dir);
    ASSERT_TRUE(writeBmp(dir / "out.bmp", {bits.data(), 4, 4, 12}));
    EXPECT_EQ(std::filesystem::file_size(dir / "out.bmp"), 54u + 4 * 12);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qm
