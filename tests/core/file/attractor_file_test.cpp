#include "core/file/attractor_file.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <locale>
#include <sstream>
#include <string>

#include "core/attractor/ifs.h"
#include "core/attractor/julia.h"
#include "core/attractor/kinds.h"
#include "core/attractor/polynomial.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

const std::string kLorenzFile =
    "attractor {\n\ttype lorenz\n\tparameters <10, 14.5, 2.5, 0.01>\n}\n";

LoadResult readString(Parser& parser, const std::string& text) {
    std::istringstream in(text);
    return readAttractor(parser, in);
}

LoadResult readString(const std::string& text) {
    auto parser = makeAttractorParser();
    return readString(*parser, text);
}

std::string writeString(const Attractor& a) {
    auto parser = makeAttractorParser();
    std::ostringstream out;
    EXPECT_TRUE(writeAttractor(*parser, a, out));
    return out.str();
}

std::string lorenzWith(const std::string& parameters) {
    return "attractor {\n\ttype lorenz\n\tparameters " + parameters + "\n}\n";
}

double param(const Attractor& a, int i) {
    return a.params()[i].get();
}

class AttractorFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "qm-attractor-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }
    void writeFile(const fs::path& p, const std::string& bytes) {
        std::ofstream(p, std::ios::binary) << bytes;
    }

    fs::path dir;
    std::unique_ptr<Parser> parser = makeAttractorParser();
};

TEST(AttractorFileLayout, LorenzIsWrittenByteForByte) {
    Lorenz_2L lorenz;
    lorenz.A = 10;
    lorenz.B = 14.5;
    lorenz.C = 2.5;
    lorenz.dT = 0.01;
    EXPECT_EQ(writeString(lorenz), kLorenzFile);
}

TEST(AttractorFileLayout, IfsWritesCountAndCoefficientModeAndContinuesEveryFourValues) {
    IFS ifs(3);
    ifs.setCoefficientMode(true);
    for (int i = 0; i < ifs.params().count(); ++i) ifs.params()[i].set(i);
    EXPECT_EQ(writeString(ifs),
              "attractor {\n\ttype ifs\n\tmatrices 3\n\tcoefficients\n"
              "\tparameters <0, 1, 2, 3,\n"
              "\t            4, 5, 6, 7,\n"
              "\t            8, 9, 10, 11,\n"
              "\t            12, 13, 14, 15,\n"
              "\t            16, 17, 18, 19,\n"
              "\t            20, 21, 22, 23,\n"
              "\t            24, 25, 26, 27,\n"
              "\t            28, 29, 30, 31,\n"
              "\t            32, 33, 34, 35,\n"
              "\t            36, 37, 38>\n}\n");
}

TEST(AttractorFileLayout, SprottWritesItsOrderAndIntegersAsIntegers) {
    Polynomial_Sprott sprott(3);
    const std::string text = writeString(sprott);
    EXPECT_EQ(text.rfind("attractor {\n\ttype polynomial_sprott\n\torder 3\n\tparameters <0, 0", 0),
              0u);
    Julia julia;
    julia.level = 12;
    EXPECT_NE(writeString(julia).find("parameters <12, "), std::string::npos);
}

TEST(AttractorFileRead, ReadsTheLorenzExampleAndSpacedArrays) {
    LoadResult r = readString(kLorenzFile);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.attractor->kind(), AttractorKind::Lorenz);
    EXPECT_EQ(param(*r.attractor, 1), 14.5);

    r = readString("attractor {\r\n type lorenz parameters < 1 , -2.5 , .5 , 4 >\r\n}");
    ASSERT_TRUE(r);
    EXPECT_EQ(param(*r.attractor, 0), 1);
    EXPECT_EQ(param(*r.attractor, 1), -2.5);
    EXPECT_EQ(param(*r.attractor, 2), 0.5);
}

