// The banner's frame bookkeeping: how many frames a GIF has and how long
// each one stays, read from GIFs written by giflib itself.
#include "imaging/GifImage.h"
#include "tests/support/GifBuilder.h"

#include <gtest/gtest.h>

using testsupport::BuildGif;

namespace {

TEST(GifFrames, CountAndDelaysOfEveryFrame) {
    const QByteArray gif = BuildGif(40, 30, {{QRect(0, 0, 40, 30), Qt::red, 7},
                                             {QRect(5, 5, 10, 10), Qt::green, 300},
                                             {QRect(0, 0, 1, 1), Qt::blue, 0x1234}});
    ASSERT_TRUE(imaging::IsGif(gif));
    EXPECT_EQ(imaging::GifFrameCount(gif), 3);
    EXPECT_EQ(imaging::GifFrameDelay(gif, 1), 7);
    EXPECT_EQ(imaging::GifFrameDelay(gif, 2), 300); // both bytes, low first
    EXPECT_EQ(imaging::GifFrameDelay(gif, 3), 0x1234);
    EXPECT_EQ(imaging::GifFrameDelay(gif, 0), -1); // frames count from 1
    EXPECT_EQ(imaging::GifFrameDelay(gif, 4), -1);
}

TEST(GifFrames, NotAGif) {
    EXPECT_FALSE(imaging::IsGif(QByteArray("\x89PNG\r\n\x1a\n", 8)));
    EXPECT_FALSE(imaging::IsGif(QByteArray("GIF8")));
    EXPECT_EQ(imaging::GifFrameCount(QByteArray("JFIF and more bytes")), -1);
    // A frame mark cut off at the end of the data is no frame.
    QByteArray gif = BuildGif(4, 4, {{QRect(0, 0, 4, 4), Qt::red, 5}});
    const auto marks = imaging::GifFrameMarks(gif);
    ASSERT_EQ(marks.size(), 1u);
    gif.truncate(marks[0] + 9);
    EXPECT_EQ(imaging::GifFrameCount(gif), 0);
}

} // namespace
