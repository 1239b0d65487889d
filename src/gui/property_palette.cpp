#include "gui/property_palette.h"

#include <QApplication>
#include <QFileDialog>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <array>
#include <cmath>

#include "core/property/color_map.h"
#include "core/property/gradient.h"
#include "core/strings/string_table.h"
#include "gui/file_dialog.h"
#include "gui/palette_accessible.h"
#include "gui/texts.h"

namespace qm::gui {

namespace {

PropertyPalette::ColorMapDialogHook& colorMapDialogHook() {
    static PropertyPalette::ColorMapDialogHook hook;
    return hook;
}

QString caption(const Property& p) {
    return QString::fromStdString(p.caption());
}

// A speed-zone cursor: one to three chevrons pointing left (100 to 102) or right (103 to 105).
QPixmap zoneCursorPixmap(int id) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool left = id < 103;
    const int chevrons = (id - 100) % 3 + 1;
    for (int i = 0; i < chevrons; ++i) {
        const double x = left ? 6 + 6 * i : 26 - 6 * i;
        const double tip = left ? x - 5 : x + 5;
        QPainterPath path;
        path.moveTo(x, 9);
        path.lineTo(tip, 16);
        path.lineTo(x, 23);
        painter.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(path);
        painter.setPen(QPen(Qt::black, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(path);
    }
    return pixmap;
}

// A character of a numeric edit: refused, passed on as typed, or replaced by the separator.
enum class KeyVerdict { Refuse, Pass, Separator };

KeyVerdict filterNumericKey(const QLineEdit& edit, const QString& typed, bool real,
                            const QString& separator) {
    const QString text = edit.text();
    const bool hasSeparator = real && text.contains(separator);
    const bool hasSign = text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('-'));
    const int caret = edit.hasSelectedText() ? edit.selectionStart() : edit.cursorPosition();
    const QChar c = typed.at(0);
    if (real && (c == QLatin1Char('.') || typed == separator))
        return hasSeparator ? KeyVerdict::Refuse : KeyVerdict::Separator;
    if (c.isDigit() && c.unicode() < 128)
        return hasSign && caret == 0 && !edit.hasSelectedText() ? KeyVerdict::Refuse
                                                                : KeyVerdict::Pass;
    if (c == QLatin1Char('+') || c == QLatin1Char('-'))
        return caret == 0 && (!hasSign || edit.hasSelectedText()) ? KeyVerdict::Pass
                                                                  : KeyVerdict::Refuse;
    return KeyVerdict::Refuse;
}

// Printable text goes through the filter; keys without text (arrows, Delete, shortcuts) and
// Backspace go to the edit.
bool isFilteredText(const QKeyEvent* event) {
    const QString t = event->text();
    return !t.isEmpty() && t.at(0).isPrint() &&
           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
}

}  // namespace

QCursor speedZoneCursor(int id) {
    if (id < 100 || id > 105) return Qt::ArrowCursor;
    static QCursor cursors[6];
    static bool made = false;
    if (!made) {
        for (int i = 0; i < 6; ++i) cursors[i] = QCursor(zoneCursorPixmap(100 + i), 16, 16);
        made = true;
    }
    return cursors[id - 100];
}

int speedZoneAt(int x, int thumbLeft, int thumbRight, int zoneWidth) {
    const auto speed = [](int d) { return d <= 6 ? 0 : d <= 13 ? 1 : 2; };
    if (x < thumbLeft && x >= thumbLeft - zoneWidth) return 100 + speed(thumbLeft - x);
    if (x > thumbRight && x <= thumbRight + zoneWidth) return 103 + speed(x - thumbRight);
    return 0;
}

void paintGradient(QPainter& painter, const QRect& rect, const Gradientf& gradient) {
    const int width = rect.width();
    for (int x = 0; x < width; ++x) {
        const std::uint32_t c = displayColor(gradient.ColorAt(static_cast<double>(x) / width));
        painter.setPen(QColor(c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff));
        painter.drawLine(rect.left() + x, rect.top(), rect.left() + x, rect.top() + rect.height());
    }
}

// --- Live widgets ----------------------------------------------------------------------

PropertyLabel::PropertyLabel(QWidget* parent) : QLabel(parent) {
    // Its own role: a child would take the palette's button face.
    setBackgroundRole(QPalette::Window);
    setAutoFillBackground(true);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void PropertyLabel::refresh(const Property& p) {
    setText(QLatin1Char(' ') + caption(p));
    QFont f = font();
    f.setBold(p.pending());
    setFont(f);
    QPalette colours = palette();
    const bool on = p.enabled();
    colours.setColor(QPalette::Window,
                     on ? colours.color(QPalette::Highlight) : colours.color(QPalette::Button));
    colours.setColor(QPalette::WindowText, on ? colours.color(QPalette::HighlightedText)
                                              : colours.color(QPalette::ButtonText));
    setPalette(colours);
}

PropertyCheckBox::PropertyCheckBox(QWidget* parent) : QCheckBox(parent) {
    connect(this, &QCheckBox::clicked, this, [this](bool on) {
        if (property) property->SetChecked(on);
    });
}

void PropertyCheckBox::paintEvent(QPaintEvent*) {
    // The same square as on the inactive rows, on the active row's highlight.
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(isEnabled() ? QPalette::Highlight : QPalette::Button));
    paintCheckSquare(painter, QRect(0, 2, 13, 13), isChecked(), isEnabled(), palette());
}

bool PropertyCheckBox::hitButton(const QPoint& pos) const {
    return rect().contains(pos);
}

BoolPropertyCheckBox::BoolPropertyCheckBox(QWidget* parent) : QCheckBox(parent) {
    // The caption on the left, the square on the right.
    setLayoutDirection(Qt::RightToLeft);
    connect(this, &QCheckBox::clicked, this, [this](bool on) {
        if (property) property->SetValue(on);
    });
}

NumPropertyEdit::NumPropertyEdit(PropertyPalette& palette, QWidget* parent)
    : QLineEdit(parent), palette_(palette) {
    setFrame(false);
    setTextMargins(2, 0, 0, 0);
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!updating && property) property->editorText(text.toStdString(), this);
    });
}

