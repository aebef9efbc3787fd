// What a JPEG from the network may make the decoder do: progressive files
// of endless scans, coefficient buffers past the memory budget, pictures
// larger than the room they get.
#include "imaging/JpegImage.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <jpeglib.h>
#include <vector>

namespace {

// A grey `size` picture of `components` (1 or 3), written with libjpeg; with
// `scans` > 0 it is progressive with that many scans: DC, then each AC
// coefficient at half precision, then each refined.
QByteArray encode(QSize size, int components, int scans = 0, bool simpleProgression = false) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = static_cast<JDIMENSION>(size.width());
    cinfo.image_height = static_cast<JDIMENSION>(size.height());
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    if (components == 3)
        for (int c = 0; c < 3; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    std::vector<jpeg_scan_info> script;
    if (simpleProgression) {
        jpeg_simple_progression(&cinfo);
    } else if (scans > 0) {
        script.push_back({1, {0}, 0, 0, 0, 0});
        for (int k = 1; k <= 63; ++k)
            script.push_back({1, {0}, k, k, 0, 1});
        for (int k = 1; k <= 63; ++k)
            script.push_back({1, {0}, k, k, 1, 0});
        script.resize(static_cast<std::size_t>(scans));
        cinfo.scan_info = script.data();
        cinfo.num_scans = scans;
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<unsigned char> row(static_cast<std::size_t>(size.width() * components));
    for (int y = 0; y < size.height(); ++y) {
        for (std::size_t x = 0; x < row.size(); ++x)
            row[x] = static_cast<unsigned char>((x * 7 + y * 3) & 0xFF);
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray bytes(reinterpret_cast<const char*>(out), static_cast<qsizetype>(outSize));
    std::free(out);
    return bytes;
}

TEST(JpegLimits, ScansAreCounted) {
    QString why;
    EXPECT_FALSE(imaging::DecodeJpeg(encode({64, 64}, 1, 0, true), &why).isNull())
        << qPrintable(why);
    EXPECT_EQ(imaging::DecodeJpeg(encode({64, 64}, 1, 100), &why).size(), QSize(64, 64))
        << qPrintable(why);
    EXPECT_TRUE(imaging::DecodeJpeg(encode({64, 64}, 1, 101), &why).isNull());
    EXPECT_EQ(why.toStdString(), "Too many scans");
}

TEST(JpegLimits, ProgressiveMemoryIsBounded) {
    // A progressive picture keeps every coefficient until its last scan:
    // 128 bytes per 8x8 block and component. 4096 square in colour needs
    // 96 MB of them, in grey 32 MB.
    QString why;
    EXPECT_TRUE(
        imaging::DecodeJpeg(encode({4096, 4096}, 3, 0, true), &why, 4096, {358, 74}).isNull());
    EXPECT_FALSE(why.isEmpty());
    EXPECT_EQ(imaging::DecodeJpeg(encode({4096, 4096}, 1, 0, true), &why, 4096, {358, 74}).size(),
              QSize(74, 74))
        << qPrintable(why);
}

TEST(JpegLimits, LargePicturesComeOutFitted) {
    const QByteArray wide = encode({1600, 400}, 3);
    QString why;
    EXPECT_EQ(imaging::DecodeJpeg(wide, &why, 4096, {358, 74}).size(), QSize(296, 74))
        << qPrintable(why);
    EXPECT_EQ(imaging::DecodeJpeg(wide, &why, 4096, {1600, 400}).size(), QSize(1600, 400));
    EXPECT_EQ(imaging::DecodeJpeg(wide, &why, 4096).size(),
              QSize(1600, 400)); // no room given: as it is
    const std::atomic<bool> cancel{true};
    EXPECT_TRUE(imaging::DecodeJpeg(wide, &why, 4096, {}, &cancel).isNull());
    EXPECT_EQ(why.toStdString(), "Cancelled");
}

} // namespace
