// The banner's frame bookkeeping: how many frames a GIF has and how long
// each one stays, read from GIFs written by giflib itself.
#include "imaging/GifImage.h"
#include "tests/support/GifBuilder.h"

#include <gtest/gtest.h>

using testsupport::BuildGif;
using testsupport::BuildSolidGif;

namespace {

TEST(GifFrames, CountAndDelaysOfEveryFrame) {
    const QByteArray gif = BuildGif(40, 30,
                                    {{QRect(0, 0, 40, 30), Qt::red, 7},
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

QColor px(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}

// A few bytes of LZW claim billions of pixels: the descriptor alone decides.
TEST(GifLimits, FrameLargerThanItsCanvasIsRefusedUnread) {
    struct Case {
        const char* name;
        QSize canvas;
        std::vector<QRect> frames;
    };
    const Case refused[] = {
        {"65535 square on 4x4", {4, 4}, {QRect(0, 0, 65535, 65535)}},
        {"nine of them", {4, 4}, std::vector<QRect>(9, QRect(0, 0, 65535, 65535))},
        {"one column wider", {4, 4}, {QRect(0, 0, 5, 4)}},
        {"one row higher, after a good frame", {4, 4}, {QRect(0, 0, 4, 4), QRect(0, 0, 4, 5)}},
    };
    for (const Case& c : refused) {
        QString why;
        const auto d = imaging::DecodeGif(BuildSolidGif(c.canvas, c.frames), &why);
        EXPECT_TRUE(d.frames.empty()) << c.name;
        EXPECT_EQ(why.toStdString(), "frame larger than its canvas") << c.name;
    }
    // Moved out of its canvas but no larger: the part inside shows.
    const auto moved = imaging::DecodeGif(BuildSolidGif({4, 4}, {QRect(2, 3, 4, 4)}));
    ASSERT_EQ(moved.frames.size(), 1u);
    EXPECT_EQ(px(moved.frames[0], 2, 3), QColor(Qt::red));
    EXPECT_EQ(px(moved.frames[0], 3, 3), QColor(Qt::red));
    EXPECT_EQ(qAlpha(moved.frames[0].pixel(1, 3)), 0);
}

TEST(GifLimits, FramesAndWorkAreBounded) {
    // 400,000 frames: only the first 500 are decoded and kept.
    const auto many =
        imaging::DecodeGif(BuildSolidGif({4, 4}, std::vector<QRect>(400000, QRect(0, 0, 4, 4))));
    EXPECT_EQ(many.frames.size(), 500u);
    EXPECT_EQ(many.delays.size(), 500u);
    EXPECT_TRUE(many.limited);
    imaging::GifLimits limits;
    limits.maxFrames = 3;
    EXPECT_EQ(imaging::DecodeGif(BuildSolidGif({4, 4}, std::vector<QRect>(3, QRect(0, 0, 4, 4))),
                                 nullptr, limits)
                  .frames.size(),
              3u);
    EXPECT_FALSE(imaging::DecodeGif(BuildSolidGif({4, 4}, std::vector<QRect>(3, QRect(0, 0, 4, 4))),
                                    nullptr, limits)
                     .limited);

    // Pixels read from the data, over all frames: a frame that would pass
    // the budget is not decoded.
    limits = {};
    limits.maxPixels = 2 * 16 + 15;
    const QByteArray three = BuildSolidGif({4, 4}, std::vector<QRect>(3, QRect(0, 0, 4, 4)));
    EXPECT_EQ(imaging::DecodeGif(three, nullptr, limits).frames.size(), 2u);
    limits.maxPixels = 15;
    QString why;
    EXPECT_TRUE(imaging::DecodeGif(three, &why, limits).frames.empty());
    EXPECT_EQ(why.toStdString(), "picture too large");

    // Bytes of the frames given back.
    limits = {};
    limits.maxBytes = 2 * 4 * 4 * 4;
    EXPECT_EQ(imaging::DecodeGif(three, nullptr, limits).frames.size(), 2u);

    // A canvas past the side limit is refused from its header.
    limits = {};
    limits.maxSide = 100;
    EXPECT_TRUE(imaging::DecodeGif(BuildSolidGif({101, 1}, {QRect(0, 0, 1, 1)}), &why, limits)
                    .frames.empty());
    EXPECT_EQ(why.toStdString(), "picture too large");
    EXPECT_EQ(imaging::DecodeGif(BuildSolidGif({100, 1}, {QRect(0, 0, 1, 1)}), &why, limits)
                  .frames.size(),
              1u);

    const std::atomic<bool> cancel{true};
    limits = {};
    limits.cancel = &cancel;
    EXPECT_TRUE(imaging::DecodeGif(three, &why, limits).frames.empty());
}

// A canvas larger than the room it gets is composited small: frames come
// out at the fitted size, each frame's area in its place.
TEST(GifLimits, LargeCanvasComesOutScaledDown) {
    const QByteArray gif = BuildGif(1000, 200,
                                    {{QRect(0, 0, 1000, 200), Qt::red, 10},
                                     {QRect(500, 100, 500, 100), Qt::green, 10, 2},
                                     {QRect(0, 0, 100, 100), Qt::blue, 10}});
    imaging::GifLimits limits;
    limits.fit = QSize(358, 74);
    const auto d = imaging::DecodeGif(gif, nullptr, limits);
    ASSERT_EQ(d.frames.size(), 3u);
    EXPECT_EQ(d.canvas, QSize(1000, 200));
    for (const QImage& f : d.frames)
        EXPECT_EQ(f.size(), QSize(358, 71));
    EXPECT_EQ(px(d.frames[0], 10, 10), QColor(Qt::red));
    EXPECT_EQ(px(d.frames[1], 300, 60), QColor(Qt::green));
    EXPECT_EQ(px(d.frames[1], 100, 60), QColor(Qt::red));
    EXPECT_EQ(px(d.frames[1], 300, 10), QColor(Qt::red));
    // Frame 2 went back to the background before frame 3.
    EXPECT_EQ(qAlpha(d.frames[2].pixel(300, 60)), 0);
    EXPECT_EQ(px(d.frames[2], 10, 10), QColor(Qt::blue));
    EXPECT_EQ(px(d.frames[2], 100, 10), QColor(Qt::red));

    // 4096 square shown in a 358x74 slot: 74 square, however tall the canvas.
    const QByteArray huge =
        BuildSolidGif({4096, 4096}, {QRect(0, 0, 4096, 4096), QRect(0, 0, 2048, 2048)});
    const auto h = imaging::DecodeGif(huge, nullptr, limits);
    ASSERT_EQ(h.frames.size(), 2u);
    EXPECT_EQ(h.frames[1].size(), QSize(74, 74));
    EXPECT_EQ(px(h.frames[1], 10, 10), QColor(Qt::green));
    EXPECT_EQ(px(h.frames[1], 60, 60), QColor(Qt::red));
    // A picture that fits is not touched.
    EXPECT_EQ(imaging::DecodeGif(BuildSolidGif({358, 74}, {QRect(0, 0, 358, 74)}), nullptr, limits)
                  .frames[0]
                  .size(),
              QSize(358, 74));
    // One so thin that it would scale to nothing keeps a pixel.
    EXPECT_EQ(imaging::DecodeGif(BuildSolidGif({4096, 1}, {QRect(0, 0, 4096, 1)}), nullptr, limits)
                  .frames[0]
                  .size(),
              QSize(358, 1));
}

} // namespace
