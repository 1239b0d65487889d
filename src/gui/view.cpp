#include "gui/view.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QStyle>
#include <QThread>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "core/attractor/ifs.h"
#include "core/attractor/polynomial.h"
#include "core/attractor/random31.h"
#include "core/file/data_location.h"
#include "core/math/cr_exp_log.h"
#include "core/property/color_map.h"
#include "core/render/develop_team.h"
#include "core/render/light.h"
#include "core/render/sampling.h"
#include "core/strings/duration.h"
#include "core/strings/string_table.h"
#include "gui/image_frame.h"
#include "gui/image_widget.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/preview_widget.h"
#include "gui/render_autosave.h"
#include "gui/render_thread.h"
#include "gui/search_thread.h"
#include "gui/texts.h"

namespace qm::gui {

namespace {

constexpr int kProgressMaximum = 1024;
// How long the activity mark of a display update stays visible.
constexpr int kActivityMarkMs = 150;
// Changes of one row (keys typed, track bar moves) or wheel turns that follow each other
// within this time make one step of the history.
constexpr qint64 kStepMergeMs = 1500;

std::filesystem::path toPath(const QString& fileName) { return std::filesystem::path(fileName.toStdString()); }

ColorRGBf blend(const ColorRGBf& a, float wa, const ColorRGBf& b, float wb) {
    return {wa * a.r + wb * b.r, wa * a.g + wb * b.g, wa * a.b + wb * b.b};
}

QString reasonText(FileStatus status, int systemError) {
    switch (status) {
        case FileStatus::CannotOpen: return qtext(TextId::kReasonCannotOpen);
        case FileStatus::TooLarge: return qtext(TextId::kReasonTooLarge);
        case FileStatus::TooManyLines:
            return qtext(TextId::kReasonTooManyLines);
        case FileStatus::NotRegular:
            return qtext(TextId::kReasonNotRegular);
        case FileStatus::InvalidValue: return qtext(TextId::kReasonNotFinite);
        case FileStatus::WriteFailed:
            return systemError != 0 ? QString::fromLocal8Bit(std::strerror(systemError))
                                    : qtext(TextId::kReasonWriteFailed);
        default: return qtext(TextId::kReasonNotAttractor);
    }
}

}  // namespace

QString readErrorMessage(const QString& fileName, const LoadResult& loaded) {
    QString message = qtext(TextId::kReadError) + QStringLiteral("\n\n") + fileName +
                      QStringLiteral("\n") + reasonText(loaded.status, 0);
    int why = 0;
    switch (loaded.reason) {
        case ParseError::UnknownKeyword:
            why = TextId::kParseUnknownKeyword;
            break;
        case ParseError::BadValue:
            why = TextId::kParseBadValue;
            break;
        case ParseError::Repeated:
            why = TextId::kParseRepeated;
            break;
        case ParseError::MissingBrace:
            why = TextId::kParseMissingBrace;
            break;
        case ParseError::UnexpectedEnd:
            why = TextId::kParseUnexpectedEnd;
            break;
        case ParseError::MissingKeyword:
            why = TextId::kParseMissingKeyword;
            break;
        case ParseError::NotText:
            why = TextId::kParseNotText;
            break;
        case ParseError::None:
        case ParseError::ReadFailed:
            break;
    }
    if (loaded.status == FileStatus::ReadError && why != 0 && loaded.line > 0)
        message += QStringLiteral("\n") + fillText(qtext(TextId::kReadErrorAtLine),
                                                   {QString::number(loaded.line), qtext(why)});
    return message;
}

QString sceneErrorMessage(const QString& fileName, const SceneLoad& loaded) {
    QString reason;
    const QString line = QString::number(loaded.line);
    if (loaded.status == FileStatus::NewerVersion)
        reason = fillText(qtext(TextId::kReasonNewerScene), {line});
    else if (loaded.status == FileStatus::NoScene)
        reason = qtext(TextId::kReasonNoScene);
    else if (loaded.status == FileStatus::ReadError && loaded.line > 0)
        reason = fillText(qtext(TextId::kReasonSceneLine), {line});
    else
        reason = reasonText(loaded.status, 0);
    return qtext(TextId::kReadError) + QStringLiteral("\n\n") + fileName + QStringLiteral("\n") +
           reason;
}

TForm_view::TForm_view(TMDIform& main, const NewDocumentDefaults& settings, int documentNumber,
                       QWidget* parent)
    : QWidget(parent), main_(main), parser_(makeAttractorParser()) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMouseTracking(false);

    preview_ = new PreviewWidget(this);
    image_ = new ImageWidget(this);
    // The preview or the image, with the scroll bars of an image shown at 100%.
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setSpacing(0);
    layers_ = new QStackedLayout;
    grid->addLayout(layers_, 0, 0);
    layers_->addWidget(preview_);
    layers_->addWidget(image_);
    layers_->setCurrentWidget(preview_);
    horizontalBar_ = new QScrollBar(Qt::Horizontal, this);
    verticalBar_ = new QScrollBar(Qt::Vertical, this);
    grid->addWidget(verticalBar_, 0, 1);
    grid->addWidget(horizontalBar_, 1, 0);
    for (QScrollBar* bar : {horizontalBar_, verticalBar_}) {
        bar->hide();
        connect(bar, &QScrollBar::valueChanged, this, [this] { updateImageFrame(); });
    }
    setMinimumSize(kMinImageSide, kMinImageSide);

    // A new document shows how to begin, over the empty preview.
    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("hint"));
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setAttribute(Qt::WA_TransparentForMouseEvents);
    hint_->setStyleSheet(QStringLiteral("QLabel { color: #d8d8d8; background: transparent; }"));
    QFont hintFont = hint_->font();
    hintFont.setPointSizeF(hintFont.pointSizeF() * 1.4);
    hint_->setFont(hintFont);

    TT_update = new QTimer(this);
    TT_update->setInterval(1000);
    connect(TT_update, &QTimer::timeout, this, &TForm_view::TT_updateTimer);

    // Unique in this process: the autosave file's name.
    static std::int64_t autosaves = 0;
    autosaveNumber_ = ++autosaves;
    untitledNumber_ = documentNumber;  // the name comes with the texts, in createActions
    createActions();

    seedRandom31(static_cast<std::uint32_t>(std::time(nullptr)));

    // A new target: the fog takes the base colours (black background, white points).
    auto target = CreateRenderTarget(settings.mode);
    installRenderTarget(std::move(target), {0, 0, 0}, {1, 1, 1});
    loadDefaultGradients();
    target_->SetWidth(settings.width);
    target_->SetHeight(settings.height);
    target_->SetEye({0, 0, -5});
    target_->SetTarget({0, 0, 0});
    // The main window gives the document its size: the image's, or its shape scaled down.
    updateImageFrame();

    replaceAttractor(settings.kind, settings.optionFor(settings.kind));
    applyState();
    updateCaption();
    markSceneSaved();
    resetHistory();
}

