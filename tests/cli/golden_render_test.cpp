// Golden renders: every example attractor in every mode, rendered by the tool exactly as a
// user would, must keep its bytes. The digests were recorded from the classic one-orbit render;
// any change to the iteration, projection, splat or development code that moves a single byte
// of any of these images fails here, with the kind and mode to rerun.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "core/simd_lanes.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;

// FNV-1a, 64 bits: enough to tell images apart, and stable across platforms.
std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string hex(std::uint64_t v) {
    std::ostringstream s;
    s << std::hex << std::setw(16) << std::setfill('0') << v;
    return s.str();
}

struct Golden {
    const char* kind;       // file name in data/examples, without .qmattr
    const char* digest[5];  // Gaz, Liquide, Lumière, Plasma, Solide
};

// 160x120, 300,000 iterations, 10 updates, seed 1, the shipped colour maps.
const Golden kGolden[] = {
    {"icon",
     {"a0860ac8edf10492", "bada3c1f2759b09c", "f8c688e600bc08bf", "226b8319abfe4469",
      "e5673674d6a55043"}},
    {"ifs",
     {"d640f37002fbd53f", "e9d22718b6be1c82", "d9add1f15e1163af", "d5bfbfcca624f1c6",
      "29a0d515433795a1"}},
    {"julia",
     {"7a00bd50076acc84", "866ccef6dbfb414e", "552084556f8b45d6", "48cde10d0b15ef18",
      "59fe8942c4fdc71f"}},
    {"lorenz",
     {"33644fcaf5fdc802", "8c64d47edc052f20", "48c6c76e7a804fe4", "7c9c46e86c4526bf",
      "53752aa19321465c"}},
    {"lorenz_84",
     {"a7758c8fae72ba2c", "d0c2bf8d77ef94c2", "68658f67b3c928b0", "c6ec9ba7ad4c55cc",
      "9984e49cd76af155"}},
    {"pickover",
     {"fc9ea1d0edce89cf", "95457544fae4a4f1", "ac6ef3560d427956", "55c2c4fcc2d5b790",
      "78bbc926917ca3a9"}},
    {"polynomial_a",
     {"7eb7b5c585c77dff", "263acc7903c6a20f", "badab1e8e5f4bcc8", "a72ab379f5ae30f0",
      "5204f03c7ab12479"}},
    {"polynomial_b",
     {"bbb5e6cf56e7dc64", "d37321d4fdd81411", "8ae4bbe070cc7551", "b98511794ad021ff",
      "ed1ec4bbd233555a"}},
    {"polynomial_c",
     {"ee902936c6a5da65", "32408f83f9e7f5e0", "cf623849b287a33f", "4e3edb2faedbda0c",
      "2e60fb90038449a0"}},
    {"polynomial_sprott",
     {"e07d700a825fd750", "806dfab5c0566ac1", "473b61d90230d236", "7c3a66ded926b250",
      "a5e50384e6e07b39"}},
    {"unravel",
     {"b4ac7d99b60faedb", "9cfe34f290065291", "07cef8346f802c1d", "51b4c562b0df7e19",
      "fcdbdcdb3c47e527"}},
};

// The same renders as 16 streams (render seed 0), recorded from the parallel engine. Gaz sums
// in fixed point with several streams; at this size only Julia's and the Sprott polynomial's
// Gaz images changed with that.
const Golden kGoldenStreams[] = {
    {"icon",
     {"e3a353c0fc0f4e84", "4dd9f9d149930b83", "adb9fb4f0b406c9d", "824bc5fb6d427ceb",
      "e50e16b7f18fcaf3"}},
    {"ifs",
     {"3af8264b240b7d8d", "99005955f531cc8e", "87b2da9a1c4101c3", "868fe5dc878bde8d",
      "c00e49fac05ae17d"}},
    {"julia",
     {"16e31ab139a4d745", "b4652b100ad80ce3", "aa371318c5f3c987", "c03a42ec6bc92495",
      "072facab6d63ec41"}},
    {"lorenz",
     {"257863f50bb22291", "ea940660be0b429b", "fbdb79cfd1420d72", "00a81ec07a7f5e41",
      "2ba5f3d091e11809"}},
    {"lorenz_84",
     {"05608c1d857f5dca", "82c86553e5e7f332", "21aaf60385a149d8", "42bf265ac1a4d689",
      "20041a55ea1bc756"}},
    {"pickover",
     {"32f48f7ac8574d3b", "c796639caad0619a", "1c388caa761c06e8", "17eee2f12b33dcf3",
      "e3f8e3ff3634010a"}},
    {"polynomial_a",
     {"dc3dc3d9e138cefb", "6ac88159d9d69814", "95004e107569972d", "8fcd7b53e1af29e7",
      "368c02463941d944"}},
    {"polynomial_b",
     {"619e9a817c2485e5", "6aeeedb562eafc2c", "6ff3082c495c620c", "5238bd22ac751c67",
      "db485cc59d3bfa67"}},
    {"polynomial_c",
     {"367190fed6f5336d", "f8db3cdd801d10b7", "936c49e4647673f6", "3d846beaa6a242ba",
      "35c183336e5272ed"}},
    {"polynomial_sprott",
     {"24c5c6a0d1739fdd", "c39a815492d899d0", "628a788334354517", "ac851d446e4792ec",
      "8b3f6253181700ab"}},
    {"unravel",
     {"058d487effc7a913", "8a5bb501816cd36b", "7709b3440c4ff337", "991325cd5a2ff031",
      "2ac786c0a287d49b"}},
};

