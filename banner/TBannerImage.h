#pragma once
#include "banner/TBannerPicture.h"

#include <QWidget>

class QTimer;

namespace banner {

enum TPicturePosition { bpTopLeft, bpTopRight, bpBottomLeft, bpBottomRight, bpCenter, bpTiled, bpStretched };

// Shows the picture a URL names, plays animated GIFs, and draws a frame
// that turns red under the mouse. The picture is placed by its canvas size,
// so every frame of an animation lands in the same place.
class TBannerImage final : public QWidget {
    Q_OBJECT
public:
    explicit TBannerImage(QWidget* parent = nullptr);

    QString URL() const { return url_; }
    void SetURL(const QString& url);
    bool Async = false;
    bool CheckContentLength = false;
    bool AutoSize = false;
    bool Animate() const { return animate_; }
    void SetAnimate(bool on);
    TPicturePosition PicturePosition = bpTopLeft;
    TBannerPicture* BannerPicture() const { return picture_; }
    // The most room the banner may take in its window: pictures are decoded
    // to fit it, and AutoSize never makes the control larger.
    void SetSlot(QSize slot);
    QSize Slot() const { return maximumSize(); }
    bool Hovered() const { return hover_; }
    bool Animated() const { return animated_; }

    using Sender = TBannerImage*;
    std::function<void(Sender)> OnClick;
    std::function<void(Sender)> OnFrameChange;
    std::function<void(Sender, const QString& err)> OnDownLoadError;
    std::function<void(Sender)> OnDownLoadComplete;
    std::function<void(Sender, bool& Cancel)> OnDownLoadCancel;
    std::function<void(Sender, quint32, quint32)> OnDownLoadProgress;

    // One 10 ms step of the animation (the timer calls it).
    void AnimationTick();
    // Where the picture lands for a control of size (W, H), one copy for tiles.
    QRect PictureRect(int copy = 0) const;
    // The control keeps the size it is given (or that AutoSize gives it).
    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;

private:
    void PictureChanged();
    void FrameChanged();

    TBannerPicture* picture_;
    QTimer* timer_ = nullptr;
    QString url_;
    bool animate_ = false;
    bool hover_ = false;
    bool animated_ = false;
    int ticks_ = 0;
    int dueTick_ = 0;
};

} // namespace banner
