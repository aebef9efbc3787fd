#pragma once
#include <QByteArray>
#include <QImage>
#include <QString>

namespace imaging {

// Decodes a JPEG with libjpeg. A file that is not a readable JPEG gives a
// null image and the decoder's reason in `error`; it never aborts the program.
QImage DecodeJpeg(const QByteArray& bytes, QString* error = nullptr);

} // namespace imaging
