#include "core/property/color_map.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::ElementsAre;

// The nearest float to n / 255, by a single correctly rounded float division.
ColorRGBf bytes(int r, int g, int b) {
    return {static_cast<float>(r) / 255.0f, static_cast<float>(g) / 255.0f,
            static_cast<float>(b) / 255.0f};
}

int load(const std::string& text, Gradientf& g) {
    std::istringstream in(text);
    return loadColorMap(in, g);
}

std::vector<double> positions(const Gradientf& g) {
    std::vector<double> out;
    for (const auto& s : g.stops()) out.push_back(s.position);
    return out;
}

TEST(ColorMap, ScansTheFirstThreeRunsOfAtMostThreeDigits) {
    const std::pair<const char*, ColorRGBf> cases[] = {
        {"255 128 0", bytes(255, 128, 0)},
        {"255,128,0", bytes(255, 128, 0)},
        {"\t 255  128\t0   orange, a comment 9 9 9", bytes(255, 128, 0)},
        {"-12, 5, 7", bytes(12, 5, 7)},
        {"1.5, 2, 3", bytes(1, 5, 2)},
        {"1234 5 6", bytes(123, 4, 5)},
        {"256 300 999", bytes(0, 44, 231)},
        {"r=1\xe9g=2\xff b=3\r", bytes(1, 2, 3)},
    };
    for (const auto& [line, expected] : cases) {
        Gradientf g;
        EXPECT_EQ(load(line, g), 1) << line;
        EXPECT_THAT(g.stops(), ElementsAre(ColorEntry<float>{0.0, expected})) << line;
    }
}

TEST(ColorMap, ComponentsAreTheNearestFloatsToTheByteOver255) {
    Gradientf g;
    load("1 128 255", g);
    EXPECT_EQ(g.stops().front().color, (ColorRGBf{0x1.010102p-8f, 0x1.010102p-1f, 1.0f}));
}

TEST(ColorMap, BlackIsDroppedOnLineZeroOnly) {
    Gradientf g;
    EXPECT_EQ(load("0 0 0\n10 20 30\n", g), 1);
    EXPECT_EQ(g.ColorAt(0.5), bytes(10, 20, 30));
    // Line 0 yields no colour here, so the black on line 1 is kept.
    EXPECT_EQ(load("# 1 2\n0 0 0\n", g), 1);
    EXPECT_EQ(g.ColorAt(0.5), bytes(0, 0, 0));
}

TEST(ColorMap, A256LineMapGivesStopsEvenlyFromZeroToOne) {
    // Alternating colours, so that Simplify keeps every stop.
    const auto map = [](const char* line0) {
        std::string text = std::string(line0) + "\n";
        for (int k = 1; k < 256; ++k) text += k % 2 ? "255 255 255\n" : "0 0 1\n";
        return text;
    };
    for (const auto& [line0, n] : {std::pair{"0 0 0", 255}, std::pair{"0 0 1", 256}}) {
        Gradientf g;
        EXPECT_EQ(load(map(line0), g), n) << line0;
        const std::vector<double> p = positions(g);
        ASSERT_EQ(p.size(), static_cast<std::size_t>(n)) << line0;
        for (int k = 0; k < n; ++k) EXPECT_EQ(p[k], k / double(n - 1)) << line0 << " k=" << k;
    }
}

TEST(ColorMap, LineEndingsAndAMissingFinalLineFeedReadAlike) {
    for (const char* text : {"255 0 0\n0 0 255\n", "255 0 0\r\n0 0 255\r\n", "255 0 0\n0 0 255",
                             "255 0 0\n\n1 2\n0 0 255\n\n"}) {
        Gradientf g;
        EXPECT_EQ(load(text, g), 2) << text;
        EXPECT_THAT(g.stops(), ElementsAre(ColorEntry<float>{0.0, {1.0f, 0.0f, 0.0f}},
                                           ColorEntry<float>{1.0, {0.0f, 0.0f, 1.0f}}))
            << text;
    }
}

