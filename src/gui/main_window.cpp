#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QOpenGLWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>
#include <cstring>

#include "core/attractor/ifs.h"
#include "core/attractor/polynomial.h"
#include "core/discover/lane_search.h"
#include "core/file/atomic_write.h"
#include "core/file/data_location.h"
#include "core/property/color_map.h"
#include "core/image/bmp.h"
#include "core/render/bitmap3d.h"
#include "core/render/develop_team.h"
#include "core/render/memory_budget.h"
#include "core/render/state/render_resume.h"
#include "core/render/state/render_state_file.h"
#include "core/strings/string_table.h"
#include "gui/about_box.h"
#include "gui/animation_dialog.h"
#include "gui/discovery_window.h"
#include "gui/file_dialog.h"
#include "gui/history_window.h"
#include "gui/image_widget.h"
#include "gui/lang_dialog.h"
#include "gui/language.h"
#include "gui/new_dialog.h"
#include "gui/palette_window.h"
#include "gui/point_cloud_export.h"
#include "gui/palettes.h"
#include "gui/render_autosave.h"
#include "gui/texts.h"
#include "gui/view.h"

namespace qm::gui {

namespace {

constexpr int kPanelWidths[5] = {15, 200, 80, 130, 50};
constexpr int kProgressMaximum = 1024;

// Why an image of this size is refused: its need and the limit that leaves less, in MiB
// rounded up, as the tool words it.
QString imageTooLargeText(std::int32_t width, std::int32_t height, std::uint64_t need,
                          const MemoryBudget& budget) {
    int id = TextId::kImageOverHalfMemory;
    switch (budget.limit) {
        case MemoryLimit::HalfPhysical:
            break;
        case MemoryLimit::AddressSpace:
            id = TextId::kImageOverAddressSpace;
            break;
        case MemoryLimit::DataSegment:
            id = TextId::kImageOverDataLimit;
            break;
        case MemoryLimit::ControlGroup:
            id = TextId::kImageOverGroupLimit;
            break;
    }
    const auto mebibytes = [](std::uint64_t bytes) {
        return QString::number((bytes + (1u << 20) - 1) >> 20);
    };
    return fillText(qtext(id), {QString::number(width), QString::number(height), mebibytes(need),
                                mebibytes(budget.bytes)});
}

// BMP as it always was; PNG at 8 or 16 bits a channel, with the document's scene.
// A 16-bit image is developed once more, on `threads` threads.
WriteResult writeImage(const QString& fileName, TForm_view& view, int depth, std::int32_t threads) {
    const std::filesystem::path path(fileName.toStdString());
    if (QFileInfo(fileName).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) != 0)
        return writeBmp(path, view.renderTarget()->imageView());
    DevelopThreads team(depth == 16 ? threads : 1);
    LendDevelopTeam lend(*view.renderTarget(), &team);
    return writePng(path, *view.renderTarget(), depth, view.pngTexts());
}

// A scene file, or an image that may carry a scene; anything else opens as an attractor file.
bool isSceneFile(const QString& fileName) {
    return QFileInfo(fileName).suffix().compare(QStringLiteral("qmscene"), Qt::CaseInsensitive) ==
               0 ||
           isPngFile(std::filesystem::path(fileName.toStdString()));
}

// Cascade step of new documents, in pixels; below this width the palettes are ignored.
constexpr int kCascadeStep = 24;
constexpr int kMinDocumentAreaWidth = 160;

// The frame around a document inside its window; a close asks the document. The document
// fills it: it scales or scrolls its image itself.
class DocumentScroll final : public QScrollArea {
public:
    DocumentScroll() {
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        if (widget() && !widget()->close())
            event->ignore();
        else
            event->accept();
    }
};

// Why a render-state file cannot be read, for the user.
// A free name beside file for a copy set aside: file.damaged, file.damaged-2, ...
QString setAsideName(const QString& file) {
    QString name = file + QStringLiteral(".damaged");
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = file + QStringLiteral(".damaged-") + QString::number(n);
    return name;
}

QString stateReadReason(const StateReadResult& r) {
    QString reason;
    switch (r.status) {
        case StateReadStatus::Ok:
        case StateReadStatus::CannotOpen:
            reason = qtext(TextId::kStateCannotOpen);
            break;
        case StateReadStatus::NotRegularFile:
            reason = qtext(TextId::kReasonNotRegular);
            break;
        case StateReadStatus::NotAState:
            reason = qtext(TextId::kStateNotAState);
            break;
        case StateReadStatus::OtherVersion:
            reason = fillText(qtext(TextId::kStateOtherVersion),
                              {QString::number(r.version), QString::number(kRenderStateVersion)});
            break;
        case StateReadStatus::Truncated:
            reason = qtext(TextId::kStateTruncated);
            break;
        case StateReadStatus::Corrupt:
            reason = qtext(TextId::kStateCorrupt);
            break;
        case StateReadStatus::TooLarge:
            reason =
                fillText(qtext(TextId::kStateTooLarge), {QString::number(r.neededBytes >> 20)});
            break;
        case StateReadStatus::ReadFailed:
            reason = qtext(TextId::kStateReadFailed);
            break;
    }
    if (r.systemError != 0)
        reason += QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(r.systemError)) +
                  QLatin1Char(')');
    return reason;
}

TForm_view* viewOf(QMdiSubWindow* window) {
    if (!window) return nullptr;
    if (auto* scroll = qobject_cast<QScrollArea*>(window->widget()))
        return qobject_cast<TForm_view*>(scroll->widget());
    return qobject_cast<TForm_view*>(window->widget());
}

}  // namespace

