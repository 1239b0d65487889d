// The property palette's widgets driven with the mouse and the keyboard, and a scripted
// session of the two palettes over real documents. With QM_SCREENSHOTS=folder set, both
// palettes are saved as PNG.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <cmath>
#include <fstream>

#include "core/attractor/attractor.h"
#include "core/render/light.h"
#include "core/strings/string_table.h"
#include "gui/attpal.h"
#include "gui/bmppal.h"
#include "gui/main_window.h"
#include "gui/palette_window.h"
#include "gui/property_palette.h"
#include "gui/render_autosave.h"
#include "gui/texts.h"
#include "gui/view.h"
#include "gui_test_support.h"

using namespace qm;
using namespace qm::gui;
using namespace qm::gui::test;

namespace {

QPoint rowPoint(const PropertyPalette& palette, const Property& p, int x) {
    return {x, palette.rowRect(p).center().y()};
}

}  // namespace

class PaletteTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    // One palette on its own.
    void realEditFiltersSeparatorAndSign();
    void pendingEditCommitsOnReturnAndIsDiscardedOnLeaving();
    void disabledRowKeepsTheActiveRow();
    void speedZoneRepeatsUntilRelease();
    void trackBarReleaseCommits();
    void zoneCursorShowsOverAnInactiveRow();

    // The two palettes over documents.
    void palettesFollowTheFirstDocument();
    void autosaveRowIsKeptWithTheSettings();
    void editingAParameterRestartsThePreview();
    void tickedParameterSurvivesTheSearch();
    void kindChangeSetsFullRandomness();
    void ifsRowsAreDividedMapByMapAndJuliaLevelWaits();
    void lightModeLoadsGradientsAndAGradientRendersAgain();
    void emptyColourMapKeepsTheGradient();
    void specialOrOversizedColourMapKeepsTheGradient();
    void renderRowsFollowTheState();
    void imageSizeRowsResizeTheDocument();
    void palettesAreDisabledWhileSearching();
    void closingTheLastDocumentHidesThePalettes();

private:
    PropertyPalette& makePalette(bool autoApply);
    PaletteWindows& palettes() const { return static_cast<PaletteWindows&>(main_->palettes()); }
    PropertyPalette& attractorRows() const { return palettes().attractorPalette().palette(); }
    PropertyPalette& renderRows() const { return palettes().renderPalette().palette(); }
    void clickRow(PropertyPalette& palette, const std::string& name, int x);

    std::unique_ptr<QWidget> host_;
    std::unique_ptr<TMDIform> main_;
    QTemporaryDir folder_;
    QStringList messages_;
    QString nextColorMap_;
};

void PaletteTest::initTestCase() {
    QVERIFY(folder_.isValid());
    setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
        messages_ << text;
        return true;
    });
    PropertyPalette::setColorMapDialogHook([this] { return nextColorMap_; });
}

void PaletteTest::cleanupTestCase() {
    setMessageHook(nullptr);
    PropertyPalette::setColorMapDialogHook(nullptr);
    main_.reset();
    host_.reset();
}

PropertyPalette& PaletteTest::makePalette(bool autoApply) {
    host_ = std::make_unique<QWidget>();
    host_->resize(291, 300);
    auto* palette = new PropertyPalette(host_.get());
    palette->setGeometry(0, 0, 291, 300);
    QFont f = palette->font();
    f.setPixelSize(11);
    palette->setRowFont(f);
    palette->rows().labelWidth = 64;
    palette->rows().setAutoApplyDefault(autoApply);
    host_->show();
    [&] { QVERIFY(activate(host_.get())); }();
    return *palette;
}

void PaletteTest::clickRow(PropertyPalette& palette, const std::string& name, int x) {
    Property* p = palette.rows().find(name);
    QVERIFY2(p, name.c_str());
    QTest::mouseClick(palette.viewport(), Qt::LeftButton, {}, rowPoint(palette, *p, x));
}

// --- One palette ------------------------------------------------------------------------

