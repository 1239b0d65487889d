#include "gui/palette_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/attpal.h"
#include "gui/bmppal.h"
#include "gui/main_window.h"
#include "gui/property_palette.h"
#include "gui/view.h"

namespace qm::gui {

namespace {
constexpr int kFontPixels = 11;  // rows of 21 pixels
}

PaletteWindow::PaletteWindow(TMDIform& main, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      main_(main) {
    QFont f = font();
    f.setPixelSize(kFontPixels);
    setFont(f);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    PN_top = new QWidget(this);
    PN_top->setFixedHeight(kTopHeight);
    topLayout_ = new QHBoxLayout(PN_top);
    topLayout_->setContentsMargins(4, 1, 4, 1);
    topLayout_->setSpacing(4);
    palette_ = new PropertyPalette(this);
    palette_->rows().labelWidth = kLabelWidth;
    palette_->setRowFont(f);
    layout->addWidget(PN_top);
    layout->addWidget(palette_, 1);
}

void PaletteWindow::fitHeight() {
    const int wanted = palette_->rows().totalHeight() + kTopHeight + 4;
    resize(width(), maxFitHeight_ > 0 ? std::min(wanted, maxFitHeight_) : wanted);
}

TForm_view* PaletteWindow::activeDocument() const {
    return main_.activeDocument();
}

void PaletteWindow::closeEvent(QCloseEvent* event) {
    // The palettes stay while the program runs; closing one asks the program to end, which
    // a running render or search refuses.
    event->ignore();
    main_.close();
}

void PaletteWindow::keyPressEvent(QKeyEvent* event) {
    const QKeySequence pressed(event->keyCombination());
    QList<QAction*> actions = main_.findChildren<QAction*>(Qt::FindDirectChildrenOnly);
    if (TForm_view* view = activeDocument())
        actions += view->findChildren<QAction*>(Qt::FindDirectChildrenOnly);
    for (QAction* action : actions) {
        if (action->isEnabled() && action->shortcuts().contains(pressed)) {
            event->accept();
            action->trigger();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

// --- PaletteWindows ---------------------------------------------------------------------

PaletteWindows::PaletteWindows(TMDIform& main)
    : main_(main),
      attpal_(std::make_unique<TForm_attpal>(main, &main)),
      bmppal_(std::make_unique<TForm_bmppal>(main, &main)) {
    // One column at the right edge of the screen: the attractor palette at the top, the
    // render palette in the room left at the bottom. Long lists (an IFS of eight maps) scroll.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const int frame = 32;  // title bar and borders, as a window manager adds them
    attpal_->setMaxFitHeight(
        std::max(screen.height() - PaletteWindow::kRenderPaletteRoom - frame, 120));
    bmppal_->setMaxFitHeight(PaletteWindow::kRenderPaletteRoom - frame);
}

PaletteWindows::~PaletteWindows() = default;

void PaletteWindows::showAttractor(Attractor* attractor) {
    attpal_->showAttractor(attractor);
}
void PaletteWindows::showRenderTarget(TBitmap3D* target) {
    bmppal_->showRenderTarget(target);
}

void PaletteWindows::release(const Attractor* attractor, const TBitmap3D* target) {
    if (attractor && attpal_->shownAttractor() == attractor) attpal_->clearPalette();
    if (target && bmppal_->shownTarget() == target) bmppal_->clearPalette();
}

void PaletteWindows::refreshValues() {
    attpal_->refreshValues();
    bmppal_->refreshValues();
}

void PaletteWindows::fillAttractorPalette() {
    if (TForm_view* view = main_.activeDocument()) attpal_->fillPalette(view->attractor());
}

void PaletteWindows::setPalettesEnabled(bool enabled) {
    attpal_->setPaletteEnabled(enabled);
    bmppal_->setPaletteEnabled(enabled);
}

void PaletteWindows::setPalettesVisible(bool visible) {
    if (visible && !placed_) {
        // At the right edge of the screen, the attractor palette above the render palette.
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        attpal_->move(screen.right() - attpal_->frameGeometry().width() + 1, screen.top());
        bmppal_->move(screen.right() - bmppal_->frameGeometry().width() + 1,
                      screen.bottom() - PaletteWindow::kRenderPaletteRoom + 1);
        placed_ = true;
    }
    attpal_->setVisible(visible);
    bmppal_->setVisible(visible);
}

void PaletteWindows::selectKind(std::int8_t kindCode) {
    attpal_->selectKind(kindCode);
}
void PaletteWindows::selectMode(int mode) {
    bmppal_->selectMode(mode);
}
void PaletteWindows::refreshScale() {
    bmppal_->refreshScale();
}
std::int32_t PaletteWindows::updateCount() const {
    return bmppal_->updateCount();
}
std::int32_t PaletteWindows::renderThreads() const {
    return bmppal_->renderThreads();
}
std::int32_t PaletteWindows::renderStreams() const {
    return bmppal_->renderStreams();
}

QRect PaletteWindows::occupiedArea() const {
    QRect area;
    for (const QWidget* w :
         {static_cast<const QWidget*>(attpal_.get()), static_cast<const QWidget*>(bmppal_.get())})
        if (w->isVisible()) area = area.united(w->frameGeometry());
    return area;
}

void PaletteWindows::retranslate() {
    attpal_->retranslate();
    bmppal_->retranslate();
}

}  // namespace qm::gui
