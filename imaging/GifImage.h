#pragma once
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <vector>

// GIF frames as a web browser shows them: every image composited on the
// GIF's logical screen, decoded once with giflib.
namespace imaging {

bool IsGif(const QByteArray& data);
// Positions p of the frame marks: 0x21 0xF9 0x04 at p, 0x2C at p+8, p+9 inside
// (a graphic control extension right before an image descriptor).
std::vector<qsizetype> GifFrameMarks(const QByteArray& data);
int GifFrameCount(const QByteArray& data);            // marks; -1 when not a GIF
int GifFrameDelay(const QByteArray& data, int frame); // hundredths; -1 when no such mark

struct GifAnimation {
    QSize canvas;                // the logical screen
    std::vector<QImage> frames;  // the whole canvas as it looks after each frame
    std::vector<int> delays;     // hundredths of a second, one per frame
    bool truncated = false;      // the data ended inside a frame
};

// Composites every frame on the canvas, honouring each frame's offset, its
// disposal method (none, background, previous) and its transparent colour.
// A frame the data cuts off shows the rows that arrived over the previous
// canvas, and decoding ends there. A canvas wider or higher than `maxSide`
// is refused before anything is allocated for it; frames beyond
// `maxPixels` in total are left out. Empty `frames` on failure, with `error`.
GifAnimation DecodeGif(const QByteArray& data, QString* error = nullptr, int maxSide = 4096,
                       qint64 maxPixels = qint64(32) << 20);

} // namespace imaging
