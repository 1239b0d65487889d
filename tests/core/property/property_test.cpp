#include "core/property/property.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::ElementsAre;

// Stands in for the palette window and records what the model asks of it.
class RecordingView final : public PropertyView {
public:
    std::vector<std::string> calls;
    std::vector<const void*> refreshExcepts;

    void rowAdded(Property&) override {}
    void rowsCleared() override { calls.push_back("cleared"); }
    void rowCaptionChanged(Property&) override {}
    void drawRow(Property&) override {}
    void refreshEditors(Property& row, const void* except) override {
        calls.push_back("refresh " + row.caption());
        refreshExcepts.push_back(except);
    }
    void activateEditors(Property& row) override { calls.push_back("activate " + row.caption()); }
    void deactivateEditors(Property& row) override {
        calls.push_back("deactivate " + row.caption());
    }
    void enumItemsChanged(Property&) override {}
};

// --- Numeric rows, over every element type ------------------------------------------------

template <class T, std::int32_t Code>
struct Element {
    using Type = T;
    static constexpr std::int32_t code = Code;
};

template <class E>
class NumPropertyTest : public ::testing::Test {
protected:
    using T = typename E::Type;
    static constexpr bool kReal = std::is_floating_point_v<T>;
    using Row = std::conditional_t<kReal, RealProperty<T>, IntProperty<T>>;

    NumPropertyTest() {
        set.setChangeHandler([this](Property&) { ++changes; });
    }
    Row* addRow(const std::string& name = "x", std::uint8_t flags = 0) {
        set.addByType(name, E::code, flags);
        return set.get<Row>(name);
    }

    PropertySet set;
    int changes = 0;
};

using Elements =
    ::testing::Types<Element<char, 1>, Element<unsigned char, 2>, Element<short, 3>,
                     Element<unsigned short, 4>, Element<int, 5>, Element<unsigned int, 6>,
                     Element<float, 7>, Element<double, 8>, Element<long double, 9>>;
TYPED_TEST_SUITE(NumPropertyTest, Elements);

TYPED_TEST(NumPropertyTest, StartsAtZeroOverTheWholeRangeOfItsType) {
    using T = typename TestFixture::T;
    auto* row = this->addRow("x", Property::kTrackBar);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->typeCode(), TypeParam::code);
    EXPECT_EQ(row->isReal(), TestFixture::kReal);
    EXPECT_EQ(std::pair(row->min(), row->max()),
              std::pair(std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max()));
    EXPECT_EQ(std::pair(row->sliderMin(), row->sliderMax()), std::pair(row->min(), row->max()));
    EXPECT_EQ(std::pair(row->value(), row->shown()), std::pair(T{0}, T{0}));
}

TYPED_TEST(NumPropertyTest, LimitsDragTheOtherLimitTheValueAndTheSliderWithoutNotifying) {
    using T = typename TestFixture::T;
    auto* up = this->addRow("up", Property::kTrackBar);
    up->SetMax(T(3));
    up->SetValue(T(2));
    auto* down = this->addRow("down", Property::kTrackBar);
    down->SetMin(T(4));
    down->SetValue(T(6));
    this->changes = 0;
    up->SetMin(T(5));
    down->SetMax(T(2));
    EXPECT_EQ(std::tuple(up->min(), up->max(), up->value(), up->sliderMin()),
              std::tuple(T(5), T(5), T(5), T(5)));
    EXPECT_EQ(std::tuple(down->min(), down->max(), down->value(), down->sliderMax()),
              std::tuple(T(2), T(2), T(2), T(2)));
    EXPECT_EQ(this->changes, 0);

    // A slider range inside the limits is left alone; only the end that falls outside moves.
    auto* inner = this->addRow("inner", Property::kTrackBar);
    inner->SetSliderMin(T(20));
    inner->SetSliderMax(T(40));
    inner->SetMin(T(30));
    inner->SetMax(T(50));
    EXPECT_EQ(std::pair(inner->sliderMin(), inner->sliderMax()), std::pair(T(30), T(40)));
}