void setUpApplicationNames(const QString& version) {
    QCoreApplication::setApplicationName(QStringLiteral("Quillmere"));
    QCoreApplication::setApplicationVersion(version);
}

QMdiSubWindow* documentWindow(const QWidget* view) {
    for (QWidget* w = view ? view->parentWidget() : nullptr; w; w = w->parentWidget())
        if (auto* window = qobject_cast<QMdiSubWindow*>(w)) return window;
    return nullptr;
}

TMDIform::TMDIform(QWidget* parent) : QMainWindow(parent), palettes_(std::make_unique<NoPalettes>()) {
    // Floating point: SSE2 doubles with every exception masked, the platform's default, so a
    // division by zero gives an infinity and an invalid operation a NaN. Nothing to set.
    programFolder_ = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
    programPath_ = QCoreApplication::applicationFilePath();
    autosaveSeconds_ = storedAutosaveSeconds();
    // The installed icon, as the menu entry shows it; the drawn logo when none is installed.
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("org.quillmere.Quillmere"),
                                                 QIcon(QPixmap::fromImage(programLogo()))));

    mdiArea_ = new QMdiArea(this);
    mdiArea_->setBackground(palette().brush(QPalette::Dark));
    // A document larger than the frame can still be reached.
    mdiArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mdiArea_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(mdiArea_);
    connect(mdiArea_, &QMdiArea::subWindowActivated, this, &TMDIform::subWindowActivated);

    // The first document's OpenGL preview would make Qt re-create this window with an OpenGL
    // surface (the program flickers and loses the focus). A hidden OpenGL child from the start
    // makes the window OpenGL-ready before it is first shown.
    auto* glReady = new QOpenGLWidget(this);
    glReady->setObjectName(QStringLiteral("glReady"));
    glReady->hide();

    createActions();
    createStatusBar();
    qApp->installEventFilter(this);
    resize(640, 449);
    retranslate();
    resetStatus();
}

TMDIform::~TMDIform() {
    qApp->removeEventFilter(this);
    // Documents go first: they clear the palettes, which outlive them.
    mdiArea_->disconnect(this);
    // Closed windows waiting for their deferred deletion are no longer listed: take them too.
    for (QMdiSubWindow* window :
         mdiArea_->viewport()->findChildren<QMdiSubWindow*>(Qt::FindDirectChildrenOnly))
        delete window;
}

void TMDIform::createActions() {
    auto make = [this](void (TMDIform::*handler)(), const QKeySequence& shortcut, bool available) {
        auto* a = new QAction(this);
        if (!shortcut.isEmpty()) a->setShortcut(shortcut);
        a->setEnabled(available);
        a->setVisible(available);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    A_nouveau = make(&TMDIform::A_nouveauExecute, QKeySequence(Qt::CTRL | Qt::Key_N), true);
    // "Ouvrir..." is there from the start: with no document it opens into a new one.
    A_ouvrir = make(&TMDIform::A_ouvrirExecute, QKeySequence(Qt::CTRL | Qt::Key_O), true);
    A_reprendre = make(&TMDIform::A_reprendreExecute, {}, true);
    A_enreg_att_sous = make(&TMDIform::A_enreg_att_sousExecute, {}, false);
    A_enreg_scene_sous =
        make(&TMDIform::A_enreg_scene_sousExecute, QKeySequence(Qt::CTRL | Qt::Key_S), false);
    A_enreg_image_sous = make(&TMDIform::A_enreg_image_sousExecute, {}, false);
    A_exporter_nuage = make(&TMDIform::A_exporter_nuageExecute, {}, false);
    A_fermer = make(&TMDIform::A_fermerExecute, {}, false);
    A_quitter = new QAction(this);
    connect(A_quitter, &QAction::triggered, this, &QWidget::close);
    A_langue = make(&TMDIform::A_langueExecute, {}, true);
    A_apropos = make(&TMDIform::A_aproposExecute, {}, true);
    // In the documents' "Attracteur" menu; its shortcut works with no document open too.
    A_decouverte = make(&TMDIform::A_decouverteExecute, QKeySequence(Qt::Key_F7), true);
    addAction(A_decouverte);
    A_animation = new QAction(this);
    connect(A_animation, &QAction::triggered, this, [this] { animationDialog(activeDocument_); });

    MM_fichier = menuBar()->addMenu(QString());
    MM_fichier->addAction(A_nouveau);
    MM_fichier->addAction(A_ouvrir);
    MM_fichier->addAction(A_reprendre);
    MM_fichier->addAction(A_enreg_att_sous);
    MM_fichier->addAction(A_enreg_scene_sous);
    MM_fichier->addAction(A_enreg_image_sous);
    MM_fichier->addAction(A_exporter_nuage);
    MM_fichier->addAction(A_fermer);
    MM_fichier->addSeparator();
    MM_fichier->addAction(A_quitter);
    // "Edition": the active document's undo and redo, and its history.
    A_annuler = new QAction(this);
    A_annuler->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    connect(A_annuler, &QAction::triggered, this, [this] {
        if (activeDocument_) activeDocument_->undo();
    });
    A_retablir = new QAction(this);
    A_retablir->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(A_retablir, &QAction::triggered, this, [this] {
        if (activeDocument_) activeDocument_->redo();
    });
    A_historique = new QAction(this);
    connect(A_historique, &QAction::triggered, this, [this] {
        HistoryWindow* window = historyWindow();
        if (!window->isVisible() && !historyPlaced_) {
            // At first at the top right of the documents' area, below the menus.
            const QRect area = documentArea();
            const QPoint corner = mdiArea_->viewport()->mapToGlobal(area.topRight());
            window->move(corner.x() - window->width() - 8, corner.y() + 8);
            historyPlaced_ = true;
        }
        window->show();
        window->raise();
    });
    MM_edition = menuBar()->addMenu(QString());
    MM_edition->addAction(A_annuler);
    MM_edition->addAction(A_retablir);
    MM_edition->addSeparator();
    MM_edition->addAction(A_historique);
    MM_aide = menuBar()->addMenu(QString());
    MM_aide->addAction(A_langue);
    MM_aide->addAction(A_apropos);
    for (QMenu* menu : {MM_fichier, MM_edition, MM_aide}) menu->setToolTipsVisible(true);
    updateEditCommands();
}

void TMDIform::createStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QLabel(bar);
        panel->setFixedWidth(kPanelWidths[i]);
        if (i == 0) panel->setAlignment(Qt::AlignCenter);
        if (i >= 2) panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        SB_panels[i] = panel;
        if (i == 1) {
            PB_iter = new QProgressBar(panel);
            PB_iter->setRange(0, kProgressMaximum);
            PB_iter->setTextVisible(false);
            PB_iter->setGeometry(0, 0, kPanelWidths[1], 16);
        }
        // The last panel takes what room is left: notices such as a failed autosave.
        bar->addWidget(panel, i == 4 ? 1 : 0);
    }
    SB_panels[4]->setMinimumWidth(kPanelWidths[4]);
    SB_panels[4]->setMaximumWidth(QWIDGETSIZE_MAX);
}

