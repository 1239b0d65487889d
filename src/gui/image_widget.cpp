#include "gui/image_widget.h"

#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "gui/image_frame.h"

namespace qm::gui {

QImage imageOf(const TBitmap3D& target) {
    const ImageView view = target.imageView();
    if (view.bits == nullptr || view.width <= 0 || view.height <= 0) return {};
    return QImage(view.bits, view.width, view.height, view.bytesPerLine, QImage::Format_BGR888);
}

QImage shrinkImage(const QImage& source, QSize size) {
    const int sw = source.width(), sh = source.height();
    const int dw = size.width(), dh = size.height();
    if (source.format() != QImage::Format_BGR888 || dw <= 0 || dh <= 0 || dw > sw || dh > sh)
        return source.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    // Source column x goes to x * dw / sw, rows alike: every box holds at least one pixel.
    std::vector<int> column(static_cast<std::size_t>(sw));
    std::vector<std::uint64_t> width(static_cast<std::size_t>(dw), 0);
    for (int x = 0; x < sw; ++x) {
        column[static_cast<std::size_t>(x)] = static_cast<int>(std::int64_t{x} * dw / sw);
        ++width[static_cast<std::size_t>(column[static_cast<std::size_t>(x)])];
    }
    QImage out(dw, dh, QImage::Format_BGR888);
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(dw) * 3);
    int y = 0;
    for (int row = 0; row < dh; ++row) {
        std::fill(sums.begin(), sums.end(), 0);
        const int end = static_cast<int>((std::int64_t{row} + 1) * sh / dh);
        const auto rows = static_cast<std::uint64_t>(end - y);
        for (; y < end; ++y) {
            const std::uint8_t* in = source.constScanLine(y);
            for (int x = 0; x < sw; ++x, in += 3) {
                std::uint64_t* s =
                    &sums[static_cast<std::size_t>(column[static_cast<std::size_t>(x)]) * 3];
                s[0] += in[0];
                s[1] += in[1];
                s[2] += in[2];
            }
        }
        std::uint8_t* o = out.scanLine(row);
        for (std::size_t k = 0; k < sums.size(); ++k) {
            const std::uint64_t n = width[k / 3] * rows;
            o[k] = static_cast<std::uint8_t>((sums[k] + n / 2) / n);
        }
    }
    return out;
}

ImageWidget::ImageWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Every pixel is painted: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
    // While the window is resized, the last shrunk image stands in, stretched; the shrink is
    // made again once the size has settled.
    settle_ = new QTimer(this);
    settle_->setSingleShot(true);
    settle_->setInterval(150);
    connect(settle_, &QTimer::timeout, this, [this] {
        settled_ = true;
        update();
    });
}

void ImageWidget::setTarget(const TBitmap3D* target) {
    target_ = target;
    imageChanged();
}

void ImageWidget::setSnapshot(QImage image) {
    snapshot_ = std::move(image);
    imageChanged();
}

void ImageWidget::clearSnapshot() {
    snapshot_ = QImage();
    imageChanged();
}

void ImageWidget::setImageRect(const QRect& rect) {
    if (rect == imageRect_) return;
    if (rect.size() != imageRect_.size()) {
        settled_ = false;
        settle_->start();
    }
    imageRect_ = rect;
    update();
}

void ImageWidget::imageChanged() {
    ++version_;
    update();
}

void ImageWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QImage image = !snapshot_.isNull() ? snapshot_ : target_ ? imageOf(*target_) : QImage();
    if (image.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    const QRect r = imageRect_.isEmpty() ? QRect(QPoint(0, 0), image.size()) : imageRect_;
    if (r.size() == image.size()) {
        painter.drawImage(r.topLeft(), image);
    } else {
        const bool current = scaledVersion_ == version_ && !scaled_.isNull();
        if (!current || (scaled_.size() != r.size() && settled_)) {
            scaled_ = shrinkImage(image, r.size());
            scaledVersion_ = version_;
        }
        painter.drawImage(r, scaled_);
    }
    const QRegion around = QRegion(rect()).subtracted(QRegion(r));
    for (const QRect& part : around) painter.fillRect(part, kLetterboxColor);
}

}  // namespace qm::gui
