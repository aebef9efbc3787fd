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

// Limits what a corrupt header can claim: previews are small pictures.
constexpr JDIMENSION kMaxSide = 8192;

struct Raw {
    unsigned char* pixels = nullptr; // malloc'd RGB rows
    unsigned width = 0, height = 0;
};

// Only C objects live here, so the jump skips no destructor.
bool decodeRaw(const unsigned char* data, unsigned long size, Raw* out, char* message) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(out->pixels);
        out->pixels = nullptr;
        std::strncpy(message, err.message, JMSG_LENGTH_MAX);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > kMaxSide || cinfo.image_height > kMaxSide) {
        jpeg_destroy_decompress(&cinfo);
        std::strncpy(message, "Picture too large", JMSG_LENGTH_MAX);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = cinfo.output_width;
    out->height = cinfo.output_height;
    const std::size_t stride = static_cast<std::size_t>(out->width) * 3;
    out->pixels = static_cast<unsigned char*>(std::malloc(stride * out->height + 1));
    if (!out->pixels) {
        jpeg_destroy_decompress(&cinfo);
        std::strncpy(message, "Out of memory", JMSG_LENGTH_MAX);
        return false;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = out->pixels + stride * cinfo.output_scanline;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& bytes, QString* error) {
    Raw raw;
    char message[JMSG_LENGTH_MAX] = {};
    if (bytes.isEmpty()) {
        if (error) *error = QStringLiteral("Empty file");
        return {};
    }
    if (!decodeRaw(reinterpret_cast<const unsigned char*>(bytes.constData()),
                   static_cast<unsigned long>(bytes.size()), &raw, message)) {
        if (error) *error = QString::fromLatin1(message);
        return {};
    }
    QImage image(static_cast<int>(raw.width), static_cast<int>(raw.height), QImage::Format_RGB888);
    for (unsigned y = 0; !image.isNull() && y < raw.height; ++y)
        std::memcpy(image.scanLine(static_cast<int>(y)), raw.pixels + static_cast<std::size_t>(raw.width) * 3 * y,
                    static_cast<std::size_t>(raw.width) * 3);
    std::free(raw.pixels);
    if (image.isNull() && error) *error = QStringLiteral("Out of memory");
    return image;
}

} // namespace imaging
