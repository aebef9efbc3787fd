#pragma once
#include <QByteArray>
#include <QColor>
#include <QRect>
#include <vector>

namespace testsupport {

struct GifFrame {
    QRect area;  // position and size on the canvas
    QColor color;
    int delay;   // hundredths of a second
};

// An animated GIF written with giflib: one solid-colour image per frame.
QByteArray BuildGif(int width, int height, const std::vector<GifFrame>& frames);

} // namespace testsupport
