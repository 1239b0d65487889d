// What a screen reader learns of the program through Qt's accessibility interfaces: every row
// of both palettes with its label, value and role, the row check boxes, the status bar and the
// document captions; and the tooltips of the painted rows.
#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMdiSubWindow>
#include <QProgressBar>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

#include "core/attractor/attractor.h"
#include "core/strings/string_table.h"
#include "gui/attpal.h"
#include "gui/bmppal.h"
#include "gui/language.h"
#include "gui/main_window.h"
#include "gui/palette_window.h"
#include "gui/preview_widget.h"
#include "gui/property_palette.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;
using namespace qm::gui::test;

class AccessibilityTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyRowReportsItsLabelValueAndRole();
    void rowsCanBeSetAndTickedThroughTheInterfaces();
    void statusBarAndCaptionsHaveNamesAndValues();
    void paintedRowsShowTooltips();

private:
    PaletteWindows& palettes() const { return static_cast<PaletteWindows&>(main_->palettes()); }
    // The rows of a palette as a screen reader lists them.
    QAccessibleInterface* rowsOf(PaletteWindow& window) const {
        return QAccessible::queryAccessibleInterface(&window.palette());
    }
    void checkRows(PaletteWindow& window);

    std::unique_ptr<TMDIform> main_;
    QStringList messages_;
};

void AccessibilityTest::initTestCase() {
    setUpApplicationNames(QStringLiteral("0.2.1"));
    setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
        messages_ << text;
        return true;
    });
    strings().clearOverrides();
    main_ = std::make_unique<TMDIform>();
    main_->setProgramFolder(QM_DATA_DIR);
    main_->setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    main_->show();
    QVERIFY(QTest::qWaitForWindowExposed(main_.get()));
    main_->defaults().kind = 0;  // Icon: "Degree" and five real parameters
    main_->defaults().mode = 4;  // Solide
    QVERIFY(main_->newDocument());
}

void AccessibilityTest::cleanupTestCase() {
    main_.reset();
    setMessageHook(nullptr);
}

void AccessibilityTest::checkRows(PaletteWindow& window) {
    QAccessibleInterface* list = rowsOf(window);
    QVERIFY(list);
    QCOMPARE(list->role(), QAccessible::List);
    QCOMPARE(list->text(QAccessible::Name), window.windowTitle());
    const PropertySet& rows = window.palette().rows();
    QVERIFY(rows.count() > 0);
    QCOMPARE(list->childCount(), rows.count());
    for (int i = 0; i < rows.count(); ++i) {
        Property* p = rows.at(i);
        QAccessibleInterface* row = list->child(i);
        QVERIFY(row && row->isValid());
        QCOMPARE(list->indexOfChild(row), i);
        QCOMPARE(row->parent(), list);
        QCOMPARE(row->text(QAccessible::Name), QString::fromStdString(p->caption()));
        // The rows of this program's settings explain themselves (rows added by later
        // features bring their own texts).
        static const QStringList described = [] {
            QStringList names;
            for (int id : {TextId::kIterations, TextId::kRandomness, TextId::kImageWidth,
                           TextId::kImageHeight, TextId::kUpdateCount, TextId::kScale,
                           TextId::kLuminosity, TextId::kGamma, TextId::kOpacity,
                           TextId::kRoughness, TextId::kSpeedGradient, TextId::kAngleGradient})
                names << qtext(id);
            return names;
        }();
        if (described.contains(QString::fromStdString(p->caption())) || p->tag == 1)
            QVERIFY2(!row->text(QAccessible::Description).isEmpty(), p->caption().c_str());
        QVERIFY(row->rect().isValid());
        if (auto* n = dynamic_cast<NumPropertyBase*>(p)) {
            // The value is the text the row shows.
            QCOMPARE(row->text(QAccessible::Value), window.palette().shownText(*n));
            QVERIFY(!row->text(QAccessible::Value).isEmpty());
            const QAccessible::Role expected = n->enumerated()    ? QAccessible::ComboBox
                                               : n->hasTrackBar() ? QAccessible::Slider
                                                                  : QAccessible::EditableText;
            QCOMPARE(row->role(), expected);
            QAccessibleValueInterface* value = row->valueInterface();
            QVERIFY(value);
            QCOMPARE(value->currentValue().toDouble(), static_cast<double>(n->shownValue()));
        } else {
            QCOMPARE(row->role(), QAccessible::Graphic);
        }
        QCOMPARE(row->childCount(), p->hasCheckBox() ? 1 : 0);
        if (p->hasCheckBox()) {
            QAccessibleInterface* check = row->child(0);
            QCOMPARE(check->role(), QAccessible::CheckBox);
            QCOMPARE(check->text(QAccessible::Name), QStringLiteral("Fixé pendant la recherche"));
            QCOMPARE(bool(check->state().checked), p->ticked());
            QCOMPARE(row->indexOfChild(check), 0);
        }
    }
}

