#include "tests/support/GifBuilder.h"

#include <gif_lib.h>

#include <vector>

namespace testsupport {

namespace {
int writeToBytes(GifFileType* gif, const GifByteType* data, int n) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), n);
    return n;
}
} // namespace

QByteArray BuildGif(int width, int height, const std::vector<GifFrame>& frames) {
    QByteArray out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, &writeToBytes, &err);
    if (!gif) return {};
    EGifSetGifVersion(gif, true);
    std::vector<GifColorType> colors(4);
    for (std::size_t i = 0; i < frames.size() && i < 4; ++i)
        colors[i] = {static_cast<GifByteType>(frames[i].color.red()), static_cast<GifByteType>(frames[i].color.green()),
                     static_cast<GifByteType>(frames[i].color.blue())};
    ColorMapObject* map = GifMakeMapObject(4, colors.data());
    EGifPutScreenDesc(gif, width, height, 2, 0, map);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.DelayTime = f.delay;
        gcb.TransparentColor = NO_TRANSPARENT_COLOR;
        GifByteType ext[4];
        EGifGCBToExtension(&gcb, ext);
        EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, ext);
        EGifPutImageDesc(gif, f.area.x(), f.area.y(), f.area.width(), f.area.height(), false, nullptr);
        std::vector<GifPixelType> line(static_cast<std::size_t>(f.area.width()), static_cast<GifPixelType>(i % 4));
        for (int y = 0; y < f.area.height(); ++y) EGifPutLine(gif, line.data(), f.area.width());
    }
    EGifCloseFile(gif, &err);
    GifFreeMapObject(map);
    return out;
}

} // namespace testsupport