void PaletteTest::realEditFiltersSeparatorAndSign() {
    PropertyPalette& palette = makePalette(true);
    palette.rows().decimalSeparator.assign(1, ',');
    double value = 1.5;
    palette.rows().addBound("Reel", &value);
    auto* integer = static_cast<LongProperty*>(palette.rows().addByType("Entier", Property::kInt));
    integer->SetValue(-3);

    // A click on the edit of an inactive row activates it and puts the caret there.
    clickRow(palette, "Reel", 70);
    NumPropertyEdit* edit = palette.liveEdit();
    QVERIFY(edit && edit->isVisible() && edit->hasFocus());
    QCOMPARE(edit->text(), QStringLiteral("1,5"));
    QTest::keyClick(edit, Qt::Key_End);
    QTest::keyClick(edit, '.');
    QCOMPARE(edit->text(), QStringLiteral("1,5"));  // one separator only
    edit->clear();
    QTest::keyClick(edit, '.');
    QCOMPARE(edit->text(), QStringLiteral(","));  // a full stop types the separator
    typeInto(edit, QStringLiteral("25"));
    QCOMPARE(value, 0.25);  // auto-apply writes through at once
    QTest::keyClick(edit, 'x');
    QCOMPARE(edit->text(), QStringLiteral(",25"));

    // Nothing goes in front of a sign; a second sign only over a selection.
    clickRow(palette, "Entier", 70);
    edit = palette.liveEdit();
    QCOMPARE(edit->text(), QStringLiteral("-3"));
    edit->setCursorPosition(0);
    QTest::keyClick(edit, '7');
    QTest::keyClick(edit, '+');
    QCOMPARE(edit->text(), QStringLiteral("-3"));
    edit->selectAll();
    QTest::keyClick(edit, '+');
    QCOMPARE(edit->text(), QStringLiteral("+"));
    typeInto(edit, QStringLiteral("42"));
    QCOMPARE(integer->value(), 42);
}

void PaletteTest::pendingEditCommitsOnReturnAndIsDiscardedOnLeaving() {
    PropertyPalette& palette = makePalette(false);
    double value = 2;
    auto* row = palette.rows().addBound("Gamma", &value);
    row->SetMin(0.0001);
    palette.rows().addByType("Autre", Property::kDouble);
    int changes = 0;
    palette.rows().setChangeHandler([&](Property&) { ++changes; });

    clickRow(palette, "Gamma", 70);
    NumPropertyEdit* edit = palette.liveEdit();
    edit->selectAll();
    typeInto(edit, QStringLiteral("-4"));
    // Clamped to the minimum, shown, not yet committed: the label is bold.
    QCOMPARE(row->shown(), 0.0001);
    QVERIFY(row->pending() && palette.liveLabel()->font().bold());
    QCOMPARE(value, 2.0);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(value, 0.0001);
    QVERIFY(!row->pending() && !palette.liveLabel()->font().bold());
    QCOMPARE(changes, 1);

    // Escape discards; scrolling away from a pending row discards too.
    edit->selectAll();
    typeInto(edit, QStringLiteral("3"));
    QTest::keyClick(edit, Qt::Key_Escape);
    QVERIFY(!row->pending());
    QCOMPARE(row->shown(), 0.0001);
    typeInto(edit, QStringLiteral("9"));
    QVERIFY(row->pending());
    palette.verticalScrollBar()->setRange(0, 50);
    palette.verticalScrollBar()->setValue(10);
    QVERIFY(!row->active() && !row->pending());
    QCOMPARE(row->shown(), 0.0001);
    QCOMPARE(value, 0.0001);
    QCOMPARE(changes, 1);
    palette.verticalScrollBar()->setValue(0);

    // Up and Down move the active row.
    clickRow(palette, "Autre", 70);
    QTest::keyClick(palette.liveEdit(), Qt::Key_Up);
    QCOMPARE(palette.rows().activeIndex(), 0);
    QTest::keyClick(palette.liveEdit(), Qt::Key_Down);
    QCOMPARE(palette.rows().activeIndex(), 1);
}

void PaletteTest::disabledRowKeepsTheActiveRow() {
    PropertyPalette& palette = makePalette(true);
    palette.rows().addByType("Un", Property::kInt);
    palette.rows().addByType("Deux", Property::kInt)->SetEnabled(false);
    clickRow(palette, "Un", 20);
    QCOMPARE(palette.rows().activeIndex(), 0);
    clickRow(palette, "Deux", 20);
    QCOMPARE(palette.rows().activeIndex(), 0);
    QVERIFY(palette.rows().at(0)->active());

    palette.rows().Clear();
    QCOMPARE(palette.rows().count(), 0);
    QCOMPARE(palette.rows().totalHeight(), 0);
    QTest::qWait(0);  // the widgets go with the next event round
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(palette.liveWidgetCount(), 0);
}

