#include "gui/bmppal.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>

#include <algorithm>
#include <cmath>

#include "core/property/property.h"
#include "core/render/gas.h"
#include "core/render/light.h"
#include "core/render/render_engine.h"
#include "core/render/solid.h"
#include "core/strings/string_table.h"
#include "gui/main_window.h"
#include "gui/new_document_defaults.h"
#include "gui/property_palette.h"
#include "gui/render_autosave.h"
#include "gui/texts.h"
#include "gui/view.h"

namespace qm::gui {

namespace {
// Update tags: what a change of the row asks of the document.
enum Tag : std::int32_t {
    kTagNone = 0,
    kTagScale = 1,
    kTagImage = 2,
    kTagGradient = 3,
    kTagParallel = 4,
    kTagAutosave = 5,
    kTagExposure = 6
};

// The program's settings, where the language choice is kept too.
QSettings programSettings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillmere"),
                     QStringLiteral("Quillmere"));
}
const QString kThreadsKey = QStringLiteral("Render/threads");
const QString kStreamsKey = QStringLiteral("Render/streams");
const QString kAutosaveKey = QStringLiteral("Render/autosave_minutes");
// A day: a longer interval would be no autosave at all.
constexpr int kMaxAutosaveMinutes = 1440;

int storedCount(const QSettings& settings, const QString& key, int fallback, int most) {
    bool ok = false;
    const int v = settings.value(key).toInt(&ok);
    return ok && v >= 1 && v <= most ? v : fallback;
}
}  // namespace

TForm_bmppal::TForm_bmppal(TMDIform& main, QWidget* parent) : PaletteWindow(main, parent) {
    resize(291, 200);
    palette().rows().setAutoApplyDefault(false);
    {
        const QSettings settings = programSettings();
        threads_ = storedCount(settings, kThreadsKey, defaultThreadCount(), kMaxThreads);
        streams_ = storedCount(settings, kStreamsKey, kDefaultStreams, kMaxStreams);
    }
    autosaveMinutes_ = static_cast<int>(
        std::lround(std::min(storedAutosaveSeconds() / 60, double{kMaxAutosaveMinutes})));
    L_render = new QLabel(PN_top);
    C_render = new QComboBox(PN_top);
    C_render->setEditable(false);
    L_render->setBuddy(C_render);
    topLayout_->addWidget(L_render);
    topLayout_->addWidget(C_render, 1);
    connect(C_render, &QComboBox::activated, this, &TForm_bmppal::C_renderChange);
    retranslate();
}

void TForm_bmppal::retranslate() {
    setWindowTitle(qtext(TextId::kRenderPaletteCaption));
    L_render->setText(qtext(TextId::kPaletteRender));
    C_render->setToolTip(qtext(TextId::kTipRenderMode));
    const int selected = C_render->currentIndex();
    C_render->clear();
    for (int id = TextId::kModeNameFirst; id <= TextId::kModeNameLast; ++id)
        C_render->addItem(qtext(id));
    C_render->setCurrentIndex(selected);
    if (shown_) {
        // The row captions come from the table: rebuild them, keeping "Mises à jour".
        const std::int32_t updates = updateCount();
        TBitmap3D* target = shown_;
        shown_ = nullptr;
        showRenderTarget(target);
        if (auto* p = palette().rows().get<CharProperty>(text(TextId::kUpdateCount)))
            p->SetValue(static_cast<char>(updates));
    }
}

TForm_view* TForm_bmppal::owner(const TBitmap3D* target) const {
    TForm_view* view = activeDocument();
    return view && target && view->renderTarget() == target ? view : nullptr;
}

void TForm_bmppal::selectMode(int mode) {
    if (C_render->currentIndex() != mode) C_render->setCurrentIndex(mode);
}

void TForm_bmppal::showRenderTarget(TBitmap3D* target) {
    if (target == shown_ || !owner(target)) return;
    selectMode(target->mode);
    palette().setUpdatesEnabled(false);
    clearPalette();
    fill(target);
    if (TForm_view* view = owner(target))
        setPaletteEnabled(view->state() != kStateSearching && view->state() != kStateRendering);
    palette().fitLabelWidth(kLabelWidth);
    fitHeight();
    palette().rows().setChangeHandler([this](Property& p) { paletteChanged(p); });
    palette().setUpdatesEnabled(true);
    shown_ = target;
}