void NumPropertyEdit::refresh() {
    if (!property) return;
    const QString text = palette_.shownText(*property);
    updating = true;
    if (this->text() != text) setText(text);
    updating = false;
}

void NumPropertyEdit::keyPressEvent(QKeyEvent* event) {
    NumPropertyBase* p = property;
    if (!p) return QLineEdit::keyPressEvent(event);
    switch (event->key()) {
        case Qt::Key_Up:
            palette_.moveActive(-1);
            return;
        case Qt::Key_Down:
            palette_.moveActive(1);
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (!p->autoApply()) p->Commit();
            return;
        case Qt::Key_Escape:
            if (p->isReal()) {
                if (!p->autoApply()) p->Reload();
            } else {
                // The edit's own undo; the text it gives back counts as typed.
                undo();
                if (property == p) p->editorText(text().toStdString(), this);
            }
            return;
        default:
            break;
    }
    if (!isFilteredText(event)) return QLineEdit::keyPressEvent(event);
    const QString separator = QString::fromStdString(palette_.rows().decimalSeparator);
    switch (filterNumericKey(*this, event->text(), p->isReal(), separator)) {
        case KeyVerdict::Refuse:
            return;
        case KeyVerdict::Pass:
            QLineEdit::keyPressEvent(event);
            return;
        case KeyVerdict::Separator:
            insert(separator);
            // insert() does not count as an edit: report the new text as typing would.
            if (property == p) p->editorText(text().toStdString(), this);
            return;
    }
}

NumPropertyComboBox::NumPropertyComboBox(PropertyPalette& palette, QWidget* parent)
    : QComboBox(parent), palette_(palette) {
    setFrame(false);
    setInsertPolicy(QComboBox::NoInsert);
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (updating || !property || index < 0 || index >= static_cast<int>(property->enumCount()))
            return;
        NumPropertyBase* p = property;
        const long double v = p->enumValue(static_cast<std::size_t>(index));
        if (isEditable()) {
            updating = true;
            setEditText(QString::fromStdString(p->enumText(static_cast<std::size_t>(index))));
            updating = false;
        }
        // A choice picked from the list is meant: it commits at once. Typed text waits for
        // Return like any edit.
        const bool commit = !p->autoApply();
        p->editorValue(v, this);
        if (commit && property == p) p->Commit();
    });
}

void NumPropertyComboBox::attach(NumPropertyBase* p) {
    property = p;
    updating = true;
    setEditable(!p->listOnly());
    if (QLineEdit* line = lineEdit()) {
        line->installEventFilter(this);
        disconnect(line, &QLineEdit::textEdited, this, nullptr);
        connect(line, &QLineEdit::textEdited, this, [this](const QString& text) {
            if (!updating && property) property->editorText(text.toStdString(), this);
        });
    }
    clear();
    for (std::size_t i = 0; i < p->enumCount(); ++i)
        addItem(QString::fromStdString(p->enumText(i)));
    updating = false;
    refresh();
}