TEST(AttractorFileRead, FilesThatDoNotMatchTheTemplateFailWithTheirLineAndReason) {
    struct Case {
        std::string text;
        ParseError reason;
        std::int32_t line;
    };
    const Case cases[] = {
        {"", ParseError::MissingKeyword, 1},
        {"attractor{\n\ttype lorenz\n\tparameters <1>\n}\n", ParseError::UnknownKeyword, 1},
        {"attractor\n\ttype lorenz\n}\n", ParseError::MissingBrace, 2},
        {"attractor {\n\ttypelorenz\n\tparameters <1>\n}\n", ParseError::UnknownKeyword, 2},
        {"attractor {\n\tType lorenz\n\tparameters <1>\n}\n", ParseError::UnknownKeyword, 2},
        {"attractor {\n\ttype lorenz\n\ttype lorenz\n\tparameters <1>\n}\n", ParseError::Repeated,
         3},
        {"attractor {\n\ttype polynomial_sprott\n\torder 2\n\torder 3\n\tparameters <1>\n}\n",
         ParseError::Repeated, 4},
        {"attractor {\n\ttype ifs\n\tmatrices 2\n\tmatrices 2\n\tparameters <1>\n}\n",
         ParseError::Repeated, 4},
        {kLorenzFile + kLorenzFile, ParseError::Repeated, 5},
        {"attractor {\n\ttype henon\n\tparameters <1>\n}\n", ParseError::BadValue, 2},
        {"attractor {\n\ttype lorenz\n}\n", ParseError::MissingKeyword, 3},
        {"attractor {\n\tparameters <1>\n}\n", ParseError::MissingKeyword, 3},
        {"attractor {\n\ttype lorenz\n\tcolour red\n\tparameters <1>\n}\n",
         ParseError::UnknownKeyword, 3},
        {kLorenzFile + "camera\n", ParseError::UnknownKeyword, 5},
        {lorenzWith("<1e999, 2>"), ParseError::BadValue, 3},
        {lorenzWith("<1,\n\t\t2,\n\t\tx>"), ParseError::BadValue, 5},
        {"attractor {\n\ttype lorenz\n\tparameters <1,\n", ParseError::UnexpectedEnd, 4},
        {"attractor {\n\ttype lorenz\n", ParseError::UnexpectedEnd, 3},
        {kLorenzFile + '\0', ParseError::NotText, 5},
    };
    for (const Case& c : cases) {
        const LoadResult r = readString(c.text);
        EXPECT_FALSE(r) << c.text;
        EXPECT_EQ(r.status, FileStatus::ReadError) << c.text;
        EXPECT_EQ(r.reason, c.reason) << c.text;
        EXPECT_EQ(r.line, c.line) << c.text;
    }
    EXPECT_EQ(readString(kLorenzFile).reason, ParseError::None);
}

TEST(AttractorFileRead, EveryTruncationFailsCleanly) {
    IFS ifs(2);
    for (int i = 0; i < ifs.params().count(); ++i) ifs.params()[i].set(0.125 * i - 1);
    const std::string text = writeString(ifs);
    const std::size_t close = text.rfind('}');
    auto parser = makeAttractorParser();
    for (std::size_t n = 0; n < close; ++n)
        EXPECT_EQ(readString(*parser, text.substr(0, n)).status, FileStatus::ReadError) << n;
    EXPECT_TRUE(readString(*parser, text.substr(0, close + 1)));
}

TEST(AttractorFileRead, ShortArrayKeepsDefaultsAndLongArrayIgnoresExtras) {
    LoadResult r = readString(lorenzWith("<3, 4>"));
    ASSERT_TRUE(r);
    auto fresh = createAttractor(static_cast<std::int8_t>(AttractorKind::Lorenz), 0);
    EXPECT_EQ(param(*r.attractor, 0), 3);
    EXPECT_EQ(param(*r.attractor, 1), 4);
    EXPECT_EQ(param(*r.attractor, 2), param(*fresh, 2));
    EXPECT_EQ(param(*r.attractor, 3), param(*fresh, 3));

    r = readString(lorenzWith("<1, 2, 3, 4, 5, 6, 7>"));
    ASSERT_TRUE(r);
    EXPECT_EQ(r.attractor->params().count(), 4);
    EXPECT_EQ(param(*r.attractor, 3), 4);
}

