// TMDIform: the main window. A multi-document frame around the document windows, with the
// "&Fichier" and "Aide" menus (a document's "&Attracteur" and "&Vue" merge in between while it
// is active), the status bar with its progress bar, the new-document defaults and the
// program-wide state every document shares.
#pragma once

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QRect>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>

#include "core/cloud/point_cloud.h"
#include "gui/new_document_defaults.h"

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QScrollArea;

namespace qm {
class Attractor;
struct SceneLoad;
}

namespace qm::gui {

class LanguageSettings;
class PointCloudExport;
class TForm_anim;
class Palettes;
class TForm_discover;
class HistoryWindow;
class TForm_view;

enum class FileDialogKind : std::uint8_t {
    Open,
    SaveAttractor,
    SaveImage,
    SaveScene,
    OpenRenderState,
    SavePointCloud,
};

// A file dialog as the main window asks for it. A test replaces the dialogs with a hook
// that answers with a file name (empty: cancelled) and may set the chosen filter.
struct FileDialogRequest {
    FileDialogKind kind;
    QString presetName;
    QStringList filters;
    QString* selectedFilter = nullptr;
};
using FileDialogHook = std::function<QString(const FileDialogRequest&)>;

// What to do with a render a crash interrupted.
enum class ResumeChoice : std::uint8_t { Resume, Discard, Later };
// A test answers the offer instead of the message box; it gets the autosave file.
using ResumeOfferHook = std::function<ResumeChoice(const QString& file)>;

// The application's name and version. No display name: Qt would append it to every window
// title on X11 ("Nouveau — Quillmere"), and the titles are the windows' own captions.
void setUpApplicationNames(const QString& version);

// The frame window (QMdiSubWindow) that holds a document, or null.
QMdiSubWindow* documentWindow(const QWidget* view);

class TMDIform final : public QMainWindow {
    Q_OBJECT
public:
    explicit TMDIform(QWidget* parent = nullptr);
    ~TMDIform() override;

    NewDocumentDefaults& defaults() { return defaults_; }
    const std::filesystem::path& programFolder() const { return programFolder_; }
    void setProgramFolder(std::filesystem::path folder) { programFolder_ = std::move(folder); }
    Palettes& palettes() const { return *palettes_; }
    // The palettes are made with the first document; a test may put its own in first.
    void setPalettes(std::unique_ptr<Palettes> palettes);

    // A new document from the defaults, as "&Nouveau..." makes it after its dialog; none when
    // the image size is refused (a message says why).
    TForm_view* newDocument();
    // Each readable file in a new document: an attractor file with the view fitted, a scene
    // file or an image that carries a scene as the scene has it. A file that cannot be read
    // is reported and opens nothing. Returns the number of documents opened.
    int openFiles(const QStringList& fileNames);
    // The attractor in a new document with the view fitted; none when no document can be made.
    TForm_view* openAttractor(std::unique_ptr<Attractor> attractor);
    // The scene read into a new document, as "Ouvrir..." opens a scene file; none when no
    // document can be made or the scene's size is refused (a message says why).
    TForm_view* openScene(SceneLoad scene);
    // The discovery window, made on first use.
    TForm_discover* discoveryWindow();

    TForm_view* activeDocument() const { return activeDocument_; }
    QList<TForm_view*> documents() const;
    int openDocumentCount() const { return openDocuments_; }
    int createdDocumentCount() const { return createdDocuments_; }

    // Program-wide render flag: at most one render runs; "&Démarrer" follows it everywhere.
    bool renderRunning() const { return renderRunning_; }
    void setRenderRunning(bool running);

    // Status bar.
    void resetStatus();
    void setActivityMark(const QString& text);
    void setSpeedText(const QString& text);
    void setTimeText(const QString& text);
    void setProgress(int position);
    QString statusText(int panel) const;
    int progress() const;
    // Panels 2 and 3 built from the string table: the function composes the text again at
    // every change of language.
    using StatusText = std::function<QString()>;
    void setSpeedText(StatusText compose);
    void setTimeText(StatusText compose);
    // Panel 4, the widest: a notice that stays until replaced (an empty function: none).
    void setNoticeText(StatusText compose);

    // The "&Fichier" commands, off while the active document searches or renders.
    void setFileCommandsEnabled(bool enabled);
    bool fileCommandsEnabled() const { return fileCommandsEnabled_; }

    void setFileDialogHook(FileDialogHook hook) { fileDialogHook_ = std::move(hook); }
    // The new-document dialog; a test may answer it instead (true: OK).
    void setNewDialogHook(std::function<bool(NewDocumentDefaults&)> hook) { newDialogHook_ = std::move(hook); }

    // Seconds between two autosaves of a running render (0: none); from the settings.
    double autosaveSeconds() const { return autosaveSeconds_; }
    void setAutosaveSeconds(double seconds) { autosaveSeconds_ = seconds; }
    // Resumes the render saved in a state file in a new document; a file that cannot be
    // resumed is reported and changes nothing. adopt: the file is a crashed program's
    // autosave, which the new document takes over. The document, or null.
    TForm_view* resumeRenderFile(const QString& fileName, bool adopt = false);
    // At start: each render that a crashed program autosaved is offered, to resume now,
    // discard, or keep for a later start. Returns the number resumed.
    int offerAutosavedRenders();
    void setResumeOfferHook(ResumeOfferHook hook) { resumeOfferHook_ = std::move(hook); }

    // An image size a document may take: 16 to 16384 a side and within memory; a refused
    // size is reported in a message box.
    bool imageSizeAllowed(int mode, std::int32_t width, std::int32_t height);