void NumPropertyComboBox::refresh() {
    if (!property) return;
    updating = true;
    if (property->listOnly()) {
        setCurrentIndex(std::max(property->shownEnumIndex(), 0));
    } else {
        const QString text = QString::fromStdString(property->shownText());
        setCurrentIndex(property->shownEnumIndex());
        if (currentText() != text) setEditText(text);
    }
    updating = false;
}

bool NumPropertyComboBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        NumPropertyBase* p = property;
        if (!p || !isFilteredText(key)) return false;
        const QString separator = QString::fromStdString(palette_.rows().decimalSeparator);
        switch (filterNumericKey(*lineEdit(), key->text(), p->isReal(), separator)) {
            case KeyVerdict::Refuse:
                return true;
            case KeyVerdict::Pass:
                return false;
            case KeyVerdict::Separator:
                lineEdit()->insert(separator);
                if (property == p) p->editorText(lineEdit()->text().toStdString(), this);
                return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void NumPropertyComboBox::keyPressEvent(QKeyEvent* event) {
    NumPropertyBase* p = property;
    if (p && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        if (!p->autoApply()) p->Commit();
        return;
    }
    if (p && event->key() == Qt::Key_Escape) {
        if (!p->autoApply()) p->Reload();
        return;
    }
    QComboBox::keyPressEvent(event);
}

NumPropertyTrackBar::NumPropertyTrackBar(PropertyPalette& palette, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), palette_(palette) {
    setTickPosition(QSlider::NoTicks);
    setSingleStep(5);
    setPageStep(20);
    setMouseTracking(true);
    connect(this, &QSlider::valueChanged, this, &NumPropertyTrackBar::positionChanged);
}

void NumPropertyTrackBar::refresh() {
    if (!property) return;
    updating = true;
    setRange(0, std::max(width() - 1, 0));
    value_ = property->shownValue();
    setValue(std::min(property->sliderPosition(width()), maximum()));
    updating = false;
    recordThumb();
}

QRect NumPropertyTrackBar::thumbRect() const {
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    return style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
}

void NumPropertyTrackBar::recordThumb() {
    if (!property) return;
    const QRect r = thumbRect().translated(pos());
    property->thumbRect = {r.left(), r.top(), r.right(), r.bottom()};
}

void NumPropertyTrackBar::positionChanged(int position) {
    if (updating || !property) return;
    const long double v = property->sliderValue(position, width());
    NumPropertyBase* p = property;
    if (v != value_) {
        value_ = v;
        p->editorValue(v, this);
    }
    if (property == p) recordThumb();
}

void NumPropertyTrackBar::advance(long double step) {
    NumPropertyBase* p = property;
    if (!p) return;
    value_ = p->toElement(value_ + step);
    // The thumb follows the value, as the property will show it.
    p->editorValue(value_, this);
    if (property != p) return;
    updating = true;
    setValue(std::min(p->sliderPosition(width()), maximum()));
    updating = false;
    recordThumb();
}

void NumPropertyTrackBar::mousePressEvent(QMouseEvent* event) {
    NumPropertyBase* p = property;
    if (p && event->button() == Qt::LeftButton && p->autoApply() && p->speedZones()) {
        const QRect thumb = thumbRect();
        const int x = event->position().toPoint().x();
        if (speedZoneAt(x, thumb.left(), thumb.right(), palette_.rows().zoneWidth) != 0) {
            const int edge = x < thumb.left() ? thumb.left() : thumb.right();
            long double step = static_cast<long double>(x - edge) * 0.001L;
            if (!p->isReal()) step = std::trunc(step);
            setFocus();
            palette_.startRepeat(this, step);
            if (step != 0) advance(step);
            return;
        }
    }
    QSlider::mousePressEvent(event);
}

void NumPropertyTrackBar::mouseMoveEvent(QMouseEvent* event) {
    NumPropertyBase* p = property;
    if (p && !(event->buttons() & Qt::LeftButton)) {
        const QRect thumb = thumbRect();
        const int zone = p->autoApply() && p->speedZones()
                             ? speedZoneAt(event->position().toPoint().x(), thumb.left(),
                                           thumb.right(), palette_.rows().zoneWidth)
                             : 0;
        setCursor(speedZoneCursor(zone));
    }
    QSlider::mouseMoveEvent(event);
}

void NumPropertyTrackBar::mouseReleaseEvent(QMouseEvent* event) {
    palette_.stopRepeat();
    QSlider::mouseReleaseEvent(event);
    NumPropertyBase* p = property;
    if (!p) return;
    // Releasing always commits: a pending row takes the value too.
    const bool commit = !p->autoApply();
    p->editorValue(value_, this);
    if (commit && property == p) p->Commit();
}

GradientPropertyViewer::GradientPropertyViewer(PropertyPalette& palette, QWidget* parent)
    : QWidget(parent), palette_(palette) {}

void GradientPropertyViewer::paintEvent(QPaintEvent*) {
    if (!property || !property->gradient()) return;
    QPainter painter(this);
    paintGradient(painter, rect(), *property->gradient());
}

void GradientPropertyViewer::mouseDoubleClickEvent(QMouseEvent*) {
    if (property) palette_.loadColorMapInto(*property);
}

// --- PropertyPalette ---------------------------------------------------------------------

PropertyPalette::PropertyPalette(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setBackgroundRole(QPalette::Button);
    viewport()->setAutoFillBackground(true);
    repeat_.setInterval(100);
    connect(&repeat_, &QTimer::timeout, this, [this] {
        if (repeatingBar_ && repeatingBar_->property && repeatingBar_->property->isReal())
            repeatingBar_->advance(step_);
    });
    connect(qApp, &QApplication::focusChanged, this, &PropertyPalette::focusChanged);
    set_.decimalSeparator = QLocale().decimalPoint().toStdString();
    installPaletteAccessibility();
    set_.setView(this);
    setRowFont(font());
}

PropertyPalette::~PropertyPalette() {
    disconnect(qApp, nullptr, this, nullptr);
    set_.setView(nullptr);
    set_.Clear();
    releaseRowAccessibles(*this);
}

void PropertyPalette::setRowFont(const QFont& f) {
    setFont(f);
    // Rows are 10 pixels taller than the font; an enumerated row is a combo box's height + 1.
    set_.baseRowHeight = QFontMetrics(f).height() + 10;
    QComboBox probe;
    probe.setFont(f);
    probe.setFrame(false);
    probe.setEditable(true);
    set_.comboRowHeight = std::max(probe.sizeHint().height(), set_.baseRowHeight - 1) + 1;
}

void PropertyPalette::fitLabelWidth(int minimum) {
    QFont bold = font();
    bold.setBold(true);  // a pending row's label must fit too
    const QFontMetrics metrics(bold);
    int width = minimum;
    for (int i = 0; i < set_.count(); ++i) {
        const Property* p = set_.at(i);
        const int needed = metrics.horizontalAdvance(QLatin1Char(' ') + caption(*p)) + 4 +
                           (p->hasCheckBox() ? 13 : 0);
        width = std::max(width, needed);
    }
    set_.labelWidth = width;
    // The edit beside a track bar holds what the bar resolves, sign and separator included.
    set_.editorWidth = std::max<int>(
        set_.editorWidth, QFontMetrics(font()).horizontalAdvance(QStringLiteral("-000,0000")) + 6);
    viewport()->update();
}

QString PropertyPalette::shownText(const NumPropertyBase& p) const {
    if (!p.hasTrackBar()) return QString::fromStdString(p.shownText());
    return QString::fromStdString(p.barText(layoutOf(p, 0).trackBar.width()));
}

int PropertyPalette::scrollOffset() const {
    return verticalScrollBar()->value();
}

QRect PropertyPalette::rowRect(const Property& p) const {
    const auto i = static_cast<std::size_t>(p.listIndex());
    if (i >= tops_.size()) return {};
    return {0, tops_[i] - scrollOffset(), viewport()->width(), p.rowHeight()};
}

int PropertyPalette::rowAt(int y) const {
    const int content = y + scrollOffset();
    for (int i = 0; i < set_.count(); ++i)
        if (content >= tops_[static_cast<std::size_t>(i)] &&
            content < tops_[static_cast<std::size_t>(i)] + set_.at(i)->rowHeight())
            return i;
    return -1;
}

void PropertyPalette::updateScrollRange() {
    verticalScrollBar()->setRange(0, std::max(set_.totalHeight() - viewport()->height(), 0));
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(set_.baseRowHeight);
}

PropertyPalette::Layout PropertyPalette::layoutOf(const Property& p, int top) const {
    const int L = set_.labelWidth, E = set_.editorWidth;
    const int W = width(), S = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int h = p.separator() ? p.rowHeight() - 4 : p.rowHeight() - 1;
    Layout l;
    const bool check = p.hasCheckBox();
    l.check = QRect(0, top, 13, h);
    l.label = check ? QRect(13, top, L - 13, h) : QRect(0, top, L, h);
    l.editor = QRect(L, top, p.hasTrackBar() ? E : 2 * E, h);
    const int barLeft = L + E + 1;
    l.trackBar = QRect(barLeft, top, std::max(W - barLeft - S - 3, 8), h);
    l.viewer = QRect(L, top, std::max(W - L - S - 4, 8), h);
    if (p.typeCode() == Property::kBool) l.label = QRect(0, top, L + 13, h);
    return l;
}

// --- Painting the rows ------------------------------------------------------------------

void PropertyPalette::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), viewport()->palette().color(QPalette::Button));
    for (int i = 0; i < set_.count(); ++i) {
        Property* p = set_.at(i);
        const int top = tops_[static_cast<std::size_t>(i)] - scrollOffset();
        if (top + p->rowHeight() < 0 || top >= viewport()->height()) continue;
        paintRow(painter, *p, top);
    }
}

