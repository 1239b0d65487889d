// TForm_discover: the discovery window, a gallery of the finds of a search that runs on every
// core at lowered priority. Each find appears as a fitted thumbnail with its kind, Lyapunov
// exponent, dimension and score; the grid sorts by any of them, filters them by score,
// dimension and kind, keeps the last 500 finds (starred ones stay), and a double-click (or
// Return) opens a find in a new document. "Plus comme celui-ci" searches near the chosen find
// and puts what it finds beside it; a star saves a find to the favourites folder, which the
// "Favoris" tab lists; the "Exemples" tab shows the shipped examples.
//
// The interface thread never runs a trial nor renders a thumbnail: a coordinating thread runs
// the rounds of the search lanes and their thumbnails on a worker pool, another draws the
// thumbnails of the examples, of favourites without one and of a change of render mode; both
// hand their results over with queued calls.
#pragma once

#include <QListWidget>
#include <QWidget>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

class QAction;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTabWidget;

namespace qm::gui {

class TMDIform;

class TForm_discover final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxFinds = 500;
    // A search near a find ends by itself after this many finds.
    static constexpr int kNearFinds = 12;
    static constexpr int kDefaultNearPercent = 10;
    enum SortKey { SortOrder = 0, SortLyapunov = 1, SortDimension = 2, SortScore = 3 };
    enum Tab { TabFinds = 0, TabFavourites = 1, TabExamples = 2 };
    // What the grids' items hold, beyond their icon and caption.
    enum Role {
        RoleOrder = Qt::UserRole,  // find order; then the three sort keys
        RoleLyapunov,
        RoleDimension,
        RoleScore,
        RoleFile,     // the attractor's parameter file (text)
        RoleKind,     // kind code
        RoleGroup,    // the find order of the find a "more like this" search started from
        RoleScene,    // the scene its thumbnail shows (text)
        RoleStarred,  // saved as a favourite
        RolePath,     // favourites and examples: the file opened
        RoleMode,     // the render mode of the icon
        RoleUnsaved,  // favourites: drawn here, its thumbnail not in the folder
    };

    explicit TForm_discover(TMDIform& main, QWidget* parent = nullptr);
    ~TForm_discover() override;

    // The kind searched (a kind code, or kAllKinds) and its option.
    void setKind(int kind, int option);
    void start();
    // Searches near the find (finds tab): the search in progress stops, and the finds come
    // beside it in find order. False when the item is no find.
    bool moreLikeThis(QListWidgetItem* find);
    // Ends the search after the trials in progress; the finds shown stay.
    void stop();
    // The searches from here on start from this seed instead of the clock: the next start or
    // "Plus comme celui-ci" takes seed, the one after seed + 7919, and so on, so that they
    // find the same sets on every run.
    void setSeed(std::uint32_t seed);
    bool running() const { return searcher_.joinable(); }
    // The finds the grid keeps (kMaxFinds unless set); beyond them the oldest that is not
    // starred goes, at once and at each new find.
    void setMaxFinds(int count);
    void setSortKey(SortKey key);
    // The render mode of the thumbnails (finds and examples are drawn again in it).
    void setThumbnailMode(int mode);
    int thumbnailMode() const { return mode_.load(); }
    // Saves the find as a favourite; false after a message when the folder cannot take it.
    bool star(QListWidgetItem* find);
    // Writes the thumbnail drawn for a favourite that had none into the folder (NNNN.png, never
    // replacing a file); false after a message when it cannot.
    bool saveFavouriteThumbnail(QListWidgetItem* favourite);
    void setFavouritesFolder(const std::filesystem::path& folder);
    const std::filesystem::path& favouritesFolder() const { return favourites_; }
    // Shows the examples found beside the program and in the data folders (once).
    void showExamples();
    // Shows or hides each find as the filters say.
    void applyFilters();
    void retranslate();

    QListWidget* grid() const { return L_grid; }
    QListWidget* favouritesGrid() const { return L_favoris; }
    QListWidget* examplesGrid() const { return L_exemples; }
    QTabWidget* tabs() const { return T_onglets; }
    QComboBox* C_type = nullptr;
    QComboBox* C_sort = nullptr;
    QComboBox* C_rendu = nullptr;
    QComboBox* C_afficher = nullptr;
    QDoubleSpinBox* M_score = nullptr;
    QDoubleSpinBox* M_dim_min = nullptr;
    QDoubleSpinBox* M_dim_max = nullptr;
    QSpinBox* UD_hasard = nullptr;
    QPushButton* B_start = nullptr;
    QPushButton* B_voisins = nullptr;
    QPushButton* B_favori = nullptr;
    QPushButton* B_dossier = nullptr;
    // The chosen find's commands, also in the grid's context menu.
    QAction* A_ouvrir = nullptr;
    QAction* A_voisins = nullptr;
    QAction* A_favori = nullptr;
    QAction* A_vignette = nullptr;  // "Enregistrer la vignette", on a favourite

signals:
    void findShown(int count);
    void searchFinished();
    // A thumbnail drawn off a search (an example, a favourite, a new mode) has been shown.
    void thumbnailShown();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Shown;
    struct SearchRequest;
    struct ThumbJob;
    struct ThumbDone;
    void search(const SearchRequest& request);
    void showFind(const Shown& find);
    void trimFinds();
    QByteArray thumbnailPng(const QListWidgetItem* item, const QString& scene) const;
    void openItem(QListWidgetItem* item);
    void updateStatus();
    void updateButtons();
    void searchEnded(std::uint64_t generation);
    void startSearch(const SearchRequest& request);
    // A new seed each search: from the clock, or from the seed set.
    std::uint32_t nextSeed();
    void loadFavourites();
    // A favourite without a readable thumbnail beside it is drawn, scored and measured on the
    // renderer thread; nothing is written into the folder.
    void addFavourite(std::int64_t number, const std::filesystem::path& path);
    void chooseFavouritesFolder();
    // Thumbnails drawn off the search, one job after the other on the renderer thread.
    void queueThumbnail(ThumbJob job);
    void renderThumbnails();
    void showThumbnail(const ThumbDone& done);

    TMDIform& main_;
    QTabWidget* T_onglets = nullptr;
    QListWidget* L_grid = nullptr;
    QListWidget* L_favoris = nullptr;
    QListWidget* L_exemples = nullptr;
    QLabel* L_status = nullptr;
    QLabel* L_type = nullptr;
    QLabel* L_sort = nullptr;
    QLabel* L_rendu = nullptr;
    QLabel* L_afficher = nullptr;
    QLabel* L_score = nullptr;
    QLabel* L_dimension = nullptr;
    QLabel* L_dim_a = nullptr;
    QLabel* L_hasard = nullptr;
    QLabel* L_dossier = nullptr;
    int option_ = 0;
    std::filesystem::path favourites_;
    bool examplesShown_ = false;

    std::thread searcher_;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> trials_{0};
    std::atomic<int> mode_{2};
    std::uint64_t searchGeneration_ = 0;
    std::int64_t sequence_ = 0;
    int maxFinds_ = kMaxFinds;
    std::uint32_t starts_ = 0;
    std::optional<std::uint32_t> seed_;

    std::thread renderer_;
    std::mutex jobsLock_;
    std::condition_variable jobsReady_;
    std::deque<ThumbJob> jobs_;
    bool quitRenderer_ = false;
    std::atomic<std::uint64_t> modeGeneration_{0};
};

}  // namespace qm::gui
