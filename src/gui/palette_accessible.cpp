#include "gui/palette_accessible.h"

#include <QAccessibleValueInterface>
#include <QScrollBar>
#include <QWidget>

#include "core/property/property.h"
#include "core/strings/string_table.h"
#include "gui/property_palette.h"
#include "gui/texts.h"

namespace qm::gui {

namespace {

QRect globalRect(const PropertyPalette& palette, const QRect& local) {
    return {palette.viewport()->mapToGlobal(local.topLeft()), local.size()};
}

// The check box of a row: "Fixé pendant la recherche".
class RowCheckAccessible final : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowCheckAccessible(PropertyPalette& palette, Property& row, QAccessibleInterface* parent)
        : palette_(palette), row_(row), parent_(parent) {}

    bool isValid() const override { return true; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return palette_.window()->windowHandle(); }
    QAccessibleInterface* parent() const override { return parent_; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return qtext(TextId::kTipFixed);
            case QAccessible::Value:
                return qtext(row_.ticked() ? TextId::kAccChecked : TextId::kAccUnchecked);
            default:
                return {};
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        const QRect row = palette_.rowRect(row_);
        return globalRect(palette_, QRect(row.left(), row.top() + 2, 13, 13));
    }
    QAccessible::Role role() const override { return QAccessible::CheckBox; }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.checkable = true;
        s.checked = row_.ticked();
        s.disabled = !row_.enabled() || !palette_.isEnabled();
        s.focusable = true;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }
    QStringList actionNames() const override { return {toggleAction()}; }
    void doAction(const QString& name) override {
        if (name != toggleAction() || !row_.enabled() || !palette_.isEnabled()) return;
        row_.SetChecked(!row_.ticked());
        row_.Draw();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    PropertyPalette& palette_;
    Property& row_;
    QAccessibleInterface* parent_;
};

// One row: its caption, the text it shows, and a role after its editor.
class RowAccessible final : public QAccessibleInterface,
                            public QAccessibleValueInterface,
                            public QAccessibleActionInterface {
public:
    RowAccessible(PropertyPalette& palette, Property& row) : palette_(palette), row_(row) {}
    ~RowAccessible() override {
        if (checkId_ != 0) QAccessible::deleteAccessibleInterface(checkId_);
    }

    bool isValid() const override { return true; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return palette_.window()->windowHandle(); }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(&palette_);
    }
    QAccessibleInterface* child(int index) const override {
        if (index != 0 || !row_.hasCheckBox()) return nullptr;
        if (checkId_ == 0) {
            auto* self = const_cast<RowAccessible*>(this);
            checkId_ = QAccessible::registerAccessibleInterface(
                new RowCheckAccessible(palette_, row_, self));
        }
        return QAccessible::accessibleInterface(checkId_);
    }
    int childCount() const override { return row_.hasCheckBox() ? 1 : 0; }
    int indexOfChild(const QAccessibleInterface* c) const override {
        return c && checkId_ != 0 && c == QAccessible::accessibleInterface(checkId_) ? 0 : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        QAccessibleInterface* check = child(0);
        return check && check->rect().contains(x, y) ? check : nullptr;
    }
    QAccessibleInterface* focusChild() const override { return nullptr; }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return QString::fromStdString(row_.caption());
            case QAccessible::Value:
                if (const auto* n = numeric()) return palette_.shownText(*n);
                if (const auto* b = dynamic_cast<const BoolProperty*>(&row_))
                    return qtext(b->value() ? TextId::kAccChecked : TextId::kAccUnchecked);
                return {};
            case QAccessible::Description:
                return QString::fromStdString(row_.toolTip);
            default:
                return {};
        }
    }
    void setText(QAccessible::Text t, const QString& text) override {
        auto* n = numeric();
        if (t != QAccessible::Value || !n || !editable()) return;
        n->editorText(text.toStdString(), nullptr);
        if (!n->autoApply()) n->Commit();
    }
    QRect rect() const override { return globalRect(palette_, palette_.rowRect(row_)); }
    QAccessible::Role role() const override {
        if (row_.typeCode() == Property::kBool) return QAccessible::CheckBox;
        if (row_.typeCode() == Property::kGradient) return QAccessible::Graphic;
        const auto* n = numeric();
        if (n && n->enumerated()) return QAccessible::ComboBox;
        if (n && n->hasTrackBar()) return QAccessible::Slider;
        return QAccessible::EditableText;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        s.disabled = !editable();
        s.focusable = true;
        s.focused = row_.active();
        s.selectable = true;
        s.selected = row_.active();
        const QRect r = palette_.rowRect(row_);
        s.offscreen = !palette_.viewport()->rect().intersects(r);
        s.invisible = !palette_.isVisible();
        if (const auto* b = dynamic_cast<const BoolProperty*>(&row_)) {
            s.checkable = true;
            s.checked = b->value();
        }
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface && numeric())
            return static_cast<QAccessibleValueInterface*>(this);
        if (type == QAccessible::ActionInterface && row_.typeCode() == Property::kBool)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    // Value: the number itself, as the row holds it.
    QVariant currentValue() const override {
        const auto* n = numeric();
        return n ? QVariant(static_cast<double>(n->shownValue())) : QVariant();
    }
    void setCurrentValue(const QVariant& value) override {
        auto* n = numeric();
        if (!n || !editable() || !value.canConvert<double>()) return;
        n->editorValue(n->toElement(value.toDouble()), nullptr);
        if (!n->autoApply()) n->Commit();
    }
    QVariant maximumValue() const override { return limit(true); }
    QVariant minimumValue() const override { return limit(false); }
    QVariant minimumStepSize() const override {
        const auto* n = numeric();
        return n && !n->isReal() ? QVariant(1.0) : QVariant(0.0);
    }

    // Action: a boolean row toggles.
    QStringList actionNames() const override { return {toggleAction()}; }
    void doAction(const QString& name) override {
        auto* b = dynamic_cast<BoolProperty*>(&row_);
        if (name == toggleAction() && b && editable()) b->SetValue(!b->value());
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    NumPropertyBase* numeric() const { return dynamic_cast<NumPropertyBase*>(&row_); }
    bool editable() const { return row_.enabled() && palette_.isEnabled(); }
    // The track bar's range where there is one, else the row's limits.
    QVariant limit(bool upper) const {
        const auto* n = numeric();
        if (!n) return {};
        const long double lo = n->sliderRange().first, hi = n->sliderRange().second;
        return static_cast<double>(upper ? hi : lo);
    }

    PropertyPalette& palette_;
    Property& row_;
    mutable QAccessible::Id checkId_ = 0;
};