void PropertyPalette::paintRow(QPainter& painter, Property& p, int top) {
    const Layout l = layoutOf(p, top);
    const bool on = p.enabled();
    if (!p.active()) {
        if (p.typeCode() == Property::kBool) {
            const auto& b = static_cast<const BoolProperty&>(p);
            paintLabel(painter, QRect(0, top, set_.labelWidth, l.label.height()), caption(p),
                       p.pending(), on, 2);
            paintCheckSquare(painter, QRect(set_.labelWidth, top + 2, 13, 13), b.value(), on,
                             palette());
        } else {
            paintLabel(painter, l.label, QLatin1Char(' ') + caption(p), p.pending(), on, 0);
            if (p.hasCheckBox())
                paintCheckSquare(painter, QRect(0, top + 2, 13, 13), p.ticked(), on, palette());
        }
        if (auto* n = dynamic_cast<NumPropertyBase*>(&p)) {
            paintEditorBox(painter, l.editor, shownText(*n), on, n->enumerated());
            if (n->hasTrackBar()) paintTrackBar(painter, p, l.trackBar);
        } else if (auto* g = dynamic_cast<GradientfProperty*>(&p); g && g->gradient()) {
            paintGradient(painter, l.viewer, *g->gradient());
        }
    }
    if (p.separator()) {
        const int y = top + p.rowHeight() - 3;
        const QPalette& colours = palette();
        painter.setPen(colours.color(QPalette::Dark));
        painter.drawLine(0, y, width() - 1, y);
        painter.setPen(colours.color(QPalette::Light));
        painter.drawLine(0, y + 1, width() - 1, y + 1);
    }
}

