#include "banner/TBannerPicture.h"

#include "imaging/GifImage.h"
#include "imaging/JpegImage.h"
#include "net/CurlStream.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <QThread>
#include <stdexcept>

namespace banner {

namespace {

// The one download of a picture; frees itself when done.
class TDownLoadThread final : public QThread {
public:
    explicit TDownLoadThread(TBannerPicture* picture) : picture_(picture) {
        connect(this, &QThread::finished, this, &QObject::deleteLater);
        start();
    }
    void run() override {
        if (picture_) picture_->DownloadPicture();
    }

private:
    QPointer<TBannerPicture> picture_;
};

constexpr qint64 kMaxPicture = 16 << 20;

} // namespace

TBannerPicture::TBannerPicture(QObject* parent) : QObject(parent) {}

void TBannerPicture::OnUi(const std::function<void()>& f) {
    if (QThread::currentThread() == thread())
        f();
    else
        QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

bool TBannerPicture::IsGif() const { return imaging::IsGif(raw_); }
int TBannerPicture::GifFrameCount() const { return imaging::GifFrameCount(raw_); }
int TBannerPicture::GifFrameDelay(int frame) const { return imaging::GifFrameDelay(raw_, frame); }

void TBannerPicture::LoadFromURL(const QString& url) {
    frame_ = 0;
    const QString upper = url.toUpper();
    if (upper.startsWith(QStringLiteral("RES://"))) {
        const QString name = url.mid(6);
        QFile res(QStringLiteral(":/") + name);
        if (!name.isEmpty() && res.open(QIODevice::ReadOnly)) LoadFromStream(res);
    } else if (upper.startsWith(QStringLiteral("FILE://"))) {
        if (url.size() > 7) LoadFromFile(url.mid(7));
    } else if (!Async) {
        url_ = url;
        DownloadPicture();
    } else if (!busy_) {
        url_ = url;
        busy_ = true;
        new TDownLoadThread(this);
    }
}

void TBannerPicture::DownloadPicture() {
    auto fail = [this](const QString& text) {
        OnUi([&] {
            busy_ = false;
            if (OnDownLoadError) OnDownLoadError(this, text);
        });
    };
    net::Request r;
    r.url = url_.toStdString();
    r.agent = "QuorlexBanner";
    net::Session s;
    if (!s.Open(r)) return fail(QStringLiteral("Cannot open http connection"));
    if (s.Status() != 200) return fail(QStringLiteral("Cannot open URL ") + url_);
    if (!QString::fromStdString(s.ContentType()).toUpper().contains(QStringLiteral("IMAGE")))
        return fail(QStringLiteral("Resource is not of image type : ") + url_);
    const auto length = static_cast<quint32>(std::max<qint64>(0, s.ContentLength()));
    if (length == 0 && CheckContentLength) return fail(QStringLiteral("Image size is 0"));
    OnUi([&] {
        if (OnDownLoadProgress) OnDownLoadProgress(this, 0, length);
    });
    QByteArray buffer;
    bool cancel = false;
    char block[4096];
    qint64 n = 0;
    do {
        n = s.Read(block, sizeof block);
        if (n > 0) buffer.append(block, n);
        OnUi([&] {
            if (OnDownLoadProgress) OnDownLoadProgress(this, static_cast<quint32>(buffer.size()), length);
            if (OnDownLoadCancel) OnDownLoadCancel(this, cancel);
        });
    } while (n > 0 && !cancel && buffer.size() < kMaxPicture);
    if (n < 0) return fail(QStringLiteral("Cannot open URL ") + url_);
    OnUi([&] {
        busy_ = false;
        if (cancel) return;
        try {
            LoadFromBytes(buffer);
        } catch (const std::exception& e) {
            if (OnDownLoadError) OnDownLoadError(this, QString::fromStdString(e.what()));
            return;
        }
        if (OnDownLoadComplete) OnDownLoadComplete(this);
    });
}

void TBannerPicture::DecodePicture() {
    frameLeft_ = frameTop_ = 0;
    decoded_ = QImage();
    if (raw_.isEmpty()) throw std::runtime_error("Empty image stream created");
    QByteArray data;
    try {
        data.reserve(raw_.size());
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("Could not allocate memory for image");
    }
    QString why;
    QImage image;
    if (IsGif() && !imaging::GifFrameMarks(raw_).empty()) {
        data = imaging::GifFromFrame(raw_, frame_, &frameLeft_, &frameTop_);
        image = imaging::DecodeGifFirstImage(data, &why);
    } else if (IsGif()) {
        image = imaging::DecodeGifFirstImage(raw_, &why);
    } else if (raw_.startsWith("\xFF\xD8")) {
        image = imaging::DecodeJpeg(raw_, &why);
    } else {
        image.loadFromData(raw_); // PNG, BMP and the rest Qt reads
    }
    if (image.isNull()) throw std::runtime_error("Could not load image. Invalid format");
    decoded_ = image;
}

void TBannerPicture::LoadFromFile(const QString& name) {
    QFile f(name);
    try {
        if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot open");
        raw_ = f.read(kMaxPicture);
        empty_ = false;
        DecodePicture();
    } catch (...) {
        empty_ = true;
        decoded_ = QImage();
        return;
    }
    emit Changed();
}

void TBannerPicture::LoadFromStream(QIODevice& stream) {
    raw_ = stream.read(kMaxPicture);
    empty_ = false;
    DecodePicture();
    emit Changed();
}

void TBannerPicture::LoadFromBytes(const QByteArray& bytes) {
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    LoadFromStream(buffer);
}

void TBannerPicture::Assign(const TBannerPicture* source) {
    empty_ = true;
    decoded_ = QImage();
    if (!source) {
        raw_.clear();
        emit Changed();
        return;
    }
    raw_ = source->raw_;
    empty_ = false;
    try {
        DecodePicture();
    } catch (...) {
    }
    emit Changed();
}

void TBannerPicture::SaveToStream(QIODevice& stream) const { stream.write(raw_); }

void TBannerPicture::SetFrame(int frame) {
    frame_ = frame;
    if (raw_.isEmpty()) return;
    try {
        DecodePicture();
    } catch (...) {
        return; // a frame that does not decode leaves the last one out
    }
    emit FrameChanged();
    if (OnFrameChange) OnFrameChange(this);
}

int TBannerPicture::Width() const { return decoded_.isNull() ? 0 : decoded_.width(); }
int TBannerPicture::Height() const { return decoded_.isNull() ? 0 : decoded_.height(); }

void TBannerPicture::Draw(QPainter& painter, const QRect& rect) const {
    if (empty_ || decoded_.isNull()) return;
    painter.drawImage(rect.translated(frameLeft_, frameTop_), decoded_);
}

} // namespace banner
