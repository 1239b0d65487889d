// TForm_about: the borderless about box, shown modally by the main window. Its logo is a small
// Lorenz attractor rendered by the program's own engine when the box is built; the address
// label opens the program's web page in the user's browser.
#pragma once

#include <QDialog>
#include <QImage>

class QLabel;
class QPushButton;

namespace qm::gui {

// The program's logo, 166 by 192: a Lorenz attractor rendered by the engine on white. Made
// once, on first use.
QImage programLogo();

class TForm_about : public QDialog {
    Q_OBJECT

public:
    explicit TForm_about(QWidget* parent = nullptr);

    // Sets every text of the box from the string table.
    void retranslate();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void L_linkClick();

    QLabel* I_logo = nullptr;
    QLabel* I_title = nullptr;
    QLabel* L_line1 = nullptr;
    QLabel* L_line2 = nullptr;
    QLabel* L_link = nullptr;
    QPushButton* B_ok = nullptr;
};

}  // namespace qm::gui