void PaletteTest::speedZoneRepeatsUntilRelease() {
    PropertyPalette& palette = makePalette(true);
    double value = 0.5;
    auto* row = palette.rows().addBound("A", &value, Property::kTrackBar | Property::kSpeedZones);
    row->SetSliderMin(0);
    row->SetSliderMax(1);
    clickRow(palette, "A", 20);
    NumPropertyTrackBar* bar = palette.liveTrackBar();
    QVERIFY(bar && bar->isVisible());
    const QRect thumb = bar->thumbRect();
    const QPoint zone(thumb.left() - 10, thumb.center().y());

    QTest::mousePress(bar, Qt::LeftButton, {}, zone);
    QVERIFY(std::abs(value - 0.49) < 1e-12);  // 10 pixels: 0.01 at once
    QVERIFY(palette.repeating());
    QTRY_VERIFY(value < 0.475);  // and 0.01 every 100 ms
    QTest::mouseRelease(bar, Qt::LeftButton, {}, zone);
    QVERIFY(!palette.repeating());
    const double released = value;
    QTest::qWait(250);
    QCOMPARE(value, released);
}

void PaletteTest::trackBarReleaseCommits() {
    PropertyPalette& palette = makePalette(false);
    double value = 2;
    auto* row = palette.rows().addBound("Luminosite", &value, Property::kTrackBar);
    row->SetSliderMin(1);
    row->SetSliderMax(10);
    clickRow(palette, "Luminosite", 20);
    NumPropertyTrackBar* bar = palette.liveTrackBar();
    const QPoint far(bar->width() - 2, bar->height() / 2);
    QTest::mousePress(bar, Qt::LeftButton, {}, bar->thumbRect().center());
    QTest::mouseMove(bar, far);
    QVERIFY(row->shown() > 9);
    QTest::mouseRelease(bar, Qt::LeftButton, {}, far);
    QVERIFY(!row->pending());
    QCOMPARE(value, row->shown());
}

void PaletteTest::zoneCursorShowsOverAnInactiveRow() {
    PropertyPalette& palette = makePalette(true);
    double value = 0.5;
    auto* row = palette.rows().addBound("A", &value, Property::kTrackBar | Property::kSpeedZones);
    row->SetSliderMin(0);
    row->SetSliderMax(1);
    palette.rows().addByType("B", Property::kInt);
    clickRow(palette, "B", 20);
    QTest::qWait(50);  // painted: the inactive row knows where its thumb is
    const PropertyRect& t = row->thumbRect;
    QTest::mouseMove(palette.viewport(), QPoint(t.right + 16, (t.top + t.bottom) / 2));
    QTest::qWait(20);
    QCOMPARE(palette.viewport()->cursor().pixmap().cacheKey(),
             speedZoneCursor(105).pixmap().cacheKey());
    QVERIFY(!row->active());
    QTest::mouseMove(palette.viewport(), QPoint(5, (t.top + t.bottom) / 2));
    QTest::qWait(20);
    QCOMPARE(palette.viewport()->cursor().shape(), Qt::ArrowCursor);
}

// --- The two palettes over documents ----------------------------------------------------

