#pragma once
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>
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
    QSize canvas;               // the logical screen
    std::vector<QImage> frames; // the whole canvas as it looks after each frame
    std::vector<int> delays;    // hundredths of a second, one per frame
    bool truncated = false;     // the data ended inside a frame
    bool limited = false;       // frames were left out by a limit
};

// What one decode may cost. The data is untrusted: a few kilobytes of LZW
// can stand for billions of pixels, so the work is bounded by what the
// descriptors declare, before it is done.
struct GifLimits {
    int maxSide = 4096;                  // a wider or higher canvas is refused
    QSize fit{4096, 4096};               // frames come out scaled down to fit, shape kept
    int maxFrames = 500;                 // frames beyond are left out
    qint64 maxPixels = qint64(32) << 20; // pixels read from the data, all frames together
    qint64 maxBytes = qint64(64) << 20;  // bytes of the frames given back
    // Set from another thread: decoding ends and gives nothing back.
    const std::atomic<bool>* cancel = nullptr;
};

// Composites every frame on the canvas, honouring each frame's offset, its
// disposal method (none, background, previous) and its transparent colour.
// A frame the data cuts off shows the rows that arrived over the previous
// canvas, and decoding ends there. A canvas beyond `maxSide`, or a frame
// wider or higher than its canvas, is refused before anything is decoded.
// A canvas larger than `fit` is composited at no more than twice that size
// and each frame scaled down from there, so memory follows `fit`, not the
// canvas. Frames past `maxFrames`, `maxPixels` or `maxBytes` are left out
// (`limited`); when not even the first fits, the picture is refused. Empty
// `frames` on failure, with `error`.
GifAnimation DecodeGif(const QByteArray& data, QString* error = nullptr,
                       const GifLimits& limits = {});

} // namespace imaging
