// TForm_discover: the discovery window, a gallery of the finds of a search that runs on every
// core at lowered priority. Each find appears as a fitted thumbnail with its kind, Lyapunov
// exponent, dimension and score; the grid sorts by any of them, keeps the last 500 finds, and
// a double-click (or Return) opens a find in a new document. The interface thread never runs
// a trial: a coordinating thread runs the rounds of the search lanes and the thumbnails on a
// worker pool, and hands each find over with a queued call.
#pragma once

#include <QListWidget>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <thread>

class QComboBox;
class QLabel;
class QPushButton;

namespace qm::gui {

class TMDIform;

class TForm_discover final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxFinds = 500;
    enum SortKey { SortOrder = 0, SortLyapunov = 1, SortDimension = 2, SortScore = 3 };

    explicit TForm_discover(TMDIform& main, QWidget* parent = nullptr);
    ~TForm_discover() override;

    // The kind searched (a kind code, or kAllKinds) and its option.
    void setKind(int kind, int option);
    void start();
    // Ends the search after the trials in progress; the finds shown stay.
    void stop();
    bool running() const { return searcher_.joinable(); }
    void setSortKey(SortKey key);
    void retranslate();

    QListWidget* grid() const { return L_grid; }
    QComboBox* C_type = nullptr;
    QComboBox* C_sort = nullptr;
    QPushButton* B_start = nullptr;

signals:
    void findShown(int count);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    struct Shown;
    void search(int kind, int option, std::uint32_t seed);
    void showFind(const Shown& find);
    void openFind(QListWidgetItem* item);
    void updateStatus();
    void searchEnded();

    TMDIform& main_;
    QListWidget* L_grid = nullptr;
    QLabel* L_status = nullptr;
    QLabel* L_type = nullptr;
    QLabel* L_sort = nullptr;
    int option_ = 0;
    std::thread searcher_;
    std::atomic<bool> stop_{false};
    std::atomic<std::int64_t> trials_{0};
    std::int64_t sequence_ = 0;
    std::uint32_t starts_ = 0;
};

}  // namespace qm::gui
