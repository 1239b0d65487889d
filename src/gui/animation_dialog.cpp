#include "gui/animation_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <cstring>

#include "core/attractor/random31.h"
#include "core/file/data_location.h"
#include "core/property/color_map.h"
#include "core/render/sampling.h"
#include "core/scene/scene_file.h"
#include "core/strings/string_table.h"
#include "gui/file_dialog.h"
#include "gui/main_window.h"
#include "gui/palettes.h"
#include "gui/preview_widget.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "png/png_image.h"

namespace qm::gui {

namespace {

constexpr double kPreviewFps = 30;
constexpr int kProgressSteps = 1000;
constexpr int kPreviewLongSide = 320;

// Keeps the interface thread's generator as it was: resolving and sampling scenes draw from
// it, and the documents' next samplings must not see the difference.
struct KeepRandom {
    Random31 saved = threadRandom31();
    ~KeepRandom() { threadRandom31() = saved; }
};

// "2. Lorenz, Gaz, 640x480 (scene.qmscene)": numbered, since views of one document read alike.
QString describeKeyframe(std::size_t index, const SceneFrame& f, const QString& name) {
    const RenderScene& r = f.render;
    QString text = QString::number(index + 1) + QStringLiteral(". ") +
                   QString::fromStdString(f.attractor->displayName()) + QStringLiteral(", ") +
                   qtext(TextId::kModeNameFirst + r.mode) + QStringLiteral(", ") +
                   QString::number(r.width) + QLatin1Char('x') + QString::number(r.height);
    return text + QStringLiteral(" (") + (name.isEmpty() ? qtext(TextId::kAnimCurrentView) : name) +
           QLatin1Char(')');
}

}  // namespace

TForm_anim::TForm_anim(TMDIform& main, TForm_view* view)
    : QDialog(&main, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      main_(main),
      view_(view) {
    setObjectName(QStringLiteral("TForm_anim"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    loadDefaultGradients(dataFolders(main_.programFolder(), DataEnvironment::current()), speed_,
                         angle_);

    // Motion: the turntable, or the journey with its keyframes.
    GB_mouvement = new QGroupBox(this);
    RB_tour = new QRadioButton(GB_mouvement);
    RB_voyage = new QRadioButton(GB_mouvement);
    RB_tour->setChecked(true);
    L_images = new QLabel(GB_mouvement);
    M_images = new QSpinBox(GB_mouvement);
    M_images->setRange(1, 100000);
    M_images->setValue(120);
    L_degres = new QLabel(GB_mouvement);
    M_degres = new QDoubleSpinBox(GB_mouvement);
    M_degres->setRange(-36000, 36000);
    M_degres->setDecimals(1);
    M_degres->setValue(360);
    L_axe = new QLabel(GB_mouvement);
    C_axe = new QComboBox(GB_mouvement);
    for (int i = 0; i < 4; ++i) C_axe->addItem(QString());
    C_axe->setCurrentIndex(static_cast<int>(TurnAxis::View));
    L_cles = new QLabel(GB_mouvement);
    S_cles = new QListWidget(GB_mouvement);
    S_cles->setMinimumHeight(90);
    B_ajouter_vue = new QPushButton(GB_mouvement);
    B_ajouter_scene = new QPushButton(GB_mouvement);
    B_retirer = new QPushButton(GB_mouvement);
    L_transition = new QLabel(GB_mouvement);
    C_transition = new QComboBox(GB_mouvement);
    C_transition->addItem(QString());
    C_transition->addItem(QString());
    C_transition->setCurrentIndex(static_cast<int>(Ease::Smooth));
    for (auto [label, buddy] :
         std::initializer_list<std::pair<QLabel*, QWidget*>>{{L_images, M_images},
                                                             {L_degres, M_degres},
                                                             {L_axe, C_axe},
                                                             {L_cles, S_cles},
                                                             {L_transition, C_transition}})
        label->setBuddy(buddy);

    auto* motion = new QGridLayout(GB_mouvement);
    motion->addWidget(L_images, 0, 0);
    motion->addWidget(M_images, 0, 1);
    motion->addWidget(RB_tour, 1, 0, 1, 3);
    motion->addWidget(L_degres, 2, 0);
    motion->addWidget(M_degres, 2, 1);
    motion->addWidget(L_axe, 3, 0);
    motion->addWidget(C_axe, 3, 1, 1, 2);
    motion->addWidget(RB_voyage, 4, 0, 1, 3);
    motion->addWidget(L_cles, 5, 0, Qt::AlignTop);
    motion->addWidget(S_cles, 5, 1, 3, 2);
    auto* keyButtons = new QHBoxLayout;
    keyButtons->addWidget(B_ajouter_vue);
    keyButtons->addWidget(B_ajouter_scene);
    keyButtons->addWidget(B_retirer);
    keyButtons->addStretch();
    motion->addLayout(keyButtons, 8, 1, 1, 2);
    motion->addWidget(L_transition, 9, 0);
    motion->addWidget(C_transition, 9, 1, 1, 2);
    motion->setColumnStretch(2, 1);

    // The preview, in the scene's proportions.
    L_apercu = new QLabel(this);
    preview_ = new PreviewWidget(this);
    preview_->setFixedSize(kPreviewLongSide, kPreviewLongSide * 3 / 4);
    B_apercu = new QPushButton(this);

    // The render: folder, exposure, progress.
    GB_rendu = new QGroupBox(this);
    L_dossier = new QLabel(GB_rendu);
    M_dossier = new QLineEdit(GB_rendu);
    B_choisir = new QPushButton(GB_rendu);
    L_dossier->setBuddy(M_dossier);
    C_exposition = new QCheckBox(GB_rendu);
    C_exposition->setChecked(true);
    L_image = new QLabel(GB_rendu);
    PB_image = new QProgressBar(GB_rendu);
    L_total = new QLabel(GB_rendu);
    PB_total = new QProgressBar(GB_rendu);
    for (QProgressBar* bar : {PB_image, PB_total}) {
        bar->setRange(0, kProgressSteps);
        bar->setValue(0);
    }
    L_etat = new QLabel(GB_rendu);
    L_etat->setWordWrap(true);
    L_etat->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* output = new QGridLayout(GB_rendu);
    output->addWidget(L_dossier, 0, 0);
    output->addWidget(M_dossier, 0, 1);
    output->addWidget(B_choisir, 0, 2);
    output->addWidget(C_exposition, 1, 0, 1, 3);
    output->addWidget(L_image, 2, 0);
    output->addWidget(PB_image, 2, 1, 1, 2);
    output->addWidget(L_total, 3, 0);
    output->addWidget(PB_total, 3, 1, 1, 2);
    output->addWidget(L_etat, 4, 0, 1, 3);
    output->setColumnStretch(1, 1);

    B_rendre = new QPushButton(this);
    B_fermer = new QPushButton(this);
    B_rendre->setDefault(true);

    auto* left = new QVBoxLayout;
    left->addWidget(GB_mouvement);
    left->addWidget(GB_rendu);
    auto* right = new QVBoxLayout;
    right->addWidget(L_apercu);
    right->addWidget(preview_);
    right->addWidget(B_apercu, 0, Qt::AlignLeft);
    right->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(left, 1);
    top->addLayout(right);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(B_rendre);
    buttons->addWidget(B_fermer);
    auto* all = new QVBoxLayout(this);
    all->addLayout(top);
    all->addLayout(buttons);

    previewTimer_ = new QTimer(this);
    previewTimer_->setInterval(static_cast<int>(1000 / kPreviewFps));
    connect(previewTimer_, &QTimer::timeout, this, &TForm_anim::previewTick);
    renderTimer_ = new QTimer(this);
    renderTimer_->setInterval(100);
    connect(renderTimer_, &QTimer::timeout, this, &TForm_anim::renderTick);

    connect(RB_tour, &QRadioButton::toggled, this, [this] {
        stopPreview();
        updateControls();
    });
    connect(B_ajouter_vue, &QPushButton::clicked, this, [this] { addCurrentView(); });
    connect(B_ajouter_scene, &QPushButton::clicked, this, &TForm_anim::B_ajouter_sceneClick);
    connect(B_retirer, &QPushButton::clicked, this, &TForm_anim::B_retirerClick);
    connect(S_cles, &QListWidget::currentRowChanged, this, [this] { updateControls(); });
    connect(B_choisir, &QPushButton::clicked, this, &TForm_anim::B_choisirClick);
    connect(B_apercu, &QPushButton::clicked, this, &TForm_anim::B_apercuClick);
    connect(B_rendre, &QPushButton::clicked, this, &TForm_anim::B_rendreClick);
    connect(B_fermer, &QPushButton::clicked, this, &QWidget::close);
    // A change of the path stops a preview that plays the old one.
    for (QSpinBox* box : {M_images})
        connect(box, &QSpinBox::valueChanged, this, [this] { stopPreview(); });
    connect(M_degres, &QDoubleSpinBox::valueChanged, this, [this] { stopPreview(); });
    for (QComboBox* box : {C_axe, C_transition})
        connect(box, &QComboBox::currentIndexChanged, this, [this] { stopPreview(); });

    retranslate();
    updateControls();
}

TForm_anim::~TForm_anim() {
    // A running render stops and its worker is waited for in its destructor.
    delete render_.data();
}

void TForm_anim::setDocument(TForm_view* view) {
    view_ = view;
}

void TForm_anim::retranslate() {
    setWindowTitle(qtext(TextId::kAnimationCaption));
    GB_mouvement->setTitle(qtext(TextId::kAnimMotion));
    GB_rendu->setTitle(qtext(TextId::kAnimOutput));
    RB_tour->setText(qtext(TextId::kAnimTurntable));
    RB_voyage->setText(qtext(TextId::kAnimJourney));
    L_images->setText(qtext(TextId::kAnimFrames));
    L_degres->setText(qtext(TextId::kAnimDegrees));
    L_axe->setText(qtext(TextId::kAnimAxis));
    C_axe->setItemText(0, QStringLiteral("x"));
    C_axe->setItemText(1, QStringLiteral("y"));
    C_axe->setItemText(2, QStringLiteral("z"));
    C_axe->setItemText(3, qtext(TextId::kAnimAxisView));
    L_cles->setText(qtext(TextId::kAnimKeyframes));
    B_ajouter_vue->setText(qtext(TextId::kAnimAddView));
    B_ajouter_scene->setText(qtext(TextId::kAnimAddScene));
    B_retirer->setText(qtext(TextId::kAnimRemove));
    L_transition->setText(qtext(TextId::kAnimEase));
    C_transition->setItemText(0, qtext(TextId::kAnimEaseLinear));
    C_transition->setItemText(1, qtext(TextId::kAnimEaseSmooth));
    L_apercu->setText(qtext(TextId::kAnimPreview));
    C_exposition->setText(qtext(TextId::kAnimFixedExposure));
    L_dossier->setText(qtext(TextId::kAnimFolder));
    B_choisir->setText(qtext(TextId::kAnimChoose));
    L_image->setText(qtext(TextId::kAnimFrame));
    L_total->setText(qtext(TextId::kAnimTotal));
    B_rendre->setToolTip(qtext(TextId::kTipAnimRender));
    B_fermer->setText(qtext(TextId::kAnimClose));
    relabelKeys();
    updateControls();
}

void TForm_anim::relabelKeys() {
    for (int i = 0; i < S_cles->count() && i < static_cast<int>(keys_.size()); ++i) {
        const auto k = static_cast<std::size_t>(i);
        S_cles->item(i)->setText(describeKeyframe(k, keys_[k], keyNames_[k]));
    }
}

void TForm_anim::updateControls() {
    const bool turntable = RB_tour->isChecked();
    const bool rendering = render_ && render_->running();
    for (QWidget* w : std::initializer_list<QWidget*>{L_degres, M_degres, L_axe, C_axe})
        w->setEnabled(turntable && !rendering);
    for (QWidget* w : std::initializer_list<QWidget*>{L_cles, S_cles, B_ajouter_vue,
                                                      B_ajouter_scene, L_transition, C_transition})
        w->setEnabled(!turntable && !rendering);
    B_retirer->setEnabled(!turntable && !rendering && S_cles->currentRow() >= 0);
    for (QWidget* w : std::initializer_list<QWidget*>{RB_tour, RB_voyage, L_images, M_images,
                                                      M_dossier, B_choisir, C_exposition})
        w->setEnabled(!rendering);
    B_apercu->setText(qtext(previewing() ? TextId::kAnimStopPreview : TextId::kAnimPreview));
    B_rendre->setText(qtext(rendering ? TextId::kAnimStop : TextId::kAnimRender));
}

// --- Keyframes ---------------------------------------------------------------------------

std::optional<SceneFrame> TForm_anim::currentView() const {
    TForm_view* view = view_ ? view_.data() : main_.activeDocument();
    if (!view || !view->attractor()) return std::nullopt;
    SceneFrame frame(view->attractor()->clone(), view->scene());
    KeepRandom keep;
    if (!frame.attractor || !resolveScene(frame, speed_, angle_)) return std::nullopt;
    return frame;
}

bool TForm_anim::addCurrentView() {
    std::optional<SceneFrame> frame = currentView();
    if (!frame) {
        showError(this,
                  fillText(qtext(TextId::kAnimSceneDiverges), {qtext(TextId::kAnimCurrentView)}));
        return false;
    }
    stopPreview();
    S_cles->addItem(describeKeyframe(keys_.size(), *frame, {}));
    keys_.push_back(std::move(*frame));
    keyNames_.emplace_back();
    S_cles->setCurrentRow(S_cles->count() - 1);
    updateControls();
    return true;
}

bool TForm_anim::addSceneFile(const QString& fileName) {
    SceneLoad loaded = loadSceneOrImage(std::filesystem::path(fileName.toStdString()));
    if (!loaded) {
        showError(this, sceneErrorMessage(fileName, loaded));
        return false;
    }
    SceneFrame frame(std::move(loaded.attractor), std::move(loaded.render));
    KeepRandom keep;
    if (!resolveScene(frame, speed_, angle_)) {
        showError(this,
                  fillText(qtext(TextId::kAnimSceneDiverges), {QFileInfo(fileName).fileName()}));
        return false;
    }
    stopPreview();
    const QString name = QFileInfo(fileName).fileName();
    S_cles->addItem(describeKeyframe(keys_.size(), frame, name));
    keys_.push_back(std::move(frame));
    keyNames_.push_back(name);
    S_cles->setCurrentRow(S_cles->count() - 1);
    updateControls();
    return true;
}

void TForm_anim::B_ajouter_sceneClick() {
    QFileDialog dialog(this);
    followInterfaceLanguage(dialog);
    dialog.setWindowTitle(qtext(TextId::kOpenDialogTitle));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setNameFilters({dialogFilter(TextId::kSceneFilter), dialogFilter(TextId::kPngFilter)});
    if (dialog.exec() != QDialog::Accepted) return;
    for (const QString& file : dialog.selectedFiles())
        if (!addSceneFile(file)) break;
}

void TForm_anim::B_retirerClick() {
    const int row = S_cles->currentRow();
    if (row < 0 || row >= static_cast<int>(keys_.size())) return;
    stopPreview();
    delete S_cles->takeItem(row);
    keys_.erase(keys_.begin() + row);
    keyNames_.erase(keyNames_.begin() + row);
    relabelKeys();
    updateControls();
}

std::optional<Animation> TForm_anim::animation(QString* problem) const {
    const std::int32_t frames = M_images->value();
    if (RB_tour->isChecked()) {
        std::optional<SceneFrame> base = currentView();
        if (!base) {
            if (problem)
                *problem =
                    fillText(qtext(TextId::kAnimSceneDiverges), {qtext(TextId::kAnimCurrentView)});
            return std::nullopt;
        }
        return Animation::turntable(std::move(*base), frames, M_degres->value(),
                                    static_cast<TurnAxis>(C_axe->currentIndex()));
    }
    JourneyProblem why = JourneyProblem::None;
    std::optional<Animation> journey =
        Animation::journey(keys_, frames, static_cast<Ease>(C_transition->currentIndex()), &why);
    if (!journey && problem)
        *problem = qtext(why == JourneyProblem::TooFewKeyframes ? TextId::kAnimTooFew
                                                                : TextId::kAnimMismatch);
    return journey;
}

// --- Preview -----------------------------------------------------------------------------

bool TForm_anim::previewing() const {
    return previewTimer_->isActive();
}

void TForm_anim::B_apercuClick() {
    if (previewing())
        stopPreview();
    else
        startPreview();
}

void TForm_anim::startPreview() {
    QString problem;
    playing_ = animation(&problem);
    if (!playing_) {
        showError(this, problem);
        return;
    }
    if (!preparePreview()) {
        showError(this,
                  fillText(qtext(TextId::kAnimSceneDiverges), {qtext(TextId::kAnimCurrentView)}));
        playing_.reset();
        return;
    }
    previewFrame_ = -1;
    previewClock_.start();
    previewTimer_->start();
    previewTick();
    updateControls();
}

bool TForm_anim::preparePreview() {
    // A target of the scene's mode and size, framed and sampled as the first frame.
    const SceneFrame first = playing_->frame(0);
    {
        KeepRandom keep;
        auto attractor = first.attractor->clone();
        PreparedScene prepared = prepareScene(*attractor, first.render, speed_, angle_);
        if (!prepared.target || !prepared.bounded) return false;
        previewTarget_ = std::move(prepared.target);
    }
    // The preview keeps the image's proportions within its box.
    const double aspect =
        static_cast<double>(previewTarget_->imageWidth) / std::max(previewTarget_->imageHeight, 1);
    const int w = aspect >= 1 ? kPreviewLongSide : static_cast<int>(kPreviewLongSide * aspect);
    const int h = aspect >= 1 ? static_cast<int>(kPreviewLongSide / aspect) : kPreviewLongSide;
    preview_->setFixedSize(std::max(w, 16), std::max(h, 16));
    preview_->setTarget(previewTarget_.get());
    previewFrame_ = -1;
    return true;
}

void TForm_anim::stopPreview() {
    if (!previewTimer_ || !previewTimer_->isActive()) return;
    previewTimer_->stop();
    updateControls();
}

void TForm_anim::previewTick() {
    if (!playing_ || !previewTarget_) return;
    // Real time: frame i shows at i / 30 seconds, and the path loops.
    const auto n = static_cast<std::int64_t>(playing_->frameCount());
    const auto i = static_cast<std::int32_t>(
        static_cast<std::int64_t>(std::floor(previewClock_.elapsed() * kPreviewFps / 1000.0)) % n);
    if (i == previewFrame_) return;
    previewFrame_ = i;
    showFrameOnPreview(playing_->frame(i), playing_->kind() == Animation::Kind::Journey);
}

void TForm_anim::showFrameOnPreview(const SceneFrame& frame, bool resample) {
    TBitmap3D& t = *previewTarget_;
    if (frame.render.camera) applyCamera(t, *frame.render.camera);
    if (resample) {
        // The parameters move along a journey: the cloud is sampled again, from the frame's
        // own generator state.
        KeepRandom keep;
        if (frame.render.previewRandom) threadRandom31().state = *frame.render.previewRandom;
        sampleAttractor(*frame.attractor, t, kPreviewIterations, SamplingMode::Plain);
        if (frame.render.camera) applyCamera(t, *frame.render.camera);
    }
    preview_->update();
}

// --- Render ------------------------------------------------------------------------------

void TForm_anim::B_choisirClick() {
    const QString folder = QFileDialog::getExistingDirectory(this, qtext(TextId::kAnimChooseFolder),
                                                             M_dossier->text());
    if (!folder.isEmpty()) M_dossier->setText(QDir::toNativeSeparators(folder));
}

void TForm_anim::B_rendreClick() {
    if (render_ && render_->running()) {
        render_->stop();
        return;
    }
    startRender();
}

bool TForm_anim::startRender() {
    if (render_ && render_->running()) return false;
    const QString folder = M_dossier->text().trimmed();
    if (folder.isEmpty()) {
        B_choisirClick();
        if (M_dossier->text().trimmed().isEmpty()) return false;
        return startRender();
    }
    QString problem;
    std::optional<Animation> made = animation(&problem);
    if (!made) {
        showError(this, problem);
        return false;
    }
    if (!QDir().mkpath(folder)) {
        showError(this, fillText(qtext(TextId::kWriteError),
                                 {folder, QString::fromLocal8Bit(std::strerror(errno))}));
        return false;
    }
    stopPreview();
    // The preview follows the frame being rendered.
    playing_ = *made;
    if (!preparePreview()) playing_.reset();
    delete render_.data();
    render_ = new AnimationRender(this, std::move(*made), C_exposition->isChecked(),
                                  std::filesystem::path(folder.toStdString()),
                                  main_.palettes().renderThreads(), speed_, angle_);
    connect(render_, &AnimationRender::finished, this, &TForm_anim::renderDone);
    PB_image->setValue(0);
    PB_total->setValue(0);
    L_etat->clear();
    renderTimer_->start();
    renderTick();
    updateControls();
    return true;
}

void TForm_anim::renderTick() {
    if (!render_) return;
    const AnimationRender::Progress p = render_->progress();
    if (playing_ && previewTarget_ && !previewing() && p.frame != previewFrame_ &&
        p.frame < playing_->frameCount()) {
        previewFrame_ = p.frame;
        showFrameOnPreview(playing_->frame(p.frame), playing_->kind() == Animation::Kind::Journey);
    }
    PB_image->setValue(static_cast<int>(p.frameProgress * kProgressSteps));
    const double whole =
        p.frames > 0 ? (p.finished + (p.exposure ? 0.0 : p.frameProgress)) / p.frames : 0;
    PB_total->setValue(static_cast<int>(std::min(whole, 1.0) * kProgressSteps));
    L_etat->setText(p.exposure
                        ? fillText(qtext(TextId::kAnimExposureOf),
                                   {QString::number(p.frame), QString::number(p.sample + 1),
                                    QString::number(p.samples)})
                        : fillText(qtext(TextId::kAnimFrameOf),
                                   {QString::number(p.frame + 1), QString::number(p.frames)}));
}

void TForm_anim::renderDone(const AnimationOutcome& outcome) {
    renderTimer_->stop();
    const QString folder = M_dossier->text().trimmed();
    const std::int32_t frames = render_ ? render_->progress().frames : 0;
    const std::int32_t finished = outcome.kept + outcome.written;
    QString text;
    switch (outcome.status) {
        case AnimationOutcome::Done:
            PB_image->setValue(kProgressSteps);
            PB_total->setValue(kProgressSteps);
            text = fillText(qtext(TextId::kAnimDone), {QString::number(finished), folder});
            if (!outcome.diverged.empty()) {
                QStringList numbers;
                for (std::int32_t i : outcome.diverged) numbers << QString::number(i);
                text += QLatin1Char('\n') + fillText(qtext(TextId::kAnimDiverged),
                                                     {numbers.join(QStringLiteral(", "))});
            }
            break;
        case AnimationOutcome::Stopped:
            text = fillText(qtext(TextId::kAnimStopped),
                            {QString::number(finished), QString::number(frames)});
            break;
        case AnimationOutcome::NotThisFrame: {
            const QString file = QString::fromStdString(
                animationFrameFile(folder.toStdString(), outcome.frame).string());
            text =
                fillText(qtext(TextId::kAnimNotThisFrame), {file, QString::number(outcome.frame)});
            showError(this, text);
            break;
        }
        case AnimationOutcome::NotPrepared:
        case AnimationOutcome::WriteFailed: {
            const QString file = QString::fromStdString(
                animationFrameFile(folder.toStdString(), outcome.frame).string());
            const QString reason = outcome.notRegular ? qtext(TextId::kReasonNotRegular)
                                   : outcome.systemError != 0
                                       ? QString::fromLocal8Bit(std::strerror(outcome.systemError))
                                       : qtext(TextId::kReasonWriteFailed);
            text = fillText(qtext(TextId::kWriteError), {file, reason});
            showError(this, text);
            break;
        }
    }
    L_etat->setText(text);
    updateControls();
    emit renderFinished(outcome);
}

void TForm_anim::closeEvent(QCloseEvent* event) {
    // Closing stops the preview; a render goes on (the dialog only hides) until it ends or
    // is stopped with its button.
    stopPreview();
    event->accept();
}

}  // namespace qm::gui
