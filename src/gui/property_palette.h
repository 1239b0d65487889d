// PropertyPalette: the list of Property rows of one palette window. One row at a time is
// active and carries live widgets (label, row check box, edit or combo box, track bar,
// gradient strip); every other row is painted as a picture of those widgets. The value logic
// lives in the core PropertySet; this class is its view.
#pragma once

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QTimer>

#include <array>
#include <functional>

#include "core/property/property.h"

namespace qm::gui {

class PropertyPalette;

// The cursor of a track bar's speed zones: ids 100 to 102 point left (slow to fast), 103 to
// 105 right; any other id gives the arrow.
QCursor speedZoneCursor(int id);
// The zone cursor id for a pointer at x over a bar whose thumb spans [thumbLeft, thumbRight],
// or 0 outside the zones.
int speedZoneAt(int x, int thumbLeft, int thumbRight, int zoneWidth);
// A check box square as the rows draw it: 13 pixels, a check mark when ticked.
void paintCheckSquare(QPainter& painter, const QRect& square, bool ticked, bool enabled,
                      const QPalette& colours);
// The colour strip of a gradient: column x shows the colour at x / width.
void paintGradient(QPainter& painter, const QRect& rect, const Gradientf& gradient);

// Live widgets serve one row at a time; `updating` is set while the row refreshes them.
class PropertyLabel final : public QLabel {
public:
    explicit PropertyLabel(QWidget* parent);
    void refresh(const Property& p);
};

class PropertyCheckBox final : public QCheckBox {
public:
    explicit PropertyCheckBox(QWidget* parent);
    Property* property = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& pos) const override;
};

class BoolPropertyCheckBox final : public QCheckBox {
public:
    explicit BoolPropertyCheckBox(QWidget* parent);
    BoolProperty* property = nullptr;
};

class NumPropertyEdit final : public QLineEdit {
public:
    NumPropertyEdit(PropertyPalette& palette, QWidget* parent);
    NumPropertyBase* property = nullptr;
    bool updating = false;
    void refresh();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    PropertyPalette& palette_;
};

class NumPropertyComboBox final : public QComboBox {
public:
    NumPropertyComboBox(PropertyPalette& palette, QWidget* parent);
    NumPropertyBase* property = nullptr;
    bool updating = false;
    void attach(NumPropertyBase* p);
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    PropertyPalette& palette_;
};

class NumPropertyTrackBar final : public QSlider {
public:
    NumPropertyTrackBar(PropertyPalette& palette, QWidget* parent);
    NumPropertyBase* property = nullptr;
    bool updating = false;
    void refresh();
    // One speed-zone step: the bar's value moves by step and is reported.
    void advance(long double step);
    long double value() const { return value_; }
    QRect thumbRect() const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void positionChanged(int position);
    void recordThumb();
    PropertyPalette& palette_;
    long double value_ = 0;
};

class GradientPropertyViewer final : public QWidget {
public:
    GradientPropertyViewer(PropertyPalette& palette, QWidget* parent);
    GradientfProperty* property = nullptr;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    PropertyPalette& palette_;
};

class PropertyPalette final : public QAbstractScrollArea, private PropertyView {
    Q_OBJECT
public:
    explicit PropertyPalette(QWidget* parent = nullptr);
    ~PropertyPalette() override;

    PropertySet& rows() { return set_; }
    const PropertySet& rows() const { return set_; }
    // Font and metrics; rows added afterwards take the heights that follow from them.
    void setRowFont(const QFont& font);

    // The label column: at least minimum pixels, wider when a caption needs it in this font.
    void fitLabelWidth(int minimum);

    // A click on row i (as the mouse gives it); false when the row is disabled.
    bool selectRow(int index);
    // Up and Down in an edit: the row above or below becomes the active one.
    void moveActive(int delta);
    // The text of a numeric row as its edit shows it: rounded to what its track bar resolves.
    QString shownText(const NumPropertyBase& p) const;
    // The row's rectangle in the viewport.
    QRect rowRect(const Property& p) const;
    int rowAt(int y) const;

    // Speed-zone repetition: a non-zero step repeats every 100 ms on the bar.
    void startRepeat(NumPropertyTrackBar* bar, long double step);
    void stopRepeat();
    bool repeating() const { return repeat_.isActive(); }

    // Double-click on a gradient: the file dialog, replaceable by a test.
    using ColorMapDialogHook = std::function<QString()>;
    static void setColorMapDialogHook(ColorMapDialogHook hook);
    void loadColorMapInto(GradientfProperty& p);

    // The tooltip of every row's check box.
    void setCheckToolTip(const QString& text) { checkToolTip_ = text; }
    const QString& checkToolTip() const { return checkToolTip_; }
    // The accessible objects of the rows, by list index (0: not made yet).
    std::vector<QAccessible::Id>& accessibleIds() { return accessibleIds_; }

    // The live widgets (null until first needed), for tests.
    NumPropertyEdit* liveEdit() const { return edit_; }
    NumPropertyComboBox* liveCombo() const { return combo_; }
    NumPropertyTrackBar* liveTrackBar() const { return trackBar_; }
    PropertyCheckBox* liveCheckBox() const { return rowCheck_; }
    PropertyLabel* liveLabel() const { return label_; }
    GradientPropertyViewer* liveViewer() const { return viewer_; }
    int liveWidgetCount() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // PropertyView
    void rowAdded(Property& row) override;
    void rowsCleared() override;
    void rowCaptionChanged(Property& row) override;
    void drawRow(Property& row) override;
    void refreshEditors(Property& row, const void* except) override;
    void activateEditors(Property& row) override;
    void deactivateEditors(Property& row) override;
    void enumItemsChanged(Property& row) override;

    struct Layout {
        QRect label, check, editor, trackBar, viewer;
    };
    Layout layoutOf(const Property& p, int top) const;
    void paintRow(QPainter& painter, Property& p, int top);
    void paintLabel(QPainter& painter, const QRect& r, const QString& text, bool bold, bool enabled,
                    int indent);
    void paintEditorBox(QPainter& painter, const QRect& r, const QString& text, bool enabled,
                        bool combo);
    void paintTrackBar(QPainter& painter, Property& p, const QRect& r);
    void refreshLive(Property& p, const void* except);
    void placeLive(Property& p);
    void hideLive();
    std::array<QWidget*, 7> liveWidgets() const;
    void focusChanged(QWidget* old, QWidget* now);
    void updateScrollRange();
    int scrollOffset() const;

    PropertySet set_;
    std::vector<int> tops_;
    QTimer repeat_;
    QPointer<NumPropertyTrackBar> repeatingBar_;
    long double step_ = 0;
    QPointer<QWidget> forwardTarget_;
    bool deactivating_ = false;
    QString checkToolTip_;
    std::vector<QAccessible::Id> accessibleIds_;

    PropertyLabel* label_ = nullptr;
    PropertyCheckBox* rowCheck_ = nullptr;
    BoolPropertyCheckBox* boolCheck_ = nullptr;
    NumPropertyEdit* edit_ = nullptr;
    NumPropertyComboBox* combo_ = nullptr;
    NumPropertyTrackBar* trackBar_ = nullptr;
    GradientPropertyViewer* viewer_ = nullptr;
};

}  // namespace qm::gui