void PaletteTest::palettesFollowTheFirstDocument() {
    host_.reset();
    main_ = std::make_unique<TMDIform>();
    main_->setProgramFolder(QM_DATA_DIR);
    main_->resize(900, 700);
    main_->show();
    QVERIFY(activate(main_.get()));
    main_->defaults().kind = 3;  // Lorenz
    TForm_view* view = main_->newDocument();
    QVERIFY(view);
    QVERIFY(dynamic_cast<PaletteWindows*>(&main_->palettes()));
    TForm_attpal& att = palettes().attractorPalette();
    TForm_bmppal& bmp = palettes().renderPalette();
    QVERIFY(att.isVisible() && bmp.isVisible());
    QCOMPARE(att.windowTitle(), QStringLiteral("attracteur"));
    QCOMPARE(bmp.windowTitle(), QStringLiteral("vue"));

    // Lorenz: "Itérations", "Hasard" (with its separator) and the four coefficients.
    PropertySet& rows = attractorRows().rows();
    QCOMPARE(rows.count(), 6);
    QCOMPARE(rows.at(0)->caption(), std::string("Itérations"));
    // A total within the 1000-iteration transient would plot nothing.
    QCOMPARE(static_cast<DoubleProperty*>(rows.at(0))->min(), 1001.0);
    QCOMPARE(rows.at(1)->caption(), std::string("Hasard"));
    const int base = rows.at(0)->rowHeight();
    QCOMPARE(rows.totalHeight(), 6 * base + 3);
    QCOMPARE(att.height(), rows.totalHeight() + PaletteWindow::kTopHeight + 4);
    QVERIFY(!att.UD_option->isVisible());
    QCOMPARE(att.C_type->currentIndex(), 3);

    // The render palette in "Gaz": size, updates, threads, streams, autosave, scale, then the
    // mode's two rows.
    PropertySet& render = renderRows().rows();
    QStringList captions;
    for (int i = 0; i < render.count(); ++i)
        captions << QString::fromStdString(render.at(i)->caption());
    QCOMPARE(captions, (QStringList{"Largeur", "Hauteur", "Mises à jour", "Fils de calcul", "Flux",
                                    "Sauvegarde auto (min)", "Echelle", "Luminosité", "Gamma"}));
    QCOMPARE(bmp.C_render->currentText(), QStringLiteral("Gaz"));
    QCOMPARE(bmp.updateCount(), 10);
}

void PaletteTest::autosaveRowIsKeptWithTheSettings() {
    // The user's own setting comes back at the end.
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillmere"),
                       QStringLiteral("Quillmere"));
    const QString key = QStringLiteral("Render/autosave_minutes");
    const QVariant before = settings.value(key);
    auto restore = qScopeGuard([&] {
        QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quillmere"),
                    QStringLiteral("Quillmere"));
        if (before.isValid())
            s.setValue(key, before);
        else
            s.remove(key);
        main_->setAutosaveSeconds(storedAutosaveSeconds());
    });
    for (const auto& [typed, minutes] : {std::pair{"12", 12}, std::pair{"0", 0}}) {
        clickRow(renderRows(), "Sauvegarde auto (min)", 70);
        NumPropertyEdit* edit = renderRows().liveEdit();
        QVERIFY(edit);
        edit->selectAll();
        typeInto(edit, QString::fromLatin1(typed));
        QTest::keyClick(edit, Qt::Key_Return);
        // The next render takes it, and so does the next start of the program.
        QCOMPARE(main_->autosaveSeconds(), minutes * 60.0);
        QCOMPARE(storedAutosaveSeconds(), minutes * 60.0);
    }
}

void PaletteTest::editingAParameterRestartsThePreview() {
    // The classic coefficients, which stay chaotic under a small change.
    TForm_view* view = main_->activeDocument();
    QVERIFY(view->loadAttractor(QStringLiteral(QM_DATA_DIR "/examples/lorenz.qmattr")));
    view->adjustView(Adjust::Fit);
    QCOMPARE(view->state(), kStateRendered);
    ParamEntry* a = view->attractor()->params().findParam("A");
    QVERIFY(a);
    QCOMPARE(static_cast<DoubleProperty*>(attractorRows().rows().find("A"))->value(), a->get());

    // Type a new value: applied at once, and the preview starts over.
    clickRow(attractorRows(), "A", 70);
    NumPropertyEdit* edit = attractorRows().liveEdit();
    QVERIFY(edit && edit->isVisible());
    const QString changed = QString::number(a->get() + 0.5);
    edit->selectAll();
    typeInto(edit, changed);
    QCOMPARE(a->get(), changed.toDouble());
    QCOMPARE(view->state(), kStatePreview);
    shoot(&palettes().attractorPalette(), QStringLiteral("attractor-palette-editing"));

    // The document's shortcuts work from the palette: F3 searches.
    QTest::keyClick(edit, Qt::Key_F3);
    QTRY_COMPARE_WITH_TIMEOUT(view->state(), kStateRendered, 60000);
}