TForm_view::~TForm_view() {
    // Closing is refused while a render runs, but the program may still be ended under it:
    // the worker never waits for this thread, so stopping it and waiting here is safe.
    if (worker_) {
        worker_->control().stopRequested.store(true, std::memory_order_relaxed);
        worker_->wait();
    }
    removeAutosave();
    // Nor does the search's worker, which ends after its trial in progress.
    if (searchThread_) {
        searchThread_->requestStop();
        searchThread_->wait();
    }
    main_.palettes().release(attractor_.get(), target_.get());
}

Palettes& TForm_view::palettes() const {
    // The palettes show the active document only; the others' changes do not reach them.
    static NoPalettes inactive;
    return main_.activeDocument() == this ? main_.palettes() : static_cast<Palettes&>(inactive);
}

TRenderThread* TForm_view::renderThread() const { return worker_; }

void TForm_view::createActions() {
    auto make = [this](void (TForm_view::*handler)(), const QKeySequence& shortcut) {
        auto* a = new QAction(this);
        a->setShortcut(shortcut);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    A_rechercher = make(&TForm_view::A_rechercherExecute, Qt::Key_F3);
    A_arreter_rch = make(&TForm_view::A_arreter_rchExecute, QKeySequence(Qt::SHIFT | Qt::Key_F3));
    A_demarrer = make(&TForm_view::A_demarrerExecute, Qt::Key_F4);
    A_arreter = make(&TForm_view::A_arreterExecute, Qt::Key_F5);
    A_ajuster = new QAction(this);
    A_ajuster->setShortcut(Qt::Key_F6);
    connect(A_ajuster, &QAction::triggered, this, [this] {
        adjustView(Adjust::Fit);
        recordStep(HistoryStep::Fit);
    });
    A_centrer = new QAction(this);
    A_centrer->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    connect(A_centrer, &QAction::triggered, this, [this] {
        adjustView(Adjust::Centre);
        recordStep(HistoryStep::Centre);
    });
    A_copier = make(&TForm_view::A_copierExecute, QKeySequence(Qt::CTRL | Qt::Key_C));
    MI_ajuster_auto = new QAction(this);
    MI_ajuster_auto->setCheckable(true);
    MI_ajuster_auto->setChecked(true);
    connect(MI_ajuster_auto, &QAction::triggered, this, &TForm_view::MI_ajuster_autoClick);
    A_taille_reelle = new QAction(this);
    A_taille_reelle->setCheckable(true);
    A_taille_reelle->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    connect(A_taille_reelle, &QAction::triggered, this, &TForm_view::setActualSize);

    attractorMenu_ = new QMenu(this);
    attractorMenu_->addAction(A_rechercher);
    attractorMenu_->addAction(A_arreter_rch);
    attractorMenu_->addAction(main_.A_decouverte);
    attractorMenu_->addSeparator();
    attractorMenu_->addAction(A_demarrer);
    attractorMenu_->addAction(A_arreter);
    viewMenu_ = new QMenu(this);
    viewMenu_->addAction(A_copier);
    viewMenu_->addSeparator();
    viewMenu_->addAction(A_centrer);
    viewMenu_->addAction(A_ajuster);
    viewMenu_->addAction(MI_ajuster_auto);
    viewMenu_->addSeparator();
    viewMenu_->addAction(A_taille_reelle);
    viewMenu_->addSeparator();
    viewMenu_->addAction(main_.A_animation);
    for (QMenu* menu : {attractorMenu_, viewMenu_}) menu->setToolTipsVisible(true);
    retranslate();
}

void TForm_view::retranslate() {
    attractorMenu_->setTitle(qtext(TextId::kMenuAttractor));
    viewMenu_->setTitle(qtext(TextId::kMenuView));
    A_rechercher->setText(qtext(TextId::kActionSearch));
    A_arreter_rch->setText(qtext(TextId::kActionStopSearch));
    A_demarrer->setText(qtext(TextId::kActionStart));
    A_arreter->setText(qtext(TextId::kActionStop));
    A_ajuster->setText(qtext(TextId::kActionFit));
    A_centrer->setText(qtext(TextId::kActionCentre));
    A_copier->setText(qtext(TextId::kActionCopy));
    MI_ajuster_auto->setText(qtext(TextId::kActionAutoFit));
    A_taille_reelle->setText(qtext(TextId::kActionActualSize));
    const std::pair<QAction*, int> tips[] = {{A_rechercher, TextId::kTipSearch},
                                             {A_arreter_rch, TextId::kTipStopSearch},
                                             {A_demarrer, TextId::kTipStart},
                                             {A_arreter, TextId::kTipStop},
                                             {A_ajuster, TextId::kTipFit},
                                             {A_centrer, TextId::kTipCentre},
                                             {A_copier, TextId::kTipCopy},
                                             {MI_ajuster_auto, TextId::kTipAutoFit},
                                             {A_taille_reelle, TextId::kTipActualSize}};
    for (const auto& [action, id] : tips) action->setToolTip(qtext(id));
    hint_->setText(qtext(TextId::kSearchHint));
    setAccessibleDescription(qtext(TextId::kAccDocumentImage));
    // The caption's name (while untitled), kind name and suffix come from the table too, and so
    // do the names of parameters such as Julia's level.
    if (untitledNumber_ > 0) documentName_ = qtext(TextId::kUntitled) + QString::number(untitledNumber_);
    if (attractor_) {
        attractor_->retranslate();
        captionName_.clear();
        updateCaption();
    }
}

// --- Attractor and render target -------------------------------------------------------

void TForm_view::replaceAttractor(std::int8_t kindCode, std::int8_t count) {
    if (std::unique_ptr<Attractor> fresh = createAttractor(kindCode, count)) installAttractor(std::move(fresh));
}

void TForm_view::installAttractor(std::unique_ptr<Attractor> attractor) {
    if (!attractor || busy()) return;
    if (auto* ifs = dynamic_cast<IFS*>(attractor.get()))
        count_ = ifs->count();
    else if (auto* sprott = dynamic_cast<Polynomial_Sprott*>(attractor.get()))
        count_ = sprott->order();
    else
        count_ = 0;
    std::unique_ptr<Attractor> old = std::move(attractor_);
    attractor_ = std::move(attractor);
    installDivergeHandler();
    palettes().selectKind(attractor_->kindCode());
    main_.palettes().release(old.get(), nullptr);
    old.reset();
    target_->mirror = attractor_->kind() == AttractorKind::Julia;
    main_.resetStatus();
    captionName_.clear();
    updateCaption();
}

void TForm_view::installRenderTarget(std::unique_ptr<TBitmap3D> target, const ColorRGBf& fogBackground,
                                     const ColorRGBf& fogPoint) {
    // The fog blends towards 3/4 of the background; Solid uses half and half of its own colours.
    const ColorRGBf fog = target->renderMode() == RenderMode::Solid
                              ? blend(target->backgroundColor, 0.5f, target->pointColor, 0.5f)
                              : blend(fogBackground, 0.75f, fogPoint, 0.25f);
    target->setDrawingContext(std::make_unique<PreviewContext>(*preview_));
    preview_->setFogColor(fog);
    preview_->setTarget(target.get());
    image_->setTarget(target.get());
    target_ = std::move(target);
}

void TForm_view::installDivergeHandler() {
    attractor_->OnDiverge = [this](Attractor&) {
        // A render reports its divergence on the worker: the state changes on this thread.
        if (QThread::currentThread() == thread())
            attractorDiverged();
        else
            QMetaObject::invokeMethod(this, [this] { attractorDiverged(); }, Qt::QueuedConnection);
    };
}

void TForm_view::attractorDiverged() { setState(kStateNoAttractor); }

void TForm_view::loadDefaultGradients() {
    auto* light = dynamic_cast<TBitmap3D_Light*>(target_.get());
    if (!light) return;
    // Beside the program, else where an installation puts them.
    qm::loadDefaultGradients(dataFolders(main_.programFolder(), DataEnvironment::current()),
                             light->speedGradient, light->angleGradient);
}

bool TForm_view::busy() const { return searching_ || state_ == kStateSearching || state_ == kStateRendering; }

void TForm_view::setAttractorKind(std::int8_t kindCode) {
    if (!attractor_ || attractor_->kindCode() == kindCode || busy()) return;
    if (!confirmRenderLoss()) {
        palettes().selectKind(attractor_->kindCode());
        return;
    }
    replaceAttractor(kindCode, main_.defaults().optionFor(kindCode));
    palettes().showAttractor(attractor_.get());
    setState(kStateNew);
    recordStep(HistoryStep::Kind);
}

void TForm_view::setAttractorCount(std::int8_t count) {
    if (!attractor_ || busy()) return;
    if (!confirmRenderLoss()) {
        palettes().fillAttractorPalette();
        return;
    }
    count_ = count;
    // The rows point into the parameters, which the new count reallocates.
    palettes().release(attractor_.get(), nullptr);
    if (auto* ifs = dynamic_cast<IFS*>(attractor_.get()))
        ifs->setMatrixCount(count);
    else if (auto* sprott = dynamic_cast<Polynomial_Sprott*>(attractor_.get()))
        sprott->setOrder(count);
    palettes().fillAttractorPalette();
    setState(kStateNew);
    main_.resetStatus();
    recordStep(HistoryStep::Option);
}

void TForm_view::setRenderMode(int mode) {
    if (!target_ || target_->mode == mode || busy()) return;
    if (!confirmRenderLoss()) {
        palettes().selectMode(target_->mode);
        return;
    }
    std::unique_ptr<TBitmap3D> next = CreateRenderTarget(mode, *target_);
    if (!next) return;
    palettes().selectMode(mode);
    const bool wasLight = target_->isLightFamily();
    const ColorRGBf background = target_->backgroundColor, point = target_->pointColor;
    std::unique_ptr<TBitmap3D> old = std::move(target_);
    installRenderTarget(std::move(next), background, point);
    if (!wasLight && target_->isLightFamily()) loadDefaultGradients();
    palettes().showRenderTarget(target_.get());
    old.reset();
    if (state_ != kStateNew && state_ != kStateNoAttractor) {
        setState(kStatePreview);
        redrawPreview();
    } else {
        image_->imageChanged();
        preview_->update();
    }
    main_.resetStatus();
    recordStep(HistoryStep::RenderMode);
}

// --- State machine ---------------------------------------------------------------------

void TForm_view::setState(std::uint8_t s) {
    // A render's scene describes the image only while the document shows that image.
    if (s != kStateRendering && s != kStateRendered) renderScene_.reset();
    if (s == appliedState_ && s == state_) return;
    previousState_ = state_;
    state_ = s;
    applyState();
    updateCaption();
    appliedState_ = state_;
}

void TForm_view::applyState() {
    const std::uint8_t s = state_;
    // The hint stays until the document first shows an attractor.
    if (s != kStateNew) everShown_ = true;
    updateHint();
    // Back to the preview, the last render's progress and total time are over; they stay while
    // another document renders, whose status it is.
    if (s == kStatePreview && previousState_ == kStateRendered && !main_.renderRunning() &&
        main_.activeDocument() == this)
        main_.resetStatus();
    const bool idle = s != kStateSearching && s != kStateRendering;
    setCursor(idle ? Qt::ArrowCursor : Qt::WaitCursor);
    palettes().setPalettesEnabled(idle);
    main_.setFileCommandsEnabled(idle);
    if (main_.activeDocument() == this) main_.updateEditCommands();
    A_rechercher->setEnabled(idle);
    A_arreter_rch->setEnabled(s == kStateSearching);
    const bool viewing = s == kStatePreview || s == kStateRendered;
    A_demarrer->setEnabled(viewing && !main_.renderRunning());
    A_arreter->setEnabled(s == kStateRendering);
    A_copier->setEnabled(s == kStateRendered);
    A_centrer->setEnabled(viewing);
    A_ajuster->setEnabled(viewing);
    MI_ajuster_auto->setEnabled(viewing);

    // What the client area shows: the live preview in state 2, the image in 4 and 5; the
    // other states keep what was shown.
    if (s == kStatePreview)
        showPreview();
    else if (s == kStateRendering || s == kStateRendered)
        showImage();
    else if (s != kStateSearching)
        update();
}

void TForm_view::updateCaption() {
    if (!attractor_) return;
    if (documentName_ == captionName_ && state_ == appliedState_ && !windowTitle().isEmpty()) return;
    setWindowTitle(documentName_ + QStringLiteral(" - ") +
                   QString::fromStdString(attractor_->displayName()) +
                   qtext(TextId::kStateSuffixFirst + state_));
    setAccessibleName(windowTitle());
    captionName_ = documentName_;
}

void TForm_view::updateHint() {
    const bool shown = state_ == kStateNew && !everShown_;
    if (shown) {
        hint_->setGeometry(rect());
        hint_->raise();
    }
    hint_->setVisible(shown);
}

void TForm_view::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    hint_->setGeometry(rect());
    updateImageFrame();
}

