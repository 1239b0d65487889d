// TForm_view: the document window, one per attractor. It owns the attractor, its render
// target and the file parser; carries the document's state machine (which commands are on,
// which suffix the caption shows); runs the search on the interface thread; turns, pans and
// zooms the camera with the mouse; and starts and stops the render worker.
#pragma once

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/attractor/attractor.h"
#include "core/file/attractor_file.h"
#include "core/render/bitmap3d.h"
#include "core/render/render_engine.h"
#include "core/render/state/render_resume.h"
#include "core/scene/scene_file.h"
#include "core/scene/scene_history.h"
#include "gui/new_document_defaults.h"
#include "png/png_image.h"

class QAction;
class QLabel;
class QMenu;
class QScrollBar;
class QStackedLayout;

namespace qm::gui {

class TMDIform;
class Palettes;
class PreviewWidget;
class ImageWidget;
class TRenderThread;
class TSearchThread;

enum DocumentState : std::uint8_t {
    kStateNew = 0,  // new or changed attractor, nothing computed
    kStateSearching = 1,
    kStatePreview = 2,      // live preview
    kStateNoAttractor = 3,  // the orbit diverged
    kStateRendering = 4,
    kStateRendered = 5,
};

// adjustView modes.
enum class Adjust : std::uint8_t { Automatic = 0, Plain = 1, Centre = 2, Fit = 3 };

// "Erreur lors de la lecture du fichier", with the file, the reason, and for a malformed file
// the line where reading stopped and what was wrong there.
QString readErrorMessage(const QString& fileName, const LoadResult& loaded);
// The same for a scene, with the line of the fault.
QString sceneErrorMessage(const QString& fileName, const SceneLoad& loaded);

class TForm_view final : public QWidget {
    Q_OBJECT
public:
    // The image size has been checked by the caller.
    TForm_view(TMDIform& main, const NewDocumentDefaults& settings, int documentNumber,
               QWidget* parent = nullptr);
    ~TForm_view() override;

    std::uint8_t state() const { return state_; }
    void setState(std::uint8_t s);
    void adjustView(Adjust mode);

    Attractor* attractor() const { return attractor_.get(); }
    TBitmap3D* renderTarget() const { return target_.get(); }
    void setAttractorKind(std::int8_t kindCode);
    void setAttractorCount(std::int8_t count);
    void setRenderMode(int mode);
    // Fills the Light family's gradients from speed.map and angle.map beside the program.
    void loadDefaultGradients();

    // "Itérations" and "Hasard" of the attractor palette.
    std::int64_t totalIterations() const { return static_cast<std::int64_t>(totalIterations_); }
    void setTotalIterations(std::int64_t n) { totalIterations_ = static_cast<double>(n); }
    std::uint8_t randomness() const { return static_cast<std::uint8_t>(randomness_); }
    void setRandomness(std::uint8_t percent) { randomness_ = static_cast<char>(percent); }
    // The variables the attractor palette's rows write through to.
    // The count is kept in a double, whose integers are exact far beyond the row's maximum.
    double* totalIterationsVariable() { return &totalIterations_; }
    // The seed of the render's streams (0 unless set), kept with the document.
    std::uint64_t renderSeed() const { return renderSeed_; }
    // The streams of the document's renders: those of the scene it opened (until its next
    // search), else the program's ("Flux").
    std::int32_t renderStreams() const;
    void setRenderSeed(std::uint64_t seed) { renderSeed_ = seed; }
    char* randomnessVariable() { return &randomness_; }
    // "Mises à jour" of the render palette, kept per document.
    char* updatesVariable() { return &updates_; }
    std::int32_t updates() const { return updates_; }

    // What the render palette's rows ask for after a change: the scale redraws the live
    // preview; an image setting develops the image again from the buffers (rendered state
    // only); a gradient renders the preview points again (when there are any).
    void scaleChanged();
    void imageSettingsChanged();
    void gradientChanged();
    // The fixed exposure an opened scene brought (an animation's frame develops against the
    // peak the animation shares): the value is kept while the user has it off, so that it can
    // be turned on again; 0 when the document never had one. On, the image develops against
    // it; off, against its own peak. Each change is a step of the history and develops the
    // image again.
    double* exposureVariable() { return &exposure_; }
    bool fixedExposure() const;
    void setFixedExposure(bool on);
    // The row's value was typed: it becomes the exposure, turned on.
    void exposureValueChanged();
    // A new image size, 16 to 16384 pixels a side (clamped): the target and the window are
    // resized, the camera kept and the preview redrawn. False when the document is busy or
    // the size would not fit in memory (a message says so).
    bool setImageSize(std::int32_t width, std::int32_t height);

