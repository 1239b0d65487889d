// The point cloud: its header and records against the orbit iterated here, the colours of
// each mode family, the text form against the binary one, chunk boundaries, and the cases
// that must leave no file (stop, divergence, bad count, unwritable folder).
#include "core/cloud/point_cloud.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/file/attractor_file.h"
#include "core/property/color_map.h"
#include "core/render/render_loop.h"
#include "core/scene/scene.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

struct Record {
    float x, y, z;
    CloudColor c;
};

struct Ply {
    std::string format;
    std::uint64_t count = 0;
    std::vector<Record> records;
};

// A small reader of what the writer writes, independent of it: header lines, then records.
Ply readPly(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Ply ply;
    const auto end = data.find("end_header\n");
    EXPECT_NE(end, std::string::npos);
    std::istringstream header(data.substr(0, end));
    for (std::string line; std::getline(header, line);) {
        if (line.rfind("format ", 0) == 0) ply.format = line.substr(7);
        if (line.rfind("element vertex ", 0) == 0) ply.count = std::stoull(line.substr(15));
    }
    const char* p = data.data() + end + 11;
    const char* const last = data.data() + data.size();
    if (ply.format == "binary_little_endian 1.0") {
        EXPECT_EQ(static_cast<std::uint64_t>(last - p), ply.count * 15);
        for (; p + 15 <= last; p += 15) {
            Record r;
            std::uint32_t b[3];
            for (int k = 0; k < 3; ++k) {
                const auto* u = reinterpret_cast<const unsigned char*>(p + 4 * k);
                b[k] = u[0] | u[1] << 8 | u[2] << 16 | static_cast<std::uint32_t>(u[3]) << 24;
            }
            r.x = std::bit_cast<float>(b[0]);
            r.y = std::bit_cast<float>(b[1]);
            r.z = std::bit_cast<float>(b[2]);
            r.c = {static_cast<std::uint8_t>(p[12]), static_cast<std::uint8_t>(p[13]),
                   static_cast<std::uint8_t>(p[14])};
            ply.records.push_back(r);
        }
    } else {
        std::istringstream body(std::string(p, last));
        for (std::string line; std::getline(body, line);) {
            std::istringstream fields(line);
            std::string x, y, z;
            int r, g, b;
            fields >> x >> y >> z >> r >> g >> b;
            Record rec;
            std::from_chars(x.data(), x.data() + x.size(), rec.x);
            std::from_chars(y.data(), y.data() + y.size(), rec.y);
            std::from_chars(z.data(), z.data() + z.size(), rec.z);
            rec.c = {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                     static_cast<std::uint8_t>(b)};
            ply.records.push_back(rec);
        }
    }
    return ply;
}

// The Lorenz file of the test data, opened as a scene in a mode: the attractor and the
// prepared target.
struct Opened {
    std::unique_ptr<Attractor> attractor;
    std::unique_ptr<TBitmap3D> target;
};

Opened openLorenz(int mode, std::int32_t width = 160, std::int32_t height = 120) {
    auto parser = makeAttractorParser();
    LoadResult loaded = loadAttractor(*parser, fs::path(QM_TEST_DATA_DIR) / "lorenz.qmattr");
    EXPECT_TRUE(loaded);
    RenderScene scene;
    scene.mode = mode;
    scene.width = width;
    scene.height = height;
    scene.previewRandom = 0;
    Gradientf speed, angle;
    setBuiltinSpeedGradient(speed);
    setBuiltinAngleGradient(angle);
    Opened o;
    o.attractor = std::move(loaded.attractor);
    PreparedScene prepared = prepareScene(*o.attractor, scene, speed, angle);
    EXPECT_TRUE(prepared.bounded);
    o.target = std::move(prepared.target);
    return o;
}

class PointCloudTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qm_cloud_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_F(PointCloudTest, RecordsAreTheOrbitAfterTheTransientInEveryModeFamily) {
    // More than two of the writer's chunks, so that the Light family's look-ahead crosses them.
    constexpr std::uint64_t kCount = 70001;
    for (int mode : {0, 2, 4}) {
        SCOPED_TRACE(mode);
        Opened o = openLorenz(mode);
        CloudControl control;
        CloudSettings settings;
        settings.count = kCount;
        const fs::path out = dir_ / "cloud.ply";
        const CloudResult r = writePointCloud(out, *o.attractor, *o.target, settings, control);
        ASSERT_TRUE(r);
        EXPECT_EQ(r.bytes, fs::file_size(out));
        EXPECT_DOUBLE_EQ(control.progress.load(), 1.0);

        const Ply ply = readPly(out);
        EXPECT_EQ(ply.format, "binary_little_endian 1.0");
        EXPECT_EQ(ply.count, kCount);
        ASSERT_EQ(ply.records.size(), kCount);

        // The render's orbit, one iterate at a time.
        o.attractor->restart();
        threadRandom31().state = 0;
        for (int i = 0; i < kRenderTransient; ++i) o.attractor->iterate();
        for (std::uint64_t i = 0; i < kCount; ++i) {
            o.attractor->iterate();
            const Vecd& p = o.attractor->currentPoint();
            const Record& rec = ply.records[i];
            ASSERT_EQ(rec.x, static_cast<float>(p.x)) << "point " << i;
            ASSERT_EQ(rec.y, static_cast<float>(p.y)) << "point " << i;
            ASSERT_EQ(rec.z, static_cast<float>(p.z)) << "point " << i;
        }
    }
}

