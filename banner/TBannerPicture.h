#pragma once
#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <functional>

class QIODevice;
class QPainter;

namespace banner {

// A picture given by its raw bytes; GIF frames are cut from the bytes
// and decoded one at a time.
class TBannerPicture final : public QObject {
    Q_OBJECT
public:
    explicit TBannerPicture(QObject* parent = nullptr);

    using Sender = TBannerPicture*;
    std::function<void(Sender)> OnFrameChange;
    std::function<void(Sender, const QString& err)> OnDownLoadError;
    std::function<void(Sender)> OnDownLoadComplete;
    std::function<void(Sender, bool& Cancel)> OnDownLoadCancel;
    std::function<void(Sender, quint32 dwSize, quint32 dwTotSize)> OnDownLoadProgress;

    void LoadFromURL(const QString& url);
    void LoadFromFile(const QString& name);
    // Raises the decoding error texts.
    void LoadFromStream(QIODevice& stream);
    void LoadFromBytes(const QByteArray& bytes); // LoadFromStream over memory
    void Assign(const TBannerPicture* source);
    void SaveToStream(QIODevice& stream) const;
    void Draw(QPainter& painter, const QRect& rect) const;

    int Width() const;
    int Height() const;
    bool Empty() const { return empty_; }
    int Frame() const { return frame_; }
    void SetFrame(int frame);
    bool IsGif() const;
    int GifFrameCount() const;
    int GifFrameDelay(int frame) const;
    const QByteArray& RawBytes() const { return raw_; }
    QString URL() const { return url_; }
    bool Busy() const { return busy_; }

    bool Async = false;
    bool CheckContentLength = false;

    // The network part of a download; on a worker when asynchronous.
    void DownloadPicture();

signals:
    void Changed();
    void FrameChanged();

private:
    void DecodePicture();
    // Runs on the UI thread: directly there, blocking from the worker.
    void OnUi(const std::function<void()>& f);

    QByteArray raw_;
    bool empty_ = true;
    QImage decoded_;
    int frame_ = 0;
    int frameLeft_ = 0, frameTop_ = 0;
    QString url_;
    bool busy_ = false;
};

} // namespace banner
