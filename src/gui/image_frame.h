// Where a document shows its image in its window: the whole image scaled down to the window
// (never up), centred, or at 100% with scroll bars. Only the display is scaled: the render
// target, its buffers and the files written keep the image's full size.
#pragma once

#include <QColor>
#include <QPoint>
#include <QRect>
#include <QSize>

namespace qm::gui {

// What surrounds an image that does not fill its window: dark, so that the frame of the image
// shows even on a black background.
inline const QColor kLetterboxColor{0x2b, 0x2b, 0x2b};

// The display scale that fits an image into an area: at most 1.
double fitScale(QSize image, QSize area);

// The image's rectangle in the area's coordinates. Fitted: scaled by fitScale and centred.
// At actual size: 100%, centred along a side that fits, else moved by the scroll offset.
QRect imageRectIn(QSize image, QSize area, bool actualSize, QPoint scroll = {});

// Which scroll bars an image at 100% needs in an area, each bar taking `barExtent` pixels
// from the other side.
struct ScrollBars {
    bool horizontal = false;
    bool vertical = false;
};
ScrollBars scrollBarsFor(QSize image, QSize area, int barExtent);

// The client size a document asks for within `room`: the image's own when it fits; otherwise,
// fitted, the image scaled to the room with its aspect kept, or at 100% the room (less what
// the scroll bars leave unused).
QSize documentClientSize(QSize image, QSize room, bool actualSize, int barExtent);

}  // namespace qm::gui
