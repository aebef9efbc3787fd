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
    while ((1 << bits) < static_cast<int>(palette.size())) ++bits;
    std::vector<GifColorType> colors(static_cast<std::size_t>(1 << bits));
    for (std::size_t i = 0; i < palette.size(); ++i)
        colors[i] = {static_cast<GifByteType>(qRed(palette[i])), static_cast<GifByteType>(qGreen(palette[i])),
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
        EGifPutImageDesc(gif, f.area.x(), f.area.y(), f.area.width(), f.area.height(), f.interlaced, nullptr);
        std::vector<int> rows;
        if (f.interlaced) {
            const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
            for (int pass = 0; pass < 4; ++pass)
                for (int y = start[pass]; y < f.area.height(); y += step[pass]) rows.push_back(y);
        } else {
            for (int y = 0; y < f.area.height(); ++y) rows.push_back(y);
        }
        for (int y : rows) EGifPutLine(gif, pixels[i].data() + y * f.area.width(), f.area.width());
    }
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    return out;
}

} // namespace testsupport