void TMDIform::retranslate() {
    setWindowTitle(qtext(TextId::kMainCaption));
    MM_fichier->setTitle(qtext(TextId::kMenuFile));
    MM_aide->setTitle(qtext(TextId::kMenuHelp));
    MM_edition->setTitle(qtext(TextId::kMenuEdit));
    A_historique->setText(qtext(TextId::kActionHistory));
    updateEditCommands();
    if (history_) history_->retranslate();
    A_nouveau->setText(qtext(TextId::kActionNew));
    A_ouvrir->setText(qtext(TextId::kActionOpen));
    A_reprendre->setText(qtext(TextId::kActionResumeRender));
    A_enreg_att_sous->setText(qtext(TextId::kActionSaveAttractor));
    A_enreg_scene_sous->setText(qtext(TextId::kActionSaveScene));
    A_enreg_image_sous->setText(qtext(TextId::kActionSaveImage));
    A_exporter_nuage->setText(qtext(TextId::kActionExportCloud));
    A_fermer->setText(qtext(TextId::kActionClose));
    A_quitter->setText(qtext(TextId::kActionQuit));
    A_langue->setText(qtext(TextId::kActionLanguage));
    A_apropos->setText(qtext(TextId::kActionAbout));
    A_decouverte->setText(qtext(TextId::kActionDiscovery));
    A_animation->setText(qtext(TextId::kActionAnimation));
    const std::pair<QAction*, int> tips[] = {{A_nouveau, TextId::kTipNew},
                                             {A_ouvrir, TextId::kTipOpen},
                                             {A_reprendre, TextId::kTipResumeRender},
                                             {A_enreg_att_sous, TextId::kTipSaveAttractor},
                                             {A_enreg_image_sous, TextId::kTipSaveImage},
                                             {A_exporter_nuage, TextId::kTipExportCloud},
                                             {A_fermer, TextId::kTipClose},
                                             {A_quitter, TextId::kTipQuit},
                                             {A_langue, TextId::kTipLanguage},
                                             {A_apropos, TextId::kTipAbout},
                                             {A_decouverte, TextId::kTipDiscovery},
                                             {A_annuler, TextId::kTipUndo},
                                             {A_retablir, TextId::kTipRedo},
                                             {A_historique, TextId::kTipHistory},
                                             {A_animation, TextId::kTipAnimation}};
    for (const auto& [action, id] : tips) action->setToolTip(qtext(id));
    // Every panel composes its text again in the new language.
    for (int i = 0; i < 5; ++i)
        if (panelTexts_[i]) setPanel(i, panelTexts_[i]);
    const int names[5] = {TextId::kAccActivity, TextId::kAccProgress, TextId::kAccSpeed,
                          TextId::kAccTime, 0};
    for (int i = 0; i < 4; ++i) SB_panels[i]->setAccessibleName(qtext(names[i]));
    PB_iter->setAccessibleName(qtext(TextId::kAccProgress));
    statusBar()->setAccessibleName(qtext(TextId::kAccStatusBar));
    if (discovery_) discovery_->retranslate();
    if (animation_) animation_->retranslate();
    // The panels keep their nominal widths unless the font needs more for the longest texts
    // they show while a render runs.
    const QFontMetrics metrics(SB_panels[2]->font());
    const int margin = 2 * SB_panels[2]->frameWidth() + 8;
    SB_panels[2]->setFixedWidth(std::max(kPanelWidths[2], metrics.horizontalAdvance(qtext(TextId::kSpeedLabel) +
                                                                                    QStringLiteral("000000000")) + margin));
    SB_panels[3]->setFixedWidth(std::max(kPanelWidths[3], metrics.horizontalAdvance(qtext(TextId::kRemainingLabel) +
                                                                                    QStringLiteral("00:00:00")) + margin));
    for (TForm_view* view : documents()) view->retranslate();
    palettes_->retranslate();
}

