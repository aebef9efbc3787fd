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
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass)
        for (int y = start[pass]; y < height; y += step[pass])
            rows.push_back(y);
    return rows;
}

// Where the canvas's rows (or columns) land in a picture of `to` of them,
// `to` <= `from`: each output samples the source nearest its centre, so a
// source row is used once or skipped, never blended.
class Sampling {
public:
    Sampling(int from, int to) : from_(from), first_(static_cast<std::size_t>(from) + 1) {
        source_.reserve(static_cast<std::size_t>(to));
        int s = 0;
        for (int i = 0; i < to; ++i) {
            const int src = static_cast<int>((qint64(2) * i + 1) * from / (qint64(2) * to));
            source_.push_back(src);
            while (s <= src)
                first_[static_cast<std::size_t>(s++)] = i;
        }
        while (s <= from)
            first_[static_cast<std::size_t>(s++)] = to;
    }
    // The first output whose source is `at` or later; the outputs of the
    // source range [a, b) are [First(a), First(b)).
    int First(int at) const { return first_[static_cast<std::size_t>(std::clamp(at, 0, from_))]; }
    int Source(int output) const { return source_[static_cast<std::size_t>(output)]; }

private:
    int from_;
    std::vector<int> first_;
    std::vector<int> source_;
};

// The canvas, kept at `work` size (the canvas's own or smaller).
class Compositor {
public:
    Compositor(QSize canvas, QSize work)
        : size_(canvas), cols_(canvas.width(), work.width()), rows_(canvas.height(), work.height()),
          canvas_(work, QImage::Format_ARGB32_Premultiplied) {
        canvas_.fill(Qt::transparent);
    }
    bool Valid() const { return !canvas_.isNull(); }

    // Undoes the previous frame as its disposal method asks, then keeps what
    // "restore to previous" of this frame will need.
    void Begin(const QRect& area, const Control& c) {
        if (lastDisposal_ == DISPOSE_BACKGROUND)
            clear(lastArea_);
        else if (lastDisposal_ == DISPOSE_PREVIOUS && !saved_.isNull())
            canvas_ = saved_;
        saved_ = c.disposal == DISPOSE_PREVIOUS ? canvas_.copy() : QImage();
        lastArea_ = area;
        lastDisposal_ = c.disposal;
    }
    // One row of the image at (area.x, area.y + y); clipped to the canvas.
    void Row(const QRect& area, int y, const GifPixelType* line, const ColorMapObject* map,
             int transparent) {
        const int cy = area.y() + y;
        if (cy < 0 || cy >= size_.height()) return;
        const int oy = rows_.First(cy);
        if (oy == rows_.First(cy + 1)) return; // not sampled
        auto* px = reinterpret_cast<QRgb*>(canvas_.scanLine(oy));
        const int o0 = cols_.First(area.x()), o1 = cols_.First(area.x() + area.width());
        for (int ox = o0; ox < o1; ++ox) {
            const int c = line[cols_.Source(ox) - area.x()];
            if (c == transparent || c >= map->ColorCount) continue; // the canvas shows through
            px[ox] = qRgb(map->Colors[c].Red, map->Colors[c].Green, map->Colors[c].Blue);
        }
    }
    const QImage& Canvas() const { return canvas_; }

private:
    void clear(const QRect& area) {
        const int x0 = cols_.First(area.x()), x1 = cols_.First(area.x() + area.width());
        const int y0 = rows_.First(area.y()), y1 = rows_.First(area.y() + area.height());
        for (int y = y0; y < y1; ++y)
            std::fill_n(reinterpret_cast<QRgb*>(canvas_.scanLine(y)) + x0, x1 - x0, QRgb(0));
    }

    QSize size_;
    Sampling cols_, rows_;
    QImage canvas_;
    QImage saved_;
    QRect lastArea_;
    int lastDisposal_ = DISPOSAL_UNSPECIFIED;
};

