#include "core/file/parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <locale>
#include <sstream>
#include <streambuf>

namespace qm {
namespace {

// A template with one block of every token kind; "count" may occur twice.
struct Sample {
    Parser parser;
    TokenBlock& block = parser.addBlock("item", false);
    TokenEnum& mode = block.addEnum("mode", false);
    TokenFloat& count = block.addFloat("count", true);
    TokenDouble& scale = block.addDouble("scale", true);
    Token& flag = block.addToken("flag", true);
    TokenFloatArray& floats = block.addFloatArray("floats", true);
    TokenDoubleArray& values = block.addDoubleArray("values", true);

    Sample() {
        mode.addValue("fast");
        mode.addValue("slow");
        values.setValuesPerLine(4);
    }
    bool load(const std::string& text) {
        std::istringstream in(text);
        return parser.load(in);
    }
};

TEST(ParserWrite, PrintsPresentTokensInTemplateOrderWithTabIndent) {
    Sample s;
    s.scale.setValue(0.25);
    s.mode.setIndex(1);
    s.flag.setPresent();
    s.block.setPresent();
    EXPECT_EQ(s.parser.text(), "item {\n\tmode slow\n\tscale 0.25\n\tflag\n}\n");
}

TEST(ParserWrite, ArrayContinuesAfterEveryNthValueUnderTheFirstValue) {
    Sample s;
    for (int i = 1; i <= 9; ++i) s.values.append(i);
    s.floats.append(1.5f);
    s.floats.append(2);
    s.mode.setIndex(0);
    s.block.setPresent();
    EXPECT_EQ(s.parser.text(),
              "item {\n\tmode fast\n\tfloats <1.5, 2>\n"
              "\tvalues <1, 2, 3, 4,\n"
              "\t        5, 6, 7, 8,\n"
              "\t        9>\n}\n");
}

TEST(ParserWrite, NumbersUseFifteenSignificantDigitsInGeneralNotation) {
    Sample s;
    for (double v : {4.0, 0.25, 10.5, 1e-05, 1.5e20, -0.0, 1.0 / 3, 123456789012345678.0, 1e15})
        s.values.append(v);
    s.values.setValuesPerLine(0);
    s.mode.setIndex(0);
    s.block.setPresent();
    EXPECT_EQ(s.parser.text(),
              "item {\n\tmode fast\n\tvalues <4, 0.25, 10.5, 1e-05, 1.5e+20, -0, "
              "0.333333333333333, 1.23456789012346e+17, 1e+15>\n}\n");
}

TEST(ParserRead, ArrayAcceptsSpacesLeadingPointsExponentsAndPlusSigns) {
    Sample s;
    ASSERT_TRUE(s.load("item { mode fast values < 1 , -2.5 ,\n .5,1e-05, 2E+3 ,+4, 1.5e20 > }"));
    EXPECT_EQ(s.values.values(), (std::vector<double>{1, -2.5, 0.5, 1e-05, 2000, 4, 1.5e20}));
}

TEST(ParserRead, ArrayValueIsItsLongestNumberPrefix) {
    Sample s;
    ASSERT_TRUE(s.load("item { mode fast values <1-2, -, 3e, 1e-400, -1e-400> }"));
    ASSERT_EQ(s.values.size(), 5u);
    EXPECT_EQ(s.values[0], 1);
    EXPECT_EQ(s.values[1], 0);
    EXPECT_EQ(s.values[2], 3);
    // Too small for a double: a zero that keeps its sign.
    EXPECT_EQ(s.values[3], 0);
    EXPECT_FALSE(std::signbit(s.values[3]));
    EXPECT_TRUE(std::signbit(s.values[4]));
}

TEST(ParserRead, NumberTokenStopsBeforeTheFirstCharacterOutsideTheNumber) {
    Sample s;
    ASSERT_TRUE(s.load("item { mode slow count 3} "));
    EXPECT_EQ(s.count.value(), 3.0f);
    ASSERT_TRUE(s.load("item { mode slow scale +2.5e-3 }"));
    EXPECT_EQ(s.scale.value(), 2.5e-3);
}

TEST(ParserRead, MalformedInputFails) {
    const char* cases[] = {
        "",                                       // required block missing
        "item{ mode fast }",                      // keyword glued to its brace
        "item mode fast }",                       // no brace
        "item { modefast }",                      // keyword glued to its value
        "item { Mode fast }",                     // keywords are case-sensitive
        "item { mode quick }",                    // not a value name
        "item { mode fast mode slow }",           // enum given twice
        "item { mode fast count 1 count 2 }",     // number given twice
        "item { mode fast } item { mode fast }",  // one occurrence at most
        "item { mode fast } other",               // keyword not in the template
        "item { }",                               // required token missing
        "item { mode fast",                       // ends inside the block
        "item { mode fast values <1, 2",          // ends inside the array
        "item { mode fast values <> }",           // empty array
        "item { mode fast values <1,,2> }",       // empty value
        "item { mode fast values <1;2> }",        // foreign character
        "item { mode fast values 1, 2> }",        // no bracket
        "item { mode fast values <1e999> }",      // overflow
        "item { mode fast values <-1e999> }",     //
        "item { mode fast floats <1e39> }",       // overflow of a float
        "item { mode fast scale 1e999 }",         //
        "item { mode fast scale inf }",           // not a number
        "item { mode fast scale nan }",           //
        "item { mode fast scale 1e }",            // incomplete exponent
        "item { mode fast scale - }",             //
        "item { mode fast count }",               // ends before the number
    };
    for (const char* text : cases) {
        Sample s;
        EXPECT_FALSE(s.load(text)) << '"' << text << '"';
    }
}

TEST(ParserRead, ExtraOccurrenceChecksItsOwnRequiredTokens) {
    Sample s;
    s.block.setMaxOccurrences(2);
    ASSERT_TRUE(s.load("item { mode fast count 1 } item { mode slow count 2 }"));
    ASSERT_EQ(s.block.occurrenceCount(), 2);
    EXPECT_EQ(s.block.findAs<TokenEnum>("mode", 1)->index(), 1);
    EXPECT_EQ(s.block.findAs<TokenFloat>("count", 1)->value(), 2.0f);
    EXPECT_EQ(s.count.value(), 1.0f);
    EXPECT_FALSE(s.load("item { mode fast } item { }"));
    EXPECT_EQ(s.block.find("mode", 2), nullptr);
}

TEST(ParserRead, ResetClearsFlagsAndArraysButKeepsScalarValues) {
    Sample s;
    s.block.setMaxOccurrences(2);
    ASSERT_TRUE(s.load("item { mode slow count 7 values <1> flag } item { mode fast }"));
    s.parser.reset();
    EXPECT_EQ(s.block.occurrenceCount(), 1);
    for (const Token* t : {static_cast<Token*>(&s.block), static_cast<Token*>(&s.mode),
                           static_cast<Token*>(&s.count), static_cast<Token*>(&s.flag),
                           static_cast<Token*>(&s.values)})
        EXPECT_FALSE(t->present()) << t->name();
    EXPECT_EQ(s.values.size(), 0u);
    EXPECT_EQ(s.mode.index(), 1);
    EXPECT_EQ(s.count.value(), 7.0f);
    EXPECT_TRUE(s.parser.present());
}

TEST(ParserRead, StreamFailureIsAnError) {
    Sample s;
    std::istringstream in("item { mode fast }");
    in.setstate(std::ios::badbit);
    EXPECT_FALSE(s.parser.load(in));
}

TEST(ParserRoundTrip, WrittenTextReadsBackToTheSameValues) {
    Sample s;
    const double awkward[] = {0.1,
                              -1e-300,
                              4.94065645841247e-324,
                              1.7976931348623157e308,
                              2.2250738585072014e-308,
                              -123.456e-7,
                              0.0001,
                              9.99999999999999e14};
    for (double v : awkward) s.values.append(v);
    s.floats.append(0.1f);
    s.floats.append(3.4028235e38f);
    s.mode.setIndex(1);
    s.block.setPresent();
    const std::string first = s.parser.text();
    ASSERT_TRUE(s.load(first));
    EXPECT_EQ(s.parser.text(), first);
    EXPECT_EQ(s.floats[0], 0.1f);
    EXPECT_EQ(s.floats[1], 3.4028235e38f);
}

// An endless source of the letter a.
class EndlessBuffer : public std::streambuf {
protected:
    int_type underflow() override {
        static char chunk[4096];
        std::fill(std::begin(chunk), std::end(chunk), 'a');
        setg(chunk, chunk, chunk + sizeof chunk);
        ++refills;
        return traits_type::to_int_type('a');
    }

public:
    int refills = 0;
};

TEST(ReadText, StopsReadingAnEndlessStreamJustPastTheLimit) {
    EndlessBuffer buffer;
    std::istream in(&buffer);
    std::string text;
    EXPECT_EQ(readText(in, 100000, text), TextStatus::TooLarge);
    EXPECT_LE(buffer.refills, 100000 / 4096 + 6);
}

TEST(ReadText, RefusesNulBytesAndAcceptsExactlyTheLimit) {
    std::string text;
    std::istringstream nul(std::string("item {\0}", 8));
    EXPECT_EQ(readText(nul, 100, text), TextStatus::NotText);
    std::istringstream exact(std::string(100, ' '));
    EXPECT_EQ(readText(exact, 100, text), TextStatus::Ok);
    EXPECT_EQ(text.size(), 100u);
}

}  // namespace
}  // namespace qm
