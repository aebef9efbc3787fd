#include "tests/support/GifBuilder.h"

#include <gif_lib.h>

#include <algorithm>
#include <vector>

namespace testsupport {

namespace {
int writeToBytes(GifFileType* gif, const GifByteType* data, int n) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
    return n;
}

void putU16(QByteArray& out, int v) {
    out.append(static_cast<char>(v & 0xFF));
    out.append(static_cast<char>((v >> 8) & 0xFF));
}

// LZW codes packed low bit first into data sub-blocks of 255 bytes.
class CodeWriter {
public:
    explicit CodeWriter(QByteArray& out) : out_(out) {}
    void Put(int code, int bits) {
        acc_ |= static_cast<quint32>(code) << used_;
        used_ += bits;
        while (used_ >= 8) {
            byte(static_cast<char>(acc_ & 0xFF));
            acc_ >>= 8;
            used_ -= 8;
        }
    }
    void Finish() {
        if (used_ > 0) byte(static_cast<char>(acc_ & 0xFF));
        if (!block_.isEmpty()) flush();
        out_.append('\0');
    }

private:
    void byte(char c) {
        block_.append(c);
        if (block_.size() == 255) flush();
    }
    void flush() {
        out_.append(static_cast<char>(block_.size()));
        out_.append(block_);
        block_.clear();
    }
    QByteArray& out_;
    QByteArray block_;
    quint32 acc_ = 0;
    int used_ = 0;
};

// `pixels` pixels of colour `c` with a minimum code size of 2: every code
// names a run one longer than the one before, until the table is full.
void putSolidPixels(QByteArray& out, qint64 pixels, int c) {
    constexpr int clear = 4, eoi = 5, first = 6, maxCode = 4095;
    out.append('\2');
    CodeWriter w(out);
    int bits = 3, next = first;
    w.Put(clear, bits);
    qint64 run = 1; // the longest run the table holds after the next code
    const auto codeOf = [&](qint64 length) {
        return length == 1 ? c : static_cast<int>(first + length - 2);
    };
    while (pixels > 0) {
        const qint64 length = std::min(pixels, run);
        w.Put(codeOf(length), bits);
        pixels -= length;
        if (next <= maxCode) {
            // As giflib's encoder: the width grows once the next code would not fit.
            if (next >= (1 << bits) && bits < 12) ++bits;
            ++next;
            ++run;
        }
    }
    w.Put(eoi, bits);
    w.Finish();
}
} // namespace

QByteArray BuildGif(int width, int height, const std::vector<GifFrame>& frames) {
    // Index 0 is the transparent index; the frames' colours follow in order.
    std::vector<QRgb> palette{qRgb(255, 0, 255)};
    const auto indexOf = [&](const QColor& c) -> GifPixelType {
        if (c.alpha() == 0) return 0;
        const auto at = std::find(palette.begin() + 1, palette.end(), c.rgb());
        if (at != palette.end()) return static_cast<GifPixelType>(at - palette.begin());
        palette.push_back(c.rgb());
        return static_cast<GifPixelType>(palette.size() - 1);
    };
    std::vector<std::vector<GifPixelType>> pixels;
    unsigned seed = 12345;
    for (const auto& f : frames) {
        std::vector<GifPixelType> px(static_cast<std::size_t>(f.area.width() * f.area.height()));
        const GifPixelType main = indexOf(f.color);
        const GifPixelType other = f.speckle.isValid() ? indexOf(f.speckle) : main;
        for (int y = 0; y < f.area.height(); ++y)
            for (int x = 0; x < f.area.width(); ++x) {
                seed = seed * 1103515245u + 12345u;
                GifPixelType c = (seed >> 16) & 1 ? other : main;
                if (f.hole.contains(x, y)) c = 0;
                px[static_cast<std::size_t>(y * f.area.width() + x)] = c;
            }
        pixels.push_back(std::move(px));
    }
    int bits = 1;
    while ((1 << bits) < static_cast<int>(palette.size()))
        ++bits;
    std::vector<GifColorType> colors(static_cast<std::size_t>(1 << bits));
    for (std::size_t i = 0; i < palette.size(); ++i)
        colors[i] = {static_cast<GifByteType>(qRed(palette[i])),
                     static_cast<GifByteType>(qGreen(palette[i])),
                     static_cast<GifByteType>(qBlue(palette[i]))};

    QByteArray out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, &writeToBytes, &err);
    if (!gif) return {};
    EGifSetGifVersion(gif, true);
    ColorMapObject* map = GifMakeMapObject(1 << bits, colors.data());
    EGifPutScreenDesc(gif, width, height, bits, 0, map);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        const bool transparent = f.color.alpha() == 0 || !f.hole.isEmpty();
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = f.disposal;
        gcb.DelayTime = f.delay;
        gcb.TransparentColor = transparent ? 0 : NO_TRANSPARENT_COLOR;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
        EGifPutImageDesc(gif, f.area.x(), f.area.y(), f.area.width(), f.area.height(), f.interlaced,
                         nullptr);
        std::vector<int> rows;
        if (f.interlaced) {
            const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < f.area.height(); y += step[pass])
                    rows.push_back(y);
        } else {
            for (int y = 0; y < f.area.height(); ++y)
                rows.push_back(y);
        }
        for (int y : rows)
            EGifPutLine(gif, pixels[i].data() + y * f.area.width(), f.area.width());
    }
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    return out;
}

QByteArray BuildSolidGif(QSize canvas, const std::vector<QRect>& frames, int delay) {
    QByteArray out("GIF89a");
    putU16(out, canvas.width());
    putU16(out, canvas.height());
    out.append(static_cast<char>(0x91)); // a global palette of 4 colours
    out.append('\0');
    out.append('\0');
    out.append("\xFF\x00\x00\x00\xFF\x00\x00\x00\xFF\xFF\xFF\xFF", 12);
    int k = 0;
    for (const QRect& f : frames) {
        out.append("\x21\xF9\x04\x04", 4); // keep each frame on the canvas
        putU16(out, delay);
        out.append("\x00\x00", 2);
        out.append('\x2C');
        putU16(out, f.x());
        putU16(out, f.y());
        putU16(out, f.width());
        putU16(out, f.height());
        out.append('\0');
        putSolidPixels(out, qint64(f.width()) * f.height(), k++ % 3);
    }
    out.append('\x3B');
    return out;
}

} // namespace testsupport
