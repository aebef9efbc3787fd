#pragma once
#include <QByteArray>
#include <QColor>
#include <QRect>
#include <vector>

namespace testsupport {

struct GifFrame {
    GifFrame(QRect area, QColor color, int delay, int disposal = 0, bool interlaced = false, QRect hole = {},
             QColor speckle = {})
        : area(area), color(color), delay(delay), disposal(disposal), interlaced(interlaced), hole(hole), speckle(speckle) {}
    QRect area;   // position and size on the canvas
    QColor color; // fills the area; Qt::transparent lets the canvas show through
    int delay;    // hundredths of a second
    int disposal;        // 0 unspecified, 1 keep, 2 background, 3 previous
    bool interlaced; // rows written in the four interlace passes
    QRect hole;              // in frame coordinates: transparent pixels
    QColor speckle;          // when valid: pixels mix `color` and this, hard to compress
};

// An animated GIF written with giflib, one global palette of the frames' colours.
QByteArray BuildGif(int width, int height, const std::vector<GifFrame>& frames);

} // namespace testsupport
