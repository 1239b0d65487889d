// Shows a render target's 24-bit image in the rectangle its document gives: at 100% without
// copying its bytes, or scaled down smoothly for display.
#pragma once

#include <QImage>
#include <QWidget>

#include <cstdint>

class QTimer;

#include "core/render/bitmap3d.h"

namespace qm::gui {

// The target's bytes as a QImage that shares them: valid until the target is resized or
// destroyed.
QImage imageOf(const TBitmap3D& target);

// The image made smaller for display: each pixel the mean of the source pixels it covers, so
// that fine orbits neither vanish nor sparkle. Several times faster than Qt's smooth scaling
// on a 24-bit image, which matters for a poster developed ten times during its render.
QImage shrinkImage(const QImage& source, QSize size);

class ImageWidget final : public QWidget {
    Q_OBJECT
public:
    explicit ImageWidget(QWidget* parent = nullptr);
    void setTarget(const TBitmap3D* target);
    // While a render runs the widget shows a copy of the image, so that painting never reads
    // bytes the worker may be writing; clearing it shows the target's own image again.
    void setSnapshot(QImage image);
    void clearSnapshot();
    // Where the image goes, in this widget's coordinates; none: at the top-left corner, 100%.
    void setImageRect(const QRect& rect);
    // The target's bytes changed: the scaled copy shown is made again.
    void imageChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap3D* target_ = nullptr;
    QImage snapshot_;
    QRect imageRect_;
    // The image scaled to the rectangle, made once per change of the image or of its size.
    QImage scaled_;
    std::uint64_t version_ = 0;
    std::uint64_t scaledVersion_ = ~std::uint64_t{0};
    QTimer* settle_ = nullptr;
    bool settled_ = true;  // the rectangle has kept its size for a moment
};

}  // namespace qm::gui
