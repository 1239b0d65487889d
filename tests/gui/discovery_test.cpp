// The discovery window: opened with F7 for the active document's kind, it fills its grid from
// a search on worker threads, sorts, and opens a find in a new document ready to render.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/attractor/attractor.h"
#include "core/discover/lane_search.h"
#include "gui/discovery_window.h"
#include "gui/main_window.h"
#include "gui/preview_widget.h"
#include "gui/view.h"

using namespace qm;
using namespace qm::gui;

class DiscoveryTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        main_ = std::make_unique<TMDIform>();
        main_->setProgramFolder(QM_DATA_DIR);
        main_->resize(1000, 700);
        main_->show();
        main_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main_.get()));
    }
    void cleanupTestCase() { main_.reset(); }

    void findsFillTheGridSortAndOpenInADocument();
    void closingTheWindowStopsTheSearch();

private:
    std::unique_ptr<TMDIform> main_;
};

void DiscoveryTest::findsFillTheGridSortAndOpenInADocument() {
    main_->defaults().kind = 0;  // Icon
    TForm_view* first = main_->newDocument();
    QVERIFY(first);
    main_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(main_.get()));
    QTest::keyClick(main_.get(), Qt::Key_F7);
    TForm_discover* window = main_->discoveryWindow();
    QTRY_VERIFY(window->isVisible());
    QCOMPARE(window->C_type->currentIndex(), 1);  // after "toutes"

    // The interface thread stays free while the search runs: a timer keeps firing.
    int ticks = 0;
    QTimer tick;
    connect(&tick, &QTimer::timeout, [&] { ++ticks; });
    tick.start(10);
    window->B_start->click();
    QVERIFY(window->running());
    QTRY_VERIFY_WITH_TIMEOUT(window->grid()->count() >= 12, 180000);
    window->B_start->click();
    QVERIFY(!window->running());
    QVERIFY(ticks > 0);
    const int shown = window->grid()->count();

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

    // Return on the best find opens it, fitted, in a new document that renders.
    window->setSortKey(TForm_discover::SortScore);
    const int documents = main_->documents().size();
    window->grid()->setCurrentRow(0);
    emit window->grid()->itemActivated(window->grid()->item(0));
    QCOMPARE(main_->documents().size(), documents + 1);
    TForm_view* view = main_->activeDocument();
    QVERIFY(view && view != first);
    QCOMPARE(view->attractor()->kind(), AttractorKind::Icon);
    QCOMPARE(view->state(), kStateRendered);
    view->setTotalIterations(300000);
    QSignalSpy completed(view, &TForm_view::renderCompleted);
    view->A_demarrer->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(completed.count(), 1, 60000);
    QVERIFY(!view->attractor()->diverged());
}

void DiscoveryTest::closingTheWindowStopsTheSearch() {
    TForm_discover* window = main_->discoveryWindow();
    window->setKind(kAllKinds, 0);
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