TEST(ColorMap, LinearGreyRampReducesToItsEnds) {
    std::string text;
    for (int k = 0; k < 256; ++k)
        text += std::to_string(k) + ' ' + std::to_string(k) + ' ' + std::to_string(k) + '\n';
    Gradientf g;
    EXPECT_EQ(load(text, g), 255);  // line 0 is black
    EXPECT_THAT(g.stops(), ElementsAre(ColorEntry<float>{0.0, bytes(1, 1, 1)},
                                       ColorEntry<float>{1.0, bytes(255, 255, 255)}));
}

TEST(ColorMap, OneColourGivesASingleStopAtZero) {
    Gradientf g;
    EXPECT_EQ(load("no colour here\n10 20 30", g), 1);
    EXPECT_THAT(g.stops(), ElementsAre(ColorEntry<float>{0.0, bytes(10, 20, 30)}));
    EXPECT_EQ(g.ColorAt(0.7), bytes(10, 20, 30));
}

TEST(ColorMap, ScansOnly255CharactersOfALineAndSkipsTheRest) {
    const std::string cutBeforeThirdNumber = std::string(252, ' ') + "7 8 9";  // 9 is at 256
    const std::string fullLength = std::string(247, ' ') + "10 20 30";         // exactly 255
    const std::string restNotALine = std::string(255, 'x') + "40 50 60";
    Gradientf g;
    EXPECT_EQ(load(cutBeforeThirdNumber + "\n" + restNotALine + "\n" + fullLength + "\n" +
                       restNotALine,  // ends the stream inside an over-long line
                   g),
              1);
    EXPECT_THAT(g.stops(), ElementsAre(ColorEntry<float>{0.0, bytes(10, 20, 30)}));
}

TEST(ColorMap, StreamThatFailedToOpenOnlySimplifiesTheGradient) {
    Gradientf g;
    g.AddStop(0.0, {1.0f, 0.0f, 0.0f});
    g.AddStop(0.5, {0.5f, 0.0f, 0.5f});
    g.AddStop(1.0, {0.0f, 0.0f, 1.0f});
    std::ifstream missing(QM_TEST_DATA_DIR "/no_such_file.map");
    ASSERT_FALSE(missing.is_open());
    EXPECT_EQ(loadColorMap(missing, g), 0);
    EXPECT_THAT(g.stops(), ElementsAre(ColorEntry<float>{0.0, {1.0f, 0.0f, 0.0f}},
                                       ColorEntry<float>{1.0, {0.0f, 0.0f, 1.0f}}));
}

TEST(ColorMap, EachLoadReplacesAllStops) {
    Gradientf g;
    load("255 0 0\n0 255 0\n0 0 255\n", g);
    EXPECT_EQ(load("0 0 0\n", g), 0);
    EXPECT_EQ(g.count(), 0u);
    EXPECT_EQ(load("9 9 9\n0 0 255\n", g), 2);
    EXPECT_THAT(positions(g), ElementsAre(0.0, 1.0));
}

TEST(ColorMap, TheColourCapRefusesALargerMapAndKeepsTheGradient) {
    std::string map;
    for (std::size_t k = 0; k < kMaxColorMapColors; ++k)
        map += std::to_string(k % 200 + 1) + " 2 3\n";
    Gradientf g;
    EXPECT_EQ(load(map, g), static_cast<int>(kMaxColorMapColors));
    const auto stops = g.stops();
    // One colour more, and a hundred thousand: refused, the previous stops kept.
    EXPECT_EQ(load(map + "4 5 6\n", g), static_cast<int>(kMaxColorMapColors) + 1);
    EXPECT_EQ(g.stops(), stops);
    std::string huge;
    for (int k = 0; k < 100000; ++k) huge += "1 2 3\n";
    const ColorMapResult r = loadColorMapText(huge, g);
    EXPECT_TRUE(r.tooMany());
    EXPECT_FALSE(r);
    EXPECT_EQ(g.stops(), stops);
}

