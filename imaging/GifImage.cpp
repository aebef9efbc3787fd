#include "imaging/GifImage.h"

#include <gif_lib.h>

#include <cstring>

namespace imaging {

namespace {

int u16(const QByteArray& d, qsizetype at) {
    return static_cast<unsigned char>(d[at]) | (static_cast<unsigned char>(d[at + 1]) << 8);
}

struct Reader {
    const QByteArray* data;
    qsizetype pos = 0;
};

int readFromMemory(GifFileType* gif, GifByteType* out, int n) {
    auto* r = static_cast<Reader*>(gif->UserData);
    const qsizetype left = r->data->size() - r->pos;
    const int take = static_cast<int>(std::min<qsizetype>(left, n));
    std::memcpy(out, r->data->constData() + r->pos, static_cast<std::size_t>(take));
    r->pos += take;
    return take;
}

// A corrupt header may claim a huge canvas; banners are small.
constexpr int kMaxSide = 4096;

} // namespace

bool IsGif(const QByteArray& d) { return d.size() >= 5 && d.startsWith("GIF8"); }

std::vector<qsizetype> GifFrameMarks(const QByteArray& d) {
    std::vector<qsizetype> marks;
    for (qsizetype p = 0; p + 9 < d.size(); ++p)
        if (static_cast<unsigned char>(d[p]) == 0x21 && static_cast<unsigned char>(d[p + 1]) == 0xF9 &&
            static_cast<unsigned char>(d[p + 2]) == 0x04 && static_cast<unsigned char>(d[p + 8]) == 0x2C)
            marks.push_back(p);
    return marks;
}

int GifFrameCount(const QByteArray& d) { return IsGif(d) ? static_cast<int>(GifFrameMarks(d).size()) : -1; }

int GifFrameDelay(const QByteArray& d, int frame) {
    const auto marks = GifFrameMarks(d);
    if (frame < 1 || frame > static_cast<int>(marks.size())) return -1;
    return u16(d, marks[frame - 1] + 4);
}

QByteArray GifFromFrame(const QByteArray& d, int frame, int* left, int* top) {
    if (left) *left = 0;
    if (top) *top = 0;
    const auto marks = IsGif(d) ? GifFrameMarks(d) : std::vector<qsizetype>();
    if (marks.empty()) return d;
    const int k = std::clamp(frame, 1, static_cast<int>(marks.size()));
    const qsizetype at = marks[k - 1];
    if (frame >= 1 && at + 12 < d.size()) {
        if (left) *left = u16(d, at + 9);
        if (top) *top = u16(d, at + 11);
    }
    if (frame <= 1) return d;
    return d.left(marks[0]) + d.mid(at);
}

QImage DecodeGifFirstImage(const QByteArray& data, QString* error) {
    Reader reader{&data};
    int err = 0;
    GifFileType* gif = DGifOpen(&reader, &readFromMemory, &err);
    if (!gif) {
        if (error) *error = QString::fromLatin1(GifErrorString(err));
        return {};
    }
    QImage image;
    int transparent = -1;
    GifRecordType type;
    bool done = false;
    while (!done && DGifGetRecordType(gif, &type) == GIF_OK) {
        switch (type) {
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) != GIF_OK) {
                done = true;
                break;
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4 && (ext[1] & 1)) transparent = ext[4];
            while (ext && DGifGetExtensionNext(gif, &ext) == GIF_OK && ext) {
            }
            break;
        }
        case IMAGE_DESC_RECORD_TYPE: {
            if (DGifGetImageDesc(gif) != GIF_OK) {
                done = true;
                break;
            }
            const auto& desc = gif->Image;
            const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
            if (desc.Width <= 0 || desc.Height <= 0 || desc.Width > kMaxSide || desc.Height > kMaxSide || !map) {
                done = true;
                break;
            }
            QImage out(desc.Width, desc.Height, QImage::Format_ARGB32);
            std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
            // Interlaced images store their rows in four passes.
            std::vector<int> rows;
            if (desc.Interlace) {
                for (int pass = 0, start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2}; pass < 4; ++pass)
                    for (int y = start[pass]; y < desc.Height; y += step[pass]) rows.push_back(y);
            } else {
                for (int y = 0; y < desc.Height; ++y) rows.push_back(y);
            }
            bool ok = true;
            for (int y : rows) {
                if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) {
                    ok = false;
                    break;
                }
                auto* px = reinterpret_cast<QRgb*>(out.scanLine(y));
                for (int x = 0; x < desc.Width; ++x) {
                    const int c = line[static_cast<std::size_t>(x)];
                    if (c == transparent || c >= map->ColorCount)
                        px[x] = qRgba(0, 0, 0, 0);
                    else
                        px[x] = qRgb(map->Colors[c].Red, map->Colors[c].Green, map->Colors[c].Blue);
                }
            }
            if (ok) image = out;
            done = true;
            break;
        }
        case TERMINATE_RECORD_TYPE: done = true; break;
        default: break;
        }
    }
    DGifCloseFile(gif, &err);
    if (image.isNull() && error) *error = QStringLiteral("no readable image");
    return image;
}

} // namespace imaging