int TForm_view::scrollBarExtent() const {
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalBar_);
}

void TForm_view::updateImageFrame() {
    if (!target_) return;
    const QSize image(target_->imageWidth, target_->imageHeight);
    const int extent = scrollBarExtent();
    const ScrollBars bars = actualSize_ ? scrollBarsFor(image, size(), extent) : ScrollBars{};
    const QSize area(width() - (bars.vertical ? extent : 0),
                     height() - (bars.horizontal ? extent : 0));
    {
        // Clamping the values must not call back here.
        const QSignalBlocker blockH(horizontalBar_), blockV(verticalBar_);
        horizontalBar_->setRange(0, bars.horizontal ? image.width() - area.width() : 0);
        horizontalBar_->setPageStep(std::max(area.width(), 1));
        horizontalBar_->setSingleStep(std::max(area.width() / 20, 1));
        verticalBar_->setRange(0, bars.vertical ? image.height() - area.height() : 0);
        verticalBar_->setPageStep(std::max(area.height(), 1));
        verticalBar_->setSingleStep(std::max(area.height() / 20, 1));
    }
    if (horizontalBar_->isVisibleTo(this) != bars.horizontal ||
        verticalBar_->isVisibleTo(this) != bars.vertical) {
        horizontalBar_->setVisible(bars.horizontal);
        verticalBar_->setVisible(bars.vertical);
        // The preview and the image take the room the bars leave now, not at the next layout.
        layout()->activate();
    }
    const QRect frame = imageRectIn(image, area, actualSize_,
                                    QPoint(horizontalBar_->value(), verticalBar_->value()));
    displayScale_ = actualSize_ ? 1.0 : fitScale(image, area);
    preview_->setImageRect(frame);
    image_->setImageRect(frame);
}