QAccessibleInterface* paletteFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("qm::gui::PropertyPalette"))
        if (auto* palette = qobject_cast<PropertyPalette*>(object))
            return new PropertyPaletteAccessible(palette);
    return nullptr;
}

}  // namespace

PropertyPaletteAccessible::PropertyPaletteAccessible(PropertyPalette* palette)
    : QAccessibleWidget(palette, QAccessible::List) {}

PropertyPalette* PropertyPaletteAccessible::palette() const {
    return static_cast<PropertyPalette*>(widget());
}

int PropertyPaletteAccessible::childCount() const {
    return palette()->rows().count();
}

QAccessibleInterface* PropertyPaletteAccessible::child(int index) const {
    Property* row = palette()->rows().at(index);
    return row ? rowAccessible(*palette(), *row) : nullptr;
}

int PropertyPaletteAccessible::indexOfChild(const QAccessibleInterface* child) const {
    const PropertySet& rows = palette()->rows();
    for (int i = 0; i < rows.count(); ++i)
        if (palette()->accessibleIds().size() > static_cast<std::size_t>(i) &&
            QAccessible::accessibleInterface(
                palette()->accessibleIds()[static_cast<std::size_t>(i)]) == child)
            return i;
    return -1;
}

QAccessibleInterface* PropertyPaletteAccessible::childAt(int x, int y) const {
    const QPoint local = palette()->viewport()->mapFromGlobal(QPoint(x, y));
    return child(palette()->rowAt(local.y()));
}

QAccessibleInterface* PropertyPaletteAccessible::focusChild() const {
    return child(palette()->rows().activeIndex());
}

QString PropertyPaletteAccessible::text(QAccessible::Text t) const {
    QString s = QAccessibleWidget::text(t);
    // Named after its window: "attracteur", "vue".
    if (t == QAccessible::Name && s.isEmpty()) s = palette()->window()->windowTitle();
    return s;
}

void installPaletteAccessibility() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(paletteFactory);
}

QAccessibleInterface* rowAccessible(PropertyPalette& palette, Property& row) {
    auto& ids = palette.accessibleIds();
    const auto i = static_cast<std::size_t>(row.listIndex());
    if (ids.size() <= i) ids.resize(i + 1, 0);
    if (ids[i] == 0)
        ids[i] = QAccessible::registerAccessibleInterface(new RowAccessible(palette, row));
    return QAccessible::accessibleInterface(ids[i]);
}

void releaseRowAccessibles(PropertyPalette& palette) {
    auto& ids = palette.accessibleIds();
    for (QAccessible::Id id : ids)
        if (id != 0) QAccessible::deleteAccessibleInterface(id);
    ids.clear();
}

void notifyRowChanged(PropertyPalette& palette, Property& row) {
    if (!QAccessible::isActive()) return;
    QAccessibleInterface* iface = rowAccessible(palette, row);
    QAccessibleValueChangeEvent event(iface, iface->text(QAccessible::Value));
    QAccessible::updateAccessibility(&event);
}

}  // namespace qm::gui
