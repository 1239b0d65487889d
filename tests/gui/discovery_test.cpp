// The discovery window: opened with F7 for the active document's kind, it fills its grid from
// a search on worker threads, sorts, filters, searches near a find, keeps favourites in a
// folder, shows the examples, and opens any of them in a new document. Every search starts
// from a fixed seed: each run finds the same sets, so a find that fails (an orbit that leaves
// in a later render) fails every run, never one run in many.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "core/attractor/attractor.h"
#include "core/discover/lane_search.h"
#include "core/file/attractor_file.h"
#include "core/render/bitmap3d.h"
#include "core/scene/scene_file.h"
#include "gui/discovery_window.h"
#include "gui/main_window.h"
#include "gui/preview_widget.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;
using namespace qm::gui::test;
using D = TForm_discover;

namespace {

// The seeds of the searches, one per search of the cases below.
constexpr std::uint32_t kIconSeed = 20261207;
constexpr std::uint32_t kNearSeed = 20261208;
constexpr std::uint32_t kLorenzSeed = 20261209;
constexpr std::uint32_t kAllKindsSeed = 20261210;

// What a wait on the window saw: its finds, and whether the search still runs.
QString searchSeen(const TForm_discover* window) {
    return QStringLiteral("%1 finds in the grid, the search %2")
        .arg(window->grid()->count())
        .arg(window->running() ? QStringLiteral("running") : QStringLiteral("ended"));
}

// Stops the search, and shows the finds it had handed over before it stopped: the grid then
// holds all it will hold.
void stopAndShow(TForm_discover* window) {
    window->stop();
    QCoreApplication::sendPostedEvents(window, QEvent::MetaCall);
}

}  // namespace

class DiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    // The program's palettes; message boxes are answered and kept (a render that diverges
    // says so in one, and shows it here instead of waiting for a click).
    void initTestCase() {
        QVERIFY(program_.start({1000, 700}, nullptr, true));
        main_ = program_.main.get();
    }
    void cleanup() {
        const QString messages = program_.takeMessages();
        QVERIFY2(messages.isEmpty(), qPrintable(messages));
    }
    void cleanupTestCase() { program_.stop(); }

    void findsFillTheGridSortAndOpenInADocument();
    void filtersHideWhatFallsOutside();
    void moreLikeThisPutsNeighboursBesideTheFind();
    void starsAreKeptInTheFavouritesFolder();
    void favouritesWithoutThumbnailsAreDrawnAndMeasuredAside();
    void examplesShowAndOpenAndTheModeRedrawsThem();
    void theGridKeepsTheLastFindsAndEveryStar();
    void aSeedFindsTheSameSetsAgain();
    void closingTheWindowStopsTheSearch();

private:
    TestProgram program_;
    TMDIform* main_ = nullptr;
    QStringList firstDozen_;  // the parameter files of the first search's first finds
};