void TForm_bmppal::fill(TBitmap3D* target) {
    PropertySet& rows = palette().rows();
    const auto sizeRow = [&rows](int id, int* variable, std::initializer_list<int> choices) {
        auto* p = rows.addBound(text(id), variable, Property::kEnumerated);
        p->SetMin(kMinImageSide);
        p->SetMax(kMaxImageSide);
        for (int choice : choices) p->AddEnumItem(choice);
    };
    width_ = target->imageWidth;
    height_ = target->imageHeight;
    sizeRow(TextId::kImageWidth, &width_, {320, 640, 1024, 1280, 1600});
    sizeRow(TextId::kImageHeight, &height_, {240, 480, 768, 1024, 1200});

    // The document keeps its count, so that its scene holds it.
    TForm_view* view = owner(target);
    auto* updates = view ? rows.addBound(text(TextId::kUpdateCount), view->updatesVariable())
                         : static_cast<CharProperty*>(
                               rows.addByType(text(TextId::kUpdateCount), Property::kChar));
    updates->SetMin(1);
    updates->SetMax(100);
    if (!view) updates->SetValue(10);

    const auto countRow = [&rows](int id, int* variable, int most) {
        auto* p = rows.addBound(text(id), variable);
        p->SetMin(1);
        p->SetMax(most);
        p->tag = kTagParallel;
    };
    countRow(TextId::kRenderThreads, &threads_, kMaxThreads);
    countRow(TextId::kRenderStreams, &streams_, kMaxStreams);
    auto* autosave = rows.addBound(text(TextId::kAutosaveMinutes), &autosaveMinutes_);
    autosave->SetMin(0);
    autosave->SetMax(kMaxAutosaveMinutes);
    autosave->tag = kTagAutosave;

    auto* scale = rows.addBound(text(TextId::kScale), &target->scale,
                                Property::kTrackBar | Property::kSeparator);
    scale->SetMin(0.0001);
    // Over every fitted kind, from a Lorenz flow (near 0.01) to a small map: the decades
    // spread evenly along the bar. Typed values stay exact.
    scale->SetSliderMin(0.0001);
    scale->SetSliderMax(10);
    scale->SetSliderLogarithmic(true);
    scale->SetAutoApply(true);
    scale->tag = kTagScale;

    const auto slider = [&rows](int id, double* variable, double min, double low, double high) {
        auto* p = rows.addBound(text(id), variable, Property::kTrackBar);
        if (min > 0) p->SetMin(min);
        p->SetSliderMin(low);
        p->SetSliderMax(high);
        p->tag = kTagImage;
    };
    if (auto* gas = dynamic_cast<TBitmap3D_Gas*>(target)) {
        slider(TextId::kLuminosity, &gas->luminosity, 0, 1, 10);
        slider(TextId::kGamma, &gas->gamma, 0.0001, 1, 5);
    }
    if (auto* light = dynamic_cast<TBitmap3D_Light*>(target)) {
        slider(TextId::kLuminosity, &light->luminosity, 0, 1, 10);
        slider(TextId::kGamma, &light->gamma, 0.0001, 1, 5);
        rows.addGradient(text(TextId::kSpeedGradient), &light->speedGradient)->tag = kTagGradient;
        rows.addGradient(text(TextId::kAngleGradient), &light->angleGradient)->tag = kTagGradient;
    }
    if (auto* solid = dynamic_cast<TBitmap3D_Solid*>(target)) {
        slider(TextId::kOpacity, &solid->opacity, 0.0001, 1, 10);
        slider(TextId::kGamma, &solid->gamma, 0.0001, 1, 5);
        slider(TextId::kRoughness, &solid->roughness, 0.0001, 0.001, 0.3);
    }
    // Only for a document whose scene fixed an exposure (an animation's frame): ticked, the
    // image develops against the value; unticked, against its own peak.
    if (view && *view->exposureVariable() > 0) {
        auto* exposure = rows.addBound(text(TextId::kFixedExposure), view->exposureVariable(),
                                       Property::kCheckBox);
        exposure->SetMin(1e-6);
        exposure->SetMax(1e30);
        exposure->tag = kTagExposure;
        exposure->SetChecked(view->fixedExposure());
        exposure->onCheck = [this](Property&, bool ticked) {
            if (TForm_view* v = activeDocument()) v->setFixedExposure(ticked);
        };
    }
    const std::pair<int, int> tips[] = {{TextId::kImageWidth, TextId::kTipWidth},
                                        {TextId::kImageHeight, TextId::kTipHeight},
                                        {TextId::kUpdateCount, TextId::kTipUpdates},
                                        {TextId::kRenderThreads, TextId::kTipRenderThreads},
                                        {TextId::kRenderStreams, TextId::kTipRenderStreams},
                                        {TextId::kAutosaveMinutes, TextId::kTipAutosaveMinutes},
                                        {TextId::kScale, TextId::kTipScale},
                                        {TextId::kLuminosity, TextId::kTipLuminosity},
                                        {TextId::kGamma, TextId::kTipGamma},
                                        {TextId::kOpacity, TextId::kTipOpacity},
                                        {TextId::kRoughness, TextId::kTipRoughness},
                                        {TextId::kSpeedGradient, TextId::kTipSpeedGradient},
                                        {TextId::kAngleGradient, TextId::kTipAngleGradient},
                                        {TextId::kFixedExposure, TextId::kTipFixedExposure}};
    for (const auto& [row, tip] : tips)
        if (Property* p = rows.find(text(row))) p->toolTip = text(tip);
}