void AccessibilityTest::everyRowReportsItsLabelValueAndRole() {
    checkRows(palettes().attractorPalette());
    checkRows(palettes().renderPalette());
    // A palette of the light family has its gradients too; an IFS its long list.
    TForm_view* view = main_->activeDocument();
    view->setRenderMode(2);
    view->setAttractorKind(1);
    checkRows(palettes().attractorPalette());
    checkRows(palettes().renderPalette());
    QAccessibleInterface* render = rowsOf(palettes().renderPalette());
    QCOMPARE(render->child(0)->text(QAccessible::Name), QStringLiteral("Largeur"));
    QCOMPARE(render->child(0)->text(QAccessible::Value), QStringLiteral("640"));
    view->setRenderMode(4);
    view->setAttractorKind(0);
}

void AccessibilityTest::rowsCanBeSetAndTickedThroughTheInterfaces() {
    TForm_view* view = main_->activeDocument();
    QAccessibleInterface* list = rowsOf(palettes().attractorPalette());
    // "Itérations" takes a value.
    QAccessibleInterface* iterations = list->child(0);
    QCOMPARE(iterations->text(QAccessible::Name), QStringLiteral("Itérations"));
    iterations->valueInterface()->setCurrentValue(123456);
    QCOMPARE(view->totalIterations(), 123456);
    QCOMPARE(iterations->text(QAccessible::Value), QStringLiteral("123456"));

    // Ticking "Degree" holds it during searches.
    int degreeIndex = -1;
    for (int i = 0; i < list->childCount(); ++i)
        if (list->child(i)->text(QAccessible::Name) == QLatin1String("Degree")) degreeIndex = i;
    QVERIFY(degreeIndex >= 0);
    QAccessibleInterface* check = list->child(degreeIndex)->child(0);
    const bool before = check->state().checked;
    check->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCOMPARE(bool(check->state().checked), !before);
    QCOMPARE(view->attractor()->params().findParam("Degree")->randomizable, before);
    check->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    QCOMPARE(view->attractor()->params().findParam("Degree")->randomizable, !before);

    // While a palette is disabled (searching, rendering), its rows say so and refuse.
    palettes().setPalettesEnabled(false);
    QVERIFY(iterations->state().disabled);
    iterations->valueInterface()->setCurrentValue(5);
    QCOMPARE(view->totalIterations(), 123456);
    palettes().setPalettesEnabled(true);
    view->setTotalIterations(20000000);
    palettes().refreshValues();
}

void AccessibilityTest::statusBarAndCaptionsHaveNamesAndValues() {
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(main_->statusBar());
    QVERIFY(bar);
    QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Barre d'état"));
    QStringList names;
    for (QLabel* panel : main_->statusBar()->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
        QAccessibleInterface* label = QAccessible::queryAccessibleInterface(panel);
        names << label->text(QAccessible::Name);
        if (label->text(QAccessible::Name) == QLatin1String("Vitesse"))
            QCOMPARE(label->text(QAccessible::Description), QStringLiteral("i/s :"));
    }
    QVERIFY(names.contains(QStringLiteral("Vitesse")) && names.contains(QStringLiteral("Temps")));
    auto* progress = main_->statusBar()->findChild<QProgressBar*>();
    QAccessibleInterface* bar2 = QAccessible::queryAccessibleInterface(progress);
    QCOMPARE(bar2->text(QAccessible::Name), QStringLiteral("Progression du rendu"));
    QCOMPARE(bar2->valueInterface()->currentValue().toInt(), 0);

    // The document: its caption, as its frame shows it.
    TForm_view* view = main_->activeDocument();
    QAccessibleInterface* doc = QAccessible::queryAccessibleInterface(view);
    QCOMPARE(doc->text(QAccessible::Name), view->windowTitle());
    QAccessibleInterface* frame = QAccessible::queryAccessibleInterface(documentWindow(view));
    QCOMPARE(frame->text(QAccessible::Name), view->windowTitle());
    QVERIFY(searchFound(view));
    QVERIFY(view->windowTitle().endsWith(QStringLiteral(" (rendu)")));
    QCOMPARE(doc->text(QAccessible::Name), view->windowTitle());
}

void AccessibilityTest::paintedRowsShowTooltips() {
    PropertyPalette& rows = palettes().attractorPalette().palette();
    palettes().attractorPalette().raise();
    QTest::qWait(50);
    const auto tipAt = [&](const QPoint& at) {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, at, rows.viewport()->mapToGlobal(at));
        QApplication::sendEvent(rows.viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    // "Hasard" (row 1) and a parameter row's check box (row 2).
    const QRect hasard = rows.rowRect(*rows.rows().at(1));
    QCOMPARE(tipAt(hasard.center()),
             QStringLiteral("Jusqu'où une recherche peut déplacer les paramètres, en pour cent"));
    const QRect parameter = rows.rowRect(*rows.rows().at(2));
    QCOMPARE(tipAt(QPoint(6, parameter.center().y())), QStringLiteral("Fixé pendant la recherche"));
    QToolTip::hideText();
}

int main(int argc, char** argv) {
    qm::gui::requestPreviewSurfaceFormat();
    QApplication app(argc, argv);
    AccessibilityTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "accessibility_test.moc"