void TMDIform::setLanguageSettings(std::unique_ptr<LanguageSettings> settings, QString programPath) {
    languageSettings_ = std::move(settings);
    programPath_ = std::move(programPath);
}

LanguageSettings& TMDIform::languageSettings() {
    if (!languageSettings_) languageSettings_ = std::make_unique<LanguageSettings>();
    return *languageSettings_;
}

bool TMDIform::checkLanguage() {
    if (!languageCheckNeeded(languageSettings(), programPath_)) return false;
    chooseLanguage();
    return true;
}

bool TMDIform::chooseLanguage() {
    TForm_lang dialog(languageSettings(), programPath_, this);
    if (dialog.exec() != QDialog::Accepted) return false;
    retranslate();
    return true;
}

void TMDIform::setPalettes(std::unique_ptr<Palettes> palettes) {
    palettes_ = palettes ? std::move(palettes) : std::make_unique<NoPalettes>();
    palettesMade_ = true;
}

QList<TForm_view*> TMDIform::documents() const {
    QList<TForm_view*> views;
    for (QMdiSubWindow* window : mdiArea_->subWindowList())
        if (TForm_view* view = viewOf(window)) views.append(view);
    return views;
}

// --- Status bar ------------------------------------------------------------------------

void TMDIform::resetStatus() {
    PB_iter->setValue(0);
    setPanel(2, [] { return qtext(TextId::kSpeedAtRest); });
    setPanel(3, {});
}

void TMDIform::setPanel(int panel, StatusText compose) {
    panelTexts_[panel] = std::move(compose);
    SB_panels[panel]->setText(panelTexts_[panel] ? panelTexts_[panel]() : QString());
    // A screen reader reads the panel's name ("Vitesse") and then what it shows.
    SB_panels[panel]->setAccessibleDescription(SB_panels[panel]->text());
}

void TMDIform::setActivityMark(const QString& text) { SB_panels[0]->setText(text); }
void TMDIform::setSpeedText(const QString& text) {
    setPanel(2, [text] { return text; });
}
void TMDIform::setTimeText(const QString& text) {
    setPanel(3, [text] { return text; });
}
void TMDIform::setSpeedText(StatusText compose) {
    setPanel(2, std::move(compose));
}
void TMDIform::setTimeText(StatusText compose) {
    setPanel(3, std::move(compose));
}
void TMDIform::setNoticeText(StatusText compose) {
    setPanel(4, std::move(compose));
    SB_panels[4]->setToolTip(SB_panels[4]->text());
}
void TMDIform::setProgress(int position) { PB_iter->setValue(position); }
QString TMDIform::statusText(int panel) const { return SB_panels[panel]->text(); }
int TMDIform::progress() const { return PB_iter->value(); }

void TMDIform::setRenderRunning(bool running) {
    renderRunning_ = running;
    for (TForm_view* view : documents()) view->updateStartCommand();
}

void TMDIform::setFileCommandsEnabled(bool enabled) {
    fileCommandsEnabled_ = enabled;
    MM_fichier->menuAction()->setEnabled(enabled);
    MM_fichier->setEnabled(enabled);
}

// --- Documents -------------------------------------------------------------------------

bool TMDIform::imageSizeAccepted(const NewDocumentDefaults& settings) {
    return imageSizeAllowed(settings.mode, settings.width, settings.height);
}

bool TMDIform::imageSizeAllowed(int mode, std::int32_t width, std::int32_t height) {
    const auto inRange = [](std::int32_t side) { return side >= kMinImageSide && side <= kMaxImageSide; };
    const QStringList size{QString::number(width), QString::number(height)};
    if (!inRange(width) || !inRange(height)) {
        showError(this, fillText(qtext(TextId::kImageSizeOutOfRange), size));
        return false;
    }
    // The same need and budget as the tool's: the target, the encoder's copy, and the least of
    // half the machine's memory and what the process's limits leave.
    // With the streams and threads a render would use (the render palette's).
    const std::int32_t streams = palettes_ ? palettes_->renderStreams() : kDefaultStreams;
    const std::int32_t threads = palettes_ ? palettes_->renderThreads() : defaultThreadCount();
    const std::uint64_t need = imageMemoryNeed(mode, width, height, streams, threads);
    if (const MemoryBudget budget = memoryBudget(); need > budget.bytes) {
        showError(this, imageTooLargeText(width, height, need, budget));
        return false;
    }
    return true;
}

TForm_view* TMDIform::newDocument() {
    if (!imageSizeAccepted(defaults_)) return nullptr;
    if (!palettesMade_) {
        palettes_ = std::make_unique<PaletteWindows>(*this);
        palettesMade_ = true;
    }
    ++createdDocuments_;
    if (openDocuments_++ == 0) setDocumentCommandsShown(true);

    auto* view = new TForm_view(*this, defaults_, createdDocuments_);
    connect(view, &TForm_view::historyChanged, this, [this, view] {
        if (activeDocument_ == view) updateEditCommands();
    });
    // An image larger than its window is scaled down in it, or scrolls at 100%.
    auto* scroll = new DocumentScroll;
    scroll->setWidget(view);
    QMdiSubWindow* window = mdiArea_->addSubWindow(
        scroll, Qt::SubWindow | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                    Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                    Qt::WindowCloseButtonHint);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // The frame shows the document's caption.
    window->setWindowTitle(view->windowTitle());
    connect(view, &QWidget::windowTitleChanged, window, &QWidget::setWindowTitle);
    window->show();
    mdiArea_->setActiveSubWindow(window);
    if (activeDocument_ != view) subWindowActivated(window);

    palettes_->showAttractor(view->attractor());
    palettes_->showRenderTarget(view->renderTarget());
    palettes_->setPalettesVisible(true);
    // Placed once the palettes are up: it goes in the room they leave.
    placeDocument(window);
    return view;
}

