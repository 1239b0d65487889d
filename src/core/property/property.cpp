#include "core/property/property.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <type_traits>

#include "core/math/cr_exp_log.h"
#include "core/property/gradient.h"

namespace qm {

namespace {

template <class T>
constexpr std::int32_t typeCodeOf() {
    if constexpr (std::is_same_v<T, char>)
        return Property::kChar;
    else if constexpr (std::is_same_v<T, unsigned char>)
        return Property::kUChar;
    else if constexpr (std::is_same_v<T, short>)
        return Property::kShort;
    else if constexpr (std::is_same_v<T, unsigned short>)
        return Property::kUShort;
    else if constexpr (std::is_same_v<T, int>)
        return Property::kInt;
    else if constexpr (std::is_same_v<T, unsigned int>)
        return Property::kUInt;
    else if constexpr (std::is_same_v<T, float>)
        return Property::kFloat;
    else if constexpr (std::is_same_v<T, double>)
        return Property::kDouble;
    else
        return Property::kLongDouble;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

// --- Text conversion --------------------------------------------------------------------

std::optional<long double> parseDecimal(std::string_view text, std::string_view separator) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    // Rebuild the number in the form from_chars reads: its own sign handling refuses '+'.
    std::string plain;
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool digits = false, point = false;
    while (i < text.size()) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            plain += c;
            digits = true;
            ++i;
        } else if (!point && !separator.empty() && text.substr(i, separator.size()) == separator) {
            plain += '.';
            point = true;
            i += separator.size();
        } else if (!point && c == '.') {
            plain += '.';
            point = true;
            ++i;
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        plain += 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) plain += text[i++];
        bool expDigits = false;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            plain += text[i++];
            expDigits = true;
        }
        if (!expDigits) return std::nullopt;
    }
    if (i != text.size()) return std::nullopt;
    long double v = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
    if (ec == std::errc::result_out_of_range) {
        // Too small underflows to zero; too large does not convert.
        if (plain.find("e-") != std::string::npos) return negative ? -0.0L : 0.0L;
        return std::nullopt;
    }
    if (ec != std::errc() || end != plain.data() + plain.size()) return std::nullopt;
    return negative ? -v : v;
}

std::string formatGeneral15(long double v, std::string_view separator) {
    if (std::isnan(v)) return "NAN";
    if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
    if (v == 0) return "0";
    // 15 significant digits, rounded once: d.dddddddddddddde±x.
    char buf[64];
    const auto [end, ec] =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
    if (ec != std::errc()) return "0";
    const std::string_view text(buf, static_cast<std::size_t>(end - buf));
    const std::size_t e = text.find('e');
    const bool negative = text.front() == '-';
    std::string mantissa;
    for (char c : text.substr(negative ? 1 : 0, e - (negative ? 1 : 0)))
        if (c != '.') mantissa += c;
    int exponent = 0;
    std::from_chars(text.data() + e + (text[e + 1] == '+' ? 2 : 1), text.data() + text.size(),
                    exponent);
    while (mantissa.size() > 1 && mantissa.back() == '0') mantissa.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= -5 && exponent <= 14) {
        if (exponent < 0) {
            out += '0';
            out += separator;
            out.append(static_cast<std::size_t>(-exponent - 1), '0');
            out += mantissa;
        } else {
            const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
            if (mantissa.size() <= integerDigits) {
                out += mantissa;
                out.append(integerDigits - mantissa.size(), '0');
            } else {
                out += mantissa.substr(0, integerDigits);
                out += separator;
                out += mantissa.substr(integerDigits);
            }
        }
        return out;
    }
    out += mantissa.substr(0, 1);
    if (mantissa.size() > 1) {
        out += separator;
        out += mantissa.substr(1);
    }
    out += 'E';
    out += std::to_string(exponent);
    return out;
}

// --- Property ---------------------------------------------------------------------------

Property::Property(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
                   std::int32_t typeCode)
    : palette_(palette),
      listIndex_(listIndex),
      rowHeight_((flags & kEnumerated ? palette.comboRowHeight : palette.baseRowHeight) +
                 (flags & kSeparator ? 3 : 0)),
      typeCode_(typeCode),
      autoApply_(palette.autoApplyDefault()),
      enabled_(palette.enabled()),
      separator_(flags & kSeparator),
      hasTrackBar_(flags & kTrackBar),
      speedZones_(flags & kSpeedZones),
      hasCheckBox_(flags & kCheckBox) {}

PropertyView* Property::view() const {
    return palette_.view();
}

void Property::Draw() {
    if (PropertyView* v = view()) v->drawRow(*this);
}

void Property::Changed() {
    // Called through a copy: the handler may clear the palette, destroying this row and the
    // onChange it would otherwise be running from.
    const PropertyHandler handler = onChange ? onChange : palette_.changeHandler();
    if (handler) handler(*this);
}