void TForm_view::setActualSize(bool on) {
    A_taille_reelle->setChecked(on);
    if (on == actualSize_) return;
    actualSize_ = on;
    updateImageFrame();
    // At 100% the middle of the image shows first.
    if (on) {
        horizontalBar_->setValue(horizontalBar_->maximum() / 2);
        verticalBar_->setValue(verticalBar_->maximum() / 2);
    }
}

QSize TForm_view::clientSizeFor(QSize room) const {
    return documentClientSize(QSize(target_->imageWidth, target_->imageHeight), room, actualSize_,
                              scrollBarExtent());
}

void TForm_view::setDocumentName(const QString& name) {
    untitledNumber_ = 0;
    documentName_ = name;
    updateCaption();
}

void TForm_view::showPreview() {
    layers_->setCurrentWidget(preview_);
    preview_->update();
}

void TForm_view::showImage() {
    layers_->setCurrentWidget(image_);
    image_->imageChanged();
}

void TForm_view::redrawPreview() {
    target_->DrawPreview();
    showPreview();
}

void TForm_view::scaleChanged() {
    if (busy()) return;
    setState(kStatePreview);
    redrawPreview();
    recordStep(HistoryStep::Zoom, 2, true);
}

void TForm_view::imageSettingsChanged() {
    recordStep(HistoryStep::ModeSetting);
    if (state_ != kStateRendered) return;
    buildImageOn(*target_, palettes().renderThreads());
    image_->imageChanged();
}

bool TForm_view::fixedExposure() const { return target_ && target_->fixedPeak > 0; }

void TForm_view::setFixedExposure(bool on) {
    if (!target_ || busy()) return;
    // The target holds a float: the value shown is the one the image develops against.
    const float peak = on && exposure_ > 0 ? static_cast<float>(exposure_) : 0.0f;
    if (on && peak > 0) exposure_ = peak;
    if (peak == target_->fixedPeak) return;
    target_->fixedPeak = peak;
    imageSettingsChanged();
}

void TForm_view::exposureValueChanged() {
    if (!target_ || busy()) return;
    const float peak = static_cast<float>(exposure_);
    if (!(peak > 0) || !std::isfinite(peak)) {
        exposure_ = target_->fixedPeak;
        return;
    }
    exposure_ = peak;
    if (peak == target_->fixedPeak) return;
    target_->fixedPeak = peak;
    imageSettingsChanged();
}

void TForm_view::gradientChanged() {
    if (!confirmRenderLoss()) {
        // The render's gradients come back.
        if (auto* light = dynamic_cast<TBitmap3D_Light*>(target_.get())) {
            if (renderScene_->speedGradient) light->speedGradient = *renderScene_->speedGradient;
            if (renderScene_->angleGradient) light->angleGradient = *renderScene_->angleGradient;
        }
        palettes().refreshValues();
        return;
    }
    // Without sampled points (new, or diverged) there is nothing to render yet.
    if (state_ != kStatePreview && state_ != kStateRendered) return;
    renderScene_.reset();
    target_->RenderPreview();
    setState(kStateRendered);
    image_->imageChanged();
    recordStep(HistoryStep::ColorMap);
}

bool TForm_view::setImageSize(std::int32_t w, std::int32_t h) {
    if (busy()) return false;
    w = std::clamp(w, kMinImageSide, kMaxImageSide);
    h = std::clamp(h, kMinImageSide, kMaxImageSide);
    if ((w & ~3) == target_->imageWidth && h == target_->imageHeight) return true;
    if (!confirmRenderLoss()) return false;
    if (!main_.imageSizeAllowed(target_->mode, w, h)) return false;
    target_->SetWidth(w);
    target_->SetHeight(h);
    updateImageFrame();
    main_.fitDocument(this);
    image_->clearSnapshot();
    if (state_ == kStatePreview || state_ == kStateRendered) {
        // The image is gone with the old size: the preview takes its place.
        setState(kStatePreview);
        redrawPreview();
    } else {
        update();
    }
    recordStep(HistoryStep::Resize);
    return true;
}

void TForm_view::updateStartCommand() {
    const bool viewing = state_ == kStatePreview || state_ == kStateRendered;
    A_demarrer->setEnabled(viewing && !main_.renderRunning());
}

void TForm_view::activated() {
    palettes().showAttractor(attractor_.get());
    target_->MakeCurrent();
    palettes().showRenderTarget(target_.get());
    updateStartCommand();
}

// --- Search and sampling ---------------------------------------------------------------

void TForm_view::sampleAttractor(std::int32_t n, Adjust mode) {
    previewRandom_ = threadRandom31().state;
    const SamplingMode sampling = mode == Adjust::Fit      ? SamplingMode::Fit
                                  : mode == Adjust::Centre ? SamplingMode::Centre
                                                           : SamplingMode::Plain;
    qm::sampleAttractor(*attractor_, *target_, n, sampling);
}

