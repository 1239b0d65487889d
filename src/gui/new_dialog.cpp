#include "gui/new_dialog.h"

#include "core/attractor/attractor.h"
#include "core/render/bitmap3d.h"
#include "core/strings/string_table.h"
#include "gui/new_document_defaults.h"
#include "gui/texts.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QVBoxLayout>

namespace qm::gui {

namespace {

constexpr int kIfs = static_cast<int>(AttractorKind::IFS);
constexpr int kSprott = static_cast<int>(AttractorKind::PolynomialSprott);

constexpr QSize kClientSize(305, 181);

// A spin box that hands out its line edit: the option row shows that edit as its own
// read-only field, with the spin box's arrows as the up-down control.
class OptionSpinBox final : public QSpinBox {
public:
    using QSpinBox::lineEdit;
    using QSpinBox::QSpinBox;
};

}  // namespace

TForm_new::TForm_new(NewDocumentDefaults& defaults, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      defaults_(defaults) {
    // Controls
    GB_att = new QGroupBox(this);
    L_att_type = new QLabel(GB_att);
    C_att_type = new QComboBox(GB_att);
    for (int kind = 0; kind < kAttractorKindCount; ++kind) C_att_type->addItem(QString());
    L_att_option = new QLabel(GB_att);
    auto* option = new OptionSpinBox(GB_att);
    UD_att_option = option;
    M_att_option = option->lineEdit();
    // Typing is refused; the arrows (buttons and keys) still step, and stop at the ends.
    M_att_option->setReadOnly(true);
    M_att_option->setMaxLength(1);
    UD_att_option->setAlignment(Qt::AlignRight);
    UD_att_option->setWrapping(false);
    UD_att_option->setRange(2, 8);
    UD_att_option->setValue(2);
    UD_att_option->setFixedWidth(48);

    GB_bmp = new QGroupBox(this);
    L_width = new QLabel(GB_bmp);
    M_width = new QLineEdit(GB_bmp);
    L_height = new QLabel(GB_bmp);
    M_height = new QLineEdit(GB_bmp);
    for (QLineEdit* side : {M_width, M_height}) {
        side->setMaxLength(4);
        side->setAlignment(Qt::AlignRight);
        side->setFixedWidth(48);
    }
    L_render = new QLabel(GB_bmp);
    C_render = new QComboBox(GB_bmp);
    for (int mode = 0; mode < kRenderModeCount; ++mode) C_render->addItem(QString());

    B_ok = new QPushButton(this);
    B_cancel = new QPushButton(this);
    B_ok->setDefault(true);

    L_att_type->setBuddy(C_att_type);
    L_att_option->setBuddy(UD_att_option);
    L_width->setBuddy(M_width);
    L_height->setBuddy(M_height);
    L_render->setBuddy(C_render);

    const std::pair<QObject*, const char*> names[] = {{GB_att, "GB_att"},
                                                      {L_att_type, "L_att_type"},
                                                      {C_att_type, "C_att_type"},
                                                      {L_att_option, "L_att_option"},
                                                      {M_att_option, "M_att_option"},
                                                      {UD_att_option, "UD_att_option"},
                                                      {GB_bmp, "GB_bmp"},
                                                      {L_width, "L_width"},
                                                      {M_width, "M_width"},
                                                      {L_height, "L_height"},
                                                      {M_height, "M_height"},
                                                      {L_render, "L_render"},
                                                      {C_render, "C_render"},
                                                      {B_ok, "B_ok"},
                                                      {B_cancel, "B_cancel"}};
    for (const auto& [object, name] : names) object->setObjectName(QLatin1String(name));

    // Layout: the two groups side by side, the buttons in a row below them. Combo boxes have
    // their label above them, which keeps the groups narrow enough for the fixed width.
    auto* attLayout = new QGridLayout(GB_att);
    attLayout->setContentsMargins(6, 2, 6, 6);
    attLayout->setSpacing(4);
    attLayout->addWidget(L_att_type, 0, 0, 1, 2);
    attLayout->addWidget(C_att_type, 1, 0, 1, 2);
    attLayout->addWidget(L_att_option, 2, 0);
    attLayout->addWidget(UD_att_option, 2, 1, Qt::AlignLeft);
    attLayout->setColumnStretch(1, 1);
    attLayout->setRowStretch(3, 1);

    auto* bmpLayout = new QGridLayout(GB_bmp);
    bmpLayout->setContentsMargins(6, 2, 6, 6);
    bmpLayout->setSpacing(4);
    bmpLayout->addWidget(L_width, 0, 0);
    bmpLayout->addWidget(M_width, 0, 1, Qt::AlignRight);
    bmpLayout->addWidget(L_height, 1, 0);
    bmpLayout->addWidget(M_height, 1, 1, Qt::AlignRight);
    bmpLayout->addWidget(L_render, 2, 0, 1, 2);
    bmpLayout->addWidget(C_render, 3, 0, 1, 2);
    bmpLayout->setRowStretch(4, 1);

    auto* groups = new QHBoxLayout;
    groups->setSpacing(6);
    groups->addWidget(GB_att, 1);
    groups->addWidget(GB_bmp);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addStretch(1);
    buttons->addWidget(B_ok);
    buttons->addWidget(B_cancel);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(6, 6, 6, 6);
    main->setSpacing(6);
    main->addLayout(groups, 1);
    main->addLayout(buttons);

    setTabOrder(C_att_type, UD_att_option);
    setTabOrder(UD_att_option, M_width);
    setTabOrder(M_width, M_height);
    setTabOrder(M_height, C_render);
    setTabOrder(C_render, B_ok);
    setTabOrder(B_ok, B_cancel);

    connect(C_att_type, &QComboBox::currentIndexChanged, this, &TForm_new::C_att_typeChange);
    connect(B_ok, &QPushButton::clicked, this, &TForm_new::B_okClick);
    connect(B_cancel, &QPushButton::clicked, this, &QDialog::reject);

    // The defaults
    retranslate();
    C_att_type->setCurrentIndex(defaults_.kind);
    C_att_typeChange(defaults_.kind);
    M_width->setText(QString::number(defaults_.width));
    M_height->setText(QString::number(defaults_.height));
    C_render->setCurrentIndex(defaults_.mode);
    C_att_type->setFocus();
}

void TForm_new::retranslate() {
    setWindowTitle(qtext(TextId::kNewCaption));
    GB_att->setTitle(qtext(TextId::kNewAttractorGroup));
    L_att_type->setText(qtext(TextId::kNewType));
    for (int kind = 0; kind < kAttractorKindCount; ++kind)
        C_att_type->setItemText(kind, qtext(TextId::kKindNameFirst + kind));
    const int kind = C_att_type->currentIndex();
    L_att_option->setText(qtext(kind == kIfs      ? TextId::kMatricesLabel
                                : kind == kSprott ? TextId::kDegreeLabel
                                                  : TextId::kNewOption));
    GB_bmp->setTitle(qtext(TextId::kNewImageGroup));
    L_width->setText(qtext(TextId::kNewWidth));
    L_height->setText(qtext(TextId::kNewHeight));
    L_render->setText(qtext(TextId::kNewRender));
    for (int mode = 0; mode < kRenderModeCount; ++mode)
        C_render->setItemText(mode, qtext(TextId::kModeNameFirst + mode));
    B_ok->setText(qtext(TextId::kOk));
    B_cancel->setText(qtext(TextId::kCancel));
    // The form's size, unless the font or the texts of this language need more room.
    setFixedSize(kClientSize.expandedTo(minimumSizeHint()));
}

void TForm_new::showEvent(QShowEvent* event) {
    // Centred on the screen, not over the main window.
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TForm_new::C_att_typeChange(int kind) {
    const bool shown = kind == kIfs || kind == kSprott;
    if (shown) {
        L_att_option->setText(qtext(kind == kIfs ? TextId::kMatricesLabel : TextId::kDegreeLabel));
        UD_att_option->setRange(2, kind == kIfs ? 8 : 5);
        UD_att_option->setValue(defaults_.optionFor(static_cast<std::int8_t>(kind)));
    }
    L_att_option->setVisible(shown);
    UD_att_option->setVisible(shown);
}

void TForm_new::B_okClick() {
    // Both sides are checked before anything is stored: a refused size keeps every default.
    const std::optional<std::int32_t> width = readSide(M_width);
    if (!width) return;
    const std::optional<std::int32_t> height = readSide(M_height);
    if (!height) return;

    const int kind = C_att_type->currentIndex();
    defaults_.kind = static_cast<std::int8_t>(kind);
    if (kind == kIfs) defaults_.ifsMaps = static_cast<std::int8_t>(UD_att_option->value());
    if (kind == kSprott) defaults_.sprottOrder = static_cast<std::int8_t>(UD_att_option->value());
    defaults_.width = *width;
    defaults_.height = *height;
    defaults_.mode = static_cast<std::uint8_t>(C_render->currentIndex());
    accept();
}

std::optional<std::int32_t> TForm_new::readSide(QLineEdit* edit) {
    // Decimal only, so a leading zero is no octal prefix: "0800" is 800. Surrounding blanks
    // and a sign are accepted, as a number parser would.
    bool isInteger = false;
    const int value = edit->text().trimmed().toInt(&isInteger, 10);
    const bool inRange = isInteger && value >= kMinImageSide && value <= kMaxImageSide;
    if (inRange) return value;
    showError(this, isInteger ? qtext(TextId::kSizeRange)
                              : fillText(qtext(TextId::kNotAnInteger), {edit->text()}));
    edit->setFocus();
    edit->selectAll();
    return std::nullopt;
}

}  // namespace qm::gui
