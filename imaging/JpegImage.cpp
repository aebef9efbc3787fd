#include "imaging/JpegImage.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <jpeglib.h>

namespace imaging {

namespace {

// libjpeg reports fatal errors through error_exit, which must not return:
// jump back to the decoder with the message instead of exiting the process.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void onError(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void onMessage(j_common_ptr, int) {} // warnings (e.g. premature end) are not shown

// Only C objects and the caller's image live here; the image is assigned
// only after the jump target is set, so the jump skips no destructor that
// matters.
bool decodeInto(const unsigned char* data, unsigned long size, int maxSide, QImage* image, char* message) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::strncpy(message, err.message, JMSG_LENGTH_MAX);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > static_cast<JDIMENSION>(maxSide) || cinfo.image_height > static_cast<JDIMENSION>(maxSide)) {
        jpeg_destroy_decompress(&cinfo);
        std::strncpy(message, "Picture too large", JMSG_LENGTH_MAX);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    *image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), QImage::Format_RGB888);
    if (image->isNull()) {
        jpeg_destroy_decompress(&cinfo);
        std::strncpy(message, "Out of memory", JMSG_LENGTH_MAX);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& bytes, QString* error, int maxSide) {
    char message[JMSG_LENGTH_MAX] = {};
    if (bytes.isEmpty()) {
        if (error) *error = QStringLiteral("Empty file");
        return {};
    }
    QImage image;
    if (!decodeInto(reinterpret_cast<const unsigned char*>(bytes.constData()), static_cast<unsigned long>(bytes.size()),
                    maxSide, &image, message)) {
        if (error) *error = QString::fromLatin1(message);
        return {};
    }
    return image;
}

} // namespace imaging