void Property::Activate() {
    active_ = true;
    if (PropertyView* v = view()) v->activateEditors(*this);
}

void Property::Deactivate() {
    if (PropertyView* v = view()) v->deactivateEditors(*this);
    if (pending_) {
        pending_ = false;
        Reload();
    }
    active_ = false;
    Draw();
}

void Property::SetCaption(std::string caption) {
    caption_ = std::move(caption);
    if (PropertyView* v = view()) v->rowCaptionChanged(*this);
}

void Property::SetEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (!enabled && active_) {
        Deactivate();
        if (palette_.activeIndex_ == listIndex_) palette_.activeIndex_ = -1;
    }
    Draw();
}

void Property::SetChecked(bool ticked) {
    ticked_ = ticked;
    Draw();
    // Through a copy, as in Changed.
    if (const PropertyCheckHandler handler = onCheck) handler(*this, ticked);
}

void Property::SetAutoApply(bool on) {
    if (on == autoApply_) return;
    autoApply_ = on;
    followsDefault_ = false;
}

// --- BoolProperty and GradientfProperty -------------------------------------------------

BoolProperty::BoolProperty(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
                           bool* variable)
    : Property(palette, listIndex, flags, kBool), variable_(variable) {}

void BoolProperty::SetValue(bool v) {
    value_ = v;
    if (variable_ && autoApply()) *variable_ = v;
    Draw();
    Changed();
}

void BoolProperty::Reload() {
    if (variable_) value_ = *variable_;
    setPending(false);
    Draw();
}

GradientfProperty::GradientfProperty(PropertySet& palette, std::int32_t listIndex,
                                     std::uint8_t flags, Gradientf* gradient)
    : Property(palette, listIndex, flags, kGradient), gradient_(gradient) {}

void GradientfProperty::Reload() {
    Draw();
}

// --- NumProperty ------------------------------------------------------------------------

template <class T>
NumProperty<T>::NumProperty(PropertySet& palette, std::int32_t listIndex, std::uint8_t flags,
                            T* variable)
    : NumPropertyBase(palette, listIndex, flags, typeCodeOf<T>()), variable_(variable) {
    enumerated_ = flags & Property::kEnumerated;
    listOnly_ = enumerated_ && (flags & Property::kListOnly);
    if (flags & Property::kTrackBar) {
        sliderMin_ = min_;
        sliderMax_ = max_;
    }
}

template <class T>
void NumProperty<T>::SetValue(T v) {
    value_ = v;
    if (variable_) *variable_ = v;
    if (!(v == shown_)) {
        shown_ = v;
        this->Draw();
    }
    if (this->pending()) {
        this->setPending(false);
        if (PropertyView* view = this->view()) view->refreshEditors(*this, nullptr);
    }
    // Last: the handler may rebuild the palette, and this row with it.
    this->Changed();
}

template <class T>
void NumProperty<T>::EditorChanged(T v, const void* editor) {
    if (!(v >= min_))
        v = min_;
    else if (v > max_)
        v = max_;
    shown_ = v;
    if (this->autoApply()) {
        if (PropertyView* view = this->view()) view->refreshEditors(*this, editor);
        SetValue(shown_);
        return;
    }
    this->setPending(!(shown_ == value_));
    if (PropertyView* view = this->view()) view->refreshEditors(*this, editor);
}

template <class T>
void NumProperty<T>::Reload() {
    if (variable_) value_ = *variable_;
    shown_ = value_;
    this->setPending(false);
    this->Draw();
}

template <class T>
void NumProperty<T>::SetMin(T v) {
    min_ = v;
    if (!(max_ >= min_)) max_ = min_;
    if (!(value_ >= min_)) value_ = min_;
    if (!(sliderMin_ >= min_)) SetSliderMin(min_);
}

template <class T>
void NumProperty<T>::SetMax(T v) {
    max_ = v;
    if (min_ > max_) min_ = max_;
    if (value_ > max_) value_ = max_;
    if (sliderMax_ > max_) SetSliderMax(max_);
}

template <class T>
void NumProperty<T>::SetSliderMin(T v) {
    sliderMin_ = v;
    if (PropertyView* view = this->view()) view->refreshEditors(*this, nullptr);
}

template <class T>
void NumProperty<T>::SetSliderMax(T v) {
    sliderMax_ = v;
    if (PropertyView* view = this->view()) view->refreshEditors(*this, nullptr);
}

template <class T>
void NumProperty<T>::AddEnumItem(T v, std::string text) {
    if (text.empty()) text = ValueToText(v);
    enumItems_.push_back({v, std::move(text)});
    if (PropertyView* view = this->view()) view->enumItemsChanged(*this);
}

