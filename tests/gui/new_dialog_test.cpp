#include "gui/new_dialog.h"

#include "core/strings/string_table.h"
#include "gui/new_document_defaults.h"
#include "gui/texts.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>

namespace qm::gui {
namespace {

bool operator==(const NewDocumentDefaults& a, const NewDocumentDefaults& b) {
    return a.kind == b.kind && a.width == b.width && a.height == b.height && a.mode == b.mode &&
           a.ifsMaps == b.ifsMaps && a.sprottOrder == b.sprottOrder;
}

// The controls, found by their form names.
struct Controls {
    TForm_new& d;
    QComboBox* type = d.findChild<QComboBox*>("C_att_type");
    QLabel* optionLabel = d.findChild<QLabel*>("L_att_option");
    QSpinBox* option = d.findChild<QSpinBox*>("UD_att_option");
    QLineEdit* optionText = d.findChild<QLineEdit*>("M_att_option");
    QLineEdit* width = d.findChild<QLineEdit*>("M_width");
    QLineEdit* height = d.findChild<QLineEdit*>("M_height");
    QComboBox* render = d.findChild<QComboBox*>("C_render");
    QPushButton* ok = d.findChild<QPushButton*>("B_ok");
    QPushButton* cancel = d.findChild<QPushButton*>("B_cancel");

    bool optionShown() const { return optionLabel->isVisibleTo(&d) && option->isVisibleTo(&d); }
};

void typeInto(QLineEdit* edit, const QString& text) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
}

void pressKey(QWidget* widget, Qt::Key key, int times) {
    for (int i = 0; i < times; ++i) QTest::keyClick(widget, key);
}

}  // namespace

class NewDialogTest : public QObject {
    Q_OBJECT

private:
    QStringList messages_;

private slots:
    void init() {
        messages_.clear();
        setMessageHook([this](QMessageBox::Icon, const QString&, const QString& text) {
            messages_ << text;
            return true;
        });
    }
    void cleanup() { setMessageHook({}); }

    void opensOnTheDefaultsWithFocusOnTheKind() {
        NewDocumentDefaults defaults{9, 800, 600, 3, 4, 4};
        TForm_new dialog(defaults);
        const Controls c{dialog};
        QCOMPARE(c.type->count(), 11);
        QCOMPARE(c.render->count(), 5);
        QCOMPARE(c.type->currentIndex(), 9);
        QVERIFY(c.optionShown());
        QCOMPARE(c.optionText->text(), QString("4"));
        QCOMPARE(c.width->text(), QString("800"));
        QCOMPARE(c.height->text(), QString("600"));
        QCOMPARE(c.render->currentIndex(), 3);
        // The form's size holds the whole layout in the default interface font.
        QCOMPARE(dialog.size(), QSize(305, 181));

        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        QCOMPARE(QApplication::focusWidget(), c.type);
    }

