#include "gui/lang_dialog.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "core/strings/string_table.h"
#include "gui/language.h"
#include "gui/texts.h"

namespace qm::gui {

TForm_lang::TForm_lang(LanguageSettings& settings, QString programPath, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint),
      settings_(settings),
      programPath_(std::move(programPath)) {
    setObjectName(QStringLiteral("TForm_lang"));
    setWindowTitle(qtext(TextId::kLanguageCaption));

    L_lang = new QLabel(qtext(TextId::kLanguagePrompt), this);
    S_lang = new QListWidget(this);
    S_lang->setSelectionMode(QAbstractItemView::SingleSelection);
    for (const auto& [textId, locale] : {std::pair{TextId::kLanguageEnglish, kEnglishLocale},
                                         std::pair{TextId::kLanguageFrench, kFrenchLocale}}) {
        auto* item = new QListWidgetItem(qtext(textId), S_lang);
        item->setData(Qt::UserRole, locale);
    }
    S_lang->setCurrentRow(0);
    const int rowHeight = S_lang->sizeHintForRow(0);
    S_lang->setFixedHeight(3 * rowHeight + 2 * S_lang->frameWidth());
    connect(S_lang, &QListWidget::itemDoubleClicked, this, &TForm_lang::B_okClick);

    B_ok = new QPushButton(qtext(TextId::kLanguageOk), this);
    B_ok->setDefault(true);
    B_annuler = new QPushButton(qtext(TextId::kLanguageCancel), this);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(B_ok, QDialogButtonBox::AcceptRole);
    buttons->addButton(B_annuler, QDialogButtonBox::RejectRole);
    connect(B_ok, &QPushButton::clicked, this, &TForm_lang::B_okClick);
    connect(B_annuler, &QPushButton::clicked, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(L_lang);
    layout->addWidget(S_lang);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    L_lang->setObjectName(QStringLiteral("L_lang"));
    S_lang->setObjectName(QStringLiteral("S_lang"));
    B_ok->setObjectName(QStringLiteral("B_ok"));
    B_annuler->setObjectName(QStringLiteral("B_annuler"));
    S_lang->setFocus();

    // Centred on the desktop, whoever the parent is.
    adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TForm_lang::B_okClick() {
    const QListWidgetItem* item = S_lang->currentItem();
    if (!item) return;
    const bool english = item->data(Qt::UserRole).toInt() == kEnglishLocale;
    chosenCode_ = english ? QStringLiteral("EN") : QStringLiteral("FR");
    const bool stored = settings_.store(programPath_, chosenCode_);
    loadedModule_ = loadLanguage(programPath_, chosenCode_);
    // The messages come in the language now loaded.
    if (english && loadedModule_.isEmpty())
        showWarning(this, fillText(qtext(TextId::kLanguageModuleMissing),
                                   {languageModulePath(programPath_, QStringLiteral("ENU"))}));
    if (!stored)
        showWarning(this, fillText(qtext(TextId::kLanguageNotStored), {settings_.fileName()}));
    accept();
}

}  // namespace qm::gui
