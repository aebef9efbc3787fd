#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>

namespace imaging {

// Map previews are small pictures; a header that claims more is refused.
constexpr int kMaxPreviewSide = 2048;

// Decodes a JPEG with libjpeg. A file that is not a readable JPEG gives a
// null image and the decoder's reason in `error`; it never aborts the program.
// A declared width or height above `maxSide` is refused from the header,
// before any pixel buffer is allocated.
QImage DecodeJpeg(const QByteArray& bytes, QString* error = nullptr, int maxSide = kMaxPreviewSide);

} // namespace imaging
