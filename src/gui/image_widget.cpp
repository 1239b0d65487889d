#include "gui/image_widget.h"

#include <QPainter>

namespace qm::gui {

QImage imageOf(const TBitmap3D& target) {
    const ImageView view = target.imageView();
    if (view.bits == nullptr || view.width <= 0 || view.height <= 0) return {};
    return QImage(view.bits, view.width, view.height, view.bytesPerLine, QImage::Format_BGR888);
}

ImageWidget::ImageWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Every pixel is painted: nothing to erase first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageWidget::setSnapshot(QImage image) {
    snapshot_ = std::move(image);
    update();
}

void ImageWidget::clearSnapshot() {
    snapshot_ = QImage();
    update();
}

void ImageWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (target_ || !snapshot_.isNull()) {
        const QImage image = snapshot_.isNull() ? imageOf(*target_) : snapshot_;
        painter.drawImage(0, 0, image);
        painter.fillRect(image.width(), 0, width() - image.width(), height(), Qt::black);
        painter.fillRect(0, image.height(), image.width(), height() - image.height(), Qt::black);
    } else {
        painter.fillRect(rect(), Qt::black);
    }
}

}  // namespace qm::gui