int TMDIform::openFiles(const QStringList& fileNames) {
    int opened = 0;
    for (const QString& fileName : fileNames) {
        if (isSceneFile(fileName)) {
            SceneLoad scene = loadSceneOrImage(std::filesystem::path(fileName.toStdString()));
            if (!scene) {
                showError(this, sceneErrorMessage(fileName, scene));
                continue;
            }
            if (openScene(std::move(scene))) ++opened;
            continue;
        }
        auto parser = makeAttractorParser();
        LoadResult loaded = loadAttractor(*parser, std::filesystem::path(fileName.toStdString()));
        if (!loaded) {
            showError(this, readErrorMessage(fileName, loaded));
            continue;
        }
        TForm_view* view = openAttractor(std::move(loaded.attractor));
        if (!view) break;
        view->markSceneSaved();
        ++opened;
    }
    return opened;
}

QRect TMDIform::documentArea() const {
    QWidget* viewport = mdiArea_->viewport();
    QRect area = viewport->rect();
    const QRect occupied = palettes_->occupiedArea();
    if (occupied.isValid()) {
        // The palettes form a column at the right edge of the screen: what lies left of it.
        const QRect local = occupied.translated(-viewport->mapToGlobal(QPoint(0, 0)));
        if (local.intersects(area) && local.left() - area.left() >= kMinDocumentAreaWidth)
            area.setRight(local.left() - 1);
    }
    return area;
}

void TMDIform::placeDocument(QMdiSubWindow* window) {
    TForm_view* view = viewOf(window);
    if (!view) return;
    const QRect area = documentArea();
    fitDocument(view);
    QPoint at = area.topLeft() + QPoint(kCascadeStep, kCascadeStep) * cascade_;
    if (!area.contains(QRect(at, window->size()))) {
        // Start the cascade again at the top left.
        cascade_ = 0;
        at = area.topLeft();
    }
    ++cascade_;
    window->move(at);
}

void TMDIform::fitDocument(TForm_view* view) {
    QMdiSubWindow* window = documentWindow(view);
    if (!window) return;
    const QRect area = documentArea();
    // The frame around the image: the window's title bar and borders.
    const QMargins frame = window->contentsMargins();
    window->resize(view->clientSizeFor(area.size().shrunkBy(frame)).grownBy(frame));
    // Back into the free area when it reaches under the palettes or out of the frame.
    QRect g = window->geometry();
    if (g.right() > area.right()) g.moveRight(area.right());
    if (g.bottom() > area.bottom()) g.moveBottom(area.bottom());
    if (g.left() < area.left()) g.moveLeft(area.left());
    if (g.top() < area.top()) g.moveTop(area.top());
    window->move(g.topLeft());
}

void TMDIform::closeRefused(TForm_view* view, bool quitting) {
    const QString name = view ? view->windowTitle() : QString();
    showWarning(this,
                fillText(qtext(quitting ? TextId::kQuitRefused : TextId::kCloseRefused), {name}));
}

TForm_view* TMDIform::openAttractor(std::unique_ptr<Attractor> attractor) {
    TForm_view* view = newDocument();
    if (!view) return nullptr;
    view->installAttractor(std::move(attractor));
    palettes_->showAttractor(view->attractor());
    view->adjustView(Adjust::Fit);
    // The history starts from the attractor opened.
    view->resetHistory();
    return view;
}

void TMDIform::updateEditCommands() {
    if (!A_annuler) return;
    const TForm_view* view = activeDocument_;
    const auto stepName = [](HistoryStep step) {
        return qtext(TextId::kStepNameFirst + static_cast<int>(step));
    };
    const bool undoable = view && view->history().canUndo();
    const bool redoable = view && view->history().canRedo();
    A_annuler->setText(
        undoable ? fillText(qtext(TextId::kActionUndoStep), {stepName(view->history().undoStep())})
                 : qtext(TextId::kActionUndo));
    A_retablir->setText(
        redoable ? fillText(qtext(TextId::kActionRedoStep), {stepName(view->history().redoStep())})
                 : qtext(TextId::kActionRedo));
    // Never while the document searches or renders.
    A_annuler->setEnabled(view && view->canUndo());
    A_retablir->setEnabled(view && view->canRedo());
    if (history_) history_->refresh();
}

HistoryWindow* TMDIform::historyWindow() {
    if (!history_) {
        history_ = new HistoryWindow(this);
        history_->addActions({A_annuler, A_retablir});
        history_->showDocument(activeDocument_);
    }
    return history_;
}

TForm_view* TMDIform::openScene(SceneLoad scene) {
    TForm_view* view = newDocument();
    if (!view) return nullptr;
    if (view->installScene(std::move(scene))) {
        view->resetHistory();
        return view;
    }
    if (QMdiSubWindow* window = documentWindow(view))
        window->close();  // a size refused: no empty document stays behind
    return nullptr;
}

TForm_discover* TMDIform::discoveryWindow() {
    if (!discovery_) discovery_ = new TForm_discover(*this, this);
    return discovery_;
}