TYPED_TEST(NumPropertyTest, WithAutoApplyEditsAreClampedAndAppliedAndEverySetValueNotifies) {
    using T = typename TestFixture::T;
    T variable{};
    typename TestFixture::Row row(this->set, 0, 0, &variable);
    row.SetMin(T(1));
    row.SetMax(T(9));
    ASSERT_TRUE(row.autoApply());
    for (const auto& [in, out] :
         {std::pair{T(0), T(1)}, std::pair{T(10), T(9)}, std::pair{T(4), T(4)}}) {
        this->changes = 0;
        row.EditorChanged(in, nullptr);
        EXPECT_EQ(std::tuple(row.shown(), row.value(), variable), std::tuple(out, out, out)) << +in;
        EXPECT_FALSE(row.pending());
        EXPECT_EQ(this->changes, 1);
    }
    if constexpr (TestFixture::kReal) {
        row.EditorChanged(std::numeric_limits<T>::quiet_NaN(), nullptr);
        EXPECT_EQ(variable, T(1));
    }

    // The value already held still notifies; the row's own handler takes precedence.
    this->changes = 0;
    row.SetValue(T(1));
    EXPECT_EQ(this->changes, 1);
    int rowChanges = 0;
    row.onChange = [&](Property& p) { rowChanges += &p == &row; };
    row.SetValue(T(2));
    EXPECT_EQ(std::pair(rowChanges, this->changes), std::pair(1, 1));
}

TYPED_TEST(NumPropertyTest, WithoutAutoApplyAnEditPendsUntilCommittedOrDiscarded) {
    using T = typename TestFixture::T;
    auto* row = this->addRow();
    row->SetAutoApply(false);
    row->SetValue(T(3));
    this->changes = 0;
    const auto state = [row] { return std::tuple(row->shown(), row->value(), row->pending()); };
    row->EditorChanged(T(7), nullptr);
    EXPECT_EQ(state(), std::tuple(T(7), T(3), true));
    row->EditorChanged(T(3), nullptr);
    EXPECT_EQ(state(), std::tuple(T(3), T(3), false));
    EXPECT_EQ(this->changes, 0);

    row->EditorChanged(T(7), nullptr);
    row->Commit();
    EXPECT_EQ(state(), std::tuple(T(7), T(7), false));
    EXPECT_EQ(this->changes, 1);
    row->EditorChanged(T(5), nullptr);
    row->Reload();
    EXPECT_EQ(state(), std::tuple(T(7), T(7), false));

    // Focus leaving the palette deactivates the row, which drops its pending edit.
    ASSERT_TRUE(this->set.select(0));
    row->EditorChanged(T(5), nullptr);
    this->set.leave();
    EXPECT_EQ(std::pair(this->set.activeIndex(), row->active()), std::pair(-1, false));
    EXPECT_EQ(state(), std::tuple(T(7), T(7), false));
    EXPECT_EQ(this->changes, 1);
}

TYPED_TEST(NumPropertyTest, TextToValueClampsIntoTheLimitsAndBadTextCountsAsZero) {
    using T = typename TestFixture::T;
    auto* row = this->addRow();
    row->SetMin(T(0));
    row->SetMax(T(10));
    if constexpr (TestFixture::kReal) {
        EXPECT_EQ(row->TextToValue("7.9"), static_cast<T>(7.9L));
    } else {
        EXPECT_EQ(row->TextToValue("7.9"), T(7));
        EXPECT_EQ(row->TextToValue("2.9"), T(2));
    }
    EXPECT_EQ(row->TextToValue("-3"), T(0));
    EXPECT_EQ(row->TextToValue("-0.5"), T(0));
    EXPECT_EQ(row->TextToValue("1e3"), T(10));
    EXPECT_EQ(row->TextToValue("seven"), std::nullopt);

    row->SetMin(T(3));
    row->editorText("seven", nullptr);
    EXPECT_EQ(row->value(), T(3));
    row->editorText(" 6 ", nullptr);
    EXPECT_EQ(row->value(), T(6));

    if constexpr (!TestFixture::kReal) {
        auto* wide = this->addRow("wide");
        if constexpr (std::is_signed_v<T>) {
            EXPECT_EQ(wide->TextToValue("-2.9"), T(-2));  // toward zero
        }
        for (T v : {std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max()})
            EXPECT_EQ(wide->TextToValue(wide->ValueToText(v)), v) << wide->ValueToText(v);
    }
}

