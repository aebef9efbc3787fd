#include "banner/TBannerPicture.h"

#include "imaging/GifImage.h"
#include "imaging/JpegImage.h"
#include "net/CurlStream.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QSemaphore>
#include <QThread>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace banner {

// What a download thread shares with its picture. The picture outlives the
// thread's use of it: it clears `owner` under the mutex before it goes, and
// every hand-over posts its call under the same mutex.
struct DownloadLink {
    std::mutex mutex;
    TBannerPicture* owner = nullptr;
    net::CancelFlag cancel = net::MakeCancelFlag();
};

namespace {

constexpr qint64 kMaxPicture = 16 << 20;
constexpr qint64 kBlock = 4096;

using UiCall = std::function<void(TBannerPicture*)>;
// Runs a call with the picture on the picture's thread and waits for it;
// false when the picture stopped listening (the call did not run and will not).
using ToUi = std::function<bool(const UiCall&)>;

bool handOver(const std::shared_ptr<DownloadLink>& link, const UiCall& call) {
    auto done = std::make_shared<QSemaphore>();
    {
        const std::lock_guard lock(link->mutex);
        if (!link->owner || link->cancel->load()) return false;
        QMetaObject::invokeMethod(
            link->owner,
            [link, call, done] {
                TBannerPicture* owner = nullptr;
                {
                    const std::lock_guard inner(link->mutex);
                    if (!link->cancel->load()) owner = link->owner;
                }
                if (owner) call(owner);
                done->release();
            },
            Qt::QueuedConnection);
    }
    // Never an unbounded wait: a picture that goes away stops answering.
    while (!done->tryAcquire(1, net::kTurnMilliseconds))
        if (link->cancel->load()) return false;
    return true;
}

struct Outcome {
    QString error; // set: the download failed with this text
    QByteArray bytes;
    bool cancelled = false;
    std::optional<TBannerPicture::Decoded> decoded; // decoded off the UI thread
};

Outcome failed(QString error, bool cancelled = false) {
    Outcome o;
    o.error = std::move(error);
    o.cancelled = cancelled;
    return o;
}
Outcome cancelledOutcome() {
    return failed({}, true);
}

// The network part of a download; touches nothing but its arguments and
// reaches the picture only through `toUi`.
Outcome fetch(const QString& url, bool checkLength, const net::CancelFlag& cancelFlag,
              const ToUi& toUi) {
    net::Request r;
    r.url = url.toStdString();
    r.agent = "QuorlexBanner";
    r.protocols = "http,https"; // the URL comes from the feed, off the network
    r.maxBytes = kMaxPicture;
    r.cancel = cancelFlag;
    net::Session s;
    if (!s.Open(r))
        return failed(s.Cancelled() ? QString() : QStringLiteral("Cannot open http connection"),
                      s.Cancelled());
    if (s.Status() != 200) return failed(QStringLiteral("Cannot open URL ") + url);
    if (!QString::fromStdString(s.ContentType()).toUpper().contains(QStringLiteral("IMAGE")))
        return failed(QStringLiteral("Resource is not of image type : ") + url);
    const auto length = static_cast<quint32>(std::clamp<qint64>(s.ContentLength(), 0, 0xFFFFFFFF));
    if (length == 0 && checkLength) return failed(QStringLiteral("Image size is 0"));
    if (!toUi([length](TBannerPicture* p) {
            if (p->OnDownLoadProgress) p->OnDownLoadProgress(p, 0, length);
        }))
        return cancelledOutcome();
    Outcome out;
    auto userCancel = std::make_shared<std::atomic<bool>>(false);
    char block[kBlock];
    qint64 n = 0;
    do {
        n = s.Read(block, kBlock);
        if (n > 0) out.bytes.append(block, n);
        const auto size = static_cast<quint32>(out.bytes.size());
        if (!toUi([size, length, userCancel](TBannerPicture* p) {
                if (p->OnDownLoadProgress) p->OnDownLoadProgress(p, size, length);
                bool cancel = false;
                if (p->OnDownLoadCancel) p->OnDownLoadCancel(p, cancel);
                if (cancel) *userCancel = true;
            }))
            return cancelledOutcome();
    } while (n > 0 && !*userCancel);
    if (*userCancel) return cancelledOutcome();
    if (n < 0)
        return failed(s.Cancelled() ? QString() : QStringLiteral("Cannot open URL ") + url,
                      s.Cancelled());
    return out;
}

// The picture's events for what the download ended with, on its thread.
void conclude(TBannerPicture* p, const Outcome& o) {
    if (o.cancelled) return;
    if (!o.error.isEmpty()) {
        if (p->OnDownLoadError) p->OnDownLoadError(p, o.error);
        return;
    }
    try {
        if (o.decoded)
            p->LoadDecoded(o.bytes, *o.decoded);
        else
            p->LoadFromBytes(o.bytes);
    } catch (const std::exception& e) {
        if (p->OnDownLoadError) p->OnDownLoadError(p, QString::fromStdString(e.what()));
        return;
    }
    if (p->OnDownLoadComplete) p->OnDownLoadComplete(p);
}

// One asynchronous download; deletes itself once finished.
class TDownLoadThread final : public QThread {
public:
    TDownLoadThread(std::shared_ptr<DownloadLink> link, QString url, bool checkLength, QSize fit)
        : link_(std::move(link)), url_(std::move(url)), checkLength_(checkLength), fit_(fit) {
        connect(this, &QThread::finished, this, &QObject::deleteLater);
    }
    void run() override {
        const ToUi toUi = [this](const UiCall& call) { return handOver(link_, call); };
        Outcome o = fetch(url_, checkLength_, link_->cancel, toUi);
        // The bytes are whatever the server sent: decoding them may take
        // the decoder's whole budget, and the window goes on meanwhile.
        if (!o.cancelled && o.error.isEmpty()) {
            try {
                o.decoded = TBannerPicture::Decode(o.bytes, fit_, link_->cancel.get());
            } catch (const std::exception& e) {
                o.error = QString::fromStdString(e.what());
            }
        }
        handOver(link_, [o](TBannerPicture* p) {
            p->StopDownload(QDeadlineTimer(0)); // clears busy; this thread ends right after
            conclude(p, o);
        });
    }

private:
    std::shared_ptr<DownloadLink> link_;
    QString url_;
    bool checkLength_;
    QSize fit_;
};

std::mutex observerMutex;
std::function<void()>& decodeObserver() {
    static std::function<void()> observer;
    return observer;
}

} // namespace