void PaletteTest::tickedParameterSurvivesTheSearch() {
    TForm_view* view = main_->activeDocument();
    ParamList& params = view->attractor()->params();
    QVERIFY(params.findParam("B")->randomizable);
    clickRow(attractorRows(), "B", 5);  // the row's check box
    QVERIFY(attractorRows().rows().find("B")->ticked());
    QVERIFY(!params.findParam("B")->randomizable);
    params.findParam("B")->set(28.5);
    params.findParam("C")->set(2.5);
    QVERIFY(searchFound(view));
    QCOMPARE(params.findParam("B")->get(), 28.5);
    QVERIFY(params.findParam("C")->get() != 2.5);
    // The rows show what the search found.
    QCOMPARE(static_cast<DoubleProperty*>(attractorRows().rows().find("C"))->value(),
             params.findParam("C")->get());
    shoot(&palettes().attractorPalette(), QStringLiteral("attractor-palette"));
}

void PaletteTest::kindChangeSetsFullRandomness() {
    TForm_view* view = main_->activeDocument();
    TForm_attpal& att = palettes().attractorPalette();
    static_cast<CharProperty*>(attractorRows().rows().find("Hasard"))->SetValue(40);
    QCOMPARE(view->randomness(), 40);
    att.C_type->setCurrentIndex(9);
    emit att.C_type->activated(9);  // as the user picks it
    QCOMPARE(view->attractor()->kind(), AttractorKind::PolynomialSprott);
    QCOMPARE(view->randomness(), 100);
    QCOMPARE(view->state(), kStateNew);
    QVERIFY(att.UD_option->isVisible());
    QCOMPARE(att.L_option->text(), QStringLiteral("Degré :"));
    QCOMPARE(att.UD_option->maximum(), 5);

    // The degree from the up-down: the rows follow the new parameter count.
    const int before = attractorRows().rows().count();
    att.UD_option->setValue(3);
    QVERIFY(attractorRows().rows().count() > before);
    QCOMPARE(view->attractor()->params().count() + 2, attractorRows().rows().count());
    att.UD_option->stepBy(5);
    QCOMPARE(att.UD_option->value(), 5);

    // Back to Lorenz for what follows.
    att.C_type->setCurrentIndex(3);
    emit att.C_type->activated(3);
    QVERIFY(searchFound(view));
}

void PaletteTest::ifsRowsAreDividedMapByMapAndJuliaLevelWaits() {
    TForm_view* view = main_->activeDocument();
    TForm_attpal& att = palettes().attractorPalette();
    const auto pickKind = [&att](int kind) {
        att.C_type->setCurrentIndex(kind);
        emit att.C_type->activated(kind);
    };

    // An IFS of three maps: a separator under "Hasard" and under each map's probability
    // except the last.
    pickKind(1);
    QCOMPARE(att.L_option->text(), QStringLiteral("Matrices :"));
    att.UD_option->setValue(3);
    const PropertySet& rows = attractorRows().rows();
    QCOMPARE(rows.count(), view->attractor()->params().count() + 2);
    QStringList divided;
    for (int i = 0; i < rows.count(); ++i)
        if (rows.at(i)->separator()) divided << QString::fromStdString(rows.at(i)->caption());
    QCOMPARE(divided.size(), 3);
    QCOMPARE(divided.first(), QStringLiteral("Hasard"));
    for (int i = 1; i < 3; ++i) QVERIFY(divided[i].endsWith(QStringLiteral("prob.")));
    QVERIFY(!rows.at(rows.count() - 1)->separator());
    QVERIFY(attractorRows().verticalScrollBar()->maximum() >= 0);
    shoot(&att, QStringLiteral("attractor-palette-ifs"));

    // Julia's level is edited in a box and waits for Return; Icon's degree applies at once.
    pickKind(2);
    Property* level = attractorRows().rows().find("Niveau");
    QVERIFY(level && level->hasCheckBox() && !level->hasTrackBar() && !level->autoApply());
    pickKind(0);
    Property* degree = attractorRows().rows().find("Degree");
    QVERIFY(degree && degree->autoApply());

    pickKind(3);
    QVERIFY(searchFound(view));
}