    // "Enregistrer l'image sous..." and "Enregistrer la scène sous..." for a document; true
    // when a file was written.
    bool saveImageOf(TForm_view* view);
    bool saveSceneOf(TForm_view* view);
    // "Exporter le nuage de points..." for a document: the count and form, the file, then the
    // export on its worker. The export, or null when cancelled or when one runs already.
    PointCloudExport* exportPointCloudOf(TForm_view* view);
    PointCloudExport* pointCloudExport() const;
    // "Vue > Animation...": the animation dialog, made on first use, shown for the document.
    TForm_anim* animationDialog(TForm_view* view);
    // A test answers the count-and-form dialog instead (true: OK).
    void setCloudSettingsHook(std::function<bool(CloudSettings&)> hook) {
        cloudSettingsHook_ = std::move(hook);
    }

    // Called by a document whose close was accepted.
    void documentClosed(TForm_view* view);
    // A document refused to close (it searches or renders), or the program refused to quit:
    // the user is told why.
    void closeRefused(TForm_view* view, bool quitting);

    // The part of the frame (in the coordinates of the frame's document area) that the
    // palettes leave free: documents are placed and sized within it.
    QRect documentArea() const;
    // The document's window takes the image size, shrunk to the free area (its image then
    // scrolls) and moved back into it when it would reach under the palettes.
    void fitDocument(TForm_view* view);

    // "Annuler <step>" and "Rétablir <step>" follow the active document's history and state.
    void updateEditCommands();
    // The "Historique" window, made on first use.
    HistoryWindow* historyWindow();

    // Gives every window its texts from the string table again: this one, the documents and
    // the palettes.
    void retranslate();

    // The language check at start: the language dialog when no language is stored for this
    // program, or a stored "FRA" or "ENU". Returns whether the dialog was shown.
    bool checkLanguage();
    // Where the choice of language is kept and the program file it is kept for; by default
    // the user's settings and this program. Tests use their own.
    void setLanguageSettings(std::unique_ptr<LanguageSettings> settings, QString programPath);
    LanguageSettings& languageSettings();
    const QString& programPath() const { return programPath_; }
    // The language dialog, as "Langue..." shows it; true when a language was chosen.
    bool chooseLanguage();

    QAction* A_nouveau = nullptr;
    QAction* A_ouvrir = nullptr;
    QAction* A_reprendre = nullptr;
    QAction* A_enreg_att_sous = nullptr;
    QAction* A_enreg_scene_sous = nullptr;
    QAction* A_enreg_image_sous = nullptr;
    QAction* A_exporter_nuage = nullptr;
    QAction* A_fermer = nullptr;
    QAction* A_quitter = nullptr;
    QAction* A_langue = nullptr;
    QAction* A_apropos = nullptr;
    QAction* A_decouverte = nullptr;
    QAction* A_annuler = nullptr;
    QAction* A_retablir = nullptr;
    QAction* A_historique = nullptr;
    QAction* A_animation = nullptr;  // in the documents' "Vue" menu

protected:
    void closeEvent(QCloseEvent* event) override;
    // A mouse press anywhere in the program ends the gesture in progress in the active
    // document's history: the next drag of a track bar is a step of its own.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createActions();
    void createStatusBar();
    void subWindowActivated(QMdiSubWindow* window);
    void mergeDocumentMenus(TForm_view* view);
    void setDocumentCommandsShown(bool shown);
    QString askFileName(const FileDialogRequest& request, QString* selectedFilter = nullptr);
    bool imageSizeAccepted(const NewDocumentDefaults& settings);
    void placeDocument(QMdiSubWindow* window);
    void setPanel(int panel, StatusText compose);

    void A_nouveauExecute();
    void A_ouvrirExecute();
    void A_reprendreExecute();
    void A_enreg_att_sousExecute();
    void A_enreg_scene_sousExecute();
    void A_enreg_image_sousExecute();
    void A_exporter_nuageExecute();
    void A_fermerExecute();
    void A_langueExecute();
    void A_aproposExecute();
    void A_decouverteExecute();

    NewDocumentDefaults defaults_;
    QPointer<TForm_discover> discovery_;
    std::filesystem::path programFolder_;
    QString programPath_;
    std::unique_ptr<LanguageSettings> languageSettings_;
    std::unique_ptr<Palettes> palettes_;
    bool palettesMade_ = false;
    QMdiArea* mdiArea_ = nullptr;
    QMenu* MM_fichier = nullptr;
    QMenu* MM_edition = nullptr;
    QMenu* MM_aide = nullptr;
    QPointer<HistoryWindow> history_;
    bool historyPlaced_ = false;
    TForm_view* mergedDocument_ = nullptr;
    TForm_view* activeDocument_ = nullptr;
    QLabel* SB_panels[5] = {};
    StatusText panelTexts_[5];
    int cascade_ = 0;  // where the next new document goes
    QProgressBar* PB_iter = nullptr;
    int openDocuments_ = 0;
    int createdDocuments_ = 0;
    bool renderRunning_ = false;
    bool fileCommandsEnabled_ = true;
    FileDialogHook fileDialogHook_;
    ResumeOfferHook resumeOfferHook_;
    double autosaveSeconds_ = 0;
    std::function<bool(NewDocumentDefaults&)> newDialogHook_;
    std::function<bool(CloudSettings&)> cloudSettingsHook_;
    CloudSettings cloudSettings_;  // the last choice of the count and form
    QPointer<PointCloudExport> cloudExport_;
    QPointer<TForm_anim> animation_;
};

}  // namespace qm::gui