void DiscoveryTest::findsFillTheGridSortAndOpenInADocument() {
    main_->defaults().kind = 0;  // Icon
    TForm_view* first = main_->newDocument();
    QVERIFY(first);
    QVERIFY(pressKey(main_, Qt::Key_F7));
    TForm_discover* window = main_->discoveryWindow();
    QVERIFY(waitUntil([window] { return window->isVisible(); }, 5000, "the gallery window"));
    QCOMPARE(window->C_type->currentIndex(), 1);  // after "toutes"
    window->setSeed(kIconSeed);

    // The interface thread stays free while the search runs: a timer keeps firing.
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    window->B_start->click();
    QVERIFY(window->running());
    QVERIFY(waitUntil([window] { return window->grid()->count() >= 12; }, 180000, "a dozen finds",
                      [window] { return searchSeen(window); }));
    window->B_start->click();
    QVERIFY(!window->running());
    QCoreApplication::sendPostedEvents(window, QEvent::MetaCall);
    QVERIFY(ticks > 0);
    const int shown = window->grid()->count();
    window->setSortKey(TForm_discover::SortOrder);
    for (int i = 0; i < 12; ++i)
        firstDozen_ << window->grid()->item(i)->data(D::RoleFile).toString();

    window->setSortKey(TForm_discover::SortScore);
    QCOMPARE(window->C_sort->currentIndex(), 3);
    for (int i = 1; i < shown; ++i)
        QVERIFY(window->grid()->item(i - 1)->data(Qt::UserRole + 3).toDouble() >=
                window->grid()->item(i)->data(Qt::UserRole + 3).toDouble());
    if (const QString folder = qEnvironmentVariable("QM_SCREENSHOTS"); !folder.isEmpty()) {
        QDir().mkpath(folder);
        QTest::qWait(200);
        window->grab().save(folder + QStringLiteral("/discovery.png"));
    }
    window->setSortKey(TForm_discover::SortOrder);
    QVERIFY(window->grid()->item(0)->data(Qt::UserRole).toLongLong() <
            window->grid()->item(1)->data(Qt::UserRole).toLongLong());

    // Return on the best find opens it in a new document that renders: the best of the first
    // dozen, the same find on every run however many more came before the search stopped.
    window->setSortKey(TForm_discover::SortScore);
    QListWidgetItem* best = nullptr;
    for (int i = 0; i < window->grid()->count() && !best; ++i)
        if (window->grid()->item(i)->data(D::RoleOrder).toLongLong() < 12)
            best = window->grid()->item(i);
    QVERIFY(best);
    const int documents = main_->documents().size();
    window->grid()->setCurrentItem(best);
    emit window->grid()->itemActivated(best);
    QCOMPARE(main_->documents().size(), documents + 1);
    TForm_view* view = main_->activeDocument();
    QVERIFY(view && view != first);
    QCOMPARE(view->attractor()->kind(), AttractorKind::Icon);
    // As its thumbnail shows it: in its mode, framed, in the live preview.
    QCOMPARE(view->renderTarget()->mode, static_cast<int>(RenderMode::Light));
    QCOMPARE(view->state(), kStatePreview);
    view->setTotalIterations(300000);
    QVERIFY(renderToEnd(view));
    QVERIFY2(!view->attractor()->diverged(), qPrintable(best->data(D::RoleFile).toString()));
}

void DiscoveryTest::filtersHideWhatFallsOutside() {
    TForm_discover* window = main_->discoveryWindow();
    QListWidget* grid = window->grid();
    QVERIFY(grid->count() >= 12);
    auto check = [&](double minScore, double low, double high, int kind) {
        int shown = 0;
        for (int i = 0; i < grid->count(); ++i) {
            QListWidgetItem* item = grid->item(i);
            const double d = item->data(D::RoleDimension).toDouble();
            const bool inside = item->data(D::RoleScore).toDouble() >= minScore && d >= low &&
                                d <= high && (kind < 0 || item->data(D::RoleKind).toInt() == kind);
            if (item->isHidden() == inside) return -1;
            shown += inside;
        }
        return shown;
    };
    // The median score hides about half; a dimension range and another kind hide the rest.
    std::vector<double> scores;
    for (int i = 0; i < grid->count(); ++i)
        scores.push_back(grid->item(i)->data(D::RoleScore).toDouble());
    std::sort(scores.begin(), scores.end());
    const double median = std::floor(scores[scores.size() / 2] * 100) / 100;
    window->M_score->setValue(median);
    const int byScore = check(median, 0, 3, -1);
    QVERIFY(byScore > 0 && byScore < grid->count());
    window->M_dim_min->setValue(1.6);
    window->M_dim_max->setValue(1.8);
    QVERIFY(check(median, 1.6, 1.8, -1) >= 0);
    window->M_score->setValue(0);
    window->M_dim_min->setValue(0);
    window->M_dim_max->setValue(3);
    window->C_afficher->setCurrentIndex(1 + static_cast<int>(AttractorKind::Lorenz));
    QCOMPARE(check(0, 0, 3, static_cast<int>(AttractorKind::Lorenz)), 0);
    window->C_afficher->setCurrentIndex(0);
    QCOMPARE(check(0, 0, 3, -1), grid->count());
}

