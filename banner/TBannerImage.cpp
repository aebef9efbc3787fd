#include "banner/TBannerImage.h"

#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

namespace banner {

TBannerImage::TBannerImage(QWidget* parent) : QWidget(parent), picture_(new TBannerPicture(this)) {
    resize(100, 100);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
    connect(picture_, &TBannerPicture::Changed, this, &TBannerImage::PictureChanged);
    connect(picture_, &TBannerPicture::FrameChanged, this, &TBannerImage::FrameChanged);
    picture_->OnDownLoadError = [this](TBannerPicture*, const QString& e) {
        if (OnDownLoadError) OnDownLoadError(this, e);
    };
    picture_->OnDownLoadComplete = [this](TBannerPicture*) {
        if (OnDownLoadComplete) OnDownLoadComplete(this);
    };
    picture_->OnDownLoadCancel = [this](TBannerPicture*, bool& c) {
        if (OnDownLoadCancel) OnDownLoadCancel(this, c);
    };
    picture_->OnDownLoadProgress = [this](TBannerPicture*, quint32 a, quint32 b) {
        if (OnDownLoadProgress) OnDownLoadProgress(this, a, b);
    };
}

void TBannerImage::SetURL(const QString& url) {
    picture_->Async = Async;
    picture_->CheckContentLength = CheckContentLength;
    url_ = url;
    if (!url.isEmpty()) picture_->LoadFromURL(url);
}

void TBannerImage::SetSlot(QSize slot) {
    setMaximumSize(slot);
    picture_->MaxSize = slot;
}

void TBannerImage::SetAnimate(bool on) {
    if (on == animate_) return;
    animate_ = on;
    if (on) {
        timer_ = new QTimer(this);
        timer_->setInterval(10);
        ticks_ = dueTick_ = 0;
        connect(timer_, &QTimer::timeout, this, &TBannerImage::AnimationTick);
        // A still picture needs no ticks: the timer runs while there is something to play.
        if (animated_) timer_->start();
    } else {
        delete timer_;
        timer_ = nullptr;
    }
}

void TBannerImage::AnimationTick() {
    if (!animated_ || picture_->Empty()) return;
    if (ticks_ == dueTick_) {
        const int count = picture_->GifFrameCount();
        picture_->SetFrame(picture_->Frame() < count ? picture_->Frame() + 1 : 1);
        // A frame without a delay still gets one tick, so the animation goes on.
        dueTick_ += std::max(1, picture_->GifFrameDelay(picture_->Frame()));
    }
    ++ticks_;
}

void TBannerImage::PictureChanged() {
    update();
    if (AutoSize && !picture_->Empty() && picture_->Width() > 0) {
        resize(QSize(picture_->Width(), picture_->Height()).boundedTo(maximumSize()));
        updateGeometry();
    }
    if (!picture_->Empty()) {
        animated_ = picture_->IsGif() && picture_->GifFrameCount() > 1;
        ticks_ = dueTick_ = 0;
        if (picture_->Frame() != 0) picture_->SetFrame(0);
    }
    if (timer_ && animated_ != timer_->isActive()) animated_ ? timer_->start() : timer_->stop();
}

void TBannerImage::FrameChanged() {
    update();
    if (OnFrameChange) OnFrameChange(this);
}

QRect TBannerImage::PictureRect(int copy) const {
    const int W = width(), H = height(), w = picture_->Width(), h = picture_->Height();
    switch (PicturePosition) {
    case bpTopLeft: return {0, 0, w, h};
    case bpTopRight: return {std::max(0, W - w), 0, w, h};
    case bpBottomLeft: return {0, std::max(0, H - h), w, h};
    case bpBottomRight: return {std::max(0, W - w), std::max(0, H - h), w, h};
    case bpCenter: return {std::max(0, W - w) / 2, std::max(0, H - h) / 2, w, h};
    case bpStretched: return {0, 0, W, H};
    case bpTiled: {
        if (w <= 0 || h <= 0) return {};
        const int perRow = (W + w - 1) / w;
        return {(copy % perRow) * w, (copy / perRow) * h, w, h};
    }
    }
    return {};
}

void TBannerImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!picture_->Empty()) {
        if (PicturePosition == bpTiled && picture_->Width() > 0 && picture_->Height() > 0) {
            const int perRow = (width() + picture_->Width() - 1) / picture_->Width();
            const int rows = (height() + picture_->Height() - 1) / picture_->Height();
            for (int i = 0; i < perRow * rows; ++i) picture_->Draw(p, PictureRect(i));
        } else {
            picture_->Draw(p, PictureRect());
        }
    }
    p.setPen(hover_ ? Qt::red : Qt::blue);
    p.drawRect(0, 0, width() - 1, height() - 1);
}

void TBannerImage::enterEvent(QEnterEvent*) {
    hover_ = true;
    update();
}

void TBannerImage::leaveEvent(QEvent*) {
    hover_ = false;
    update();
}

void TBannerImage::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick) OnClick(this);
}

} // namespace banner