TEST(AttractorFileRead, CountsAndIntegerParametersAreClampedBeforeConversion) {
    struct Case {
        std::string text;
        AttractorKind kind;
        int count;  // maps or order; -1 for the others
        double first;
    };
    const Case cases[] = {
        {"type polynomial_sprott order 260", AttractorKind::PolynomialSprott, 5, 0},
        {"type polynomial_sprott order -1e30", AttractorKind::PolynomialSprott, 2, 0},
        {"type polynomial_sprott order 3.9", AttractorKind::PolynomialSprott, 3, 0},
        {"type polynomial_sprott", AttractorKind::PolynomialSprott, 2, 0},
        {"type ifs matrices 99", AttractorKind::IFS, 8, 0},
        {"type ifs matrices 1", AttractorKind::IFS, 2, 0},
        {"type ifs", AttractorKind::IFS, 4, 0},
        {"type julia parameters <99>", AttractorKind::Julia, -1, 30},
        {"type julia parameters <-7>", AttractorKind::Julia, -1, 1},
        {"type icon parameters <40>", AttractorKind::Icon, -1, 24},
        {"type icon parameters <1e300>", AttractorKind::Icon, -1, 24},
        {"type icon parameters <7.9>", AttractorKind::Icon, -1, 7},
        // Doubles are taken as they are, even outside their random range.
        {"type lorenz parameters <1000>", AttractorKind::Lorenz, -1, 1000},
        // Counts of other kinds are ignored.
        {"type lorenz order 3 matrices 5 coefficients parameters <2>", AttractorKind::Lorenz, -1,
         2},
    };
    auto parser = makeAttractorParser();
    for (const Case& c : cases) {
        std::string text = "attractor { " + c.text;
        if (c.text.find("parameters") == std::string::npos) text += " parameters <0>";
        const LoadResult r = readString(*parser, text + " }");
        ASSERT_TRUE(r) << c.text;
        const Attractor& a = *r.attractor;
        EXPECT_EQ(a.kind(), c.kind) << c.text;
        if (auto* ifs = dynamic_cast<const IFS*>(&a)) {
            EXPECT_EQ(ifs->count(), c.count) << c.text;
        }
        if (auto* s = dynamic_cast<const Polynomial_Sprott*>(&a)) {
            EXPECT_EQ(s->order(), c.count) << c.text;
        }
        EXPECT_EQ(param(a, 0), c.first) << c.text;
    }
    EXPECT_EQ(readString("attractor { type ifs coefficients parameters <0> }")
                  .attractor->params()
                  .count(),
              4 * 13);
}

TEST_F(AttractorFile, EveryKindRoundTripsExactly) {
    // Decimals of at most 15 significant digits come back as the same doubles.
    const char* decimals[] = {
        "-1.23456789012345", "0.000123456789", "2.5",        "1e-05", "1.5e+20", "-0", "0.1",
        "7.77777777777777",  "-3e-300",        "123456.789", "1e15",  "-0.0625"};
    int next = 0;
    auto check = [&](std::int8_t kind, std::int8_t option, bool coefficients) {
        SCOPED_TRACE(testing::Message() << "kind " << int(kind) << " option " << int(option)
                                        << (coefficients ? " coefficients" : ""));
        auto a = createAttractor(kind, option);
        if (coefficients) dynamic_cast<IFS&>(*a).setCoefficientMode(true);
        for (ParamEntry& e : a->params()) {
            if (e.type == ParamType::Double) {
                const std::string_view d = decimals[next++ % std::size(decimals)];
                double v;
                std::from_chars(d.data(), d.data() + d.size(), v);
                e.set(v);
            } else {
                e.set(e.max());
            }
        }
        const fs::path path = dir / "a.qmattr";
        ASSERT_TRUE(saveAttractor(*parser, *a, path));
        const LoadResult r = loadAttractor(*parser, path);
        ASSERT_TRUE(r);
        const Attractor& b = *r.attractor;
        EXPECT_EQ(b.kindCode(), kind);
        if (auto* ifs = dynamic_cast<const IFS*>(&b)) {
            EXPECT_EQ(ifs->count(), option);
            EXPECT_EQ(ifs->coefficientMode(), coefficients);
        }
        if (auto* s = dynamic_cast<const Polynomial_Sprott*>(&b)) {
            EXPECT_EQ(s->order(), option);
        }
        ASSERT_EQ(b.params().count(), a->params().count());
        for (int i = 0; i < a->params().count(); ++i)
            EXPECT_EQ(std::bit_cast<std::uint64_t>(param(b, i)),
                      std::bit_cast<std::uint64_t>(param(*a, i)))
                << a->params()[i].name << " " << param(*a, i) << " " << param(b, i);
    };
    for (std::int8_t kind = 0; kind < kAttractorKindCount; ++kind) {
        if (kind == static_cast<std::int8_t>(AttractorKind::IFS)) {
            for (std::int8_t n = IFS::kMinCount; n <= IFS::kMaxCount; ++n) {
                check(kind, n, false);
                check(kind, n, true);
            }
        } else if (kind == static_cast<std::int8_t>(AttractorKind::PolynomialSprott)) {
            for (std::int8_t n = Polynomial_Sprott::kMinOrder; n <= Polynomial_Sprott::kMaxOrder;
                 ++n)
                check(kind, n, false);
        } else {
            check(kind, 0, false);
        }
    }
}

TEST_F(AttractorFile, ValuesOfAnEarlierFileDoNotLeakIntoTheNext) {
    ASSERT_TRUE(readString(*parser, "attractor { type ifs matrices 3 parameters <1> }"));
    const LoadResult r = readString(*parser, "attractor { type ifs parameters <1> }");
    ASSERT_TRUE(r);
    EXPECT_EQ(dynamic_cast<const IFS&>(*r.attractor).count(), 4);
}