void TForm_bmppal::paletteChanged(Property& p) {
    TForm_view* view = activeDocument();
    if (!view) return;
    switch (p.tag) {
        case kTagScale:
            view->scaleChanged();
            break;
        case kTagImage:
            view->imageSettingsChanged();
            break;
        case kTagGradient:
            view->gradientChanged();
            break;
        case kTagParallel: {
            QSettings settings = programSettings();
            settings.setValue(kThreadsKey, threads_);
            settings.setValue(kStreamsKey, streams_);
            break;
        }
        case kTagExposure:
            // A typed value turns the exposure on.
            view->exposureValueChanged();
            p.Reload();
            if (!p.ticked() && view->fixedExposure()) p.SetChecked(true);
            break;
        case kTagAutosave: {
            // From the next render on; 0 turns autosave off.
            QSettings settings = programSettings();
            settings.setValue(kAutosaveKey, autosaveMinutes_);
            main_.setAutosaveSeconds(autosaveMinutes_ * 60.0);
            break;
        }
        default:
            if (&p == palette().rows().find(text(TextId::kImageWidth)) ||
                &p == palette().rows().find(text(TextId::kImageHeight))) {
                // The rows show the size the image really took (widths are multiples of 4), or
                // the old one when the new size was refused.
                view->setImageSize(width_, height_);
                width_ = view->renderTarget()->imageWidth;
                height_ = view->renderTarget()->imageHeight;
                for (int id : {TextId::kImageWidth, TextId::kImageHeight})
                    if (Property* row = palette().rows().find(text(id))) row->Reload();
            }
            if (&p == palette().rows().find(text(TextId::kUpdateCount)))
                view->renderCountChanged(HistoryStep::Updates);
            break;
    }
}

void TForm_bmppal::clearPalette() {
    palette().rows().setChangeHandler({});
    shown_ = nullptr;
    palette().rows().Clear();
}

void TForm_bmppal::setPaletteEnabled(bool on) {
    PropertySet& rows = palette().rows();
    rows.setEnabled(on);
    palette().setEnabled(on);
    L_render->setEnabled(on);
    C_render->setEnabled(on);
    if (rows.count() == 0) return;
    TForm_view* view = activeDocument();
    const std::uint8_t state = view ? view->state() : std::uint8_t{kStateNew};
    const bool sampled = state != kStateNew && state != kStateNoAttractor;
    if (Property* scale = rows.find(text(TextId::kScale))) scale->SetEnabled(on && sampled);
    // The image rows act on an image: only when there is one.
    const bool image = sampled && state != kStatePreview;
    const bool solid = view && view->renderTarget()->renderMode() == RenderMode::Solid;
    const int solidRows[] = {TextId::kOpacity, TextId::kRoughness};
    const int otherRows[] = {TextId::kLuminosity, TextId::kGamma};
    for (int id : solid ? solidRows : otherRows)
        if (Property* p = rows.find(text(id))) p->SetEnabled(on && image);
}

void TForm_bmppal::refreshScale() {
    if (Property* scale = palette().rows().find(text(TextId::kScale))) scale->Reload();
}

void TForm_bmppal::refreshValues() {
    palette().rows().reloadAll();
}

std::int32_t TForm_bmppal::updateCount() const {
    const auto* p = palette().rows().get<CharProperty>(text(TextId::kUpdateCount));
    return p ? p->value() : 10;
}

void TForm_bmppal::C_renderChange(int index) {
    if (TForm_view* view = activeDocument(); view && index >= 0) view->setRenderMode(index);
}

}  // namespace qm::gui
