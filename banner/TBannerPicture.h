#pragma once
#include <QByteArray>
#include <QDeadlineTimer>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QIODevice;
class QPainter;
class QThread;

namespace banner {

// The largest picture the banner takes in; a header that declares more is
// refused before anything is allocated for it.
constexpr int kMaxBannerSide = 4096;
// Frames of an animation beyond this many are left out.
constexpr int kMaxBannerFrames = 500;

struct DownloadLink;

// A picture given by its raw bytes. Each load decodes the bytes once: a GIF
// into every frame composited on its canvas, anything else into one image.
// Changing the frame only picks one of those, so an animation costs painting.
// An asynchronous download decodes on its own thread too: the bytes come
// from the network, and only the decoded frames reach the UI thread.
class TBannerPicture final : public QObject {
    Q_OBJECT
public:
    explicit TBannerPicture(QObject* parent = nullptr);
    // Cancels a running download and waits for its thread (at most 2 s).
    ~TBannerPicture() override;

    using Sender = TBannerPicture*;
    std::function<void(Sender)> OnFrameChange;
    std::function<void(Sender, const QString& err)> OnDownLoadError;
    std::function<void(Sender)> OnDownLoadComplete;
    std::function<void(Sender, bool& Cancel)> OnDownLoadCancel;
    std::function<void(Sender, quint32 dwSize, quint32 dwTotSize)> OnDownLoadProgress;

    void LoadFromURL(const QString& url);
    void LoadFromFile(const QString& name);
    // Raises the decoding error texts; bytes that do not decode leave the
    // picture as it was.
    void LoadFromStream(QIODevice& stream);
    void LoadFromBytes(const QByteArray& bytes); // LoadFromStream over memory
    void Assign(const TBannerPicture* source);
    void SaveToStream(QIODevice& stream) const;
    void Draw(QPainter& painter, const QRect& rect) const;

    int Width() const; // the canvas of a GIF, the image otherwise
    int Height() const;
    bool Empty() const { return empty_; }
    int Frame() const { return frame_; }
    void SetFrame(int frame);
    bool IsGif() const;
    int GifFrameCount() const;          // -1 when not a GIF
    int GifFrameDelay(int frame) const; // -1 when there is no such frame
    // What Draw paints now: the composited canvas of the current frame.
    QImage CurrentImage() const;
    const QByteArray& RawBytes() const { return raw_; }
    QString URL() const { return url_; }
    bool Busy() const { return busy_; }

    bool Async = false;
    bool CheckContentLength = false;
    // The most room the picture may take: larger ones are decoded scaled
    // down to fit, keeping their shape.
    QSize MaxSize{kMaxBannerSide, kMaxBannerSide};

    struct Decoded {
        bool gif = false;
        std::vector<QImage> frames; // one for a still picture
        std::vector<int> delays;
    };
    // Any thread: the frames of `bytes`, fitted into `fit`; raises the
    // decoding error texts. A set `cancel` ends it early with an error.
    static Decoded Decode(const QByteArray& bytes, QSize fit,
                          const std::atomic<bool>* cancel = nullptr);
    // Called at the start of every decode, on the thread that decodes.
    static void SetDecodeObserverForTesting(std::function<void()> observer);
    // Shows what Decode made of `bytes`, as a load of them does.
    void LoadDecoded(QByteArray bytes, Decoded decoded);

    // The network part of a download, on the calling thread.
    void DownloadPicture();
    // Ends a running asynchronous download: its events stop at once, and
    // its thread is waited for until `deadline`. False when it still runs.
    bool StopDownload(QDeadlineTimer deadline = QDeadlineTimer(2000));

signals:
    void Changed();
    void FrameChanged();

private:
    void Take(QByteArray bytes, Decoded decoded);

    QByteArray raw_;
    bool empty_ = true;
    Decoded decoded_;
    int frame_ = 0;
    QString url_;
    bool busy_ = false;
    std::shared_ptr<DownloadLink> link_;
    QPointer<QThread> thread_;
};

} // namespace banner
