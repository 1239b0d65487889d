#include "gui/history_window.h"

#include <QListWidget>
#include <QVBoxLayout>

#include "core/strings/string_table.h"
#include "gui/texts.h"
#include "gui/view.h"

namespace qm::gui {

static_assert(TextId::kStepNameLast - TextId::kStepNameFirst + 1 == kHistoryStepCount,
              "one name per kind of step");

HistoryWindow::HistoryWindow(QWidget* parent) : QWidget(parent, Qt::Tool) {
    setObjectName(QStringLiteral("history"));
    resize(220, 300);
    S_etapes = new QListWidget(this);
    S_etapes->setSelectionMode(QAbstractItemView::SingleSelection);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(S_etapes);
    connect(S_etapes, &QListWidget::itemClicked, this, &HistoryWindow::stepChosen);
    connect(S_etapes, &QListWidget::itemActivated, this, &HistoryWindow::stepChosen);
    retranslate();
}

void HistoryWindow::retranslate() {
    setWindowTitle(qtext(TextId::kHistoryCaption));
    S_etapes->setAccessibleName(qtext(TextId::kAccHistoryList));
    S_etapes->setToolTip(qtext(TextId::kTipHistory));
    refresh();
}

void HistoryWindow::showDocument(TForm_view* view) {
    if (view_ == view) return;
    disconnect(historyConnection_);
    view_ = view;
    if (view)
        historyConnection_ =
            connect(view, &TForm_view::historyChanged, this, &HistoryWindow::refresh);
    refresh();
}

void HistoryWindow::refresh() {
    if (!view_) {
        S_etapes->clear();
        S_etapes->setEnabled(false);
        return;
    }
    // The items are updated in place: a click on one of them may be what moved the history.
    const SceneHistory& history = view_->history();
    const int count = static_cast<int>(history.size());
    while (S_etapes->count() > count) delete S_etapes->takeItem(S_etapes->count() - 1);
    while (S_etapes->count() < count) S_etapes->addItem(QString());
    const std::size_t position = history.position();
    for (std::size_t i = 0; i < history.size(); ++i) {
        QListWidgetItem* item = S_etapes->item(static_cast<int>(i));
        item->setText(qtext(TextId::kStepNameFirst + static_cast<int>(history.step(i))));
        QFont font = S_etapes->font();
        font.setBold(i == position);
        item->setFont(font);
        // What an undo took back is greyed: there to be redone.
        item->setForeground(S_etapes->palette().brush(
            i > position ? QPalette::Disabled : QPalette::Active, QPalette::Text));
    }
    S_etapes->setCurrentRow(static_cast<int>(position));
    S_etapes->scrollToItem(S_etapes->currentItem());
    const bool busy = view_->searching() || view_->state() == kStateSearching ||
                      view_->state() == kStateRendering;
    S_etapes->setEnabled(!busy);
}

void HistoryWindow::stepChosen(QListWidgetItem* item) {
    if (!view_ || !item) return;
    const int row = S_etapes->row(item);
    // A refused jump (busy, or the user kept a render) leaves the mark where it was.
    if (row < 0 || !view_->jumpToStep(static_cast<std::size_t>(row))) refresh();
}

}  // namespace qm::gui
