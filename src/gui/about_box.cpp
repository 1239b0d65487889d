#include "gui/about_box.h"

#include "core/attractor/attractor.h"
#include "core/attractor/kinds.h"
#include "core/property/color_map.h"
#include "core/render/bitmap3d.h"
#include "core/render/light.h"
#include "core/render/sampling.h"
#include "core/strings/string_table.h"
#include "gui/texts.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QUrl>

#include <algorithm>
#include <array>

namespace qm::gui {

namespace {

constexpr QSize kBoxSize(500, 250);
constexpr QRect kLogoRect(17, 29, 166, 192);
constexpr QRect kTitleRect(204, 29, 280, 57);
constexpr QRect kLine1Rect(204, 99, 280, 16);
constexpr QRect kLine2Rect(204, 115, 280, 16);
constexpr QRect kLinkRect(272, 155, 145, 16);
constexpr QRect kOkRect(418, 208, 65, 25);
const QColor kBorderColor(160, 160, 160);
const QColor kLinkColor(0, 0, 255);

// The program's name as the title picture spells it; a name, the same in every language.
const QString kProgramName = QStringLiteral("Quillmere");

// The logo: the Lorenz butterfly seen side on, rendered in the Light mode with the built-in
// gradients (so that it never depends on the map files) and then printed on white.
QImage renderLogoImage() {
    constexpr std::int32_t kRenderWidth = 168;  // render targets want a multiple of 4
    constexpr std::int32_t kPoints = 300000;
    constexpr std::int32_t kTransient = 1000;

    auto attractor = createAttractor(static_cast<std::int8_t>(AttractorKind::Lorenz), 0);
    auto& lorenz = static_cast<Lorenz_2L&>(*attractor);
    lorenz.A = 10;
    lorenz.B = 28;
    lorenz.C = 8.0 / 3.0;
    lorenz.dT = 0.005;

    auto target = CreateRenderTarget(static_cast<int>(RenderMode::Light));
    auto& light = static_cast<TBitmap3D_Light&>(*target);
    setBuiltinSpeedGradient(light.speedGradient);
    setBuiltinAngleGradient(light.angleGradient);
    light.luminosity = 1.5;  // softer than a render's default, so the core does not wash out
    light.gamma = 2.0;
    target->SetWidth(kRenderWidth);
    target->SetHeight(kLogoRect.height());
    target->SetEye({0, 0, -5});
    target->SetTarget({0, 0, 0});
    // A quarter turn about the horizontal axis brings the wings side by side, standing up.
    target->Rotate(0, -kRenderWidth / 2.0);
    if (!sampleAttractor(*attractor, *target, kPreviewIterations, SamplingMode::Fit)) return {};
    target->scale *= 0.9;  // a little white around the wing tips
    target->SetView();

    // The render: a transient, then every point splatted.
    target->ClearImage();
    attractor->restart();
    std::array<Vecd, 512> block;
    for (std::int32_t done = 0; done < kTransient;)
        done +=
            attractor->iterateBlock(block.data(), std::min<std::int32_t>(512, kTransient - done));
    for (std::int32_t done = 0; done < kPoints && !attractor->diverged();) {
        const std::int32_t got =
            attractor->iterateBlock(block.data(), std::min<std::int32_t>(512, kPoints - done));
        target->PlotBlock(block.data(), got);
        done += got;
    }
    target->BuildImage();

    const ImageView view = target->imageView();
    QImage image =
        QImage(view.bits, view.width, view.height, view.bytesPerLine, QImage::Format_BGR888)
            .copy((kRenderWidth - kLogoRect.width()) / 2, 0, kLogoRect.width(), kLogoRect.height())
            .convertToFormat(QImage::Format_RGB32);
    // Light on black becomes ink on white: each channel keeps its distance below the pixel's
    // brightest channel, so black turns white and saturated colours stay as they are.
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int r = qRed(row[x]), g = qGreen(row[x]), b = qBlue(row[x]);
            const int lift = 255 - std::max({r, g, b});
            row[x] = qRgb(r + lift, g + lift, b + lift);
        }
    }
    return image;
}