TBannerPicture::TBannerPicture(QObject* parent) : QObject(parent) {}

TBannerPicture::~TBannerPicture() {
    StopDownload();
}

bool TBannerPicture::StopDownload(QDeadlineTimer deadline) {
    busy_ = false;
    if (link_) {
        const std::lock_guard lock(link_->mutex);
        link_->owner = nullptr;
        link_->cancel->store(true);
    }
    link_.reset();
    QThread* t = thread_.data();
    thread_.clear();
    if (!t || t == QThread::currentThread()) return true;
    if (!t->wait(deadline)) return false; // it deletes itself once it ends
    delete t;
    return true;
}

bool TBannerPicture::IsGif() const {
    return imaging::IsGif(raw_);
}
int TBannerPicture::GifFrameCount() const {
    return decoded_.gif ? static_cast<int>(decoded_.frames.size()) : -1;
}
int TBannerPicture::GifFrameDelay(int frame) const {
    if (!decoded_.gif || frame < 1 || frame > static_cast<int>(decoded_.delays.size())) return -1;
    return decoded_.delays[static_cast<std::size_t>(frame - 1)];
}

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
        link_ = std::make_shared<DownloadLink>();
        link_->owner = this;
        auto* t = new TDownLoadThread(link_, url, CheckContentLength, MaxSize);
        thread_ = t;
        t->start();
    }
}

void TBannerPicture::DownloadPicture() {
    const auto cancel = net::MakeCancelFlag();
    const ToUi direct = [this](const UiCall& call) {
        call(this);
        return true;
    };
    const Outcome o = fetch(url_, CheckContentLength, cancel, direct);
    busy_ = false;
    conclude(this, o);
}

void TBannerPicture::SetDecodeObserverForTesting(std::function<void()> observer) {
    const std::lock_guard lock(observerMutex);
    decodeObserver() = std::move(observer);
}

