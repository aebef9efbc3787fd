#include "imaging/GifImage.h"

#include <gif_lib.h>

#include <algorithm>
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

// What the graphic control extension before an image says about it.
struct Control {
    int disposal = DISPOSAL_UNSPECIFIED;
    int delay = 0;
    int transparent = NO_TRANSPARENT_COLOR;
};

// Row order of an image: interlaced images store theirs in four passes.
std::vector<int> rowOrder(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<std::size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) rows.push_back(y);
        return rows;
    }
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass]) rows.push_back(y);
    return rows;
}

class Compositor {
public:
    explicit Compositor(QSize canvas) : canvas_(canvas, QImage::Format_ARGB32_Premultiplied) {
        canvas_.fill(Qt::transparent);
    }
    bool Valid() const { return !canvas_.isNull(); }

    // Undoes the previous frame as its disposal method asks, then keeps what
    // "restore to previous" of this frame will need.
    void Begin(const QRect& area, const Control& c) {
        if (lastDisposal_ == DISPOSE_BACKGROUND) clear(lastArea_);
        else if (lastDisposal_ == DISPOSE_PREVIOUS && !saved_.isNull()) canvas_ = saved_;
        saved_ = c.disposal == DISPOSE_PREVIOUS ? canvas_.copy() : QImage();
        lastArea_ = area;
        lastDisposal_ = c.disposal;
    }
    // One row of the image at (area.x, area.y + y); clipped to the canvas.
    void Row(const QRect& area, int y, const GifPixelType* line, const ColorMapObject* map, int transparent) {
        const int cy = area.y() + y;
        if (cy < 0 || cy >= canvas_.height()) return;
        auto* px = reinterpret_cast<QRgb*>(canvas_.scanLine(cy));
        const int x0 = std::max(0, area.x()), x1 = std::min(canvas_.width(), area.x() + area.width());
        for (int cx = x0; cx < x1; ++cx) {
            const int c = line[cx - area.x()];
            if (c == transparent || c >= map->ColorCount) continue; // the canvas shows through
            px[cx] = qRgb(map->Colors[c].Red, map->Colors[c].Green, map->Colors[c].Blue);
        }
    }
    const QImage& Canvas() const { return canvas_; }

private:
    void clear(const QRect& area) {
        const QRect r = area.intersected(canvas_.rect());
        for (int y = r.top(); y <= r.bottom(); ++y)
            std::fill_n(reinterpret_cast<QRgb*>(canvas_.scanLine(y)) + r.left(), r.width(), QRgb(0));
    }

    QImage canvas_;
    QImage saved_;
    QRect lastArea_;
    int lastDisposal_ = DISPOSAL_UNSPECIFIED;
};

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

GifAnimation DecodeGif(const QByteArray& data, QString* error, int maxSide, qint64 maxPixels) {
    GifAnimation out;
    const auto fail = [&](const QString& why) {
        out.frames.clear();
        out.delays.clear();
        if (error) *error = why;
        return out;
    };
    Reader reader{&data};
    int err = 0;
    GifFileType* gif = DGifOpen(&reader, &readFromMemory, &err);
    if (!gif) return fail(QString::fromLatin1(GifErrorString(err)));
    const struct Closer {
        GifFileType* g;
        ~Closer() {
            int e = 0;
            DGifCloseFile(g, &e);
        }
    } closer{gif};
    out.canvas = QSize(gif->SWidth, gif->SHeight);
    if (out.canvas.isEmpty()) return fail(QStringLiteral("no logical screen"));
    if (out.canvas.width() > maxSide || out.canvas.height() > maxSide) return fail(QStringLiteral("picture too large"));
    const qint64 perFrame = qint64(out.canvas.width()) * out.canvas.height();
    Compositor canvas(out.canvas);
    if (!canvas.Valid()) return fail(QStringLiteral("out of memory"));
    Control control;
    GifRecordType type;
    bool done = false;
    while (!done) {
        if (DGifGetRecordType(gif, &type) != GIF_OK) {
            out.truncated = true;
            break;
        }
        switch (type) {
        case EXTENSION_RECORD_TYPE: {
            int code = 0;
            GifByteType* ext = nullptr;
            if (DGifGetExtension(gif, &code, &ext) != GIF_OK) {
                out.truncated = done = true;
                break;
            }
            if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
                GraphicsControlBlock gcb;
                DGifExtensionToGCB(ext[0], ext + 1, &gcb);
                control = {gcb.DisposalMode, gcb.DelayTime, gcb.TransparentColor};
            }
            while (ext) {
                if (DGifGetExtensionNext(gif, &ext) != GIF_OK) {
                    out.truncated = done = true;
                    break;
                }
            }
            break;
        }
        case IMAGE_DESC_RECORD_TYPE: {
            if (DGifGetImageDesc(gif) != GIF_OK) {
                out.truncated = done = true;
                break;
            }
            const auto& desc = gif->Image;
            const ColorMapObject* map = desc.ColorMap ? desc.ColorMap : gif->SColorMap;
            if (desc.Width <= 0 || desc.Height <= 0 || !map) {
                done = true;
                break;
            }
            if ((qint64(out.frames.size()) + 1) * perFrame > maxPixels) {
                done = true; // the frames so far play; the rest would not fit
                break;
            }
            const QRect area(desc.Left, desc.Top, desc.Width, desc.Height);
            canvas.Begin(area, control);
            std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
            for (int y : rowOrder(desc.Height, desc.Interlace)) {
                if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) {
                    out.truncated = done = true;
                    break;
                }
                canvas.Row(area, y, line.data(), map, control.transparent);
            }
            out.frames.push_back(canvas.Canvas().copy());
            out.delays.push_back(control.delay);
            control = {};
            break;
        }
        case TERMINATE_RECORD_TYPE: done = true; break;
        default: break;
        }
    }
    if (out.frames.empty()) return fail(QStringLiteral("no readable image"));
    return out;
}

} // namespace imaging
