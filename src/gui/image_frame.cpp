#include "gui/image_frame.h"

#include <algorithm>
#include <cmath>

namespace qm::gui {

double fitScale(QSize image, QSize area) {
    if (image.isEmpty() || area.isEmpty()) return 1;
    return std::min({1.0, static_cast<double>(area.width()) / image.width(),
                     static_cast<double>(area.height()) / image.height()});
}

namespace {

int scaledSide(int side, double scale) {
    return std::max(1, static_cast<int>(std::lround(side * scale)));
}

// Where a side of the image starts: centred when it fits, else scrolled (within its range).
int sideOrigin(int image, int area, int scroll) {
    if (image <= area) return (area - image) / 2;
    return -std::clamp(scroll, 0, image - area);
}

}  // namespace

QRect imageRectIn(QSize image, QSize area, bool actualSize, QPoint scroll) {
    if (actualSize)
        return {QPoint(sideOrigin(image.width(), area.width(), scroll.x()),
                       sideOrigin(image.height(), area.height(), scroll.y())),
                image};
    const double s = fitScale(image, area);
    const QSize shown(scaledSide(image.width(), s), scaledSide(image.height(), s));
    return {QPoint((area.width() - shown.width()) / 2, (area.height() - shown.height()) / 2),
            shown};
}

ScrollBars scrollBarsFor(QSize image, QSize area, int barExtent) {
    ScrollBars bars;
    // A bar along one side can make the other side too short: twice settles it.
    for (int pass = 0; pass < 2; ++pass) {
        bars.horizontal = image.width() > area.width() - (bars.vertical ? barExtent : 0);
        bars.vertical = image.height() > area.height() - (bars.horizontal ? barExtent : 0);
    }
    return bars;
}

QSize documentClientSize(QSize image, QSize room, bool actualSize, int barExtent) {
    if (image.width() <= room.width() && image.height() <= room.height()) return image;
    if (!actualSize) {
        const double s = fitScale(image, room);
        return {std::min(room.width(), scaledSide(image.width(), s)),
                std::min(room.height(), scaledSide(image.height(), s))};
    }
    // At 100% the side that fits still needs room for the other side's bar.
    QSize client = image.boundedTo(room);
    if (image.width() > room.width())
        client.setHeight(std::min(image.height() + barExtent, room.height()));
    if (client.height() < image.height())
        client.setWidth(std::min(image.width() + barExtent, room.width()));
    return client;
}

}  // namespace qm::gui