TBannerPicture::Decoded TBannerPicture::Decode(const QByteArray& bytes, QSize fit,
                                               const std::atomic<bool>* cancel) {
    std::function<void()> observer;
    {
        const std::lock_guard lock(observerMutex);
        observer = decodeObserver();
    }
    if (observer) observer();
    if (bytes.isEmpty()) throw std::runtime_error("Empty image stream created");
    fit = (fit.isValid() ? fit : QSize(kMaxBannerSide, kMaxBannerSide))
              .boundedTo(QSize(kMaxBannerSide, kMaxBannerSide))
              .expandedTo(QSize(1, 1));
    Decoded d;
    QString why;
    const auto refuse = [&] {
        // A picture larger than the control can show is not allocated at all.
        if (why.contains(QStringLiteral("too large"), Qt::CaseInsensitive))
            throw std::runtime_error("Could not allocate memory for image");
        throw std::runtime_error("Could not load image. Invalid format");
    };
    if (imaging::IsGif(bytes)) {
        imaging::GifLimits limits;
        limits.maxSide = kMaxBannerSide;
        limits.fit = fit;
        limits.maxFrames = kMaxBannerFrames;
        limits.cancel = cancel;
        auto gif = imaging::DecodeGif(bytes, &why, limits);
        if (gif.frames.empty()) refuse();
        d.gif = true;
        d.frames = std::move(gif.frames);
        d.delays = std::move(gif.delays);
        return d;
    }
    QImage image;
    if (bytes.startsWith("\xFF\xD8")) {
        image = imaging::DecodeJpeg(bytes, &why, kMaxBannerSide, fit, cancel);
    } else {
        QBuffer buffer;
        buffer.setData(bytes);
        buffer.open(QIODevice::ReadOnly);
        QImageReader reader(&buffer); // PNG, BMP and the rest Qt reads
        const QSize declared = reader.size();
        if (declared.width() > kMaxBannerSide || declared.height() > kMaxBannerSide) {
            why = QStringLiteral("too large");
        } else {
            if (declared.width() > fit.width() || declared.height() > fit.height())
                reader.setScaledSize(
                    declared.scaled(fit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
            image = reader.read();
        }
        // Formats that cannot tell their size up front are held to the same limit.
        if (image.width() > kMaxBannerSide || image.height() > kMaxBannerSide) {
            image = QImage();
            why = QStringLiteral("too large");
        }
        if (image.width() > fit.width() || image.height() > fit.height())
            image = image.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    if (image.isNull()) refuse();
    d.frames.push_back(image.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    return d;
}

void TBannerPicture::LoadDecoded(QByteArray bytes, Decoded decoded) {
    Take(std::move(bytes), std::move(decoded));
    emit Changed();
}

void TBannerPicture::Take(QByteArray bytes, Decoded decoded) {
    raw_ = std::move(bytes);
    decoded_ = std::move(decoded);
    empty_ = false;
}

void TBannerPicture::LoadFromFile(const QString& name) {
    QFile f(name);
    try {
        // A device or a pipe would hold the reading thread for as long as it likes.
        if (!QFileInfo(name).isFile()) throw std::runtime_error("not a plain file");
        if (!f.open(QIODevice::ReadOnly)) throw std::runtime_error("cannot open");
        QByteArray bytes = f.read(kMaxPicture);
        Take(bytes, Decode(bytes, MaxSize));
    } catch (...) {
        empty_ = true;
        decoded_ = {};
        return;
    }
    emit Changed();
}

void TBannerPicture::LoadFromStream(QIODevice& stream) {
    QByteArray bytes = stream.read(kMaxPicture);
    Decoded decoded = Decode(bytes, MaxSize); // raises before anything changes
    Take(std::move(bytes), std::move(decoded));
    emit Changed();
}

void TBannerPicture::LoadFromBytes(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    LoadFromStream(buffer);
}

void TBannerPicture::Assign(const TBannerPicture* source) {
    empty_ = true;
    decoded_ = {};
    if (!source) {
        raw_.clear();
        emit Changed();
        return;
    }
    raw_ = source->raw_;
    decoded_ = source->decoded_; // the same bytes decode to the same frames
    empty_ = source->empty_ && raw_.isEmpty();
    emit Changed();
}

void TBannerPicture::SaveToStream(QIODevice& stream) const {
    stream.write(raw_);
}

void TBannerPicture::SetFrame(int frame) {
    frame_ = frame;
    if (raw_.isEmpty()) return;
    emit FrameChanged();
    if (OnFrameChange) OnFrameChange(this);
}

QImage TBannerPicture::CurrentImage() const {
    if (empty_ || decoded_.frames.empty()) return {};
    const int count = static_cast<int>(decoded_.frames.size());
    return decoded_.frames[static_cast<std::size_t>(std::clamp(frame_, 1, count) - 1)];
}

int TBannerPicture::Width() const {
    return decoded_.frames.empty() ? 0 : decoded_.frames.front().width();
}
int TBannerPicture::Height() const {
    return decoded_.frames.empty() ? 0 : decoded_.frames.front().height();
}

void TBannerPicture::Draw(QPainter& painter, const QRect& rect) const {
    const QImage image = CurrentImage();
    if (image.isNull()) return;
    // Every frame is the whole canvas: placed by the canvas, never shifted.
    painter.drawImage(rect, image);
}

} // namespace banner