TYPED_TEST(NumPropertyTest, TrackBarMapsTheShownValueLinearlyOntoTheBar) {
    using T = typename TestFixture::T;
    auto* row = this->addRow("x", Property::kTrackBar);
    row->SetSliderMin(T(20));
    row->SetSliderMax(T(40));
    for (const auto& [v, position] :
         {std::pair{T(30), 50}, std::pair{T(10), 0}, std::pair{T(50), 101}}) {
        row->SetValue(v);
        EXPECT_EQ(row->sliderPosition(101), position) << +v;
    }
    EXPECT_EQ(
        std::tuple(row->sliderValue(0, 101), row->sliderValue(50, 101), row->sliderValue(100, 101)),
        std::tuple(20.0L, 30.0L, 40.0L));

    row->SetSliderMin(T(0));
    if constexpr (TestFixture::kReal) {
        row->SetSliderMax(T(1));
        row->SetValue(T(0.5));
        EXPECT_EQ(row->sliderPosition(101), 50);
        EXPECT_EQ(row->sliderValue(50, 101), 0.5L);
    } else {
        row->SetSliderMax(T(10));
        EXPECT_EQ(row->sliderValue(2, 4), 6.0L);  // 6.67
        if constexpr (std::is_signed_v<T>) {
            row->SetSliderMin(T(-10));
            row->SetSliderMax(T(0));
            EXPECT_EQ(row->sliderValue(1, 4), -6.0L);  // -6.67
        }
    }
}

TYPED_TEST(NumPropertyTest, EnumItemsDefaultTheirTextAndFindTheShownValue) {
    using T = typename TestFixture::T;
    auto* row = this->addRow("x", Property::kEnumerated);
    EXPECT_TRUE(row->enumerated());
    row->AddEnumItem(T(3));
    row->AddEnumItem(T(5), "five");
    row->AddEnumItem(T(3), "three again");
    ASSERT_EQ(row->enumCount(), 3u);
    EXPECT_EQ(row->enumText(0), "3");
    EXPECT_EQ(row->enumText(1), "five");
    EXPECT_EQ(row->enumValue(1), 5.0L);
    for (const auto& [v, index] : {std::pair{T(3), 0}, std::pair{T(5), 1}, std::pair{T(4), -1}}) {
        row->SetValue(v);
        EXPECT_EQ(row->shownEnumIndex(), index) << +v;
    }
    row->SetValue(T(3));
    row->ClearEnumItems();
    EXPECT_EQ(row->enumCount(), 0u);
    EXPECT_EQ(row->shownEnumIndex(), -1);
}

// --- Text conversion ----------------------------------------------------------------------

TEST(RealProperty, TextHasFifteenSignificantDigitsAndTheUsersSeparator) {
    PropertySet set;
    const RealProperty<float> f(set, 0, 0);
    const RealProperty<double> d(set, 0, 0);
    EXPECT_EQ(f.ValueToText(0.1f), "0.100000001490116");
    EXPECT_EQ(d.ValueToText(1e-6), "1E-6");
    EXPECT_EQ(d.ValueToText(0.00001), "0.00001");
    EXPECT_EQ(d.ValueToText(1e15), "1E15");
    EXPECT_EQ(d.ValueToText(123456789012345.0), "123456789012345");
    EXPECT_EQ(d.ValueToText(-2.5), "-2.5");
    set.decimalSeparator = ',';
    EXPECT_EQ(d.ValueToText(1.5), "1,5");
    EXPECT_EQ(d.ValueToText(-1.5e-7), "-1,5E-7");
    EXPECT_EQ(d.TextToValue("1,5"), 1.5);
    EXPECT_EQ(d.TextToValue("1.5"), 1.5);
}