void PaletteTest::lightModeLoadsGradientsAndAGradientRendersAgain() {
    TForm_view* view = main_->activeDocument();
    TForm_bmppal& bmp = palettes().renderPalette();
    bmp.C_render->setCurrentIndex(2);
    emit bmp.C_render->activated(2);
    auto* light = dynamic_cast<TBitmap3D_Light*>(view->renderTarget());
    QVERIFY(light);
    QVERIFY(light->speedGradient.count() > 7);  // speed.map beside the program
    QCOMPARE(view->state(), kStatePreview);
    QVERIFY(renderRows().rows().find("Dégr. Vitesse"));
    QVERIFY(renderRows().rows().find("Dégr. Angle"));

    // Double-click the speed gradient and pick a two-colour map: the preview points are
    // rendered again.
    const QString map = folder_.filePath(QStringLiteral("two.map"));
    std::ofstream(map.toStdString()) << "255 0 0\n0 0 255\n";
    nextColorMap_ = map;
    Property* row = renderRows().rows().find("Dégr. Vitesse");
    clickRow(renderRows(), "Dégr. Vitesse", 100);
    QVERIFY(row->active() && renderRows().liveViewer()->isVisible());
    QTest::mouseDClick(renderRows().liveViewer(), Qt::LeftButton);
    QCOMPARE(light->speedGradient.count(), std::size_t{2});
    QCOMPARE(view->state(), kStateRendered);
    shoot(&bmp, QStringLiteral("render-palette"));
}

void PaletteTest::emptyColourMapKeepsTheGradient() {
    auto* light = dynamic_cast<TBitmap3D_Light*>(main_->activeDocument()->renderTarget());
    QVERIFY(light);
    const Gradientf before = light->angleGradient;
    const QString map = folder_.filePath(QStringLiteral("empty.map"));
    std::ofstream(map.toStdString()) << "0 0 0\nno colour here\n1 2\n";
    nextColorMap_ = map;
    messages_.clear();
    auto* row = static_cast<GradientfProperty*>(renderRows().rows().find("Dégr. Angle"));
    renderRows().loadColorMapInto(*row);
    QCOMPARE(light->angleGradient, before);
    QCOMPARE(messages_.size(), 1);
    QVERIFY(messages_.first().contains(QStringLiteral("empty.map")));

    nextColorMap_ = folder_.filePath(QStringLiteral("missing.map"));
    renderRows().loadColorMapInto(*row);
    QCOMPARE(light->angleGradient, before);
    QCOMPARE(messages_.size(), 2);
}

void PaletteTest::specialOrOversizedColourMapKeepsTheGradient() {
    auto* light = dynamic_cast<TBitmap3D_Light*>(main_->activeDocument()->renderTarget());
    QVERIFY(light);
    const Gradientf before = light->speedGradient;
    const QString pipe = folder_.filePath(QStringLiteral("pipe.map"));
    QCOMPARE(mkfifo(pipe.toLocal8Bit().constData(), 0600), 0);
    const QString many = folder_.filePath(QStringLiteral("many.map"));
    {
        std::ofstream out(many.toStdString());
        for (int i = 0; i < 5000; ++i) out << "1 2 3\n";
    }
    const QString huge = folder_.filePath(QStringLiteral("huge.map"));
    std::ofstream(huge.toStdString()).close();
    QVERIFY(QFile::resize(huge, 100 << 20));
    auto* row = static_cast<GradientfProperty*>(renderRows().rows().find("Dégr. Vitesse"));
    QVERIFY(row);
    // Each refused at once (a pipe without a writer or /dev/zero would hang a plain reader),
    // with its own reason, and the gradient kept.
    const std::pair<QString, int> cases[] = {
        {pipe, TextId::kColorMapNotRegular},
        {QStringLiteral("/dev/zero"), TextId::kColorMapNotRegular},
        {many, TextId::kColorMapTooManyColors},
        {huge, TextId::kColorMapTooLarge}};
    for (const auto& [file, reason] : cases) {
        nextColorMap_ = file;
        messages_.clear();
        renderRows().loadColorMapInto(*row);
        QCOMPARE(light->speedGradient, before);
        QCOMPARE(messages_, QStringList{fillText(qtext(reason), {file})});
    }
}

