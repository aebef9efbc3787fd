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

// A progressive file may hold any number of scans, each a pass over the
// whole picture; real ones have about ten.
constexpr int kMaxScans = 100;
// What the decoder may hold for a progressive file's coefficients.
constexpr long kMaxDecoderMemory = 64L << 20;

struct Progress {
    jpeg_progress_mgr pub;
    const std::atomic<bool>* cancel;
};

[[noreturn]] void stopWith(j_common_ptr cinfo, const char* why) {
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::strncpy(err->message, why, JMSG_LENGTH_MAX);
    std::longjmp(err->jump, 1);
}

void onProgress(j_common_ptr cinfo) {
    const auto* p = reinterpret_cast<Progress*>(cinfo->progress);
    if (p->cancel && p->cancel->load()) stopWith(cinfo, "Cancelled");
    if (cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
        stopWith(cinfo, "Too many scans");
}

// The libjpeg scale (1/1 .. 1/8) that still gives at least `target`.
unsigned int scaleFor(JDIMENSION width, JDIMENSION height, QSize target) {
    unsigned int denom = 8;
    while (denom > 1 && ((width + denom - 1) / denom < static_cast<JDIMENSION>(target.width()) ||
                         (height + denom - 1) / denom < static_cast<JDIMENSION>(target.height())))
        denom /= 2;
    return denom;
}

// Only C objects and the caller's image live here; the image is assigned
// only after the jump target is set, so the jump skips no destructor that
// matters.
bool decodeInto(const unsigned char* data, unsigned long size, int maxSide, QSize* fit,
                const std::atomic<bool>* cancel, QImage* image, char* message) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    Progress progress{};
    std::memset(&cinfo, 0, sizeof cinfo);
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = onError;
    err.pub.emit_message = onMessage;
    progress.pub.progress_monitor = onProgress;
    progress.cancel = cancel;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::strncpy(message, err.message, JMSG_LENGTH_MAX);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress.pub;
    cinfo.mem->max_memory_to_use = kMaxDecoderMemory;
    jpeg_mem_src(&cinfo, data, size);
    jpeg_read_header(&cinfo, TRUE);
    if (cinfo.image_width > static_cast<JDIMENSION>(maxSide) ||
        cinfo.image_height > static_cast<JDIMENSION>(maxSide)) {
        jpeg_destroy_decompress(&cinfo);
        std::strncpy(message, "Picture too large", JMSG_LENGTH_MAX);
        return false;
    }
    cinfo.out_color_space = JCS_RGB;
    if (fit->isValid() && (cinfo.image_width > static_cast<JDIMENSION>(fit->width()) ||
                           cinfo.image_height > static_cast<JDIMENSION>(fit->height()))) {
        *fit = QSize(static_cast<int>(cinfo.image_width), static_cast<int>(cinfo.image_height))
                   .scaled(fit->expandedTo(QSize(1, 1)), Qt::KeepAspectRatio)
                   .expandedTo(QSize(1, 1));
        cinfo.scale_num = 1;
        cinfo.scale_denom = scaleFor(cinfo.image_width, cinfo.image_height, *fit);
    } else {
        *fit = QSize();
    }
    jpeg_start_decompress(&cinfo);
    *image = QImage(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height),
                    QImage::Format_RGB888);
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

QImage DecodeJpeg(const QByteArray& bytes, QString* error, int maxSide, QSize fit,
                  const std::atomic<bool>* cancel) {
    char message[JMSG_LENGTH_MAX] = {};
    if (bytes.isEmpty()) {
        if (error) *error = QStringLiteral("Empty file");
        return {};
    }
    QImage image;
    // On return, `fit` is the size to scale to, or invalid for none.
    if (!decodeInto(reinterpret_cast<const unsigned char*>(bytes.constData()),
                    static_cast<unsigned long>(bytes.size()), maxSide, &fit, cancel, &image,
                    message)) {
        if (error) *error = QString::fromLatin1(message);
        return {};
    }
    if (fit.isValid() && image.size() != fit)
        return image.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return image;
}

} // namespace imaging