// Files through the bounded reader give exactly the stops the stream reader gives, NUL bytes,
// long lines and carriage returns included; what is not a regular file, or is too large, is
// refused unread with the gradient kept.
TEST(ColorMapFile, ReadsAsTheStreamReaderAndRefusesSpecialOrHugeFiles) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qm-map-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string tricky = "0 0 0\r\n12,5,7 name\n" + std::string(300, ' ') + "1 2 3\n" +
                               std::string("4 \0 5 6\n", 9) + "7 8 9\n255 1234 5";
    std::ofstream(dir / "tricky.map", std::ios::binary) << tricky;
    for (const std::filesystem::path& p :
         {dir / "tricky.map", std::filesystem::path(QM_DATA_DIR "/speed.map")}) {
        Gradientf fromFile, fromStream;
        const ColorMapResult r = loadColorMapFile(p, fromFile);
        std::ifstream in(p, std::ios::binary);
        EXPECT_EQ(static_cast<int>(r.colors), loadColorMap(in, fromStream)) << p;
        EXPECT_TRUE(r);
        EXPECT_EQ(fromFile.stops(), fromStream.stops()) << p;
    }

    Gradientf g;
    setBuiltinAngleGradient(g);
    const auto stops = g.stops();
    ASSERT_EQ(mkfifo((dir / "pipe.map").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.map");
    for (const char* special : {"/dev/zero", "/dev/urandom"})
        EXPECT_EQ(loadColorMapFile(special, g).read, ReadStatus::NotRegular) << special;
    EXPECT_EQ(loadColorMapFile(dir / "pipe.map", g).read, ReadStatus::NotRegular);
    EXPECT_EQ(loadColorMapFile(dir / "zero.map", g).read, ReadStatus::NotRegular);
    // A sparse file of 5 MB is refused by its size, before any of it is read.
    std::ofstream(dir / "huge.map").close();
    std::filesystem::resize_file(dir / "huge.map", kColorMapLimits.maxBytes + 1);
    EXPECT_EQ(loadColorMapFile(dir / "huge.map", g).read, ReadStatus::TooLarge);
    EXPECT_EQ(g.stops(), stops);
    std::filesystem::remove_all(dir);
}

TEST(DefaultGradients, MissingFilesGiveTheBuiltInRamps) {
    Gradientf speed;
    Gradientf angle;
    loadDefaultGradients(QM_TEST_DATA_DIR "/no_such_folder", speed, angle);
    EXPECT_THAT(positions(speed), ElementsAre(0.0, 0.166, 0.333, 0.5, 0.666, 0.833, 1.0));
    EXPECT_EQ(speed.ColorAt(0.333), (ColorRGBf{0.0f, 1.0f, 0.0f}));
    EXPECT_EQ(speed.stops().back().color, (ColorRGBf{1.0f, 0.0f, 0.0f}));
    EXPECT_THAT(angle.stops(), ElementsAre(ColorEntry<float>{0.0, {0.0f, 0.0f, 0.0f}},
                                           ColorEntry<float>{1.0, {0.5f, 0.5f, 0.5f}}));
}

TEST(DefaultGradients, AMissingSpeedMapDoesNotStopTheAngleMap) {
    Gradientf speed;
    Gradientf angle;
    loadDefaultGradients(QM_TEST_DATA_DIR "/angle_only", speed, angle);
    EXPECT_EQ(speed.count(), 7u);
    EXPECT_THAT(angle.stops(), ElementsAre(ColorEntry<float>{0.0, {0.0f, 0.0f, 1.0f}},
                                           ColorEntry<float>{1.0, {1.0f, 1.0f, 0.0f}}));
}

TEST(DefaultGradients, ShippedMapsHold256ColoursAndLoadSimplified) {
    for (const char* name : {"/speed.map", "/angle.map"}) {
        std::ifstream file(std::string(QM_DATA_DIR) + name);
        Gradientf g;
        EXPECT_EQ(loadColorMap(file, g), 256) << name;
    }
    Gradientf speed;
    Gradientf angle;
    loadDefaultGradients(QM_DATA_DIR, speed, angle);
    EXPECT_GT(speed.count(), 2u);
    EXPECT_LT(speed.count(), 256u);
    EXPECT_EQ(speed.stops().front().position, 0.0);
    EXPECT_EQ(speed.stops().back().position, 1.0);
    EXPECT_EQ(speed.stops().front().color, bytes(255, 0, 0));
    EXPECT_EQ(angle.stops().front().color, bytes(8, 10, 40));
    EXPECT_EQ(angle.stops().back().color, bytes(255, 244, 224));
}

}  // namespace
}  // namespace qm
