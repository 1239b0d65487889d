#include "gui/attpal.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "core/attractor/attractor.h"
#include "core/attractor/ifs.h"
#include "core/attractor/polynomial.h"
#include "core/property/property.h"
#include "core/render/render_loop.h"
#include "core/strings/string_table.h"
#include "gui/main_window.h"
#include "gui/property_palette.h"
#include "gui/texts.h"
#include "gui/view.h"

namespace qm::gui {

namespace {
constexpr std::uint8_t kParameterFlags =
    Property::kTrackBar | Property::kSpeedZones | Property::kCheckBox;

// An IFS map's probability: the name from its third character on is "prob.".
bool isProbability(const std::string& name) {
    return name.size() > 2 && name.compare(2, std::string::npos, "prob.") == 0;
}
}  // namespace

TForm_attpal::TForm_attpal(TMDIform& main, QWidget* parent) : PaletteWindow(main, parent) {
    resize(291, 282);
    palette().rows().setAutoApplyDefault(true);

    L_type = new QLabel(PN_top);
    C_type = new QComboBox(PN_top);
    C_type->setEditable(false);
    L_option = new QLabel(PN_top);
    // The up-down control and the one-character memo it drives, as one spin box.
    UD_option = new QSpinBox(PN_top);
    UD_option->setRange(2, 8);
    UD_option->setValue(2);
    UD_option->setWrapping(false);
    UD_option->setAlignment(Qt::AlignRight);
    UD_option->setFixedWidth(44);
    M_option = UD_option->findChild<QLineEdit*>();
    M_option->setReadOnly(true);
    M_option->setMaxLength(1);
    L_type->setBuddy(C_type);
    topLayout_->addWidget(L_type);
    topLayout_->addWidget(C_type, 1);
    topLayout_->addSpacing(6);
    topLayout_->addWidget(L_option);
    topLayout_->addWidget(UD_option);
    L_option->hide();
    UD_option->hide();

    connect(C_type, &QComboBox::activated, this, &TForm_attpal::C_typeChange);
    connect(UD_option, &QSpinBox::valueChanged, this, &TForm_attpal::UD_optionClick);
    retranslate();
}

void TForm_attpal::retranslate() {
    setWindowTitle(qtext(TextId::kAttractorPaletteCaption));
    L_type->setText(qtext(TextId::kPaletteType));
    C_type->setToolTip(qtext(TextId::kTipKind));
    UD_option->setToolTip(qtext(TextId::kTipOption));
    L_option->setToolTip(qtext(TextId::kTipOption));
    palette().setCheckToolTip(qtext(TextId::kTipFixed));
    const int selected = C_type->currentIndex();
    C_type->clear();
    for (int id = TextId::kKindNameFirst; id <= TextId::kKindNameLast; ++id)
        C_type->addItem(qtext(id));
    C_type->setCurrentIndex(selected);
    if (shown_)
        updateOptionRow(shown_);
    else
        L_option->setText(qtext(TextId::kPaletteOption));
    // The row captions are the parameter names and two texts of the table: rebuild them.
    if (shown_) {
        Attractor* a = shown_;
        shown_ = nullptr;
        showAttractor(a);
    }
}

TForm_view* TForm_attpal::owner(const Attractor* attractor) const {
    TForm_view* view = activeDocument();
    return view && attractor && view->attractor() == attractor ? view : nullptr;
}

void TForm_attpal::showAttractor(Attractor* attractor) {
    if (attractor == shown_ || !owner(attractor)) return;
    updateOptionRow(attractor);
    selectKind(attractor->kindCode());
    fillPalette(attractor);
}

void TForm_attpal::selectKind(std::int8_t kindCode) {
    if (C_type->currentIndex() != kindCode) C_type->setCurrentIndex(kindCode);
}

void TForm_attpal::updateOptionRow(Attractor* attractor) {
    int low = 0, high = 0, position = 0;
    if (auto* ifs = dynamic_cast<IFS*>(attractor)) {
        L_option->setText(qtext(TextId::kMatricesLabel));
        low = 2, high = 8, position = ifs->count();
    } else if (auto* sprott = dynamic_cast<Polynomial_Sprott*>(attractor)) {
        L_option->setText(qtext(TextId::kDegreeLabel));
        low = 2, high = 5, position = sprott->order();
    }
    const bool shown = high != 0;
    if (shown) {
        updatingOption_ = true;
        UD_option->setRange(low, high);
        UD_option->setValue(position);
        updatingOption_ = false;
    }
    L_option->setVisible(shown);
    UD_option->setVisible(shown);
}

void TForm_attpal::fillPalette(Attractor* attractor) {
    TForm_view* view = owner(attractor);
    if (!view) return;
    PropertySet& rows = palette().rows();
    palette().setUpdatesEnabled(false);
    clearPalette();
    setPaletteEnabled(view->state() != kStateSearching && view->state() != kStateRendering);

    // Whole iterations, up to 10^15 (every stream's counted); a render plots nothing before the
    // transient has passed, so a total must go beyond it.
    auto* iterations = rows.addBound(text(TextId::kIterations), view->totalIterationsVariable());
    iterations->SetMin(kRenderTransient + 1);
    iterations->SetMax(1e15);
    iterations->toolTip = text(TextId::kTipIterations);
    auto* randomness = rows.addBound(text(TextId::kRandomness), view->randomnessVariable(),
                                     Property::kTrackBar | Property::kSeparator);
    randomness->SetAutoApply(false);
    randomness->SetMin(1);
    randomness->SetMax(100);
    randomness->toolTip = text(TextId::kTipRandomness);

    ParamList& params = attractor->params();
    const std::int32_t last = params.count() - 1;
    for (std::int32_t i = 0; i <= last; ++i) {
        ParamEntry& entry = params[i];
        Property* row = nullptr;
        if (entry.type == ParamType::Int8) {
            auto* p =
                rows.addBound(entry.name, static_cast<char*>(entry.value), Property::kCheckBox);
            p->SetMin(*static_cast<const char*>(entry.minimum));
            p->SetMax(*static_cast<const char*>(entry.maximum));
            if (attractor->kind() == AttractorKind::Julia) p->SetAutoApply(false);
            row = p;
        } else if (entry.type == ParamType::Double) {
            const bool divides = isProbability(entry.name) && i != last;
            auto* p = rows.addBound(entry.name, static_cast<double*>(entry.value),
                                    kParameterFlags | (divides ? Property::kSeparator : 0));
            p->SetSliderMin(*static_cast<const double*>(entry.minimum));
            p->SetSliderMax(*static_cast<const double*>(entry.maximum));
            row = p;
        }
        if (!row) continue;
        row->tag = 1;
        // "Degree" keeps its registered name, the file's keyword; the tooltip says it in the
        // interface's language.
        row->toolTip = text(entry.name == "Degree" ? TextId::kTipDegree : TextId::kTipParameter);
        row->onCheck = [attractor](Property& p, bool ticked) {
            attractor->params().setRandomizable(p.caption(), !ticked);
        };
        if (!entry.randomizable) row->SetChecked(true);
    }
    palette().fitLabelWidth(kLabelWidth);
    // The whole list shows: client height = rows + top panel + 4.
    fitHeight();
    palette().setUpdatesEnabled(true);
    rows.setChangeHandler([this](Property& p) { paletteChanged(p); });
    shown_ = attractor;
}

void TForm_attpal::paletteChanged(Property& p) {
    // A parameter restarts the attractor and the preview; "Itérations" and "Hasard" only
    // store their values, and the iterations are a step of the history.
    TForm_view* view = activeDocument();
    if (!view) return;
    if (p.tag != 1) {
        if (p.caption() == text(TextId::kIterations))
            view->renderCountChanged(HistoryStep::Iterations);
        return;
    }
    const ParamList& params = view->attractor()->params();
    std::int32_t row = 0;
    while (row < params.count() && params[row].name != p.caption()) ++row;
    view->attractorParameterChanged(row);
}

void TForm_attpal::refreshValues() {
    palette().rows().reloadAll();
}

void TForm_attpal::clearPalette() {
    palette().rows().setChangeHandler({});
    shown_ = nullptr;
    palette().rows().Clear();
}

void TForm_attpal::setPaletteEnabled(bool enabled) {
    palette().rows().setEnabled(enabled);
    palette().setEnabled(enabled);
    for (QWidget* w : {static_cast<QWidget*>(L_type), static_cast<QWidget*>(C_type),
                       static_cast<QWidget*>(L_option), static_cast<QWidget*>(M_option),
                       static_cast<QWidget*>(UD_option)})
        w->setEnabled(enabled);
}

void TForm_attpal::C_typeChange(int index) {
    TForm_view* view = activeDocument();
    if (!view || index < 0) return;
    view->setAttractorKind(static_cast<std::int8_t>(index));
    // Whatever it was, a new kind searches with full randomness.
    if (auto* randomness = palette().rows().get<CharProperty>(text(TextId::kRandomness)))
        randomness->SetValue(100);
}

void TForm_attpal::UD_optionClick(int position) {
    if (updatingOption_) return;
    if (TForm_view* view = activeDocument())
        view->setAttractorCount(static_cast<std::int8_t>(position));
}

}  // namespace qm::gui