void TForm_view::samplePreviewOfResumedRender() {
    // A plain sampling moves no view; for the Light family it scans the speeds and angles
    // again, which the rest of the render must not see.
    auto* light = dynamic_cast<TBitmap3D_Light*>(target_.get());
    struct Saved {
        double speedMin, speedMax, speedRange, cosMin, cosMax, cosRange;
        Vecd before, last;
        ColorRGBf plotColor;
    } saved{};
    if (light)
        saved = {light->speedMin, light->speedMax, light->speedRange,
                 light->cosMin,   light->cosMax,   light->cosRange,
                 light->before,   light->last,     light->plotColor};
    sampleAttractor(kPreviewIterations, Adjust::Plain);
    if (light) {
        light->speedMin = saved.speedMin;
        light->speedMax = saved.speedMax;
        light->speedRange = saved.speedRange;
        light->cosMin = saved.cosMin;
        light->cosMax = saved.cosMax;
        light->cosRange = saved.cosRange;
        light->before = saved.before;
        light->last = saved.last;
        light->plotColor = saved.plotColor;
    }
}

void TForm_view::reportAutosaveFailure(const TRenderThread& worker) {
    const int error = worker.autosaveError();
    if (error == 0 || autosaveFailureShown_) return;
    autosaveFailureShown_ = true;
    main_.setNoticeText([error] {
        const QString reason = error > 0 ? QString::fromLocal8Bit(std::strerror(error))
                                         : qtext(TextId::kReasonWriteFailed);
        return fillText(qtext(TextId::kAutosaveFailed), {reason});
    });
}

std::int32_t TForm_view::renderStreams() const {
    return sceneStreams_.value_or(palettes().renderStreams());
}

void TForm_view::A_rechercherExecute() {
    if (searching_ || searchThread_ || state_ == kStateRendering) return;
    if (!confirmRenderLoss()) return;
    // A new find renders with the program's streams again.
    sceneStreams_.reset();
    searching_ = true;
    setState(kStateSearching);
    if (!main_.renderRunning()) main_.resetStatus();

    // Orbits that diverge during the search are only rejected trials.
    attractor_->OnDiverge = nullptr;
    startSearchThread();
}

void TForm_view::startSearchThread() {
    // The trials run on a worker with this thread's generator, which comes back when the worker
    // ends: the finds are those of trials run here, and the windows stay live meanwhile.
    searchThread_ = new TSearchThread(*attractor_, randomness_ / 100.0, threadRandom31(), this);
    connect(searchThread_, &QThread::finished, this, &TForm_view::searchThreadFinished);
    searchThread_->start();
}

void TForm_view::searchThreadFinished() {
    TSearchThread* thread = searchThread_;
    if (!thread || !thread->isFinished()) return;
    threadRandom31() = thread->generator();
    const bool found = thread->found();
    searchThread_ = nullptr;
    thread->deleteLater();

    // An accepted trial is shown even when "Arrêter Recherche" came during it, as when the
    // trials ran here; a preview that diverges sends the search on unless it was stopped.
    if (found) {
        sampleAttractor(kPreviewIterations, autoFit_ ? Adjust::Fit : Adjust::Plain);
        if (attractor_->diverged() && searching_) {
            startSearchThread();
            return;
        }
    }
    installDivergeHandler();
    if (found && !attractor_->diverged()) {
        renderScene_.reset();
        target_->RenderPreview();
        setState(kStateRendered);
        palettes().refreshValues();
        searching_ = false;
        // Each find is a step: an earlier one comes back with its random states.
        recordStep(HistoryStep::Search);
        return;
    }
    setState(previousState_);
    searching_ = false;
}

void TForm_view::A_arreter_rchExecute() {
    if (!searching_) return;
    // The worker ends after its trial in progress; searchThreadFinished restores the state.
    searching_ = false;
    if (searchThread_) searchThread_->requestStop();
}

void TForm_view::adjustView(Adjust mode) {
    if (busy()) return;
    const Adjust sampling = mode == Adjust::Automatic ? (autoFit_ ? Adjust::Fit : Adjust::Plain) : mode;
    sampleAttractor(kPreviewIterations, sampling);
    if (sampling == Adjust::Fit) palettes().refreshScale();
    if (attractor_->diverged()) return;
    if (mode == Adjust::Centre || mode == Adjust::Fit) {
        renderScene_.reset();
        target_->RenderPreview();
        setState(kStateRendered);
        image_->imageChanged();
    } else {
        setState(kStatePreview);
        redrawPreview();
    }
}

void TForm_view::MI_ajuster_autoClick() {
    autoFit_ = MI_ajuster_auto->isChecked();
    if (!autoFit_) return;
    adjustView(Adjust::Fit);
    recordStep(HistoryStep::Fit);
}

// --- Mouse -----------------------------------------------------------------------------

void TForm_view::mousePressEvent(QMouseEvent* event) {
    if ((state_ != kStatePreview && state_ != kStateRendered) || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    dragging_ = true;
    gestureMoved_ = false;
    shiftMemory_ = 0;
    setState(kStatePreview);
}

void TForm_view::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_ || state_ != kStatePreview) return;
    const QPoint at = event->position().toPoint();
    const int flags = static_cast<int>(event->modifiers()) | static_cast<int>(event->buttons());
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    if (flags != shiftMemory_) {
        dragAnchor_ = at;
        if (shift) {
            panOriginX_ = target_->panX;
            panOriginY_ = target_->panY;
        }
    }
    // The gesture is named after what it did first.
    if (!gestureMoved_)
        gestureStep_ = shift                                              ? HistoryStep::Pan
                       : event->modifiers().testFlag(Qt::ControlModifier) ? HistoryStep::Zoom
                                                                          : HistoryStep::Rotate;
    gestureMoved_ = true;
    // The gesture in image pixels: on a scaled image it does what it would do at 100%.
    const double s = displayScale_;
    if (shift) {
        // Both axes by the image's width, measured from where the pan started.
        const double w = s * target_->imageWidth;
        target_->panX = (dragAnchor_.x() - at.x()) / w / target_->scale + panOriginX_;
        target_->panY = (dragAnchor_.y() - at.y()) / w / target_->scale + panOriginY_;
    } else if (event->modifiers().testFlag(Qt::ControlModifier)) {
        const double d = (dragAnchor_.y() - at.y()) / s;  // positive when the mouse moved up
        if (d > -240) target_->scale *= crm::pow(1.01, -d);
        palettes().refreshScale();
        dragAnchor_ = at;
    } else {
        target_->Rotate((at.x() - dragAnchor_.x()) / s, (dragAnchor_.y() - at.y()) / s);
        dragAnchor_ = at;
    }
    redrawPreview();
    shiftMemory_ = flags;
}

void TForm_view::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !dragging_) return;
    dragging_ = false;
    // One drag, one step.
    if (gestureMoved_) recordStep(gestureStep_, 0);
    gestureMoved_ = false;
}