void PropertyPalette::paintLabel(QPainter& painter, const QRect& r, const QString& text, bool bold,
                                 bool enabled, int indent) {
    const QPalette& colours = palette();
    painter.fillRect(r, colours.color(QPalette::Button));
    QFont f = font();
    f.setBold(bold);
    painter.setFont(f);
    const QRect textRect = r.adjusted(indent, 0, 0, 0);
    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
    if (enabled) {
        painter.setPen(colours.color(QPalette::ButtonText));
        painter.drawText(textRect, flags, text);
    } else {
        // Engraved: a light copy one pixel down and right, the shadow over it.
        painter.setPen(colours.color(QPalette::Light));
        painter.drawText(textRect.translated(1, 1), flags, text);
        painter.setPen(colours.color(QPalette::Dark));
        painter.drawText(textRect, flags, text);
    }
    painter.setFont(font());
}

void paintCheckSquare(QPainter& painter, const QRect& square, bool ticked, bool enabled,
                      const QPalette& colours) {
    painter.fillRect(square, colours.color(QPalette::Base));
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawRect(square.adjusted(0, 0, -1, -1));
    if (!ticked) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(
        enabled ? colours.color(QPalette::Text) : colours.color(QPalette::Disabled, QPalette::Text),
        1.8));
    const QPointF o = square.topLeft();
    QPainterPath mark;
    mark.moveTo(o + QPointF(3, 6.5));
    mark.lineTo(o + QPointF(5.5, 9.5));
    mark.lineTo(o + QPointF(10, 3.5));
    painter.drawPath(mark);
    painter.restore();
}