template <class T>
void NumProperty<T>::ClearEnumItems() {
    enumItems_.clear();
    if (PropertyView* view = this->view()) view->enumItemsChanged(*this);
}

template <class T>
void NumProperty<T>::editorText(std::string_view text, const void* editor) {
    EditorChanged(TextToValue(text).value_or(T{}), editor);
}

template <class T>
void NumProperty<T>::editorValue(long double v, const void* editor) {
    EditorChanged(static_cast<T>(this->toElement(v)), editor);
}

template <class T>
std::int32_t NumProperty<T>::sliderPosition(std::int32_t width) const {
    const long double lo = sliderMin_, hi = sliderMax_, v = shown_;
    if (v < lo || !(hi > lo)) return 0;
    if (v > hi) return width;
    if (logSlider_ && lo > 0)
        return static_cast<std::int32_t>(crm::log(static_cast<double>(v / lo)) /
                                         crm::log(static_cast<double>(hi / lo)) * width);
    return static_cast<std::int32_t>((v - lo) / (hi - lo) * width);
}

template <class T>
long double NumProperty<T>::sliderValue(std::int32_t position, std::int32_t width) const {
    // Integers truncate toward zero through toElement.
    const long double lo = sliderMin_, hi = sliderMax_;
    if (width <= 1) return lo;
    const long double t = static_cast<long double>(position) / (width - 1);
    if (logSlider_ && lo > 0 && hi > lo)
        return this->toElement(
            lo * crm::exp(static_cast<double>(t) * crm::log(static_cast<double>(hi / lo))));
    return this->toElement(lo + t * (hi - lo));
}

template <class T>
std::string NumProperty<T>::barText(std::int32_t width) const {
    const long double v = shown_;
    // Off the bar (typed), the value shows whole.
    if (!this->hasTrackBar() || !this->isReal() || width <= 2 ||
        !(v >= sliderMin_ && v <= sliderMax_))
        return shownText();
    // The value step of one pixel around the shown value.
    const std::int32_t at = std::clamp(sliderPosition(width), 0, width - 2);
    const long double step = std::fabs(sliderValue(at + 1, width) - sliderValue(at, width));
    if (!(step > 0)) return shownText();
    // As many decimals as the step needs, and never fewer than two significant digits (a
    // small value near zero does not read 0).
    int decimals = static_cast<int>(std::ceil(-crm::log10(static_cast<double>(step))));
    if (v != 0)
        decimals = std::max(
            decimals,
            static_cast<int>(std::ceil(-crm::log10(static_cast<double>(std::fabs(v))))) + 1);
    decimals = std::clamp(decimals, 0, 15);
    long double scale = 1;  // 10^decimals, exact
    for (int i = 0; i < decimals; ++i) scale *= 10;
    const long double rounded = std::round(v * scale) / scale;
    // Beyond the precision of the type, rounding only adds noise.
    if (!std::isfinite(rounded)) return shownText();
    return ValueToText(static_cast<T>(rounded));
}

template <class T>
std::int32_t NumProperty<T>::shownEnumIndex() const {
    for (std::size_t i = 0; i < enumItems_.size(); ++i)
        if (enumItems_[i].value == shown_) return static_cast<std::int32_t>(i);
    return -1;
}

// --- IntProperty and RealProperty -------------------------------------------------------

template <class T>
std::optional<T> IntProperty<T>::TextToValue(std::string_view text) const {
    std::optional<long double> v = parseDecimal(text, this->palette().decimalSeparator);
    if (!v) return std::nullopt;
    const long double lo = this->min(), hi = this->max();
    long double x = *v;
    if (x < lo)
        x = lo;
    else if (x > hi)
        x = hi;
    return static_cast<T>(std::trunc(x));
}

template <class T>
std::string IntProperty<T>::ValueToText(T v) const {
    if constexpr (std::is_signed_v<T>)
        return std::to_string(static_cast<long long>(v));
    else
        return std::to_string(static_cast<unsigned long long>(v));
}

template <class T>
long double IntProperty<T>::toElement(long double v) const {
    if (std::isnan(v)) return 0;
    constexpr long double lo = std::numeric_limits<T>::lowest(), hi = std::numeric_limits<T>::max();
    v = std::trunc(v);
    return v < lo ? lo : v > hi ? hi : v;
}

template <class T>
std::optional<T> RealProperty<T>::TextToValue(std::string_view text) const {
    std::optional<long double> v = parseDecimal(text, this->palette().decimalSeparator);
    if (!v) return std::nullopt;
    const long double lo = this->min(), hi = this->max();
    if (*v < lo) return this->min();
    if (*v > hi) return this->max();
    return static_cast<T>(*v);
}

template <class T>
std::string RealProperty<T>::ValueToText(T v) const {
    return formatGeneral15(static_cast<long double>(v), this->palette().decimalSeparator);
}