TEST_F(PointCloudTest, ColoursFollowTheModeFamily) {
    constexpr std::uint64_t kCount = 40000;
    auto colours = [&](int mode) {
        Opened o = openLorenz(mode);
        CloudControl control;
        CloudSettings settings;
        settings.count = kCount;
        EXPECT_TRUE(writePointCloud(dir_ / "c.ply", *o.attractor, *o.target, settings, control));
        std::vector<CloudColor> c;
        for (const Record& r : readPly(dir_ / "c.ply").records) c.push_back(r.c);
        return c;
    };
    auto distinct = [](const std::vector<CloudColor>& c) {
        std::vector<int> seen(1 << 24);
        int n = 0;
        for (const CloudColor& k : c) n += seen[k.r << 16 | k.g << 8 | k.b]++ == 0;
        return n;
    };

    for (const CloudColor& c : colours(4)) ASSERT_EQ(c, (CloudColor{255, 255, 255}));

    // Gaz and Liquide: grey levels that vary with the density, never black for a point that
    // exists (every point adds to its own pixel).
    for (int mode : {0, 1}) {
        const auto grey = colours(mode);
        for (const CloudColor& c : grey) {
            ASSERT_EQ(c.r, c.g);
            ASSERT_EQ(c.g, c.b);
            ASSERT_GT(c.r, 0);
        }
        EXPECT_GT(distinct(grey), 20);
    }
    // Liquide's grey is the density, like Gaz's, not its surface-tested light.
    EXPECT_EQ(colours(0), colours(1));

    // Lumière and Plasma: the same gradient colours, many of them, not grey.
    const auto light = colours(2);
    EXPECT_EQ(light, colours(3));
    EXPECT_GT(distinct(light), 100);
    int coloured = 0;
    for (const CloudColor& c : light) coloured += c.r != c.g || c.g != c.b;
    EXPECT_GT(coloured, static_cast<int>(kCount) / 2);
}

TEST_F(PointCloudTest, ShorterCloudIsAPrefixAndTextEqualsBinary) {
    // Chunk boundaries fall elsewhere in a shorter cloud: its records must be the longer
    // cloud's first ones, colours included; the text form reads back to the same values.
    Opened o = openLorenz(2);
    CloudControl control;
    CloudSettings settings;
    settings.count = 50000;
    ASSERT_TRUE(writePointCloud(dir_ / "long.ply", *o.attractor, *o.target, settings, control));
    settings.count = 32769;
    ASSERT_TRUE(writePointCloud(dir_ / "short.ply", *o.attractor, *o.target, settings, control));
    settings.format = CloudFormat::Ascii;
    settings.comment = "line one\nLumi\u00e8re";
    ASSERT_TRUE(writePointCloud(dir_ / "text.ply", *o.attractor, *o.target, settings, control));

    const Ply longer = readPly(dir_ / "long.ply"), shorter = readPly(dir_ / "short.ply"),
              text = readPly(dir_ / "text.ply");
    EXPECT_EQ(text.format, "ascii 1.0");
    ASSERT_EQ(shorter.records.size(), 32769u);
    ASSERT_EQ(text.records.size(), 32769u);
    for (std::size_t i = 0; i < shorter.records.size(); ++i) {
        const Record &a = longer.records[i], &b = shorter.records[i], &t = text.records[i];
        ASSERT_TRUE(a.x == b.x && a.y == b.y && a.z == b.z && a.c == b.c) << "point " << i;
        ASSERT_TRUE(t.x == b.x && t.y == b.y && t.z == b.z && t.c == b.c) << "point " << i;
    }
    // A line break in the comment stays within its header line, in ASCII.
    std::ifstream in(dir_ / "text.ply");
    std::string line;
    std::getline(in, line);
    std::getline(in, line);
    std::getline(in, line);
    EXPECT_EQ(line, "comment line one Lumi?re");
}

TEST_F(PointCloudTest, FailuresLeaveThePreviousFileWhole) {
    Opened o = openLorenz(0);
    const fs::path out = dir_ / "keep.ply";
    { std::ofstream(out) << "previous"; }
    CloudSettings settings;
    settings.count = 100000;

    CloudControl stopped;
    stopped.stopRequested = true;
    EXPECT_EQ(writePointCloud(out, *o.attractor, *o.target, settings, stopped).status,
              CloudStatus::Stopped);

    CloudControl control;
    for (std::uint64_t bad : {std::uint64_t{0}, kMaxCloudPoints + 1}) {
        settings.count = bad;
        EXPECT_EQ(writePointCloud(out, *o.attractor, *o.target, settings, control).status,
                  CloudStatus::BadCount);
    }

    // Unravel with R = 0 leaves the bounds at its first step.
    auto unravel = createAttractor(static_cast<std::int8_t>(AttractorKind::Unravel), 0);
    unravel->params().findParam("R")->set(0.0);
    settings.count = 10;
    for (int mode : {0, 4}) {
        auto target = CreateRenderTarget(mode);
        target->SetWidth(16);
        target->SetHeight(16);
        const CloudResult r = writePointCloud(out, *unravel, *target, settings, control);
        EXPECT_EQ(r.status, CloudStatus::Diverged);
        EXPECT_EQ(r.divergedAfter, 1);
    }

    std::ifstream in(out);
    std::string kept;
    std::getline(in, kept);
    EXPECT_EQ(kept, "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1);

    const CloudResult r =
        writePointCloud(dir_ / "missing" / "x.ply", *o.attractor, *o.target, settings, control);
    EXPECT_EQ(r.status, CloudStatus::WriteFailed);
    EXPECT_EQ(r.write.status, WriteStatus::CannotCreate);
}

}  // namespace
}  // namespace qm