void DiscoveryTest::moreLikeThisPutsNeighboursBesideTheFind() {
    TForm_discover* window = main_->discoveryWindow();
    QListWidget* grid = window->grid();
    window->setSortKey(TForm_discover::SortOrder);
    QListWidgetItem* origin = grid->item(1);
    const qlonglong group = origin->data(D::RoleOrder).toLongLong();
    const int before = grid->count();
    QSignalSpy finished(window, &TForm_discover::searchFinished);
    window->setSeed(kNearSeed);
    QVERIFY(window->moreLikeThis(origin));
    QVERIFY(window->running());
    QVERIFY(waitUntil([&] { return !finished.isEmpty(); }, 120000,  // ends by itself
                      "the search near the second find to end by itself",
                      [&] {
                          return QStringLiteral("%1 neighbours of %2; ")
                                     .arg(grid->count() - before)
                                     .arg(TForm_discover::kNearFinds) +
                                 searchSeen(window);
                      }));
    QCOMPARE(finished.count(), 1);
    QVERIFY(!window->running());
    QCOMPARE(grid->count(), before + TForm_discover::kNearFinds);
    // In find order the neighbours follow the find, all of its kind.
    const int at = grid->row(origin);
    for (int i = 1; i <= TForm_discover::kNearFinds; ++i) {
        QListWidgetItem* item = grid->item(at + i);
        QCOMPARE(item->data(D::RoleGroup).toLongLong(), group);
        QCOMPARE(item->data(D::RoleKind).toInt(), origin->data(D::RoleKind).toInt());
        QVERIFY(item->data(D::RoleFile).toString() != origin->data(D::RoleFile).toString());
    }
    if (const QString shots = qEnvironmentVariable("QM_SCREENSHOTS"); !shots.isEmpty()) {
        grid->setCurrentItem(origin);
        grid->scrollToItem(origin, QAbstractItemView::PositionAtTop);
        QTest::qWait(200);
        window->grab().save(shots + QStringLiteral("/discovery-more.png"));
    }
    QVERIFY(at + TForm_discover::kNearFinds + 1 == grid->count() ||
            grid->item(at + TForm_discover::kNearFinds + 1)->data(D::RoleGroup).toLongLong() !=
                group);
}

