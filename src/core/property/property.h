// Property: one named, typed, bounded editable value shown as one row of a property palette
// (an attractor coefficient, an iteration count, a render setting, a gradient). This is the
// value model only: limits, enumerated choices, text conversion, the pending edit and the
// change notification. The rows' widgets live in the toolkit layer, which the model reaches
// through PropertyView.
//
//   PropertySet rows;                       // the palette's model
//   auto* p = rows.addBound("Gamma", &gamma, Property::kTrackBar);
//   p->SetMin(0.0001);
//   rows.setChangeHandler([](Property& changed) { ... });
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm {

class Gradientf;
class Property;
class PropertySet;

// What the model asks of the window that shows its rows. Every call is optional: a set
// without a view (the tests, a palette not yet shown) keeps working.
class PropertyView {
public:
    virtual ~PropertyView() = default;
    virtual void rowAdded(Property& row) = 0;
    virtual void rowsCleared() = 0;
    virtual void rowCaptionChanged(Property& row) = 0;
    // Repaint the row. On the active row, unless an edit is pending, the live widgets are
    // first refreshed from the shown value.
    virtual void drawRow(Property& row) = 0;
    // Refresh the active row's live widgets from the shown value, except the one that
    // reported the change (null: all of them); the label follows the pending mark.
    virtual void refreshEditors(Property& row, const void* except) = 0;
    // Take live widgets for the row, fill and show them; hide and release them.
    virtual void activateEditors(Property& row) = 0;
    virtual void deactivateEditors(Property& row) = 0;
    virtual void enumItemsChanged(Property& row) = 0;
};

struct PropertyRect {
    std::int32_t left = 0, top = 0, right = 0, bottom = 0;
};

using PropertyHandler = std::function<void(Property&)>;
using PropertyCheckHandler = std::function<void(Property&, bool ticked)>;

class Property {
public:
    // Construction flags.
    enum : std::uint8_t {
        kTrackBar = 0x01,
        kSpeedZones = 0x02,  // effective only with auto-apply
        kEnumerated = 0x08,  // a combo box instead of an edit box
        kListOnly = 0x10,    // with kEnumerated: no free text
        kSeparator = 0x20,   // a line under the row; the row grows by 3 pixels
        kCheckBox = 0x40,    // a check box at the left edge
    };
    // Element type codes, as the palette's add-by-code operation takes them.
    enum TypeCode : std::int32_t {
        kBool = 0,
        kChar,
        kUChar,
        kShort,
        kUShort,
        kInt,
        kUInt,
        kFloat,
        kDouble,
        kLongDouble,
        kGradient = -1,
    };

    Property(const Property&) = delete;
    Property& operator=(const Property&) = delete;
    virtual ~Property() = default;

    PropertySet& palette() const { return palette_; }
    const std::string& caption() const { return caption_; }
    std::int32_t listIndex() const { return listIndex_; }
    std::int32_t rowHeight() const { return rowHeight_; }
    std::int32_t typeCode() const { return typeCode_; }
    bool autoApply() const { return autoApply_; }
    bool followsPaletteDefault() const { return followsDefault_; }
    bool pending() const { return pending_; }
    bool ticked() const { return ticked_; }
    bool active() const { return active_; }
    bool enabled() const { return enabled_; }
    bool separator() const { return separator_; }
    bool hasTrackBar() const { return hasTrackBar_; }
    bool speedZones() const { return speedZones_; }
    bool hasCheckBox() const { return hasCheckBox_; }

    // Free for the owner; the framework never reads it.
    std::int32_t tag = 0;
    // What the row is for, in the interface's language (a tooltip, a screen reader's
    // description); empty for none.
    std::string toolTip;
    // Last known thumb of the row's track bar, in palette coordinates (for the speed-zone
    // cursor over inactive rows).
    PropertyRect thumbRect;
    PropertyHandler onChange;
    PropertyCheckHandler onCheck;

    virtual void Draw();
    // Calls the row's change handler, else the palette's.
    virtual void Changed();
    virtual void Activate();
    // Releases the widgets; a pending edit is discarded by reloading.
    virtual void Deactivate();
    virtual void SetCaption(std::string caption);
    virtual void Reload() = 0;

    void SetEnabled(bool enabled);
    // The row's check box: stores the state and calls the check handler.
    void SetChecked(bool ticked);
    // An explicit setting stops following the palette's default.
    void SetAutoApply(bool on);

protected:
    Property(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
             std::int32_t typeCode);
    void setPending(bool pending) { pending_ = pending; }
    PropertyView* view() const;

private:
    friend class PropertySet;

    PropertySet& palette_;
    std::string caption_;
    std::int32_t listIndex_;
    std::int32_t rowHeight_;
    std::int32_t typeCode_;
    bool autoApply_;
    bool followsDefault_ = true;
    bool pending_ = false;
    bool ticked_ = false;
    bool active_ = false;
    bool enabled_;
    bool separator_;
    bool hasTrackBar_;
    bool speedZones_;
    bool hasCheckBox_;
};

class BoolProperty final : public Property {
public:
    BoolProperty(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
                 bool* variable = nullptr);
    bool value() const { return value_; }
    // Written to the owner's variable only with auto-apply on; always notifies.
    void SetValue(bool v);
    void Reload() override;

private:
    bool* variable_;
    bool value_ = false;
};

// Shows a gradient and replaces it from a colour-map file (through the toolkit layer).
class GradientfProperty final : public Property {
public:
    GradientfProperty(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
                      Gradientf* gradient);
    Gradientf* gradient() const { return gradient_; }
    void Reload() override;

private:
    Gradientf* gradient_;
};

// The element-type-free face of a numeric row, for the widgets: every element type fits
// exactly in a long double, so values cross this interface without loss.
class NumPropertyBase : public Property {
public:
    bool isReal() const { return typeCode() >= kFloat; }
    bool enumerated() const { return enumerated_; }
    bool listOnly() const { return listOnly_; }

    virtual long double shownValue() const = 0;
    // The nearest element value (a real), or the value truncated toward zero and
    // saturated (an integer).
    virtual long double toElement(long double v) const = 0;
    virtual std::string shownText() const = 0;
    // Text typed into an edit or a combo box; text that does not convert counts as 0.
    virtual void editorText(std::string_view text, const void* editor) = 0;
    // A value the editor holds, already of the element type.
    virtual void editorValue(long double v, const void* editor) = 0;
    // Track bar mapping for a bar of the given width (positions 0 to width - 1). The value
    // to position direction may give width, which the bar limits to width - 1.
    virtual std::int32_t sliderPosition(std::int32_t width) const = 0;
    virtual long double sliderValue(std::int32_t position, std::int32_t width) const = 0;
    // A logarithmic track bar spreads a range over several decades evenly (the view scale);
    // it needs a positive slider minimum, else the bar stays linear.
    void SetSliderLogarithmic(bool on) { logSlider_ = on; }
    bool sliderLogarithmic() const { return logSlider_; }
    // The shown value as a row with a track bar of this width shows it: a real is rounded to
    // the decimals the bar resolves at that value (a drag gives 14.87, not 14.8717948717949).
    // The value itself, in the row and in files, keeps every digit; rows without a track bar
    // show shownText.
    virtual std::string barText(std::int32_t width) const = 0;
    // The track bar's range with a track bar, else the limits.
    virtual std::pair<long double, long double> sliderRange() const = 0;
    virtual std::size_t enumCount() const = 0;
    virtual std::string enumText(std::size_t i) const = 0;
    virtual long double enumValue(std::size_t i) const = 0;
    // The first choice equal to the shown value, or -1.
    virtual std::int32_t shownEnumIndex() const = 0;
    // Return in an edit: commits the shown value.
    virtual void Commit() = 0;

protected:
    using Property::Property;
    bool enumerated_ = false;
    bool listOnly_ = false;
    bool logSlider_ = false;
};

template <class T>
class NumProperty : public NumPropertyBase {
public:
    struct EnumItem_STRUCT {
        T value;
        std::string text;
    };

    T value() const { return value_; }
    T shown() const { return shown_; }
    T min() const { return min_; }
    T max() const { return max_; }
    T sliderMin() const { return sliderMin_; }
    T sliderMax() const { return sliderMax_; }
    T* variable() const { return variable_; }
    const std::vector<EnumItem_STRUCT>& enumItems() const { return enumItems_; }

    void SetValue(T v);
    // The value an editor reports: clamped into [min, max] and shown; committed at once with
    // auto-apply, else pending until committed.
    void EditorChanged(T v, const void* editor);
    void Reload() override;
    void SetMin(T v);
    void SetMax(T v);
    void SetSliderMin(T v);
    void SetSliderMax(T v);
    virtual std::optional<T> TextToValue(std::string_view text) const = 0;
    virtual std::string ValueToText(T v) const = 0;
    // An empty text is replaced by the value's text.
    void AddEnumItem(T v, std::string text = {});
    void ClearEnumItems();

    long double shownValue() const override { return static_cast<long double>(shown_); }
    std::string shownText() const override { return ValueToText(shown_); }
    void editorText(std::string_view text, const void* editor) override;
    void editorValue(long double v, const void* editor) override;
    std::int32_t sliderPosition(std::int32_t width) const override;
    long double sliderValue(std::int32_t position, std::int32_t width) const override;
    std::string barText(std::int32_t width) const override;
    std::pair<long double, long double> sliderRange() const override {
        return this->hasTrackBar() ? std::pair<long double, long double>(sliderMin_, sliderMax_)
                                   : std::pair<long double, long double>(min_, max_);
    }
    std::size_t enumCount() const override { return enumItems_.size(); }
    std::string enumText(std::size_t i) const override { return enumItems_.at(i).text; }
    long double enumValue(std::size_t i) const override { return enumItems_.at(i).value; }
    std::int32_t shownEnumIndex() const override;
    void Commit() override { SetValue(shown_); }

protected:
    NumProperty(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags, T* variable);

    std::vector<EnumItem_STRUCT> enumItems_;
    T* variable_;
    T value_{};
    T shown_{};
    T min_ = std::numeric_limits<T>::lowest();
    T max_ = std::numeric_limits<T>::max();
    T sliderMin_{};
    T sliderMax_{};
};

template <class T>
class IntProperty final : public NumProperty<T> {
public:
    IntProperty(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
                T* variable = nullptr)
        : NumProperty<T>(palette, listIndex, flags, variable) {}
    // Clamped against the limits, then truncated toward zero: "2.9" gives 2.
    std::optional<T> TextToValue(std::string_view text) const override;
    std::string ValueToText(T v) const override;
    long double toElement(long double v) const override;
};

template <class T>
class RealProperty final : public NumProperty<T> {
public:
    RealProperty(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
                 T* variable = nullptr)
        : NumProperty<T>(palette, listIndex, flags, variable) {}
    std::optional<T> TextToValue(std::string_view text) const override;
    // 15 significant digits, shortest form, the palette's decimal separator; fixed notation
    // from 0.00001 up to 15 integer digits, scientific otherwise ("1E-6").
    std::string ValueToText(T v) const override;
    long double toElement(long double v) const override {
        return static_cast<long double>(static_cast<T>(v));
    }
};

using CharProperty = IntProperty<char>;
using UCharProperty = IntProperty<unsigned char>;
using ShortProperty = IntProperty<short>;
using UShortProperty = IntProperty<unsigned short>;
using LongProperty = IntProperty<int>;
using ULongProperty = IntProperty<unsigned int>;
using FloatProperty = RealProperty<float>;
using DoubleProperty = RealProperty<double>;
using LongDoubleProperty = RealProperty<long double>;

// The text conversions the numeric rows use, with the decimal separator given.
// parseDecimal accepts an optional sign, digits with one separator (or a full stop), and an
// optional exponent; surrounding blanks are ignored.
std::optional<long double> parseDecimal(std::string_view text, std::string_view separator);
std::string formatGeneral15(long double v, std::string_view separator);

// The palette's model: owns the rows, keeps them in list order and by name, tracks the active
// row and the sum of the row heights, and raises one change notification for the set.
class PropertySet {
public:
    PropertySet();
    ~PropertySet();
    PropertySet(const PropertySet&) = delete;
    PropertySet& operator=(const PropertySet&) = delete;

    void setView(PropertyView* view) { view_ = view; }
    PropertyView* view() const { return view_; }

    // Row metrics in pixels, set by the window before rows are added.
    std::int32_t baseRowHeight = 21;
    std::int32_t comboRowHeight = 22;
    std::int32_t labelWidth = 48;
    std::int32_t editorWidth = 48;
    std::int32_t zoneWidth = 21;
    // The user's decimal separator.
    std::string decimalSeparator = ".";

    // Bound rows write through to the owner's variable.
    CharProperty* addBound(const std::string& name, char* variable, std::uint8_t flags = 0);
    LongProperty* addBound(const std::string& name, int* variable, std::uint8_t flags = 0);
    DoubleProperty* addBound(const std::string& name, double* variable, std::uint8_t flags = 0);
    GradientfProperty* addGradient(const std::string& name, Gradientf* gradient,
                                   std::uint8_t flags = 0);
    // A row of the given element type code (0 to 9) holding its own value; null otherwise.
    Property* addByType(const std::string& name, std::int32_t typeCode, std::uint8_t flags = 0);

    // The row of that name as the given class, or null.
    Property* find(const std::string& name) const;
    template <class P>
    P* get(const std::string& name) const {
        return dynamic_cast<P*>(find(name));
    }
    Property* at(std::int32_t index) const;
    std::int32_t count() const { return static_cast<std::int32_t>(rows_.size()); }

    void Clear();
    void reloadAll();
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    bool autoApplyDefault() const { return autoApplyDefault_; }
    void setAutoApplyDefault(bool on);
    const PropertyHandler& changeHandler() const { return changeHandler_; }
    void setChangeHandler(PropertyHandler handler) { changeHandler_ = std::move(handler); }
    std::int32_t totalHeight() const { return totalHeight_; }
    bool clearing() const { return clearing_; }

    std::int32_t activeIndex() const { return activeIndex_; }
    // A click on row i: a disabled row is refused (false; the selection goes back to the
    // active row); otherwise the row becomes the active one.
    bool select(std::int32_t index);
    // Focus left the palette, or it scrolled: the active row lets go of its widgets.
    void leave();

private:
    friend class Property;
    template <class P, class... Args>
    P* add(const std::string& name, std::uint8_t flags, Args&&... args);

    std::vector<std::unique_ptr<Property>> rows_;
    std::map<std::string, Property*> byName_;
    PropertyView* view_ = nullptr;
    PropertyHandler changeHandler_;
    std::int32_t activeIndex_ = -1;
    std::int32_t totalHeight_ = 0;
    bool enabled_ = true;
    bool autoApplyDefault_ = true;
    bool clearing_ = false;
};

}  // namespace qm
