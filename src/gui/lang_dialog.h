// TForm_lang: the language dialog. "&OK" stores the chosen language for this program file and
// loads its texts at once; the caller then gives every open window its new texts.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QListWidget;
class QPushButton;

namespace qm::gui {

class LanguageSettings;

class TForm_lang final : public QDialog {
    Q_OBJECT

public:
    // The list's entries and their locale identifiers, in order.
    static constexpr int kEnglishLocale = 1033;
    static constexpr int kFrenchLocale = 1036;

    TForm_lang(LanguageSettings& settings, QString programPath, QWidget* parent = nullptr);

    // The code "&OK" stored ("EN" or "FR"), and the module it loaded (empty: the built-in
    // French texts); both empty until "&OK".
    const QString& chosenCode() const { return chosenCode_; }
    const QString& loadedModule() const { return loadedModule_; }

    QLabel* L_lang = nullptr;
    QListWidget* S_lang = nullptr;
    QPushButton* B_ok = nullptr;
    QPushButton* B_annuler = nullptr;

private:
    void B_okClick();

    LanguageSettings& settings_;
    QString programPath_;
    QString chosenCode_;
    QString loadedModule_;
};

}  // namespace qm::gui