void TMDIform::A_decouverteExecute() {
    TForm_discover* window = discoveryWindow();
    // The active document's kind and option, unless a search already runs.
    if (!window->running()) {
        int kind = kAllKinds, option = 0;
        if (activeDocument_ && activeDocument_->attractor()) {
            const Attractor& a = *activeDocument_->attractor();
            kind = a.kindCode();
            if (const auto* ifs = dynamic_cast<const IFS*>(&a)) option = ifs->count();
            if (const auto* sprott = dynamic_cast<const Polynomial_Sprott*>(&a)) option = sprott->order();
        }
        window->setKind(kind, option);
    }
    window->show();
    window->raise();
    window->activateWindow();
}

void TMDIform::documentClosed(TForm_view* view) {
    if (mergedDocument_ == view) mergeDocumentMenus(nullptr);
    if (activeDocument_ == view) activeDocument_ = nullptr;
    if (history_ && history_->document() == view) history_->showDocument(nullptr);
    updateEditCommands();
    if (--openDocuments_ == 0) {
        cascade_ = 0;
        palettes_->setPalettesVisible(false);
        setDocumentCommandsShown(false);
        resetStatus();
        // The file commands come back with the last document, whatever state it was left in.
        setFileCommandsEnabled(true);
    }
}

void TMDIform::setDocumentCommandsShown(bool shown) {
    for (QAction* a :
         {A_enreg_att_sous, A_enreg_scene_sous, A_enreg_image_sous, A_exporter_nuage, A_fermer}) {
        a->setEnabled(shown);
        a->setVisible(shown);
    }
}

void TMDIform::subWindowActivated(QMdiSubWindow* window) {
    // A null window also comes when the frame merely loses the focus; the document stays.
    if (!window) {
        if (mdiArea_->subWindowList().isEmpty()) mergeDocumentMenus(nullptr);
        return;
    }
    TForm_view* view = viewOf(window);
    if (!view) return;
    mergeDocumentMenus(view);
    if (activeDocument_ != view) {
        activeDocument_ = view;
        view->activated();
        if (history_) history_->showDocument(view);
        updateEditCommands();
    } else {
        view->updateStartCommand();
    }
}

void TMDIform::mergeDocumentMenus(TForm_view* view) {
    if (mergedDocument_ == view) return;
    if (mergedDocument_) {
        menuBar()->removeAction(mergedDocument_->attractorMenu()->menuAction());
        menuBar()->removeAction(mergedDocument_->viewMenu()->menuAction());
    }
    mergedDocument_ = view;
    if (view) {
        menuBar()->insertMenu(MM_aide->menuAction(), view->attractorMenu());
        menuBar()->insertMenu(MM_aide->menuAction(), view->viewMenu());
    }
}

bool TMDIform::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress && activeDocument_) activeDocument_->endGesture();
    return QMainWindow::eventFilter(watched, event);
}

void TMDIform::closeEvent(QCloseEvent* event) {
    // Every document is asked first: none closes while one searches or renders.
    for (TForm_view* view : documents()) {
        if (view->searching() || view->state() == kStateSearching || view->state() == kStateRendering) {
            event->ignore();
            closeRefused(view, true);
            return;
        }
    }
    // One at a time, so that a document the user keeps stops the quit before the others ask.
    for (QMdiSubWindow* window : mdiArea_->subWindowList()) {
        if (!window->close()) {
            event->ignore();
            return;
        }
    }
    if (!mdiArea_->subWindowList().isEmpty()) {
        event->ignore();
        return;
    }
    event->accept();
}

// --- Commands --------------------------------------------------------------------------