void TForm_view::wheelEvent(QWheelEvent* event) {
    if (state_ != kStatePreview && state_ != kStateRendered) {
        event->ignore();
        return;
    }
    const int delta = event->angleDelta().y();
    if (delta < 0)
        target_->scale *= 1.1;
    else if (delta > 0)
        target_->scale *= 1 / 1.1;
    palettes().refreshScale();
    setState(kStatePreview);
    redrawPreview();
    event->accept();
    // A burst of turns is one step.
    recordStep(HistoryStep::Zoom, 1, true);
}

// --- Closing ---------------------------------------------------------------------------

void TForm_view::closeEvent(QCloseEvent* event) {
    if (searching_ || state_ == kStateSearching || state_ == kStateRendering || worker_) {
        event->ignore();
        main_.closeRefused(this, false);
        return;
    }
    // An image or a scene never saved: save it, leave it, or keep the document open.
    const bool render = renderAtRisk();
    if (render || sceneChanged()) {
        const QString question = fillText(
            qtext(render ? TextId::kUnsavedRender : TextId::kUnsavedScene), {documentName_});
        const int answer = askQuestion(
            this, question,
            {qtext(TextId::kSaveButton), qtext(TextId::kDontSave), qtext(TextId::kCancelButton)}, 2,
            1);
        if (answer == 2 ||
            (answer == 0 && !(render ? main_.saveImageOf(this) : main_.saveSceneOf(this)))) {
            event->ignore();
            return;
        }
    }
    main_.palettes().release(attractor_.get(), target_.get());
    event->accept();
    // Closed: the document's render is over, saved or not.
    removeAutosave();
    main_.documentClosed(this);
}

// --- Files and clipboard ---------------------------------------------------------------

bool TForm_view::saveAttractor(const QString& fileName) {
    const FileResult result = qm::saveAttractor(*parser_, *attractor_, toPath(fileName));
    if (result) return true;
    showError(this, fillText(qtext(TextId::kWriteError), {fileName, reasonText(result.status, result.systemError)}));
    return false;
}

bool TForm_view::loadAttractor(const QString& fileName) {
    if (busy()) return false;
    LoadResult loaded = qm::loadAttractor(*parser_, toPath(fileName));
    if (!loaded) {
        showError(this, readErrorMessage(fileName, loaded));
        return false;
    }
    installAttractor(std::move(loaded.attractor));
    palettes().showAttractor(attractor_.get());
    return true;
}

RenderScene TForm_view::scene() const {
    if (!renderScene_)
        return captureScene(*attractor_, *target_, totalIterations(),
                            std::max<std::int32_t>(updates_, 1), previewRandom_, renderStreams(),
                            renderSeed_);
    // The image settings develop the rendered image again: they are the image's as they are now.
    RenderScene s = *renderScene_;
    const RenderScene now = captureScene(*attractor_, *target_, totalIterations(), updates_,
                                         previewRandom_, renderStreams(), renderSeed_);
    s.luminosity = now.luminosity;
    s.gamma = now.gamma;
    s.opacity = now.opacity;
    s.roughness = now.roughness;
    s.exposure = now.exposure;
    return s;
}

PngTexts TForm_view::pngTexts() const {
    const RenderScene s = scene();
    return {sceneText(*attractor_, s), sceneDescription(*attractor_, s)};
}

bool TForm_view::renderAtRisk() const {
    return state_ == kStateRendered && renderScene_ && !imageSaved_;
}

bool TForm_view::confirmRenderLoss() {
    if (!renderAtRisk()) return true;
    return askQuestion(this, qtext(TextId::kRenderWillBeLost),
                       {qtext(TextId::kContinue), qtext(TextId::kCancelButton)}, 1, 0) == 0;
}

bool TForm_view::sceneChanged() const {
    return sceneText(*attractor_, scene()) != savedSceneText_;
}

void TForm_view::imageSaved(bool withScene) {
    imageSaved_ = true;
    if (withScene) markSceneSaved();
}

void TForm_view::markSceneSaved() {
    savedSceneText_ = sceneText(*attractor_, scene());
}

void TForm_view::attractorParameterChanged(std::int32_t row) {
    if (busy()) return;
    if (!confirmRenderLoss()) {
        // The values the render was made with come back.
        ParamList& params = attractor_->params();
        for (std::int32_t i = 0;
             i < params.count() && static_cast<std::size_t>(i) < renderParams_.size(); ++i)
            params[i].set(renderParams_[static_cast<std::size_t>(i)]);
        palettes().refreshValues();
        return;
    }
    adjustView(Adjust::Automatic);
    // An orbit that diverges is a step too: one undo brings back the parameters before it.
    recordStep(HistoryStep::Parameter, row, true);
}

void TForm_view::renderCountChanged(HistoryStep step) {
    recordStep(step, 0, true);
}

bool TForm_view::saveScene(const QString& fileName) {
    const FileResult result = qm::saveScene(toPath(fileName), *attractor_, scene());
    if (result) {
        markSceneSaved();
        return true;
    }
    const QString reason = result.status == FileStatus::InvalidValue
                               ? qtext(TextId::kReasonSceneNotFinite)
                               : reasonText(result.status, result.systemError);
    showError(this, fillText(qtext(TextId::kWriteError), {fileName, reason}));
    return false;
}

bool TForm_view::loadScene(const QString& fileName) {
    if (busy()) return false;
    SceneLoad loaded = loadSceneOrImage(toPath(fileName));
    if (!loaded) {
        showError(this, sceneErrorMessage(fileName, loaded));
        return false;
    }
    return installScene(std::move(loaded));
}

bool TForm_view::installScene(SceneLoad loaded) {
    return installSceneAs(std::move(loaded), true);
}

