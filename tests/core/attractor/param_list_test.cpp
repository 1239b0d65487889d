#include "core/attractor/param_list.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace qm {
namespace {

struct Values {
    char i8 = 0;
    std::uint8_t u8 = 0;
    std::int16_t i16 = 0;
    std::uint16_t u16 = 0;
    std::int32_t i32 = 0;
    std::uint32_t u32 = 0;
    float f = 0;
    double d = 0;
};

constexpr double kLo = -10, kHi = 10;
constexpr char kCharLo = -128, kCharHi = 127;

class ParamListTest : public ::testing::Test {
protected:
    void SetUp() override {
        list.addParam("i8", ParamType::Int8, &v.i8, &kCharLo, &kCharHi, true);
        list.addParam("u8", ParamType::UInt8, &v.u8, &v.u8, &v.u8, false);
        list.addParam("i16", ParamType::Int16, &v.i16, &v.i16, &v.i16, false);
        list.addParam("u16", ParamType::UInt16, &v.u16, &v.u16, &v.u16, false);
        list.addParam("i32", ParamType::Int32, &v.i32, &v.i32, &v.i32, false);
        list.addParam("u32", ParamType::UInt32, &v.u32, &v.u32, &v.u32, false);
        list.addParam("f", ParamType::Float, &v.f, &v.f, &v.f, false);
        list.addParam("d", ParamType::Double, &v.d, &kLo, &kHi, true);
    }
    Values v;
    ParamList list;
};

TEST_F(ParamListTest, SizesFollowTheTypes) {
    EXPECT_EQ(list.count(), 8);
    EXPECT_EQ(list.totalBytes(), 1 + 1 + 2 + 2 + 4 + 4 + 4 + 8);
    EXPECT_EQ(paramTypeSize(static_cast<ParamType>(9)), 8);
    EXPECT_EQ(list[0].min(), -128);
    EXPECT_EQ(list[7].max(), 10);
}

TEST_F(ParamListTest, FindParamIsExactAndCaseSensitive) {
    EXPECT_EQ(list.findParam("i16"), &list[2]);
    EXPECT_EQ(list.findParam("I16"), nullptr);
    EXPECT_EQ(list.findParam("i1"), nullptr);
    EXPECT_EQ(list.findParam(""), nullptr);
    list.setRandomizable("u8", true);
    list.setRandomizable("nope", true);  // ignored
    EXPECT_TRUE(list[1].randomizable);
    list.setRandomizable("d", false);
    EXPECT_FALSE(list[7].randomizable);
}

TEST_F(ParamListTest, StoringTruncatesTowardZeroAndSaturates) {
    list[0].set(-2.9);
    EXPECT_EQ(v.i8, -2);
    list[0].set(300);
    EXPECT_EQ(v.i8, 127);
    list[1].set(-5);
    EXPECT_EQ(v.u8, 0);
    list[4].set(1e300);
    EXPECT_EQ(v.i32, std::numeric_limits<std::int32_t>::max());
    list[4].set(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(v.i32, 0);
    list[6].set(0.1);
    EXPECT_EQ(v.f, 0.1f);
    list[7].set(0.1);
    EXPECT_EQ(v.d, 0.1);
}

TEST_F(ParamListTest, PopRestoresEveryTypeBitExactly) {
    v = {-7, 200, -30000, 60000, -2000000000, 4000000000u, 1.5e-7f, -1.0 / 3};
    const Values saved = v;
    list.pushValues();
    v = {};
    list[7].set(5);
    list.popValues();
    EXPECT_EQ(v.i8, saved.i8);
    EXPECT_EQ(v.u8, saved.u8);
    EXPECT_EQ(v.i16, saved.i16);
    EXPECT_EQ(v.u16, saved.u16);
    EXPECT_EQ(v.i32, saved.i32);
    EXPECT_EQ(v.u32, saved.u32);
    EXPECT_EQ(v.f, saved.f);
    EXPECT_EQ(v.d, saved.d);
    EXPECT_EQ(list.snapshotDepth(), 0);
}

TEST_F(ParamListTest, PopRestoresEveryEightBitValue) {
    for (int value = -128; value <= 127; ++value) {
        v.i8 = static_cast<char>(value);
        list.pushValues();
        v.i8 = 0;
        list.popValues();
        ASSERT_EQ(v.i8, value);
    }
}

TEST_F(ParamListTest, SnapshotStackHoldsAtMostOneHundred) {
    for (int i = 0; i < 101; ++i) {
        v.d = i;
        list.pushValues();
    }
    EXPECT_EQ(list.snapshotDepth(), 100);
    v.d = -1;
    list.popValues();  // the newest stored snapshot is the 100th push
    EXPECT_EQ(v.d, 99);
    list.dropValues();
    list.popValues();
    EXPECT_EQ(v.d, 97);
    while (list.snapshotDepth() > 0) list.dropValues();
    v.d = 3;
    list.popValues();  // empty stack: nothing happens
    list.dropValues();
    EXPECT_EQ(v.d, 3);
    EXPECT_EQ(list.snapshotDepth(), 0);
}

TEST_F(ParamListTest, ClearParamsEmptiesTheListAndTheSnapshots) {
    list.pushValues();
    list.clearParams();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.totalBytes(), 0);
    EXPECT_EQ(list.snapshotDepth(), 0);
    EXPECT_EQ(list.findParam("d"), nullptr);
}

}  // namespace
}  // namespace qm