TEST_F(AttractorFile, LoadReportsMissingLargeAndForeignFiles) {
    EXPECT_EQ(loadAttractor(*parser, dir / "missing.qmattr").status, FileStatus::CannotOpen);
    EXPECT_EQ(loadAttractor(*parser, dir).status, FileStatus::NotRegular);

    // Whitespace padding up to the limit still loads; one byte more is refused unread.
    std::string padded = kLorenzFile;
    padded.resize(kMaxAttractorFileBytes, ' ');
    writeFile(dir / "limit.qmattr", padded);
    EXPECT_TRUE(loadAttractor(*parser, dir / "limit.qmattr"));
    writeFile(dir / "large.qmattr", padded + " ");
    EXPECT_EQ(loadAttractor(*parser, dir / "large.qmattr").status, FileStatus::TooLarge);
    EXPECT_EQ(readString(*parser, padded + " ").status, FileStatus::TooLarge);

    // A file in the writer's own layout comes back byte for byte.
    const fs::path ifsFile = fs::path(QM_TEST_DATA_DIR) / "attractor" / "ifs_3.qmattr";
    const LoadResult ifs = loadAttractor(*parser, ifsFile);
    ASSERT_TRUE(ifs);
    std::ifstream in(ifsFile, std::ios::binary);
    EXPECT_EQ(writeString(*ifs.attractor),
              std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    EXPECT_EQ(
        loadAttractor(*parser, fs::path(QM_TEST_DATA_DIR) / "attractor" / "binary.qmattr").status,
        FileStatus::ReadError);
}

TEST_F(AttractorFile, SaveReportsFailuresAndKeepsThePreviousFile) {
    Lorenz_2L lorenz;
    const fs::path path = dir / "a.qmattr";
    writeFile(path, kLorenzFile);

    lorenz.B = std::nan("");
    EXPECT_EQ(saveAttractor(*parser, lorenz, path).status, FileStatus::InvalidValue);
    lorenz.B = 1;
    const FileResult missing = saveAttractor(*parser, lorenz, dir / "no" / "a.qmattr");
    EXPECT_EQ(missing.status, FileStatus::WriteFailed);
    EXPECT_NE(missing.systemError, 0);
    EXPECT_TRUE(loadAttractor(*parser, path));  // untouched
    EXPECT_EQ(param(*loadAttractor(*parser, path).attractor, 1), 14.5);

    std::ofstream full("/dev/full");
    if (!full) GTEST_SKIP() << "/dev/full is not available";
    EXPECT_EQ(writeAttractor(*parser, lorenz, full).status, FileStatus::WriteFailed);
}

// A program with a French C and C++ locale (comma decimal separator) writes and reads the
// same files as one in the C locale.
TEST_F(AttractorFile, CommaDecimalLocaleChangesNothing) {
    if (!std::setlocale(LC_ALL, "fr_FR.UTF-8"))
        GTEST_SKIP() << "locale fr_FR.UTF-8 is not installed (localedef -i fr_FR -f UTF-8)";
    std::locale::global(std::locale("fr_FR.UTF-8"));
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 2.5);
    EXPECT_STREQ(probe, "2,5");

    Lorenz_2L lorenz;
    lorenz.A = 10;
    lorenz.B = 14.5;
    lorenz.C = 2.5;
    lorenz.dT = 0.01;
    std::ostringstream out;  // takes the global French locale
    EXPECT_TRUE(writeAttractor(*parser, lorenz, out));
    const std::string written = out.str();
    ASSERT_TRUE(saveAttractor(*parser, lorenz, dir / "fr.qmattr"));
    const LoadResult loaded = loadAttractor(*parser, dir / "fr.qmattr");
    std::istringstream in(kLorenzFile + std::string(1000, ' '));
    const LoadResult read = readAttractor(*parser, in);

    std::locale::global(std::locale::classic());
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(written, kLorenzFile);
    ASSERT_TRUE(loaded);
    ASSERT_TRUE(read);
    EXPECT_EQ(param(*loaded.attractor, 1), 14.5);
    EXPECT_EQ(param(*read.attractor, 3), 0.01);
}

TEST(ExampleFiles, EveryShippedExampleLoadsAndIsChaotic) {
    auto parser = makeAttractorParser();
    int found = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QM_DATA_DIR "/examples")) {
        if (entry.path().extension() != ".qmattr") continue;
        ++found;
        seedRandom31(1);  // an IFS draws its chaos-game seed while it loads
        LoadResult loaded = loadAttractor(*parser, entry.path());
        ASSERT_TRUE(loaded) << entry.path();
        loaded.attractor->measure();
        EXPECT_TRUE(loaded.attractor->measuredChaotic()) << entry.path();
    }
    EXPECT_EQ(found, kAttractorKindCount);
}

}  // namespace
}  // namespace qm