bool TForm_view::installSceneAs(SceneLoad loaded, bool opened) {
    if (!loaded || busy()) return false;
    const RenderScene& scene = loaded.render;
    if (!main_.imageSizeAllowed(scene.mode, scene.width, scene.height)) return false;

    // The target as the scene's document had it: made, framed and sampled aside, so that the
    // document changes only once all of it is ready.
    Gradientf speed, angle;
    qm::loadDefaultGradients(dataFolders(main_.programFolder(), DataEnvironment::current()), speed,
                             angle);
    PreparedScene prepared = prepareScene(*loaded.attractor, scene, speed, angle);
    if (!prepared.target) return false;

    const bool resized = prepared.target->imageWidth != target_->imageWidth ||
                         prepared.target->imageHeight != target_->imageHeight;
    palettes().release(nullptr, target_.get());
    std::unique_ptr<TBitmap3D> old = std::move(target_);
    installRenderTarget(std::move(prepared.target), {0, 0, 0}, {1, 1, 1});
    const bool mirror = target_->mirror;
    installAttractor(std::move(loaded.attractor));
    target_->mirror = mirror;  // as the scene has it, not as the kind suggests
    old.reset();
    previewRandom_ = prepared.previewRandom;
    setTotalIterations(scene.iterations);
    sceneStreams_ = scene.streams;
    renderSeed_ = scene.renderSeed.value_or(0);
    updates_ = static_cast<char>(scene.updates);
    // A step back to before the exposure was turned off keeps the value to turn it on again.
    if (scene.exposure)
        exposure_ = static_cast<float>(*scene.exposure);
    else if (opened)
        exposure_ = 0;
    renderScene_.reset();
    if (opened) markSceneSaved();

    updateImageFrame();
    // An undone step places the window again only when the size changed.
    if (opened || resized) main_.fitDocument(this);
    image_->clearSnapshot();
    palettes().selectMode(target_->mode);
    palettes().showAttractor(attractor_.get());
    palettes().showRenderTarget(target_.get());
    main_.resetStatus();
    if (!prepared.bounded) {
        setState(kStateNoAttractor);
        return true;
    }
    // The live preview shows the framing; a software preview would leave the Light family's
    // last colour behind, which the scene holds as the render's.
    setState(kStatePreview);
    redrawPreview();
    return true;
}

void TForm_view::A_copierExecute() {
    const QImage image = imageOf(*target_);
    if (!image.isNull()) QApplication::clipboard()->setImage(image.copy());
}

// --- Render ----------------------------------------------------------------------------

void TForm_view::A_demarrerExecute() {
    if (state_ == kStateRendering || main_.renderRunning()) return;
    if (state_ != kStatePreview && state_ != kStateRendered) return;
    setState(kStateRendering);
    renderScene_.reset();
    main_.setRenderRunning(true);
    stopRequested_ = false;
    main_.setProgress(0);

    target_->ClearImage();
    attractor_->restart();
    image_->setSnapshot(imageOf(*target_).copy());

    const EngineSettings settings{totalIterations(), std::max(palettes().updateCount(), 1),
                                  renderStreams(),   palettes().renderThreads(),
                                  renderSeed_,       {}};
    updates_ = static_cast<char>(std::clamp(settings.updates, 1, 100));
    imageSaved_ = false;
    renderParams_.clear();
    for (const ParamEntry& e : attractor_->params()) renderParams_.push_back(e.get());
    // What the render starts from, before it leaves anything behind in the target.
    renderScene_ = captureScene(*attractor_, *target_, settings.totalIterations, settings.updates,
                                previewRandom_, settings.streams, settings.renderSeed);
    resumedFrom_ = 0;
    resumedProgress_ = 0;
    startWorker(settings, nullptr, 0);
}

void TForm_view::startWorker(const EngineSettings& settings, std::unique_ptr<RenderEngine> resumed,
                             std::uint64_t developmentsBefore) {
    startTick_.start();
    TT_update->start();
    autosaveFailureShown_ = false;
    main_.setNoticeText({});
    auto* worker = new TRenderThread(*attractor_, *target_, settings, this, [this](const QImage& image) { displayUpdate(image); });
    const double seconds = main_.autosaveSeconds();
    if (seconds > 0) {
        // The scene as the document would save it: a resumed render reads it back the same.
        RenderAutosave autosave;
        std::ostringstream scene;
        if (writeAttractor(*parser_, *attractor_, scene)) {
            autosave.path = autosavePath(autosaveNumber_);
            autosave.seconds = seconds;
            autosave.base.scene = scene.str();
            // The whole scene, for the images of the render once it is taken up again.
            if (renderScene_)
                if (std::string text = sceneText(*attractor_, *renderScene_); !text.empty())
                    autosave.base.set(kSceneFileSetting, std::move(text));
            EngineSettings saved = settings;
            saved.streams = std::clamp(saved.streams, 1, kMaxStreams);
            setRenderSettings(autosave.base, saved);
            autosave.developmentsBefore = developmentsBefore;
            worker->setAutosave(std::move(autosave));
        }
    }
    if (resumed) worker->setResumedEngine(std::move(resumed));
    worker_ = worker;
    connect(worker, &QThread::finished, this, &TForm_view::renderFinished);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}

bool TForm_view::resumeRender(ResumedRender render, std::uint64_t developmentsBefore,
                              const QString& adoptFile) {
    if (busy() || main_.renderRunning() || !render.engine) return false;
    // The attractor first: installing one sets the mirror of the target in place, and the
    // saved target brings its own.
    installAttractor(std::move(render.attractor));
    std::unique_ptr<TBitmap3D> old = std::move(target_);
    const ColorRGBf background = render.target->backgroundColor, point = render.target->pointColor;
    installRenderTarget(std::move(render.target), background, point);
    main_.palettes().release(nullptr, old.get());
    old.reset();
    palettes().selectMode(target_->mode);
    palettes().showAttractor(attractor_.get());
    palettes().showRenderTarget(target_.get());
    updateImageFrame();
    main_.fitDocument(this);
    totalIterations_ = static_cast<double>(render.settings.totalIterations);
    renderSeed_ = render.settings.renderSeed;
    // The saved view is the render's: no automatic fit moves it.
    autoFit_ = false;
    MI_ajuster_auto->setChecked(false);

    // An autosave left by a crash becomes this document's, until its own first write.
    if (!adoptFile.isEmpty()) {
        std::error_code ignored;
        std::filesystem::create_directories(autosaveFolder(), ignored);
        std::filesystem::rename(toPath(adoptFile), autosavePath(autosaveNumber_), ignored);
    }

    setState(kStateRendering);
    main_.setRenderRunning(true);
    stopRequested_ = false;
    main_.resetStatus();
    const double total = static_cast<double>(render.settings.totalIterations);
    main_.setProgress(
        total > 0 ? static_cast<int>(kProgressMaximum * (render.engine->counter() / total)) : 0);
    // The render's scene, as a render started here keeps it: a close asks before it is lost.
    updates_ = static_cast<char>(std::clamp(render.settings.updates, 1, 100));
    imageSaved_ = false;
    renderParams_.clear();
    for (const ParamEntry& e : attractor_->params()) renderParams_.push_back(e.get());
    // The preview points, for the live preview once the render is over and for the next
    // render's fits (Solid's light maps).
    samplePreviewOfResumedRender();
    // The scene the saved render kept; older states lack it, and it is rebuilt.
    SceneLoad kept = readScene(render.sceneFile);
    renderScene_ = kept ? kept.render
                        : captureScene(*attractor_, *target_, render.settings.totalIterations,
                                       render.settings.updates, previewRandom_,
                                       render.settings.streams, render.settings.renderSeed);
    // A resumed render starts the document's history.
    resetHistory();
    // What the render had reached, developed from the saved buffers.
    buildImageOn(*target_, render.engine->threads());
    image_->setSnapshot(imageOf(*target_).copy());
    startWorker(render.settings, std::move(render.engine), developmentsBefore);
    return true;
}