TEST(RealProperty, TrackBarRowsShowWhatTheBarResolvesAndKeepEveryDigit) {
    PropertySet set;
    double v = 0;
    DoubleProperty* row = set.addBound("x", &v, Property::kTrackBar);
    row->SetSliderMin(1);
    row->SetSliderMax(20);
    // A drag on a 150-pixel bar: one pixel is about 0.13, so one decimal shows.
    row->EditorChanged(static_cast<double>(row->sliderValue(73, 150)), nullptr);
    EXPECT_EQ(row->shownText(), "10.3087248322148");
    EXPECT_EQ(row->barText(150), "10.3");
    EXPECT_EQ(v, row->value());  // the model keeps the full value
    // Typed off the bar, the value shows whole.
    row->SetValue(0.5);
    EXPECT_EQ(row->barText(150), "0.5");
    row->SetValue(1.23456789);
    EXPECT_EQ(row->barText(150), "1.2");
    // Near zero, two significant digits at least.
    row->SetSliderMin(-2);
    row->SetSliderMax(2);
    row->SetValue(-0.0429871);
    EXPECT_EQ(row->barText(150), "-0.043");
    // Without a track bar the text is the full value.
    DoubleProperty* plain = set.addBound("y", &v);
    plain->SetValue(14.871794871794872);
    EXPECT_EQ(plain->barText(150), "14.8717948717949");
}

TEST(RealProperty, LogarithmicTrackBarSpreadsTheDecadesEvenly) {
    PropertySet set;
    double scale = 0.01;
    DoubleProperty* row = set.addBound("Echelle", &scale, Property::kTrackBar);
    row->SetMin(0.0001);
    row->SetSliderMin(0.0001);
    row->SetSliderMax(10);
    row->SetSliderLogarithmic(true);
    row->Reload();
    // Five decades over 101 pixels: 0.01 sits 2/5 of the way along.
    EXPECT_EQ(row->sliderPosition(101), 40);
    EXPECT_NEAR(static_cast<double>(row->sliderValue(40, 101)), 0.01, 1e-15);  // exp/log rounding
    EXPECT_EQ(row->sliderValue(0, 101), static_cast<long double>(0.0001));
    EXPECT_NEAR(static_cast<double>(row->sliderValue(100, 101)), 10, 1e-13);
    // One pixel near 0.01 is a factor of 1.12, not a jump: the ends of the range stay usable.
    const double ratio = static_cast<double>(row->sliderValue(41, 101) / row->sliderValue(40, 101));
    EXPECT_NEAR(ratio, std::pow(10.0, 0.05), 1e-12);
    // Typed values are not moved to the bar.
    row->EditorChanged(0.0123456789, nullptr);
    EXPECT_EQ(scale, 0.0123456789);
    EXPECT_EQ(row->barText(101), "0.012");
}

TEST(ParseDecimal, AcceptsSignedDecimalsWithAnExponentAndNothingElse) {
    const std::pair<const char*, long double> accepted[] = {
        {" \t42 ", 42.0L}, {"+1.5", 1.5L},   {"-.25", -0.25L}, {"3.", 3.0L},     {"1e3", 1000.0L},
        {"2E-2", 0.02L},   {"1E+2", 100.0L}, {"1,5", 1.5L},    {"1e-5000", 0.0L}};
    for (const auto& [text, v] : accepted) EXPECT_EQ(parseDecimal(text, ","), v) << text;
    for (const char* text :
         {"", "  ", "1e5000", "1,5,", "1e", "--1", "1.2.3", ".", "e5", "inf", "0x10", "1 2"})
        EXPECT_EQ(parseDecimal(text, ","), std::nullopt) << '"' << text << '"';
}