void PropertyPalette::paintEditorBox(QPainter& painter, const QRect& r, const QString& text,
                                     bool enabled, bool combo) {
    const QPalette& colours = palette();
    painter.fillRect(r, colours.color(QPalette::Base));
    painter.setPen(enabled ? colours.color(QPalette::Text)
                           : colours.color(QPalette::Disabled, QPalette::Text));
    QRect textRect = r.adjusted(3, 0, 0, 0);
    if (combo) {
        const int S = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        const QRect button(r.right() - S - 1, r.top() + 2, S, r.height() - 4);
        textRect.setRight(button.left() - 1);
        QStyleOptionButton opt;
        opt.initFrom(this);
        opt.rect = button;
        opt.state = enabled ? (QStyle::State_Enabled | QStyle::State_Raised) : QStyle::State_Raised;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &opt, &painter, this);
        opt.rect = button.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &opt, &painter, this);
    }
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void PropertyPalette::paintTrackBar(QPainter& painter, Property& p, const QRect& r) {
    auto& n = static_cast<NumPropertyBase&>(p);
    QStyleOptionSlider opt;
    opt.initFrom(this);
    opt.rect = QRect(QPoint(0, 0), r.size());
    opt.orientation = Qt::Horizontal;
    opt.minimum = 0;
    opt.maximum = std::max(r.width() - 1, 0);
    opt.sliderPosition = opt.sliderValue = std::min(n.sliderPosition(r.width()), opt.maximum);
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    opt.tickPosition = QSlider::NoTicks;
    opt.state =
        p.enabled() ? QStyle::State_Enabled | QStyle::State_Horizontal : QStyle::State_Horizontal;
    if (!p.enabled()) opt.palette.setCurrentColorGroup(QPalette::Disabled);
    const QRect thumb =
        style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    p.thumbRect = {r.left() + thumb.left(), r.top() + thumb.top(), r.left() + thumb.right(),
                   r.top() + thumb.bottom()};
    painter.save();
    painter.translate(r.topLeft());
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &painter, this);
    painter.restore();
}

// --- PropertyView -----------------------------------------------------------------------

void PropertyPalette::rowAdded(Property& row) {
    tops_.push_back(set_.totalHeight());
    (void)row;
    updateScrollRange();
    viewport()->update();
}

void PropertyPalette::rowsCleared() {
    stopRepeat();
    hideLive();
    tops_.clear();
    releaseRowAccessibles(*this);
    // The widgets go with the rows; one may be in the middle of reporting its own change.
    for (QWidget* w : liveWidgets())
        if (w) w->deleteLater();
    label_ = nullptr;
    rowCheck_ = nullptr;
    boolCheck_ = nullptr;
    edit_ = nullptr;
    combo_ = nullptr;
    trackBar_ = nullptr;
    viewer_ = nullptr;
    updateScrollRange();
    viewport()->update();
}

void PropertyPalette::rowCaptionChanged(Property& row) {
    viewport()->update(rowRect(row));
}

void PropertyPalette::drawRow(Property& row) {
    if (row.active() && !row.pending()) refreshLive(row, nullptr);
    viewport()->update(rowRect(row));
    notifyRowChanged(*this, row);
}

void PropertyPalette::refreshEditors(Property& row, const void* except) {
    if (row.active()) refreshLive(row, except);
    viewport()->update(rowRect(row));
    notifyRowChanged(*this, row);
}

void PropertyPalette::refreshLive(Property& p, const void* except) {
    if (label_ && label_->isVisible() && except != label_) label_->refresh(p);
    if (rowCheck_ && rowCheck_->property == &p && except != rowCheck_) {
        const QSignalBlocker block(rowCheck_);
        rowCheck_->setChecked(p.ticked());
    }
    if (boolCheck_ && boolCheck_->property == &p && except != boolCheck_) {
        const QSignalBlocker block(boolCheck_);
        boolCheck_->setChecked(boolCheck_->property->value());
    }
    if (edit_ && edit_->property == &p && except != edit_) edit_->refresh();
    if (combo_ && combo_->property == &p && except != combo_) combo_->refresh();
    if (trackBar_ && trackBar_->property == &p && except != trackBar_) trackBar_->refresh();
    if (viewer_ && viewer_->property == &p) viewer_->update();
}

void PropertyPalette::activateEditors(Property& row) {
    placeLive(row);
}