void DiscoveryTest::starsAreKeptInTheFavouritesFolder() {
    TForm_discover* window = main_->discoveryWindow();
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.filePath(QStringLiteral("favourites")).toStdString();
    window->setFavouritesFolder(folder);
    QCOMPARE(window->favouritesGrid()->count(), 0);
    QListWidget* grid = window->grid();
    window->setSortKey(TForm_discover::SortScore);
    QListWidgetItem* best = grid->item(0);
    QVERIFY(window->star(best));
    QVERIFY(best->data(D::RoleStarred).toBool());
    QVERIFY(!window->star(best));  // once is enough
    QVERIFY(std::filesystem::exists(folder / "0001.qmscene"));
    QVERIFY(std::filesystem::exists(folder / "0001.png"));
    QCOMPARE(QImage(QString::fromStdString((folder / "0001.png").string()))
                 .text(QStringLiteral("quillmere-scene")),
             best->data(D::RoleScene).toString());
    QCOMPARE(window->favouritesGrid()->count(), 1);

    // A folder that cannot be made: a message, and the find stays as it was, unstarred.
    QFile blocker(dir.filePath(QStringLiteral("file")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    window->setFavouritesFolder(dir.filePath(QStringLiteral("file/favourites")).toStdString());
    QListWidgetItem* second = grid->item(1);
    const int count = grid->count();
    QVERIFY(!window->star(second));
    QCOMPARE(program_.messages.size(), 1);
    QVERIFY(program_.takeMessages().contains(QStringLiteral("file/favourites")));
    QVERIFY(!second->data(D::RoleStarred).toBool());
    QCOMPARE(grid->count(), count);

    // The folder lists its favourites again (as on the next start); one opens as its scene:
    // the thumbnail's mode and framing.
    window->setFavouritesFolder(folder);
    QCOMPARE(window->favouritesGrid()->count(), 1);
    grid->setCurrentItem(grid->item(2));
    QVERIFY(window->A_favori->isEnabled());
    window->A_favori->trigger();  // Ctrl+D, and the grid's context menu
    QVERIFY(grid->item(2)->data(D::RoleStarred).toBool());
    QVERIFY(!window->A_favori->isEnabled());
    QCOMPARE(window->favouritesGrid()->count(), 2);
    QVERIFY(std::filesystem::exists(folder / "0002.qmscene"));
    if (const QString shots = qEnvironmentVariable("QM_SCREENSHOTS"); !shots.isEmpty()) {
        window->tabs()->setCurrentIndex(TForm_discover::TabFavourites);
        QTest::qWait(200);
        window->grab().save(shots + QStringLiteral("/discovery-favourites.png"));
    }
    const int documents = main_->documents().size();
    emit window->favouritesGrid()->itemActivated(window->favouritesGrid()->item(0));
    QCOMPARE(main_->documents().size(), documents + 1);
    TForm_view* view = main_->activeDocument();
    QCOMPARE(view->renderTarget()->mode, window->thumbnailMode());
    QCOMPARE(view->renderTarget()->imageWidth, 640);
}

// Parameter files in the folder (older favourites, or files the user put there) are
// favourites too; one without its thumbnail is listed at once and drawn, scored and measured
// on the renderer thread, and nothing is written into the folder.
void DiscoveryTest::favouritesWithoutThumbnailsAreDrawnAndMeasuredAside() {
    TForm_discover* window = main_->discoveryWindow();
    QTemporaryDir dir;
    const std::filesystem::path folder = dir.path().toStdString();
    const std::filesystem::path examples = QM_DATA_DIR "/examples";
    std::filesystem::copy_file(examples / "lorenz.qmattr", folder / "0003.qmattr");
    std::filesystem::copy_file(examples / "icon.qmattr", folder / "0004.qmattr");
    {
        LoadResult icon = loadAttractor(*makeAttractorParser(), examples / "icon.qmattr");
        QVERIFY(icon);
        RenderScene scene;
        scene.mode = 0;
        QVERIFY(saveScene(folder / "0004.qmscene", *icon.attractor, scene));  // hides 0004.qmattr
    }
    QFile junk(QString::fromStdString((folder / "0006.qmattr").string()));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write("not a parameter file\n");
    junk.close();

    window->setFavouritesFolder(folder);
    QListWidget* favourites = window->favouritesGrid();
    QCOMPARE(favourites->count(), 3);  // listed before anything is drawn
    QVERIFY(!favourites->item(0)->data(D::RoleScore).isValid());
    const auto scored = [favourites] {
        int n = 0;
        for (int i = 0; i < favourites->count(); ++i)
            n += favourites->item(i)->data(D::RoleScore).isValid();
        return n;
    };
    const auto favouritesSeen = [&] {
        return QStringLiteral("%1 favourites listed, %2 scored")
            .arg(favourites->count())
            .arg(scored());
    };
    QVERIFY(waitUntil([&] { return favourites->count() == 2 && scored() == 2; }, 60000,
                      "the junk to go and both favourites to be scored", favouritesSeen));
    QCOMPARE(favourites->item(0)->data(D::RoleKind).toInt(), 3);  // 0003.qmattr, Lorenz
    QCOMPARE(favourites->item(1)->data(D::RoleKind).toInt(), 0);  // 0004.qmscene, Icon
    for (int i = 0; i < 2; ++i) {
        QListWidgetItem* item = favourites->item(i);
        QVERIFY(item->data(D::RoleScore).toDouble() > 0);
        QVERIFY(item->data(D::RoleLyapunov).toDouble() > 0);
        QVERIFY(item->data(D::RoleDimension).toDouble() > 1);
        QVERIFY2(item->text().contains(QStringLiteral("L ")), qPrintable(item->text()));
    }
    QVERIFY(favourites->item(0)->text().startsWith(QStringLiteral("0003")));
    for (const char* png : {"0003.png", "0004.png", "0006.png"})
        QVERIFY2(!std::filesystem::exists(folder / png), png);
    if (const QString shots = qEnvironmentVariable("QM_SCREENSHOTS"); !shots.isEmpty()) {
        window->tabs()->setCurrentIndex(TForm_discover::TabFavourites);
        QTest::qWait(200);
        window->grab().save(shots + QStringLiteral("/discovery-favourites-files.png"));
    }

    // Asked, the thumbnail goes into the folder, and the next listing reads it from there.
    favourites->setCurrentItem(favourites->item(0));
    QVERIFY(window->A_vignette->isEnabled());
    window->A_vignette->trigger();
    QVERIFY(!window->A_vignette->isEnabled());
    const QImage saved(QString::fromStdString((folder / "0003.png").string()));
    QCOMPARE(saved.text(QStringLiteral("Kind")), QStringLiteral("lorenz"));
    QCOMPARE(saved.text(QStringLiteral("Score")).toDouble(),
             favourites->item(0)->data(D::RoleScore).toDouble());
    QVERIFY(!std::filesystem::exists(folder / "0004.png"));
    window->setFavouritesFolder(folder);
    QVERIFY(favourites->item(0)->data(D::RoleScore).isValid());  // at once, from the file
    QVERIFY(waitUntil([&] { return scored() == 2; }, 60000, "the scene's favourite to be scored",
                      favouritesSeen));

    // A parameter file opens as a document, as "Ouvrir..." opens it.
    const int documents = main_->documents().size();
    emit favourites->itemActivated(favourites->item(0));
    QCOMPARE(main_->documents().size(), documents + 1);
    QCOMPARE(main_->activeDocument()->attractor()->kindCode(), 3);
}

void DiscoveryTest::examplesShowAndOpenAndTheModeRedrawsThem() {
    TForm_discover* window = main_->discoveryWindow();
    QSignalSpy drawn(window, &TForm_discover::thumbnailShown);
    window->tabs()->setCurrentIndex(TForm_discover::TabExamples);
    QListWidget* examples = window->examplesGrid();
    QCOMPARE(examples->count(), 11);  // one per kind, beside the program
    QVERIFY(waitUntil([&] { return drawn.count() >= 11; }, 60000, "the examples' thumbnails",
                      [&] { return QStringLiteral("%1 drawn").arg(drawn.count()); }));
    for (int i = 0; i < examples->count(); ++i)
        QVERIFY(examples->item(i)->data(D::RoleScore).toDouble() > 0.2);

    // Another render mode draws the examples and the finds again in it.
    window->setThumbnailMode(static_cast<int>(RenderMode::Solid));
    auto notSolid = [&] {
        int n = 0;
        for (QListWidget* list : {examples, window->grid()})
            for (int i = 0; i < list->count(); ++i)
                n +=
                    list->item(i)->data(D::RoleMode).toInt() != static_cast<int>(RenderMode::Solid);
        return n;
    };
    QVERIFY(waitUntil([&] { return notSolid() == 0; }, 120000,
                      "the examples and finds drawn again in the new mode",
                      [&] {
                          return QStringLiteral("%1 of %2 thumbnails in another mode")
                              .arg(notSolid())
                              .arg(examples->count() + window->grid()->count());
                      }));
    if (const QString folder = qEnvironmentVariable("QM_SCREENSHOTS"); !folder.isEmpty()) {
        QTest::qWait(200);
        window->grab().save(folder + QStringLiteral("/discovery-examples.png"));
    }

    const int documents = main_->documents().size();
    emit examples->itemActivated(examples->item(3));
    QCOMPARE(main_->documents().size(), documents + 1);
    QCOMPARE(main_->activeDocument()->attractor()->kindCode(),
             examples->item(3)->data(D::RoleKind).toInt());
}

// Beyond its limit (500, 7 here) the grid drops the oldest find that is not starred, at once
// and at each new find; starred finds stay whatever their age.
void DiscoveryTest::theGridKeepsTheLastFindsAndEveryStar() {
    TForm_discover* window = main_->discoveryWindow();
    QListWidget* grid = window->grid();
    const auto orders = [grid](bool starred) {
        QList<qlonglong> found;
        for (int i = 0; i < grid->count(); ++i)
            if (grid->item(i)->data(D::RoleStarred).toBool() == starred)
                found << grid->item(i)->data(D::RoleOrder).toLongLong();
        std::sort(found.begin(), found.end());
        return found;
    };
    QVERIFY(grid->count() >= 8);  // the earlier searches' finds
    QTemporaryDir dir;
    window->setFavouritesFolder(dir.path().toStdString());
    window->setSortKey(TForm_discover::SortOrder);
    QVERIFY(window->star(grid->item(0)));  // the oldest find
    const QList<qlonglong> starred = orders(true);
    const QList<qlonglong> before = orders(false);

    constexpr int kLimit = 7;
    window->setMaxFinds(kLimit);
    QCOMPARE(grid->count(), kLimit);
    QCOMPARE(orders(true), starred);
    const auto kept = kLimit - starred.size();
    QCOMPARE(orders(false), before.mid(before.size() - kept));

    // Lorenz sets come quickly: a dozen more finds, and the limit holds at each.
    const qlonglong last = std::max(starred.back(), before.back());
    int most = 0;
    connect(window, &TForm_discover::findShown,
            [&most](int count) { most = std::max(most, count); });
    window->setKind(static_cast<int>(AttractorKind::Lorenz), 0);
    window->setSeed(kLorenzSeed);
    window->start();
    QVERIFY(waitUntil([&] { return orders(false).back() >= last + 12; }, 120000,
                      "a dozen Lorenz finds",
                      [&] {
                          return QStringLiteral("%1 of them; ").arg(orders(false).back() - last) +
                                 searchSeen(window);
                      }));
    stopAndShow(window);
    QCOMPARE(most, kLimit);
    QCOMPARE(grid->count(), kLimit);
    QCOMPARE(orders(true), starred);
    const QList<qlonglong> newest = orders(false);
    for (int i = 1; i < newest.size(); ++i) QCOMPARE(newest[i], newest[i - 1] + 1);
    QVERIFY(newest.front() > last);
    window->setMaxFinds(TForm_discover::kMaxFinds);
}

// The seed set again, the search finds what it found the first time, in the same order.
void DiscoveryTest::aSeedFindsTheSameSetsAgain() {
    TForm_discover* window = main_->discoveryWindow();
    QListWidget* grid = window->grid();
    QCOMPARE(firstDozen_.size(), 12);
    window->setSortKey(TForm_discover::SortOrder);
    const qlonglong from = grid->item(grid->count() - 1)->data(D::RoleOrder).toLongLong() + 1;
    window->setKind(static_cast<int>(AttractorKind::Icon), 0);
    window->setSeed(kIconSeed);
    window->start();
    QVERIFY(waitUntil(
        [&] { return grid->item(grid->count() - 1)->data(D::RoleOrder).toLongLong() >= from + 11; },
        180000, "a dozen finds", [window] { return searchSeen(window); }));
    stopAndShow(window);
    QStringList again;
    for (int i = 0; i < grid->count(); ++i) {
        const qlonglong order = grid->item(i)->data(D::RoleOrder).toLongLong();
        if (order >= from && order < from + 12)
            again << grid->item(i)->data(D::RoleFile).toString();
    }
    QCOMPARE(again, firstDozen_);
}

void DiscoveryTest::closingTheWindowStopsTheSearch() {
    TForm_discover* window = main_->discoveryWindow();
    window->setKind(kAllKinds, 0);
    window->setSeed(kAllKindsSeed);
    window->start();
    QTest::qWait(200);
    QVERIFY(window->close());
    QVERIFY(!window->running());
    QCOMPARE(window->B_start->text(), QStringLiteral("Démarrer"));
}

int main(int argc, char** argv) {
    qm::gui::requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    DiscoveryTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "discovery_test.moc"
