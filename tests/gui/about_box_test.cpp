#include "gui/about_box.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QUrl>

namespace qm::gui {

// Takes the addresses QDesktopServices would hand to the browser.
class UrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls << url; }
};

class AboutBoxTest : public QObject {
    Q_OBJECT

private slots:
    void framesItsPartsOnWhite() {
        TForm_about box;
        QVERIFY(box.windowFlags() & Qt::FramelessWindowHint);
        const auto geometry = [&](const char* name) {
            const auto* w = box.findChild<QWidget*>(name);
            return w ? w->geometry() : QRect();
        };
        QCOMPARE(geometry("I_logo"), QRect(17, 29, 166, 192));
        QCOMPARE(geometry("I_title"), QRect(204, 29, 280, 57));
        QCOMPARE(geometry("L_link").topLeft(), QPoint(272, 155));
        QCOMPARE(geometry("B_ok"), QRect(418, 208, 65, 25));
        const auto* link = box.findChild<QLabel*>("L_link");
        QCOMPARE(link->text(), QString("https://quillmere.org"));
        QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);

        // Grey edges, white inside.
        const QImage shot = box.grab().toImage();
        QCOMPARE(shot.size(), QSize(500, 250));
        for (const QPoint edge :
             {QPoint(250, 0), QPoint(0, 125), QPoint(499, 125), QPoint(250, 249)})
            QCOMPARE(shot.pixelColor(edge), QColor(160, 160, 160));
        QCOMPARE(shot.pixelColor(250, 1), QColor(Qt::white));
    }

    // The logo is a rendered attractor printed on white: many colours, a fair share inked.
    void logoIsARenderedAttractor() {
        TForm_about box;
        const QImage logo = box.findChild<QLabel*>("I_logo")->pixmap().toImage();
        QCOMPARE(logo.size(), QSize(166, 192));
        QSet<QRgb> colours;
        int inked = 0;
        for (int y = 0; y < logo.height(); ++y) {
            for (int x = 0; x < logo.width(); ++x) {
                colours.insert(logo.pixel(x, y));
                inked += logo.pixel(x, y) != qRgb(255, 255, 255);
            }
        }
        QCOMPARE(logo.pixel(0, 0), qRgb(255, 255, 255));
        QVERIFY2(colours.size() > 100, qPrintable(QString::number(colours.size())));
        const int area = logo.width() * logo.height();
        QVERIFY2(inked > area / 10 && inked < area * 3 / 4, qPrintable(QString::number(inked)));
    }

    void linkOpensTheAddressOnALeftClick() {
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler("https", &catcher, "open");
        TForm_about box;
        auto* link = box.findChild<QLabel*>("L_link");
        box.show();
        QTest::mouseClick(link, Qt::RightButton);
        QTest::mouseClick(link, Qt::LeftButton);
        QDesktopServices::unsetUrlHandler("https");
        QCOMPARE(catcher.urls, QList<QUrl>{QUrl("https://quillmere.org")});
        QVERIFY(box.isVisible());
    }

    void closesWithOkOrEscape_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::addColumn<int>("result");
        QTest::addRow("OK button") << false << int(QDialog::Accepted);
        QTest::addRow("Escape key") << true << int(QDialog::Rejected);
    }
    void closesWithOkOrEscape() {
        QFETCH(bool, byEscape);
        QFETCH(int, result);
        TForm_about box;
        auto* ok = box.findChild<QPushButton*>("B_ok");
        QTimer::singleShot(0, &box, [&] {
            if (byEscape)
                QTest::keyClick(ok, Qt::Key_Escape);
            else
                QTest::mouseClick(ok, Qt::LeftButton);
        });
        QTimer::singleShot(5000, &box, [&] { box.done(-1); });  // a guard, should the keys fail
        QCOMPARE(box.exec(), result);
    }
};

}  // namespace qm::gui

int runAboutBoxTests(int argc, char** argv) {
    qm::gui::AboutBoxTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "about_box_test.moc"
