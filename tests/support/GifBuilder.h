#pragma once
#include <QByteArray>
#include <QColor>
#include <QRect>
#include <QSize>
#include <vector>

namespace testsupport {

struct GifFrame {
    GifFrame(QRect area, QColor color, int delay, int disposal = 0, bool interlaced = false,
             QRect hole = {}, QColor speckle = {})
        : area(area), color(color), delay(delay), disposal(disposal), interlaced(interlaced),
          hole(hole), speckle(speckle) {}
    QRect area;      // position and size on the canvas
    QColor color;    // fills the area; Qt::transparent lets the canvas show through
    int delay;       // hundredths of a second
    int disposal;    // 0 unspecified, 1 keep, 2 background, 3 previous
    bool interlaced; // rows written in the four interlace passes
    QRect hole;      // in frame coordinates: transparent pixels
    QColor speckle;  // when valid: pixels mix `color` and this, hard to compress
};

// An animated GIF written with giflib, one global palette of the frames' colours.
QByteArray BuildGif(int width, int height, const std::vector<GifFrame>& frames);

// Frames of one colour each, written byte by byte as the smallest LZW stream
// there is: the code table is never cleared and its longest string is sent
// again and again, some 2700 pixels to the byte. A descriptor says what
// `frames` says, so a file of a few megabytes can claim frames of billions of
// pixels, far larger than its `canvas`. Frame k has colour k % 3 (red, green,
// blue) and `delay`.
QByteArray BuildSolidGif(QSize canvas, const std::vector<QRect>& frames, int delay = 10);

} // namespace testsupport
