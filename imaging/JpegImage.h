#pragma once
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>
#include <atomic>

namespace imaging {

// Map previews are small pictures; a header that claims more is refused.
constexpr int kMaxPreviewSide = 2048;

// Decodes a JPEG with libjpeg. A file that is not a readable JPEG gives a
// null image and the decoder's reason in `error`; it never aborts the program.
// A declared width or height above `maxSide` is refused from the header,
// before any pixel buffer is allocated. A picture larger than a valid `fit`
// is decoded at a reduced scale and comes out scaled down to fit it, shape
// kept. The work is bounded too: a progressive file of endless scans, or
// one that needs more than 64 MB of the decoder's memory, is refused, and
// `cancel` (set from another thread) ends decoding with a null image.
QImage DecodeJpeg(const QByteArray& bytes, QString* error = nullptr, int maxSide = kMaxPreviewSide,
                  QSize fit = {}, const std::atomic<bool>* cancel = nullptr);

} // namespace imaging