QString TMDIform::askFileName(const FileDialogRequest& request, QString* selectedFilter) {
    if (fileDialogHook_) {
        FileDialogRequest asked = request;
        asked.selectedFilter = selectedFilter;
        return fileDialogHook_(asked);
    }
    QFileDialog dialog(this);
    followInterfaceLanguage(dialog);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setNameFilters(request.filters);
    if (request.kind == FileDialogKind::Open || request.kind == FileDialogKind::OpenRenderState) {
        dialog.setWindowTitle(qtext(TextId::kOpenDialogTitle));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    } else {
        dialog.setWindowTitle(qtext(TextId::kSaveDialogTitle));
        if (request.kind == FileDialogKind::SaveScene)
            dialog.setDefaultSuffix(QStringLiteral("qmscene"));
        if (request.kind == FileDialogKind::SavePointCloud)
            dialog.setDefaultSuffix(QStringLiteral("ply"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        if (request.kind == FileDialogKind::SaveImage) {
            // The extension follows the chosen filter: bmp unless PNG is picked.
            dialog.setDefaultSuffix(QStringLiteral("bmp"));
            connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
                dialog.setDefaultSuffix(filter.contains(QStringLiteral("*.png")) ? QStringLiteral("png")
                                                                                 : QStringLiteral("bmp"));
            });
        }
        dialog.selectFile(request.presetName);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    if (selectedFilter) *selectedFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().constFirst();
}

void TMDIform::A_nouveauExecute() {
    if (!fileCommandsEnabled_) return;
    if (newDialogHook_) {
        if (!newDialogHook_(defaults_)) return;
    } else {
        TForm_new dialog(defaults_, this);
        if (dialog.exec() != QDialog::Accepted) return;
    }
    newDocument();
}

void TMDIform::A_ouvrirExecute() {
    TForm_view* view = activeDocument_;
    if (!fileCommandsEnabled_) return;
    const QString fileName =
        askFileName({FileDialogKind::Open,
                     {},
                     {dialogFilter(TextId::kOpenFilter), dialogFilter(TextId::kAttractorFilter),
                      dialogFilter(TextId::kSceneFilter), dialogFilter(TextId::kPngFilter)}});
    if (fileName.isEmpty()) return;
    if (!view) {
        // No document yet: the file opens in a new one, as on the command line.
        openFiles({fileName});
        return;
    }
    if (!view->confirmRenderLoss()) return;
    // A file that cannot be read leaves the document as it was, its view included. A scene
    // brings its own framing.
    if (isSceneFile(fileName)) {
        if (view->loadScene(fileName)) view->recordStep(HistoryStep::Open);
    } else if (view->loadAttractor(fileName)) {
        view->adjustView(Adjust::Automatic);
        view->markSceneSaved();
        view->recordStep(HistoryStep::Open);
    }
}

void TMDIform::A_reprendreExecute() {
    if (!fileCommandsEnabled_) return;
    const QString fileName = askFileName(
        {FileDialogKind::OpenRenderState, {}, {dialogFilter(TextId::kRenderStateFilter)}});
    if (!fileName.isEmpty()) resumeRenderFile(fileName);
}

TForm_view* TMDIform::resumeRenderFile(const QString& fileName, bool adopt) {
    if (renderRunning_) {
        showWarning(this, qtext(TextId::kResumeRenderBusy));
        return nullptr;
    }
    // A crashed program's autosave that cannot be resumed is set aside, so that it is not
    // offered again at every start; one that may be resumed later (too large for the memory
    // free now, or unreadable for a while) stays where it is.
    auto refuse = [&](const QString& reason, bool damaged) {
        QString message = fillText(qtext(TextId::kResumeError), {fileName, reason});
        if (adopt && damaged) {
            const QString aside = setAsideName(fileName);
            if (QFile::rename(fileName, aside))
                message +=
                    QStringLiteral("\n\n") + fillText(qtext(TextId::kAutosaveSetAside), {aside});
        }
        showError(this, message);
        return nullptr;
    };
    RenderState state;
    const StateReadResult read =
        readRenderState(std::filesystem::path(fileName.toStdString()), state);
    if (!read)
        return refuse(stateReadReason(read), read.status != StateReadStatus::TooLarge &&
                                                 read.status != StateReadStatus::CannotOpen &&
                                                 read.status != StateReadStatus::ReadFailed);
    // The palettes come first: the render takes their thread count.
    if (!palettesMade_) {
        palettes_ = std::make_unique<PaletteWindows>(*this);
        palettesMade_ = true;
    }
    ResumedRender render;
    switch (prepareResume(state, palettes_->renderThreads(), render)) {
        case ResumeStatus::Ok:
            break;
        case ResumeStatus::TooLarge:
            return refuse(qtext(TextId::kStateImageTooLarge), false);
        case ResumeStatus::EarlierGasSums:
            return refuse(qtext(TextId::kStateEarlierGasSums), true);
        default:
            return refuse(qtext(TextId::kStateInconsistent), true);
    }
    // The document takes the saved mode and size; the defaults of new documents stay.
    const NewDocumentDefaults defaults = defaults_;
    defaults_.mode = static_cast<std::uint8_t>(render.target->mode);
    defaults_.width =
        static_cast<std::int32_t>(state.number("width").value_or(render.target->imageWidth));
    defaults_.height =
        static_cast<std::int32_t>(state.number("height").value_or(render.target->imageHeight));
    TForm_view* view = newDocument();
    defaults_ = defaults;
    if (!view) return nullptr;
    view->resumeRender(std::move(render), state.developmentsDone, adopt ? fileName : QString());
    return view;
}

int TMDIform::offerAutosavedRenders() {
    int resumed = 0;
    for (const QString& file : orphanedAutosaves()) {
        ResumeChoice choice = ResumeChoice::Later;
        if (resumeOfferHook_) {
            choice = resumeOfferHook_(file);
        } else {
            const QFileInfo info(file);
            QMessageBox box(
                QMessageBox::Question, QStringLiteral("Quillmere"),
                fillText(qtext(TextId::kResumeOffer),
                         {QLocale().toString(info.lastModified(), QLocale::ShortFormat)}),
                QMessageBox::NoButton, this);
            QPushButton* resume =
                box.addButton(qtext(TextId::kResumeButton), QMessageBox::AcceptRole);
            QPushButton* discard =
                box.addButton(qtext(TextId::kDiscardButton), QMessageBox::DestructiveRole);
            QPushButton* later =
                box.addButton(qtext(TextId::kLaterButton), QMessageBox::RejectRole);
            box.setDefaultButton(resume);
            box.setEscapeButton(later);
            box.exec();
            choice = box.clickedButton() == resume    ? ResumeChoice::Resume
                     : box.clickedButton() == discard ? ResumeChoice::Discard
                                                      : ResumeChoice::Later;
        }
        if (choice == ResumeChoice::Discard) {
            QFile::remove(file);
        } else if (choice == ResumeChoice::Resume) {
            // One render runs at a time: the others wait for a later start.
            if (renderRunning_) break;
            if (resumeRenderFile(file, true)) ++resumed;
        }
    }
    return resumed;
}

void TMDIform::A_enreg_att_sousExecute() {
    TForm_view* view = activeDocument_;
    if (!fileCommandsEnabled_ || !view) return;
    QString fileName = askFileName({FileDialogKind::SaveAttractor, {}, {dialogFilter(TextId::kAttractorFilter)}});
    if (fileName.isEmpty()) return;
    const QString suffix = QFileInfo(fileName).suffix();
    if (fileName.endsWith(QStringLiteral(".qmattr"))) {
        view->saveAttractor(fileName);
    } else if (suffix.isEmpty() && !QFileInfo(fileName).fileName().endsWith(QLatin1Char('.'))) {
        view->saveAttractor(fileName + QStringLiteral(".qmattr"));
    } else {
        // Any other extension: nothing is written, and the user is told so.
        showError(this, fillText(qtext(TextId::kNotAttractorExtension), {fileName}));
    }
}

void TMDIform::A_enreg_scene_sousExecute() {
    if (fileCommandsEnabled_ && activeDocument_) saveSceneOf(activeDocument_);
}

bool TMDIform::saveSceneOf(TForm_view* view) {
    const QString fileName =
        askFileName({FileDialogKind::SaveScene, {}, {dialogFilter(TextId::kSceneFilter)}});
    if (fileName.isEmpty()) return false;
    const QFileInfo info(fileName);
    if (info.suffix() == QStringLiteral("qmscene")) return view->saveScene(fileName);
    if (info.suffix().isEmpty() && !info.fileName().endsWith(QLatin1Char('.')))
        return view->saveScene(fileName + QStringLiteral(".qmscene"));
    showError(this, fillText(qtext(TextId::kNotSceneExtension), {fileName}));
    return false;
}

void TMDIform::A_enreg_image_sousExecute() {
    TForm_view* view = activeDocument_;
    // A rendering document's image belongs to its worker until the render ends.
    if (!fileCommandsEnabled_ || !view || view->state() == kStateRendering) return;
    saveImageOf(view);
}

bool TMDIform::saveImageOf(TForm_view* view) {
    QString filter;
    const QString fileName =
        askFileName({FileDialogKind::SaveImage,
                     view->documentName(),
                     {dialogFilter(TextId::kBmpFilter), dialogFilter(TextId::kPngFilter),
                      dialogFilter(TextId::kPng16Filter)}},
                    &filter);
    if (fileName.isEmpty()) return false;
    const int depth = filter == dialogFilter(TextId::kPng16Filter) ? 16 : 8;
    const WriteResult written = writeImage(fileName, *view, depth, palettes_->renderThreads());
    if (!written) {
        const QString reason =
            written.status == WriteStatus::NotRegular ? qtext(TextId::kReasonNotRegular)
            : written.systemError != 0 ? QString::fromLocal8Bit(std::strerror(written.systemError))
                                       : qtext(TextId::kReasonWriteFailed);
        showError(this, fillText(qtext(TextId::kWriteError), {fileName, reason}));
        return false;
    }
    view->imageSaved(
        QFileInfo(fileName).suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) == 0);
    view->setDocumentName(QFileInfo(fileName).absoluteFilePath());
    return true;
}

