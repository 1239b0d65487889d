// Shows a render target's 24-bit image at the top-left corner, without copying its bytes.
#pragma once

#include <QImage>
#include <QWidget>

#include "core/render/bitmap3d.h"

namespace qm::gui {

// The target's bytes as a QImage that shares them: valid until the target is resized or
// destroyed.
QImage imageOf(const TBitmap3D& target);

class ImageWidget final : public QWidget {
    Q_OBJECT
public:
    explicit ImageWidget(QWidget* parent = nullptr);
    void setTarget(const TBitmap3D* target) { target_ = target; }
    // While a render runs the widget shows a copy of the image, so that painting never reads
    // bytes the worker may be writing; clearing it shows the target's own image again.
    void setSnapshot(QImage image);
    void clearSnapshot();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap3D* target_ = nullptr;
    QImage snapshot_;
};

}  // namespace qm::gui