void PropertyPalette::placeLive(Property& p) {
    const QRect r = rowRect(p);
    const Layout l = layoutOf(p, r.top());
    QWidget* focus = nullptr;
    const QString tip = QString::fromStdString(p.toolTip);
    const auto show = [&p, &tip](QWidget* w, const QRect& g) {
        w->setGeometry(g);
        w->setEnabled(p.enabled());
        w->unsetCursor();
        w->setToolTip(tip);
        w->show();
    };
    if (p.typeCode() == Property::kBool) {
        if (!boolCheck_) boolCheck_ = new BoolPropertyCheckBox(viewport());
        boolCheck_->property = static_cast<BoolProperty*>(&p);
        boolCheck_->setText(caption(p));
        show(boolCheck_, l.label);
        focus = boolCheck_;
    } else {
        if (!label_) label_ = new PropertyLabel(viewport());
        show(label_, l.label);
    }
    if (p.hasCheckBox()) {
        if (!rowCheck_) rowCheck_ = new PropertyCheckBox(viewport());
        rowCheck_->property = &p;
        show(rowCheck_, l.check);
        rowCheck_->setToolTip(checkToolTip_);
    }
    if (auto* n = dynamic_cast<NumPropertyBase*>(&p)) {
        if (n->enumerated()) {
            if (!combo_) combo_ = new NumPropertyComboBox(*this, viewport());
            show(combo_, l.editor);
            combo_->attach(n);
            focus = combo_;
        } else {
            if (!edit_) edit_ = new NumPropertyEdit(*this, viewport());
            edit_->property = n;
            show(edit_, l.editor);
            focus = edit_;
        }
        if (n->hasTrackBar()) {
            if (!trackBar_) trackBar_ = new NumPropertyTrackBar(*this, viewport());
            trackBar_->property = n;
            show(trackBar_, l.trackBar);
        }
    } else if (auto* g = dynamic_cast<GradientfProperty*>(&p)) {
        if (!viewer_) viewer_ = new GradientPropertyViewer(*this, viewport());
        viewer_->property = g;
        show(viewer_, l.viewer);
    }
    refreshLive(p, nullptr);
    if (focus && (hasFocus() || isAncestorOf(QApplication::focusWidget()))) focus->setFocus();
}

void PropertyPalette::deactivateEditors(Property&) {
    deactivating_ = true;
    if (isAncestorOf(QApplication::focusWidget())) setFocus();
    hideLive();
    deactivating_ = false;
}

void PropertyPalette::hideLive() {
    for (QWidget* w : liveWidgets())
        if (w) w->hide();
    if (rowCheck_) rowCheck_->property = nullptr;
    if (boolCheck_) boolCheck_->property = nullptr;
    if (edit_) edit_->property = nullptr;
    if (combo_) combo_->property = nullptr;
    if (trackBar_) trackBar_->property = nullptr;
    if (viewer_) viewer_->property = nullptr;
    if (repeatingBar_ && !repeatingBar_->property) stopRepeat();
}

std::array<QWidget*, 7> PropertyPalette::liveWidgets() const {
    return {label_, rowCheck_, boolCheck_, edit_, combo_, trackBar_, viewer_};
}

int PropertyPalette::liveWidgetCount() const {
    int n = 0;
    for (QWidget* w : liveWidgets()) n += w != nullptr;
    return n;
}

void PropertyPalette::enumItemsChanged(Property& row) {
    if (combo_ && combo_->property == &row) combo_->attach(combo_->property);
}

// --- Input ------------------------------------------------------------------------------

bool PropertyPalette::selectRow(int index) {
    if (!set_.select(index)) {
        viewport()->update();
        return false;
    }
    return true;
}

void PropertyPalette::moveActive(int delta) {
    const int next = set_.activeIndex() + delta;
    if (next < 0 || next >= set_.count()) return;
    setFocus();
    if (selectRow(next)) {
        // Keep the new row in view.
        const QRect r = rowRect(*set_.at(next));
        if (r.top() < 0 || r.bottom() >= viewport()->height()) {
            const int content = tops_[static_cast<std::size_t>(next)];
            verticalScrollBar()->setValue(
                r.top() < 0 ? content : content + r.height() - viewport()->height());
            selectRow(next);
        }
    }
}

void PropertyPalette::mousePressEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    const int i = rowAt(point.y());
    Property* p = set_.at(i);
    if (!p || !p->enabled() || i == set_.activeIndex()) return;
    if (!selectRow(i)) return;
    // The same click acts on the live widget now under the pointer.
    QWidget* child = viewport()->childAt(point);
    if (!child) return;
    forwardTarget_ = child;
    const QPointF local = child->mapFrom(viewport(), point);
    QMouseEvent press(event->type(), local, event->scenePosition(), event->globalPosition(),
                      event->button(), event->buttons(), event->modifiers());
    QApplication::sendEvent(child, &press);
}

void PropertyPalette::mouseMoveEvent(QMouseEvent* event) {
    const QPoint point = event->position().toPoint();
    if (forwardTarget_ && (event->buttons() & Qt::LeftButton)) {
        QMouseEvent move(event->type(), forwardTarget_->mapFrom(viewport(), point),
                         event->scenePosition(), event->globalPosition(), event->button(),
                         event->buttons(), event->modifiers());
        QApplication::sendEvent(forwardTarget_, &move);
        return;
    }
    if (repeat_.isActive()) stopRepeat();
    Property* p = set_.at(rowAt(point.y()));
    int zone = 0;
    if (p && p->hasTrackBar() && p->autoApply() && p->speedZones() && !p->active()) {
        const PropertyRect& t = p->thumbRect;
        const int top = rowRect(*p).top();
        if (point.y() >= top && point.y() < top + p->rowHeight())
            zone = speedZoneAt(point.x(), t.left, t.right, set_.zoneWidth);
    }
    viewport()->setCursor(speedZoneCursor(zone));
}