// The size frames come out at: the canvas, or scaled down to fit.
QSize fitted(QSize canvas, QSize fit) {
    if (canvas.width() <= fit.width() && canvas.height() <= fit.height()) return canvas;
    return canvas.scaled(fit.expandedTo(QSize(1, 1)), Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

} // namespace

bool IsGif(const QByteArray& d) {
    return d.size() >= 5 && d.startsWith("GIF8");
}

std::vector<qsizetype> GifFrameMarks(const QByteArray& d) {
    std::vector<qsizetype> marks;
    for (qsizetype p = 0; p + 9 < d.size(); ++p)
        if (static_cast<unsigned char>(d[p]) == 0x21 &&
            static_cast<unsigned char>(d[p + 1]) == 0xF9 &&
            static_cast<unsigned char>(d[p + 2]) == 0x04 &&
            static_cast<unsigned char>(d[p + 8]) == 0x2C)
            marks.push_back(p);
    return marks;
}

int GifFrameCount(const QByteArray& d) {
    return IsGif(d) ? static_cast<int>(GifFrameMarks(d).size()) : -1;
}

int GifFrameDelay(const QByteArray& d, int frame) {
    const auto marks = GifFrameMarks(d);
    if (frame < 1 || frame > static_cast<int>(marks.size())) return -1;
    return u16(d, marks[frame - 1] + 4);
}

GifAnimation DecodeGif(const QByteArray& data, QString* error, const GifLimits& limits) {
    GifAnimation out;
    const auto fail = [&](const QString& why) {
        out.frames.clear();
        out.delays.clear();
        if (error) *error = why;
        return out;
    };
    const auto cancelled = [&] { return limits.cancel && limits.cancel->load(); };
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
    if (out.canvas.width() > limits.maxSide || out.canvas.height() > limits.maxSide)
        return fail(QStringLiteral("picture too large"));
    const QSize size = fitted(out.canvas, limits.fit);
    // Twice the size it is shown at is enough for a smooth scale down.
    const QSize work = out.canvas.boundedTo(size * 2);
    const qint64 frameBytes = qint64(size.width()) * size.height() * 4;
    Compositor canvas(out.canvas, work);
    if (!canvas.Valid()) return fail(QStringLiteral("out of memory"));
    Control control;
    qint64 pixels = 0;
    GifRecordType type;
    bool done = false;
    while (!done) {
        if (cancelled()) return fail(QStringLiteral("cancelled"));
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
            // Decoding what is clipped away would cost as much as what is
            // shown: a frame may move on its canvas but not outgrow it.
            if (desc.Width > out.canvas.width() || desc.Height > out.canvas.height())
                return fail(QStringLiteral("frame larger than its canvas"));
            const qint64 area = qint64(desc.Width) * desc.Height;
            const auto count = static_cast<qint64>(out.frames.size());
            if (count >= limits.maxFrames || pixels + area > limits.maxPixels ||
                (count + 1) * frameBytes > limits.maxBytes) {
                if (out.frames.empty()) return fail(QStringLiteral("picture too large"));
                out.limited = done = true; // the frames so far play; the rest would not fit
                break;
            }
            pixels += area;
            const QRect rect(desc.Left, desc.Top, desc.Width, desc.Height);
            canvas.Begin(rect, control);
            std::vector<GifPixelType> line(static_cast<std::size_t>(desc.Width));
            for (int y : rowOrder(desc.Height, desc.Interlace)) {
                if (cancelled()) return fail(QStringLiteral("cancelled"));
                if (DGifGetLine(gif, line.data(), desc.Width) != GIF_OK) {
                    out.truncated = done = true;
                    break;
                }
                canvas.Row(rect, y, line.data(), map, control.transparent);
            }
            out.frames.push_back(work == size ? canvas.Canvas().copy()
                                              : canvas.Canvas().scaled(size, Qt::IgnoreAspectRatio,
                                                                       Qt::SmoothTransformation));
            out.delays.push_back(control.delay);
            control = {};
            break;
        }
        case TERMINATE_RECORD_TYPE:
            done = true;
            break;
        default:
            break;
        }
    }
    if (out.frames.empty()) return fail(QStringLiteral("no readable image"));
    return out;
}

} // namespace imaging