void PaletteTest::renderRowsFollowTheState() {
    TForm_view* view = main_->activeDocument();
    PropertySet& rows = renderRows().rows();
    view->adjustView(Adjust::Fit);
    QCOMPARE(view->state(), kStateRendered);
    QVERIFY(rows.find("Luminosité")->enabled() && rows.find("Gamma")->enabled() &&
            rows.find("Echelle")->enabled());

    // The scale applies at once and turns the document to the live preview, where the image
    // rows have nothing to act on.
    auto* scale = static_cast<DoubleProperty*>(rows.find("Echelle"));
    scale->EditorChanged(view->renderTarget()->scale * 2, nullptr);
    QCOMPARE(view->state(), kStatePreview);
    QVERIFY(!rows.find("Luminosité")->enabled() && !rows.find("Gamma")->enabled());
    QVERIFY(rows.find("Echelle")->enabled());
    shoot(&palettes().renderPalette(), QStringLiteral("render-palette-preview"));

    // "Mises à jour" waits for Return; switching documents starts it again at 10.
    clickRow(renderRows(), "Mises à jour", 70);
    NumPropertyEdit* edit = renderRows().liveEdit();
    edit->selectAll();
    typeInto(edit, QStringLiteral("250"));
    QCOMPARE(edit->text(), QStringLiteral("250"));
    QCOMPARE(palettes().updateCount(), 10);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(palettes().updateCount(), 100);  // clamped to the maximum
    TForm_view* other = main_->newDocument();
    QVERIFY(other);
    QCOMPARE(palettes().updateCount(), 10);
    QVERIFY(!renderRows().rows().find("Echelle")->enabled());  // state 0: nothing sampled
    QVERIFY(documentWindow(other)->close());
    QTRY_COMPARE(main_->activeDocument(), view);
}

void PaletteTest::imageSizeRowsResizeTheDocument() {
    TForm_view* view = main_->activeDocument();
    view->adjustView(Adjust::Fit);
    const Mat4 camera = view->renderTarget()->viewMatrix;
    clickRow(renderRows(), "Largeur", 70);
    NumPropertyComboBox* combo = renderRows().liveCombo();
    QVERIFY(combo && combo->isVisible() && combo->isEditable());
    QCOMPARE(combo->count(), 5);
    combo->setCurrentIndex(0);
    emit combo->activated(0);  // 320 picked from the list: applied at once
    QCOMPARE(view->renderTarget()->imageWidth, 320);
    QCOMPARE(view->size(), QSize(320, 480));
    QCOMPARE(view->renderTarget()->viewMatrix, camera);
    QCOMPARE(view->state(), kStatePreview);
    shoot(main_.get(), QStringLiteral("resized"));

    // Typed sizes wait for Return, are clamped like every other row, and widths fall to a
    // multiple of 4.
    combo->lineEdit()->selectAll();
    typeInto(combo->lineEdit(), QStringLiteral("99999"));
    QVERIFY(renderRows().rows().find("Largeur")->pending());
    QCOMPARE(view->renderTarget()->imageWidth, 320);
    QTest::keyClick(combo, Qt::Key_Return);
    QCOMPARE(view->renderTarget()->imageWidth, 16384);
    combo->lineEdit()->selectAll();
    typeInto(combo->lineEdit(), QStringLiteral("642"));
    QTest::keyClick(combo, Qt::Key_Return);
    QCOMPARE(view->renderTarget()->imageWidth, 640);
    QCOMPARE(static_cast<LongProperty*>(renderRows().rows().find("Largeur"))->value(), 640);
}

void PaletteTest::palettesAreDisabledWhileSearching() {
    TForm_view* view = main_->activeDocument();
    bool disabledDuringSearch = false;
    QTimer::singleShot(0, [&] {
        disabledDuringSearch = !attractorRows().rows().enabled() &&
                               !renderRows().rows().enabled() &&
                               !palettes().attractorPalette().C_type->isEnabled() &&
                               !palettes().renderPalette().C_render->isEnabled();
        view->A_arreter_rch->trigger();
    });
    // Every coefficient held, at a point without chaos: the trials fail until stopped.
    ParamList& params = view->attractor()->params();
    for (ParamEntry& entry : params) entry.randomizable = false;
    params.findParam("B")->set(0.5);
    view->A_rechercher->trigger();
    QTRY_VERIFY(disabledDuringSearch);
    QTRY_VERIFY(attractorRows().rows().enabled() && renderRows().rows().enabled());
}

void PaletteTest::closingTheLastDocumentHidesThePalettes() {
    for (TForm_view* view : main_->documents()) QVERIFY(documentWindow(view)->close());
    QCOMPARE(main_->openDocumentCount(), 0);
    QVERIFY(!palettes().attractorPalette().isVisible() && !palettes().renderPalette().isVisible());
    QCOMPARE(attractorRows().rows().count(), 0);
    QCOMPARE(renderRows().rows().count(), 0);
}

QTEST_MAIN(PaletteTest)
#include "palette_test.moc"
