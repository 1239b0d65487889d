// TForm_anim: "Vue > Animation...". A turntable of the document's view (frames, degrees, axis)
// or a journey between keyframes (the current view, or scenes the user saved; an ease), a
// preview that plays the point cloud along the path in real time, and the render of the
// frames into a folder on a worker (AnimationRender), with the progress of the frame and of
// the whole, stoppable and resumed at the first missing frame.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

#include "core/animate/animation.h"
#include "core/property/gradient.h"
#include "gui/animation_render.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTimer;

namespace qm::gui {

class PreviewWidget;
class TForm_view;
class TMDIform;

class TForm_anim final : public QDialog {
    Q_OBJECT
public:
    // The dialog of a document: its view is the turntable's scene and the current view that
    // "Ajouter la vue courante" adds.
    TForm_anim(TMDIform& main, TForm_view* view);
    ~TForm_anim() override;

    // The document the dialog takes its view from (the active one when it is closed).
    void setDocument(TForm_view* view);

    // The animation as the settings describe it; none (the reason in problem) when they make
    // none. Keyframes and bases are resolved.
    std::optional<Animation> animation(QString* problem = nullptr) const;
    // Adds a keyframe; false (a message says why) when it cannot be one.
    bool addCurrentView();
    bool addSceneFile(const QString& fileName);

    // The preview: plays the path at 30 frames a second, looping, until stopped.
    void startPreview();
    void stopPreview();
    bool previewing() const;
    std::int32_t previewFrame() const { return previewFrame_; }
    PreviewWidget* previewWidget() const { return preview_; }

    // Starts the render of the frames into the folder; false when the settings make no
    // animation or no folder is set (a message says why).
    bool startRender();
    AnimationRender* renderJob() const { return render_; }

    void retranslate();

    QRadioButton* RB_tour = nullptr;
    QRadioButton* RB_voyage = nullptr;
    QSpinBox* M_images = nullptr;
    QDoubleSpinBox* M_degres = nullptr;
    QComboBox* C_axe = nullptr;
    QComboBox* C_transition = nullptr;
    QListWidget* S_cles = nullptr;
    QPushButton* B_ajouter_vue = nullptr;
    QPushButton* B_ajouter_scene = nullptr;
    QPushButton* B_retirer = nullptr;
    QCheckBox* C_exposition = nullptr;
    QLineEdit* M_dossier = nullptr;
    QPushButton* B_choisir = nullptr;
    QPushButton* B_apercu = nullptr;
    QPushButton* B_rendre = nullptr;
    QPushButton* B_fermer = nullptr;
    QProgressBar* PB_image = nullptr;
    QProgressBar* PB_total = nullptr;
    QLabel* L_etat = nullptr;

signals:
    // A render ended (written, stopped or failed), once its outcome is shown.
    void renderFinished(const qm::gui::AnimationOutcome& outcome);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::optional<SceneFrame> currentView() const;
    void updateControls();
    void relabelKeys();
    void B_ajouter_sceneClick();
    void B_retirerClick();
    void B_choisirClick();
    void B_apercuClick();
    void B_rendreClick();
    // A preview target for playing_, framed as its first frame; false when it diverges.
    bool preparePreview();
    void previewTick();
    void showFrameOnPreview(const SceneFrame& frame, bool resample);
    void renderTick();
    void renderDone(const AnimationOutcome& outcome);

    TMDIform& main_;
    QPointer<TForm_view> view_;
    Gradientf speed_, angle_;
    std::vector<SceneFrame> keys_;
    std::vector<QString> keyNames_;  // a file's name; empty for the current view

    QGroupBox* GB_mouvement = nullptr;
    QGroupBox* GB_rendu = nullptr;
    QLabel* L_images = nullptr;
    QLabel* L_degres = nullptr;
    QLabel* L_axe = nullptr;
    QLabel* L_transition = nullptr;
    QLabel* L_cles = nullptr;
    QLabel* L_dossier = nullptr;
    QLabel* L_image = nullptr;
    QLabel* L_total = nullptr;
    QLabel* L_apercu = nullptr;

    PreviewWidget* preview_ = nullptr;
    std::unique_ptr<TBitmap3D> previewTarget_;
    std::optional<Animation> playing_;
    QTimer* previewTimer_ = nullptr;
    QElapsedTimer previewClock_;
    std::int32_t previewFrame_ = -1;

    QPointer<AnimationRender> render_;
    QTimer* renderTimer_ = nullptr;
};

}  // namespace qm::gui