std::string renderDigest(const std::string& kind, int mode, const fs::path& out,
                         const std::vector<std::string>& extra = {"--streams", "1"}) {
    std::vector<std::string> args = {"quillmere-cli",
                                     "render",
                                     std::string(QM_DATA_DIR "/examples/") + kind + ".qmattr",
                                     "-o",
                                     out.string(),
                                     "--mode",
                                     std::to_string(mode),
                                     "--size",
                                     "160x120",
                                     "--iterations",
                                     "300000",
                                     "--seed",
                                     "1",
                                     "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    if (mode == 2 || mode == 3) {
        for (const char* a :
             {"--speed-map", QM_DATA_DIR "/speed.map", "--angle-map", QM_DATA_DIR "/angle.map"})
            args.emplace_back(a);
    }
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream stdoutText, stderrText;
    const int status = run(static_cast<int>(argv.size()), argv.data(), stdoutText, stderrText);
    if (status != kExitOk) return "exit " + std::to_string(status) + ": " + stderrText.str();
    std::ifstream in(out, std::ios::binary);
    return hex(fnv1a({std::istreambuf_iterator<char>(in), {}}));
}

TEST(GoldenRender, EveryExampleInEveryModeKeepsItsBytes) {
    const fs::path dir =
        fs::temp_directory_path() / ("quillmere_golden_render_" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const Golden& g : kGolden) {
        for (int mode = 0; mode < 5; ++mode) {
            const std::string digest = renderDigest(g.kind, mode, dir / "image.bmp");
            EXPECT_EQ(digest, g.digest[mode])
                << g.kind << " in mode " << mode << ": rerun with quillmere-cli render "
                << "data/examples/" << g.kind << ".qmattr -o x.bmp --mode " << mode
                << " --size 160x120 --iterations 300000 --seed 1 --streams 1";
        }
    }
    fs::remove_all(dir);
}

// The lit modes use AVX2 where the processor has it; without it, SSE2 alone gives the same bytes.
TEST(GoldenRender, LitModesKeepTheirBytesOnSse2Alone) {
    const fs::path dir =
        fs::temp_directory_path() / ("quillmere_golden_render_sse2_" + std::to_string(getpid()));
    fs::create_directories(dir);
    detail::setAvx2Lanes(false);
    for (const Golden& g : kGolden) {
        for (int mode = 2; mode <= 3; ++mode)
            EXPECT_EQ(renderDigest(g.kind, mode, dir / "image.bmp"), g.digest[mode])
                << g.kind << " in mode " << mode << " on SSE2 alone";
    }
    detail::setAvx2Lanes(true);
    fs::remove_all(dir);
}

TEST(GoldenRender, SixteenStreamsKeepTheirBytes) {
    const fs::path dir =
        fs::temp_directory_path() / ("quillmere_golden_render_streams_" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const Golden& g : kGoldenStreams) {
        for (int mode = 0; mode < 5; ++mode) {
            const std::string digest = renderDigest(g.kind, mode, dir / "image.bmp",
                                                    {"--streams", "16", "--threads", "2"});
            EXPECT_EQ(digest, g.digest[mode])
                << g.kind << " in mode " << mode << ": rerun with quillmere-cli render "
                << "data/examples/" << g.kind << ".qmattr -o x.bmp --mode " << mode
                << " --size 160x120 --iterations 300000 --seed 1 --streams 16";
        }
    }
    fs::remove_all(dir);
}

TEST(GoldenRender, SixteenStreamsGiveTheSameBytesOnAnyThreadCount) {
    // The map chosen by the generator (IFS), random starts and the mirror image (Julia), a
    // flow (Lorenz), in every mode.
    const fs::path dir =
        fs::temp_directory_path() / ("quillmere_golden_render_threads_" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const Golden& g : kGoldenStreams) {
        const std::string kind = g.kind;
        if (kind != "ifs" && kind != "julia" && kind != "lorenz") continue;
        for (int mode = 0; mode < 5; ++mode)
            for (const char* threads : {"1", "3", "7"})
                EXPECT_EQ(renderDigest(kind, mode, dir / "image.bmp",
                                       {"--streams", "16", "--threads", threads}),
                          g.digest[mode])
                    << kind << " in mode " << mode << " on " << threads << " threads";
    }
    fs::remove_all(dir);
}

// The Solid development away from its defaults: gamma other than 1 and the opacity and
// specular powers over their ranges, which the defaults above leave partly unexercised.
TEST(GoldenRender, SolidKeepsItsBytesAtOtherSettings) {
    struct Case {
        const char* kind;
        std::vector<std::string> extra;
        const char* digest;
    };
    const Case cases[] = {
        {"lorenz", {"--gamma", "2.2", "--opacity", "3", "--roughness", "0.05"}, "7c0c1a7e1dc336b3"},
        {"ifs", {"--gamma", "2.2", "--opacity", "3", "--roughness", "0.05"}, "3a6304ff3b40c706"},
        {"lorenz",
         {"--gamma", "5", "--opacity", "10", "--roughness", "0.001", "--rotate", "40,-25"},
         "4157d84dd2834404"},
        {"ifs",
         {"--gamma", "5", "--opacity", "10", "--roughness", "0.001", "--rotate", "40,-25"},
         "31c9a771a6cdddc0"},
    };
    const fs::path dir =
        fs::temp_directory_path() / ("quillmere_golden_solid_" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const Case& c : cases) {
        std::string settings;
        for (const std::string& a : c.extra) settings += " " + a;
        std::vector<std::string> extra = {"--streams", "1"};
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        EXPECT_EQ(renderDigest(c.kind, 4, dir / "image.bmp", extra), c.digest)
            << c.kind << " in Solide with" << settings;
    }
    fs::remove_all(dir);
}

}  // namespace
}  // namespace qm::cli