void TForm_view::removeAutosave() {
    std::error_code ignored;
    std::filesystem::remove(autosavePath(autosaveNumber_), ignored);
}

void TForm_view::A_arreterExecute() {
    if (!worker_) return;
    stopRequested_ = true;
    worker_->control().stopRequested.store(true, std::memory_order_relaxed);
}

void TForm_view::displayUpdate(const QImage& image) {
    main_.setActivityMark(QStringLiteral("o"));
    image_->setSnapshot(image);
    QTimer::singleShot(kActivityMarkMs, &main_, [main = &main_] { main->setActivityMark(QString()); });
}

void TForm_view::renderFinished() {
    TT_update->stop();
    if (!worker_) return;
    const RenderOutcome outcome = worker_->outcome();
    // The last autosave is written as the worker ends (a stopped render's).
    reportAutosaveFailure(*worker_);
    worker_ = nullptr;

    if (outcome.needsFinalDevelop) buildImageOn(*target_, palettes().renderThreads());
    image_->clearSnapshot();
    if (stopRequested_ || outcome.diverged) {
        main_.resetStatus();
    } else {
        // The whole render's average speed and its time, with tenths under ten seconds (a
        // fast render would otherwise show no speed and a time of 00:00:00).
        const double elapsed = static_cast<double>(startTick_.nsecsElapsed()) * 1e-9;
        const double counter = static_cast<double>(outcome.counter - resumedFrom_);
        main_.setProgress(kProgressMaximum);
        if (elapsed > 0) {
            const auto speed = static_cast<qint64>(counter / elapsed);
            main_.setSpeedText(
                [speed] { return qtext(TextId::kSpeedLabel) + QString::number(speed); });
        }
        main_.setTimeText([elapsed] {
            return qtext(TextId::kTotalTimeLabel) + QString::fromStdString(formatRenderTime(
                                                        elapsed, text(TextId::kDecimalSeparator)));
        });
    }
    if (outcome.diverged)
        showWarning(this, fillText(qtext(TextId::kDivergedAfter), {QString::number(static_cast<qint64>(outcome.counter))}));
    main_.setRenderRunning(false);
    setState(kStateRendered);
    emit renderCompleted();
}

void TForm_view::TT_updateTimer() {
    if (!worker_) return;
    reportAutosaveFailure(*worker_);
    const RenderControl& control = worker_->control();
    // A resumed render counts its speed and time left from where it was taken up.
    const std::int64_t counter = control.counter.load(std::memory_order_relaxed) - resumedFrom_;
    if (counter < 2) return;
    const double elapsed = static_cast<std::uint32_t>(startTick_.elapsed()) * 0.001;
    if (elapsed <= 0) return;
    const auto speed = static_cast<qint64>(counter / elapsed);
    main_.setSpeedText([speed] { return qtext(TextId::kSpeedLabel) + QString::number(speed); });
    const double progress = control.progress.load(std::memory_order_relaxed);
    const double done = progress - resumedProgress_;
    const QString remaining =
        done > 0 ? QString::fromStdString(formatClockDuration(elapsed * (1 - progress) / done + 1))
                 : QStringLiteral("--:--:--");
    main_.setTimeText([remaining] { return qtext(TextId::kRemainingLabel) + remaining; });
    main_.setProgress(static_cast<int>(kProgressMaximum * progress));
}

// --- History ---------------------------------------------------------------------------

DocumentSnapshot TForm_view::snapshot() const {
    DocumentSnapshot s;
    // Streams that are the program's ("Flux") are no part of the document's state.
    RenderScene render = scene();
    if (!sceneStreams_) render.streams.reset();
    s.scene = sceneText(*attractor_, render);
    for (const ParamEntry& e : attractor_->params()) s.fixedParameters.push_back(!e.randomizable);
    s.streamsPinned = sceneStreams_.has_value();
    return s;
}

void TForm_view::resetHistory() {
    history_.reset(snapshot());
    lastStep_.invalidate();
    emit historyChanged();
}

void TForm_view::recordStep(HistoryStep step, std::int32_t key, bool merge) {
    if (restoring_ || busy() || !attractor_) return;
    DocumentSnapshot now = snapshot();
    // A value no scene can hold (not finite): the step before it stays the last.
    if (now.scene.empty()) return;
    const bool continues = merge && (QGuiApplication::mouseButtons() != Qt::NoButton ||
                                     (lastStep_.isValid() && lastStep_.elapsed() < kStepMergeMs));
    if (!continues) history_.closeMerge();
    if (!history_.record(step, key, std::move(now), continues)) return;
    lastStep_.start();
    emit historyChanged();
}

bool TForm_view::undo() {
    return canUndo() && jumpToStep(history_.position() - 1);
}

bool TForm_view::redo() {
    return canRedo() && jumpToStep(history_.position() + 1);
}

bool TForm_view::jumpToStep(std::size_t index) {
    if (busy() || index >= history_.size() || index == history_.position()) return false;
    if (!confirmRenderLoss()) return false;
    // A copy: the history moves only once the document has taken the step.
    const DocumentSnapshot wanted = history_.snapshot(index);
    if (!restoreSnapshot(wanted)) return false;
    history_.jump(index);
    lastStep_.invalidate();
    emit historyChanged();
    return true;
}

bool TForm_view::restoreSnapshot(const DocumentSnapshot& s) {
    SceneLoad loaded = readScene(s.scene);
    if (!loaded) return false;
    // The parameters held fixed stay as they are now, unless the step brings another kind.
    ParamList& params = loaded.attractor->params();
    const ParamList& now = attractor_->params();
    const bool sameRows =
        loaded.attractor->kindCode() == attractor_->kindCode() && params.count() == now.count();
    for (std::int32_t i = 0; i < params.count(); ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (sameRows)
            params[i].randomizable = now[i].randomizable;
        else if (at < s.fixedParameters.size())
            params[i].randomizable = !s.fixedParameters[at];
    }
    // The scene's preview comes back as the step had it; the palettes' echoes of the new
    // values are no steps of their own.
    restoring_ = true;
    const bool restored = installSceneAs(std::move(loaded), false);
    // The preview shows even where nothing had been computed yet (a new document): the
    // restored attractor is sampled, and can be rendered at once.
    if (restored && !s.streamsPinned) sceneStreams_.reset();
    restoring_ = false;
    return restored;
}

}  // namespace qm::gui