void PropertyPalette::mouseReleaseEvent(QMouseEvent* event) {
    if (!forwardTarget_) return;
    QPointer<QWidget> target = forwardTarget_;
    forwardTarget_ = nullptr;
    QMouseEvent release(event->type(), target->mapFrom(viewport(), event->position().toPoint()),
                        event->scenePosition(), event->globalPosition(), event->button(),
                        event->buttons(), event->modifiers());
    QApplication::sendEvent(target, &release);
}

void PropertyPalette::mouseDoubleClickEvent(QMouseEvent* event) {
    mousePressEvent(event);
}

void PropertyPalette::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        const int from = set_.activeIndex() < 0 ? (event->key() == Qt::Key_Up ? set_.count() : -1)
                                                : set_.activeIndex();
        const int next = from + (event->key() == Qt::Key_Up ? -1 : 1);
        if (next >= 0 && next < set_.count()) selectRow(next);
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void PropertyPalette::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    // The live widgets follow the row's new width.
    if (Property* p = set_.at(set_.activeIndex()); p && p->active()) placeLive(*p);
}

void PropertyPalette::scrollContentsBy(int, int) {
    // Scrolling lets go of the active row (a pending edit is discarded), then moves.
    set_.leave();
    viewport()->update();
}

bool PropertyPalette::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        // Painted rows: the row's own text, or the check box's over its square.
        auto* help = static_cast<QHelpEvent*>(event);
        const Property* p = set_.at(rowAt(help->pos().y()));
        QString tip;
        if (p) {
            const QRect row = rowRect(*p);
            const Layout l = layoutOf(*p, row.top());
            tip = p->hasCheckBox() && l.check.contains(help->pos())
                      ? checkToolTip_
                      : QString::fromStdString(p->toolTip);
            if (!tip.isEmpty()) {
                QToolTip::showText(help->globalPos(), tip, viewport(), row);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void PropertyPalette::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) setRowFont(font());
}

void PropertyPalette::focusChanged(QWidget* old, QWidget* now) {
    if (deactivating_ || set_.clearing()) return;
    const bool wasInside = old && (old == this || isAncestorOf(old));
    const bool isInside = now && (now == this || isAncestorOf(now));
    if (wasInside && !isInside) set_.leave();
}

void PropertyPalette::startRepeat(NumPropertyTrackBar* bar, long double step) {
    if (step == 0) {
        stopRepeat();
        return;
    }
    step_ = step;
    repeatingBar_ = bar;
    repeat_.start();
}

void PropertyPalette::stopRepeat() {
    step_ = 0;
    repeatingBar_ = nullptr;
    repeat_.stop();
}

// --- Colour maps ------------------------------------------------------------------------

void PropertyPalette::setColorMapDialogHook(ColorMapDialogHook hook) {
    colorMapDialogHook() = std::move(hook);
}

void PropertyPalette::loadColorMapInto(GradientfProperty& p) {
    QString fileName;
    if (colorMapDialogHook()) {
        fileName = colorMapDialogHook()();
    } else {
        QFileDialog dialog(window(), qtext(TextId::kColorMapTitle), QString(),
                           dialogFilter(TextId::kColorMapFilter));
        followInterfaceLanguage(dialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(QStringLiteral("map"));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            fileName = dialog.selectedFiles().first();
    }
    if (fileName.isEmpty() || !p.gradient()) return;
    // Read into a copy: a file without a colour keeps the gradient (an empty one would
    // turn the image black).
    Gradientf loaded = *p.gradient();
    const ColorMapResult result =
        loadColorMapFile(std::filesystem::path(fileName.toStdString()), loaded);
    int problem = 0;
    switch (result.read) {
        case ReadStatus::Ok:
            problem = result.tooMany()     ? TextId::kColorMapTooManyColors
                      : result.colors == 0 ? TextId::kColorMapEmpty
                                           : 0;
            break;
        case ReadStatus::NotRegular:
            problem = TextId::kColorMapNotRegular;
            break;
        case ReadStatus::TooLarge:
        case ReadStatus::TooManyLines:
            problem = TextId::kColorMapTooLarge;
            break;
        default:
            problem = TextId::kColorMapUnreadable;
            break;
    }
    if (problem != 0) {
        showWarning(this, fillText(qtext(problem), {fileName}));
        return;
    }
    *p.gradient() = std::move(loaded);
    p.Reload();
    p.Changed();
}

}  // namespace qm::gui
