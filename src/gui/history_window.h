// The "Historique" window: the steps of the active document's undo history, the current one
// marked and the steps that could be redone greyed; a click on a step (or Return) brings the
// document back to it. It follows the active document and is off while that one is busy.
#pragma once

#include <QPointer>
#include <QWidget>

#include <cstddef>

class QListWidget;
class QListWidgetItem;

namespace qm::gui {

class TForm_view;

class HistoryWindow final : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(QWidget* parent);

    // The document whose steps show; null shows none.
    void showDocument(TForm_view* view);
    TForm_view* document() const { return view_; }
    // The list again from the document's history (after a step, an undo, a state change).
    void refresh();
    void retranslate();

    QListWidget* S_etapes = nullptr;

private:
    void stepChosen(QListWidgetItem* item);

    QPointer<TForm_view> view_;
    QMetaObject::Connection historyConnection_;
};

}  // namespace qm::gui