// The title: the program's name in a large serif italic, filled with a blue-to-violet
// gradient, centred on white.
QImage renderTitle() {
    QImage image(kTitleRect.size(), QImage::Format_RGB32);
    image.fill(Qt::white);

    QFont font;
    font.setFamilies({QStringLiteral("Georgia"), QStringLiteral("Palatino Linotype"),
                      QStringLiteral("DejaVu Serif")});
    font.setStyleHint(QFont::Serif, QFont::PreferAntialias);
    font.setItalic(true);
    font.setPixelSize(46);

    QPainterPath path;
    path.addText(0, 0, font, kProgramName);
    // Fit the word into the picture with a small margin, keeping its proportions.
    const QRectF bounds = path.boundingRect();
    const qreal fit = std::min(
        {1.0, (image.width() - 12) / bounds.width(), (image.height() - 6) / bounds.height()});
    QTransform placement;
    placement.translate(image.width() / 2.0, image.height() / 2.0);
    placement.scale(fit, fit);
    placement.translate(-bounds.center().x(), -bounds.center().y());
    path = placement.map(path);

    QLinearGradient gradient(path.boundingRect().topLeft(), path.boundingRect().bottomRight());
    gradient.setColorAt(0.0, QColor(20, 60, 170));
    gradient.setColorAt(0.55, QColor(90, 60, 190));
    gradient.setColorAt(1.0, QColor(170, 40, 130));

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(path.translated(1.5, 1.5), QColor(0, 0, 0, 40));  // a soft drop shadow
    painter.fillPath(path, gradient);
    return image;
}

}  // namespace

QImage programLogo() {
    static const QImage logo = renderLogoImage();
    return logo;
}

TForm_about::TForm_about(QWidget* parent) : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint) {
    setFixedSize(kBoxSize);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);

    I_logo = new QLabel(this);
    I_logo->setGeometry(kLogoRect);
    I_logo->setPixmap(QPixmap::fromImage(programLogo()));

    I_title = new QLabel(this);
    I_title->setGeometry(kTitleRect);
    I_title->setPixmap(QPixmap::fromImage(renderTitle()));

    L_line1 = new QLabel(this);
    L_line1->setGeometry(kLine1Rect);
    L_line2 = new QLabel(this);
    L_line2->setGeometry(kLine2Rect);

    L_link = new QLabel(this);
    L_link->setGeometry(kLinkRect);
    QFont linkFont = L_link->font();
    linkFont.setUnderline(true);
    L_link->setFont(linkFont);
    QPalette linkPalette = L_link->palette();
    linkPalette.setColor(QPalette::WindowText, kLinkColor);
    L_link->setPalette(linkPalette);
    L_link->setCursor(Qt::PointingHandCursor);
    L_link->installEventFilter(this);

    for (QLabel* line : {L_line1, L_line2, L_link}) {
        line->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        line->setTextFormat(Qt::PlainText);
    }

    B_ok = new QPushButton(this);
    B_ok->setGeometry(kOkRect);
    B_ok->setDefault(true);
    connect(B_ok, &QPushButton::clicked, this, &QDialog::accept);

    I_logo->setObjectName("I_logo");
    I_title->setObjectName("I_title");
    L_line1->setObjectName("L_line1");
    L_line2->setObjectName("L_line2");
    L_link->setObjectName("L_link");
    B_ok->setObjectName("B_ok");

    retranslate();
    B_ok->setFocus();
}

void TForm_about::retranslate() {
    setWindowTitle(qtext(TextId::kAboutCaption));
    L_line1->setText(qtext(TextId::kAboutLine1));
    L_line2->setText(qtext(TextId::kAboutLine2));
    L_link->setText(qtext(TextId::kAboutAddress));
    B_ok->setText(qtext(TextId::kAboutOk));
}

bool TForm_about::eventFilter(QObject* watched, QEvent* event) {
    // A click is a press and a release of the left button over the label.
    if (watched == L_link && event->type() == QEvent::MouseButtonRelease) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton &&
            L_link->rect().contains(mouse->position().toPoint())) {
            L_linkClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TForm_about::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The one-pixel frame along the four edges.
    QPainter painter(this);
    painter.setPen(kBorderColor);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TForm_about::showEvent(QShowEvent* event) {
    // Centred on the screen, not over the main window.
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
    QDialog::showEvent(event);
}

void TForm_about::L_linkClick() {
    QDesktopServices::openUrl(QUrl(L_link->text(), QUrl::TolerantMode));
}

}  // namespace qm::gui
