// TForm_new: the modal "Nouveau" dialog. It shows the new-document defaults and, on OK, writes
// the choices back into them; the caller then creates the document from the defaults. Cancel
// leaves them untouched, so the dialog remembers the last accepted choices.
//
//   TForm_new dialog(defaults, this);
//   if (dialog.exec() == QDialog::Accepted) openDocument(defaults);
#pragma once

#include <QDialog>

#include <cstdint>
#include <optional>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QSpinBox;

namespace qm::gui {

struct NewDocumentDefaults;

class TForm_new : public QDialog {
    Q_OBJECT

public:
    explicit TForm_new(NewDocumentDefaults& defaults, QWidget* parent = nullptr);

    // Sets every text of the dialog from the string table, keeping the choices made so far.
    void retranslate();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Shows the option row for the IFS (matrix count) and the Sprott polynomial (degree), at
    // the remembered value for that kind; hides it for every other kind.
    void C_att_typeChange(int kind);
    // Stores the choices and closes the dialog, or reports a bad size and stays open with
    // nothing stored.
    void B_okClick();
    // The image side typed into edit, or none after telling the user why it is refused.
    std::optional<std::int32_t> readSide(QLineEdit* edit);

    NewDocumentDefaults& defaults_;

    QGroupBox* GB_att = nullptr;
    QLabel* L_att_type = nullptr;
    QComboBox* C_att_type = nullptr;
    QLabel* L_att_option = nullptr;
    QSpinBox* UD_att_option = nullptr;  // its line edit is M_att_option
    QLineEdit* M_att_option = nullptr;
    QGroupBox* GB_bmp = nullptr;
    QLabel* L_width = nullptr;
    QLineEdit* M_width = nullptr;
    QLabel* L_height = nullptr;
    QLineEdit* M_height = nullptr;
    QLabel* L_render = nullptr;
    QComboBox* C_render = nullptr;
    QPushButton* B_ok = nullptr;
    QPushButton* B_cancel = nullptr;
};

}  // namespace qm::gui