    // The image larger than the window shows whole, scaled down to it, or at 100% with scroll
    // bars ("Taille réelle"). The preview keeps the image's framing either way, and a mouse
    // gesture does what it would do on the image itself.
    bool actualSize() const { return actualSize_; }
    void setActualSize(bool on);
    // Window pixels per image pixel: 1 at 100%, less when the image is scaled down.
    double displayScale() const { return displayScale_; }
    // The client size the document asks for within room.
    QSize clientSizeFor(QSize room) const;

    const QString& documentName() const { return documentName_; }
    void setDocumentName(const QString& name);
    // Document load and save; failures are reported in a message box. A load keeps the
    // document as it was when the file cannot be read.
    bool loadAttractor(const QString& fileName);
    // Installs an attractor read elsewhere, as a load does.
    void installAttractor(std::unique_ptr<Attractor> attractor);
    bool saveAttractor(const QString& fileName);

    // The scene of the picture: of the render the document shows (with its image settings as
    // they are now), or else of the document as it stands.
    RenderScene scene() const;
    // The texts a PNG of the document's image carries.
    PngTexts pngTexts() const;
    bool saveScene(const QString& fileName);
    // Opens a scene file, or the scene of a PNG image: the attractor, the render mode and its
    // settings, the size and the framing, exactly (no fit). A file that cannot be read, or a
    // size refused, leaves the document as it was.
    bool loadScene(const QString& fileName);
    // Installs a scene read elsewhere, as loadScene does.
    bool installScene(SceneLoad scene);

    // A finished render shows that was never saved as an image.
    bool renderAtRisk() const;
    // Before an edit that replaces such a render: asks "Le rendu sera perdu. Continuer ?";
    // true to go on (also when there is nothing to lose).
    bool confirmRenderLoss();
    // The scene differs from the one last saved or opened (a new document counts as saved).
    bool sceneChanged() const;
    // The image was written; a PNG also holds the scene.
    void imageSaved(bool withScene);
    // The scene as it is now counts as saved.
    void markSceneSaved();
    // A parameter row of the attractor palette changed the attractor: the preview starts
    // over, unless that would drop an unsaved render and the user declines (the parameters
    // of the render come back).
    // row: the parameter's index, so that the keys of one typed value or the moves of one
    // drag make one step of the history.
    void attractorParameterChanged(std::int32_t row = 0);
    // "Itérations" or "Mises à jour" took a new value.
    void renderCountChanged(HistoryStep step);

    // The undo history: every change of the attractor, the camera or the settings is a step;
    // undo, redo and a jump restore the attractor, the camera and the settings of a step (a
    // rendered image is never restored: the preview shows). None of them runs while the
    // document searches or renders, nor when the user keeps a render that would be lost.
    const SceneHistory& history() const { return history_; }
    bool canUndo() const { return !busy() && history_.canUndo(); }
    bool canRedo() const { return !busy() && history_.canRedo(); }
    bool undo();
    bool redo();
    bool jumpToStep(std::size_t index);
    // Records the document as it is now as the end of a step (nothing when nothing changed).
    // merge: the step may continue the previous one of the same kind and key, when that one
    // came a moment ago or a mouse button is still held.
    void recordStep(HistoryStep step, std::int32_t key = 0, bool merge = false);
    // The history starts again from the document as it is now.
    void resetHistory();
    // The next change starts a step of its own.
    void endGesture() { history_.closeMerge(); }

    // Continues a saved render: its attractor, target (mode, size, camera, buffers) and
    // streams replace the document's, the image developed from the buffers shows, and the
    // worker goes on from where the render stopped. adoptFile, when given, is a crashed
    // program's autosave that becomes this document's. False when a search or a render runs.
    bool resumeRender(ResumedRender render, std::uint64_t developmentsBefore,
                      const QString& adoptFile = {});
    // The file the document's running render autosaves to.
    std::int64_t autosaveNumber() const { return autosaveNumber_; }

    bool searching() const { return searching_; }
    // The running render's worker, if any.
    TRenderThread* renderThread() const;
    bool autoFit() const { return autoFit_; }

    QMenu* attractorMenu() const { return attractorMenu_; }
    QMenu* viewMenu() const { return viewMenu_; }
    QAction* A_rechercher = nullptr;
    QAction* A_arreter_rch = nullptr;
    QAction* A_demarrer = nullptr;
    QAction* A_arreter = nullptr;
    QAction* A_ajuster = nullptr;
    QAction* A_centrer = nullptr;
    QAction* A_copier = nullptr;
    QAction* MI_ajuster_auto = nullptr;
    QAction* A_taille_reelle = nullptr;

    // Sets every text of the window and its menus from the string table.
    void retranslate();