TEST(FormatGeneral15, RoundsToFifteenDigitsAndSpellsTheSpecialValues) {
    constexpr long double kInf = std::numeric_limits<long double>::infinity();
    const std::pair<long double, const char*> cases[] = {
        {std::numeric_limits<long double>::quiet_NaN(), "NAN"},
        {kInf, "INF"},
        {-kInf, "-INF"},
        {-0.0L, "0"},
        {2.0L / 3.0L, "0,666666666666667"},
        {999999999999999.9L, "1E15"},  // the rounding carries into a sixteenth digit
        {0.000009999L, "9,999E-6"},
    };
    for (const auto& [v, text] : cases) EXPECT_EQ(formatGeneral15(v, ","), text);
}

// --- BoolProperty -------------------------------------------------------------------------

TEST(BoolProperty, WritesTheVariableOnlyWithAutoApplyButAlwaysNotifies) {
    PropertySet set;
    int changes = 0;
    set.setChangeHandler([&](Property&) { ++changes; });
    bool variable = false;
    BoolProperty row(set, 0, 0, &variable);
    row.SetValue(true);
    EXPECT_TRUE(variable);
    row.SetAutoApply(false);
    row.SetValue(false);
    row.SetValue(false);
    EXPECT_FALSE(row.value());
    EXPECT_TRUE(variable);
    EXPECT_EQ(changes, 3);
    EXPECT_NE(set.get<BoolProperty>(set.addByType("b", Property::kBool)->caption()), nullptr);
}

// --- PropertySet --------------------------------------------------------------------------

TEST(PropertySet, TotalHeightAddsRowHeightsWithSeparatorsAndComboRows) {
    PropertySet set;
    for (int i = 0; i < 10; ++i)
        set.addByType(std::string(1, static_cast<char>('a' + i)), Property::kDouble,
                      i == 4 ? Property::kSeparator : 0);
    EXPECT_EQ(set.totalHeight(), 213);
    EXPECT_EQ(set.addByType("combo", Property::kInt, Property::kEnumerated)->rowHeight(),
              set.comboRowHeight);
    EXPECT_EQ(set.addByType("line", Property::kInt, Property::kEnumerated | Property::kSeparator)
                  ->rowHeight(),
              set.comboRowHeight + 3);
    EXPECT_EQ(set.totalHeight(), 213 + 2 * set.comboRowHeight + 3);
}

TEST(PropertySet, BoundRowsWriteThroughAndUnknownsCreateNothing) {
    PropertySet set;
    char c = 'a';
    int i = 7;
    double d = 2.5;
    CharProperty* pc = set.addBound("c", &c);
    LongProperty* pi = set.addBound("i", &i);
    DoubleProperty* pd = set.addBound("d", &d);
    EXPECT_EQ(std::tuple(pc->value(), pi->shown(), pd->value()), std::tuple('a', 7, 2.5));
    pc->SetValue('z');
    pi->editorText("-4", nullptr);
    pd->SetValue(-1.25);
    EXPECT_EQ(std::tuple(c, i, d), std::tuple('z', -4, -1.25));

    // Lookups of unknown names or the wrong class, and unknown type codes, create nothing.
    EXPECT_EQ(set.get<DoubleProperty>("d"), pd);
    EXPECT_EQ(set.get<LongProperty>("d"), nullptr);
    EXPECT_EQ(set.find("missing"), nullptr);
    for (int code : {-1, 10, 99}) EXPECT_EQ(set.addByType("bad", code), nullptr) << code;
    EXPECT_EQ(std::tuple(set.find("bad"), set.find("missing"), set.count(), set.totalHeight()),
              std::tuple(nullptr, nullptr, 3, 3 * set.baseRowHeight));
}

TEST(PropertySet, SelectMovesTheActiveRowAndRefusesDisabledRowsOrADisabledSet) {
    PropertySet set;
    Property* a = set.addByType("a", Property::kInt);
    Property* b = set.addByType("b", Property::kInt);
    Property* c = set.addByType("c", Property::kInt);
    c->SetEnabled(false);
    const auto actives = [&] {
        return std::tuple(set.activeIndex(), a->active(), b->active(), c->active());
    };
    ASSERT_TRUE(set.select(0));
    EXPECT_FALSE(set.select(2));
    EXPECT_EQ(actives(), std::tuple(0, true, false, false));
    EXPECT_TRUE(set.select(1));
    EXPECT_FALSE(set.select(7));
    EXPECT_EQ(actives(), std::tuple(1, false, true, false));

    // Disabling the set disables every row and drops the active one.
    set.setEnabled(false);
    EXPECT_EQ(actives(), std::tuple(-1, false, false, false));
    EXPECT_FALSE(a->enabled() || b->enabled() || c->enabled());
    EXPECT_FALSE(set.select(0));
    set.setEnabled(true);
    EXPECT_TRUE(set.select(0));
}