    // The option row belongs to two kinds, each with its own remembered value and range; the
    // arrows stop at the ends and the field takes no typing.
    void optionRowFollowsTheKind() {
        NewDocumentDefaults defaults;
        {
            TForm_new dialog(defaults);
            const Controls c{dialog};
            QVERIFY(!c.optionShown());
            QTest::keyClick(c.type, Qt::Key_Down);  // Icon -> IFS
            QVERIFY(c.optionShown());
            QCOMPARE(c.optionLabel->text(), QString("Matrices :"));
            QCOMPARE(c.option->value(), 4);
            pressKey(c.option, Qt::Key_Up, 9);
            QCOMPARE(c.optionText->text(), QString("8"));
            QTest::keyClick(c.type, Qt::Key_Down);  // Julia
            QVERIFY(!c.optionShown());
            QTest::keyClick(c.type, Qt::Key_Up);  // IFS again, at the value the defaults hold
            QCOMPARE(c.option->value(), 4);
            pressKey(c.option, Qt::Key_Up, 2);
            QTest::keyClicks(c.option, "7");
            QCOMPARE(c.option->value(), 6);
            QTest::mouseClick(c.ok, Qt::LeftButton);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(int(defaults.kind), 1);
        QCOMPARE(int(defaults.ifsMaps), 6);

        TForm_new dialog(defaults);
        const Controls c{dialog};
        QCOMPARE(c.option->value(), 6);
        c.type->setCurrentIndex(9);
        QCOMPARE(c.optionLabel->text(), QString("Degré :"));
        QCOMPARE(c.option->value(), 2);
        pressKey(c.option, Qt::Key_Up, 4);
        QCOMPARE(c.option->value(), 5);
    }

    void cancelKeepsTheDefaults_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::addRow("Annuler button") << false;
        QTest::addRow("Escape key") << true;
    }
    void cancelKeepsTheDefaults() {
        QFETCH(bool, byEscape);
        NewDocumentDefaults defaults;
        const NewDocumentDefaults before = defaults;
        TForm_new dialog(defaults);
        const Controls c{dialog};
        dialog.show();
        c.type->setCurrentIndex(1);
        QTest::keyClick(c.option, Qt::Key_Up);
        c.type->setCurrentIndex(9);
        QTest::keyClick(c.option, Qt::Key_Up);
        typeInto(c.width, "1024");
        typeInto(c.height, "768");
        c.render->setCurrentIndex(4);
        if (byEscape)
            QTest::keyClick(c.render, Qt::Key_Escape);
        else
            QTest::mouseClick(c.cancel, Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
        QVERIFY(defaults == before);
    }

    void refusesBadSidesAndStoresNothing_data() {
        QTest::addColumn<QString>("width");
        QTest::addColumn<QString>("height");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("widthAtFault");
        const auto notInteger = [](const char* text) {
            return QString("'%1' n'est pas une valeur entière correcte").arg(text);
        };
        const QString range = qtext(TextId::kSizeRange);
        const auto row = [](const char* name, const char* width, const char* height,
                            const QString& message, bool widthAtFault) {
            QTest::newRow(name) << QString(width) << QString(height) << message << widthAtFault;
        };
        row("letters in the width", "12a", "480", notInteger("12a"), true);
        row("empty height", "640", "", notInteger(""), false);
        row("width below 16", "8", "480", range, true);
        row("negative height", "640", "-16", range, false);
        row("both bad: the width speaks", "x", "8", notInteger("x"), true);
    }
    void refusesBadSidesAndStoresNothing() {
        QFETCH(QString, width);
        QFETCH(QString, height);
        QFETCH(QString, message);
        QFETCH(bool, widthAtFault);
        NewDocumentDefaults defaults;
        const NewDocumentDefaults before = defaults;
        TForm_new dialog(defaults);
        const Controls c{dialog};
        dialog.show();
        c.type->setCurrentIndex(9);
        QTest::keyClick(c.option, Qt::Key_Up);
        c.render->setCurrentIndex(4);
        typeInto(c.width, width);
        typeInto(c.height, height);
        QTest::mouseClick(c.ok, Qt::LeftButton);

        QCOMPARE(messages_, QStringList{message});
        QVERIFY(dialog.isVisible());
        QVERIFY(defaults == before);
        QCOMPARE(dialog.focusWidget(), widthAtFault ? c.width : c.height);

        // Corrected, with leading zeros that are no octal prefix; Return presses OK.
        typeInto(c.width, "0800");
        typeInto(c.height, "0016");
        QTest::keyClick(c.height, Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(defaults == (NewDocumentDefaults{9, 800, 16, 4, 4, 3}));
        QCOMPARE(messages_.size(), 1);
    }

    // A change of language rewrites the texts and keeps every choice made so far.
    void retranslateKeepsTheChoices() {
        NewDocumentDefaults defaults;
        TForm_new dialog(defaults);
        const Controls c{dialog};
        c.type->setCurrentIndex(9);
        QTest::keyClick(c.option, Qt::Key_Up);
        c.render->setCurrentIndex(3);
        typeInto(c.width, "1000");

        strings().setOverrides({{TextId::kNewCaption, "New"},
                                {TextId::kDegreeLabel, "Degree:"},
                                {TextId::kKindNameFirst + 9, "Sprott polynomial"},
                                {TextId::kModeNameFirst + 3, "Plasma (EN)"}});
        dialog.retranslate();
        strings().clearOverrides();

        QCOMPARE(dialog.windowTitle(), QString("New"));
        QCOMPARE(c.optionLabel->text(), QString("Degree:"));
        QCOMPARE(c.type->currentText(), QString("Sprott polynomial"));
        QCOMPARE(c.render->currentText(), QString("Plasma (EN)"));
        QCOMPARE(c.option->value(), 3);
        QCOMPARE(c.width->text(), QString("1000"));
    }
};

}  // namespace qm::gui

int runNewDialogTests(int argc, char** argv) {
    qm::gui::NewDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "new_dialog_test.moc"