    // Called by the main window when this document becomes the active one.
    void activated();
    // "&Démarrer" follows the program-wide render flag.
    void updateStartCommand();

signals:
    // Emitted at the end of renderFinished, once the document shows its final image.
    void renderCompleted();
    // The history gained or lost a step, or moved.
    void historyChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createActions();
    void replaceAttractor(std::int8_t kindCode, std::int8_t count);
    void installRenderTarget(std::unique_ptr<TBitmap3D> target, const ColorRGBf& fogBackground,
                             const ColorRGBf& fogPoint);
    void attractorDiverged();
    void sampleAttractor(std::int32_t n, Adjust mode);
    // The preview points of a resumed render's scene, leaving its view and the Light
    // statistics as the render has them.
    void samplePreviewOfResumedRender();
    // A failed autosave of the worker, once per render, in the status bar.
    void reportAutosaveFailure(const TRenderThread& worker);
    // The cursor, commands, palettes and shown layer of the current state.
    void applyState();
    void updateCaption();
    void updateHint();
    void showPreview();
    void showImage();
    void redrawPreview();
    // Places the image in the window (scaled or at 100%, scrolled) and sets the scroll bars.
    void updateImageFrame();
    int scrollBarExtent() const;
    Palettes& palettes() const;
    // Searching or rendering: the attractor and the target are not to be replaced.
    bool busy() const;
    void installDivergeHandler();
    DocumentSnapshot snapshot() const;
    bool restoreSnapshot(const DocumentSnapshot& snapshot);
    // Installs a scene; opened: it comes from a file, and counts as saved.
    bool installSceneAs(SceneLoad scene, bool opened);

    void A_rechercherExecute();
    void A_arreter_rchExecute();
    // Starts the search's trials on a worker, with this thread's generator.
    void startSearchThread();
    void searchThreadFinished();
    void A_demarrerExecute();
    void A_arreterExecute();
    void A_copierExecute();
    void MI_ajuster_autoClick();
    void displayUpdate(const QImage& image);
    void renderFinished();
    void TT_updateTimer();
    void startWorker(const EngineSettings& settings, std::unique_ptr<RenderEngine> resumed,
                     std::uint64_t developmentsBefore);
    void removeAutosave();

    TMDIform& main_;
    QPointer<TRenderThread> worker_;
    QPointer<TSearchThread> searchThread_;
    std::unique_ptr<Parser> parser_;
    QString documentName_;
    int untitledNumber_ = 0;  // while the document has no file
    std::int64_t autosaveNumber_ = 0;
    // Where a resumed render was taken up (0 and 0 for a new one).
    std::int64_t resumedFrom_ = 0;
    double resumedProgress_ = 0;
    bool autosaveFailureShown_ = false;
    QString captionName_;
    double panOriginX_ = 0, panOriginY_ = 0;
    QElapsedTimer startTick_;
    QPoint dragAnchor_;
    std::uint8_t state_ = kStateNew;
    std::uint8_t appliedState_ = kStateNew;
    std::uint8_t previousState_ = kStateNew;
    std::int8_t count_ = 0;
    int shiftMemory_ = 0;
    bool autoFit_ = true;
    bool dragging_ = false;
    bool searching_ = false;
    bool stopRequested_ = false;
    bool everShown_ = false;  // left the new state once: the hint is gone
    std::unique_ptr<Attractor> attractor_;
    std::unique_ptr<TBitmap3D> target_;
    double totalIterations_ = 20000000;
    std::uint64_t renderSeed_ = 0;
    char randomness_ = 100;  // percent; an 8-bit row of the palette
    char updates_ = 10;
    double exposure_ = 0;
    // The generator state the last preview sampling started from: with the parameters it
    // decides the preview points (Julia draws from it).
    std::uint64_t previewRandom_ = 0;
    // The scene the last render started from, while the document shows that render.
    std::optional<RenderScene> renderScene_;
    std::optional<std::int32_t> sceneStreams_;
    // The parameters the shown render was made with.
    std::vector<double> renderParams_;
    bool imageSaved_ = false;
    std::string savedSceneText_;

    SceneHistory history_;
    QElapsedTimer lastStep_;  // since the last step recorded, for merging
    bool restoring_ = false;  // a step is being restored: its changes are no new step
    bool gestureMoved_ = false;
    HistoryStep gestureStep_ = HistoryStep::Rotate;
    bool actualSize_ = false;
    double displayScale_ = 1;

    QStackedLayout* layers_ = nullptr;
    QScrollBar* horizontalBar_ = nullptr;
    QScrollBar* verticalBar_ = nullptr;
    PreviewWidget* preview_ = nullptr;
    ImageWidget* image_ = nullptr;
    QLabel* hint_ = nullptr;
    QMenu* attractorMenu_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QTimer* TT_update = nullptr;
};

}  // namespace qm::gui