TEST(PropertySet, AutoApplyDefaultReachesOnlyRowsThatStillFollowIt) {
    PropertySet set;
    Property* follows = set.addByType("follows", Property::kInt);
    Property* own = set.addByType("own", Property::kInt);
    own->SetAutoApply(false);
    EXPECT_FALSE(own->followsPaletteDefault());
    set.setAutoApplyDefault(false);
    EXPECT_FALSE(follows->autoApply());
    set.setAutoApplyDefault(true);  // following the default is not an explicit setting
    EXPECT_TRUE(follows->autoApply() && follows->followsPaletteDefault());
    EXPECT_FALSE(own->autoApply());
    EXPECT_TRUE(set.addByType("later", Property::kInt)->autoApply());
}

TEST(PropertySet, TheViewHearsActivationEditsAndClear) {
    PropertySet set;
    RecordingView view;
    set.setView(&view);
    set.addByType("a", Property::kInt);
    LongProperty* b =
        set.get<LongProperty>(set.addByType("b", Property::kInt, Property::kTrackBar)->caption());
    set.select(0);
    set.select(1);
    set.select(1);
    const int slider = 0, edit = 0;
    b->editorValue(12.7L, &slider);
    EXPECT_EQ(b->value(), 12);
    b->SetAutoApply(false);
    b->editorText("5", &edit);
    b->Commit();  // the pending mark goes, so every editor is refreshed
    EXPECT_EQ(b->value(), 5);
    EXPECT_THAT(view.refreshExcepts, ElementsAre(static_cast<const void*>(&slider),
                                                 static_cast<const void*>(&edit), nullptr));
    set.leave();
    set.select(0);
    set.Clear();
    EXPECT_EQ(std::tuple(set.count(), set.totalHeight(), set.activeIndex(), set.find("b")),
              std::tuple(0, 0, -1, nullptr));
    EXPECT_THAT(view.calls,
                ElementsAre("activate a", "deactivate a", "activate b", "refresh b", "refresh b",
                            "refresh b", "deactivate b", "activate a", "deactivate a", "cleared"));
}

TEST(PropertySet, AHandlerMayClearTheSetWhileTheRowThatRaisedItIsStillOnTheStack) {
    // The handler keeps state of its own beyond the small-object buffer of std::function, and
    // uses it after the rows are gone.
    for (int trigger = 0; trigger < 4; ++trigger) {
        SCOPED_TRACE(trigger);
        PropertySet set;
        RecordingView view;
        set.setView(&view);
        DoubleProperty* row =
            set.get<DoubleProperty>(set.addByType("x", Property::kDouble)->caption());
        set.addByType("y", Property::kInt);
        std::vector<std::string> log;
        const std::string note = "rebuilt the palette from scratch";
        auto rebuild = [&set, &log, note](Property& p) {
            log.push_back(p.caption());
            set.Clear();
            log.push_back(note);
        };
        if (trigger == 2)
            row->onChange = rebuild;
        else if (trigger == 3)
            row->onCheck = [rebuild](Property& p, bool) { rebuild(p); };
        else
            set.setChangeHandler(rebuild);
        ASSERT_TRUE(set.select(0));
        if (trigger == 1)
            row->editorText("2", &view);
        else if (trigger == 3)
            row->SetChecked(true);
        else
            row->SetValue(1.0);
        EXPECT_EQ(set.count(), 0);
        EXPECT_THAT(log, ElementsAre("x", note));
        EXPECT_EQ(view.calls.back(), "cleared");
    }
}

}  // namespace
}  // namespace qm