template class NumProperty<char>;
template class NumProperty<unsigned char>;
template class NumProperty<short>;
template class NumProperty<unsigned short>;
template class NumProperty<int>;
template class NumProperty<unsigned int>;
template class NumProperty<float>;
template class NumProperty<double>;
template class NumProperty<long double>;
template class IntProperty<char>;
template class IntProperty<unsigned char>;
template class IntProperty<short>;
template class IntProperty<unsigned short>;
template class IntProperty<int>;
template class IntProperty<unsigned int>;
template class RealProperty<float>;
template class RealProperty<double>;
template class RealProperty<long double>;

// --- PropertySet ------------------------------------------------------------------------

PropertySet::PropertySet() = default;

PropertySet::~PropertySet() {
    view_ = nullptr;
    Clear();
}

template <class P, class... Args>
P* PropertySet::add(const std::string& name, std::uint8_t flags, Args&&... args) {
    auto owned = std::make_unique<P>(*this, count(), flags, std::forward<Args>(args)...);
    P* p = owned.get();
    rows_.push_back(std::move(owned));
    // A second row of the same name takes the name; the first stays in the list.
    byName_[name] = p;
    if (view_) view_->rowAdded(*p);
    p->SetCaption(name);
    p->Reload();
    totalHeight_ += p->rowHeight();
    return p;
}

CharProperty* PropertySet::addBound(const std::string& name, char* variable, std::uint8_t flags) {
    return add<CharProperty>(name, flags, variable);
}
LongProperty* PropertySet::addBound(const std::string& name, int* variable, std::uint8_t flags) {
    return add<LongProperty>(name, flags, variable);
}
DoubleProperty* PropertySet::addBound(const std::string& name, double* variable,
                                      std::uint8_t flags) {
    return add<DoubleProperty>(name, flags, variable);
}
GradientfProperty* PropertySet::addGradient(const std::string& name, Gradientf* gradient,
                                            std::uint8_t flags) {
    return add<GradientfProperty>(name, flags, gradient);
}

Property* PropertySet::addByType(const std::string& name, std::int32_t typeCode,
                                 std::uint8_t flags) {
    switch (typeCode) {
        case Property::kBool:
            return add<BoolProperty>(name, flags);
        case Property::kChar:
            return add<IntProperty<char>>(name, flags);
        case Property::kUChar:
            return add<IntProperty<unsigned char>>(name, flags);
        case Property::kShort:
            return add<IntProperty<short>>(name, flags);
        case Property::kUShort:
            return add<IntProperty<unsigned short>>(name, flags);
        case Property::kInt:
            return add<IntProperty<int>>(name, flags);
        case Property::kUInt:
            return add<IntProperty<unsigned int>>(name, flags);
        case Property::kFloat:
            return add<RealProperty<float>>(name, flags);
        case Property::kDouble:
            return add<RealProperty<double>>(name, flags);
        case Property::kLongDouble:
            return add<RealProperty<long double>>(name, flags);
        default:
            return nullptr;
    }
}

Property* PropertySet::find(const std::string& name) const {
    const auto it = byName_.find(name);
    return it == byName_.end() ? nullptr : it->second;
}

Property* PropertySet::at(std::int32_t index) const {
    return index >= 0 && index < count() ? rows_[static_cast<std::size_t>(index)].get() : nullptr;
}

void PropertySet::Clear() {
    clearing_ = true;
    const std::int32_t active = activeIndex_;
    activeIndex_ = -1;
    if (Property* p = at(active); p && p->active()) p->Deactivate();
    totalHeight_ = 0;
    if (view_) view_->rowsCleared();
    byName_.clear();
    rows_.clear();
    clearing_ = false;
}

void PropertySet::reloadAll() {
    // In list order, so that a row whose name a later row took is reloaded too.
    for (auto& p : rows_) p->Reload();
}

void PropertySet::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    for (auto& p : rows_) p->SetEnabled(enabled);
}

void PropertySet::setAutoApplyDefault(bool on) {
    autoApplyDefault_ = on;
    for (auto& p : rows_)
        if (p->followsDefault_) p->autoApply_ = on;  // not SetAutoApply: the row keeps following
}

bool PropertySet::select(std::int32_t index) {
    Property* p = at(index);
    if (!p) return false;
    if (!p->enabled()) return false;
    if (index == activeIndex_) return true;
    if (Property* old = at(activeIndex_); old && old->active()) old->Deactivate();
    activeIndex_ = index;
    p->Activate();
    return true;
}

void PropertySet::leave() {
    if (clearing_) return;
    if (Property* p = at(activeIndex_); p && p->active()) p->Deactivate();
    activeIndex_ = -1;
}

}  // namespace qm
