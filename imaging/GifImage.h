#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>
#include <vector>

// GIF frames as the banner plays them: frame marks found by a byte scan
// (a graphic control extension right before an image descriptor), and the
// first image of a stream decoded with giflib to its own image area.
namespace imaging {

bool IsGif(const QByteArray& data);
// Positions p of the frame marks: 0x21 0xF9 0x04 at p, 0x2C at p+8, p+9 inside.
std::vector<qsizetype> GifFrameMarks(const QByteArray& data);
int GifFrameCount(const QByteArray& data);          // -1 when not a GIF
int GifFrameDelay(const QByteArray& data, int frame); // hundredths; -1 when no such mark
// The data with the frames before `frame` left out, so `frame` is the first
// image; its left and top from the image descriptor.
QByteArray GifFromFrame(const QByteArray& data, int frame, int* left, int* top);
// The first image's own area (not the canvas), transparency kept.
QImage DecodeGifFirstImage(const QByteArray& data, QString* error = nullptr);

} // namespace imaging