void TMDIform::A_exporter_nuageExecute() {
    if (fileCommandsEnabled_ && activeDocument_) exportPointCloudOf(activeDocument_);
}

TForm_anim* TMDIform::animationDialog(TForm_view* view) {
    if (!animation_) animation_ = new TForm_anim(*this, view);
    animation_->setDocument(view);
    animation_->show();
    animation_->raise();
    animation_->activateWindow();
    return animation_;
}

PointCloudExport* TMDIform::pointCloudExport() const { return cloudExport_.data(); }

PointCloudExport* TMDIform::exportPointCloudOf(TForm_view* view) {
    if (!view || !view->attractor()) return nullptr;
    // One export at a time: its dialog is on the screen, and shows the way to it.
    if (cloudExport_) {
        if (QWidget* dialog = cloudExport_->progressDialog()) {
            dialog->raise();
            dialog->activateWindow();
        }
        return nullptr;
    }
    CloudSettings settings = cloudSettings_;
    if (cloudSettingsHook_ ? !cloudSettingsHook_(settings) : !askCloudSettings(this, settings))
        return nullptr;
    cloudSettings_ = settings;
    QString preset = QFileInfo(view->documentName()).completeBaseName();
    if (!preset.isEmpty()) preset += QStringLiteral(".ply");
    QString fileName = askFileName(
        {FileDialogKind::SavePointCloud, preset, {dialogFilter(TextId::kCloudFilter)}});
    if (fileName.isEmpty()) return nullptr;
    if (QFileInfo(fileName).suffix().isEmpty() && !fileName.endsWith(QLatin1Char('.')))
        fileName += QStringLiteral(".ply");
    // The worker takes copies: the document may change, render or close meanwhile.
    Gradientf speed, angle;
    loadDefaultGradients(dataFolders(programFolder_, DataEnvironment::current()), speed, angle);
    cloudExport_ = new PointCloudExport(this, fileName, view->attractor()->clone(), view->scene(),
                                        speed, angle, settings);
    connect(cloudExport_, &PointCloudExport::finished, cloudExport_, &QObject::deleteLater);
    return cloudExport_;
}

void TMDIform::A_fermerExecute() {
    if (!fileCommandsEnabled_) return;
    for (QMdiSubWindow* window : mdiArea_->subWindowList())
        if (viewOf(window) == activeDocument_) window->close();
}

void TMDIform::A_langueExecute() { chooseLanguage(); }

void TMDIform::A_aproposExecute() {
    TForm_about about(this);
    about.exec();
}

}  // namespace qm::gui
