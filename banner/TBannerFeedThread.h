#pragma once
#include "net/CurlStream.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <random>

namespace banner {

class TBannerImage;

// A click link the banner may open, or a picture it may fetch: http:// or
// https:// with a host.
bool IsWebLink(const QString& link);

// One fetch of the banner feed: the feed is read into memory and kept as
// banner.inf (this user's only), one entry is drawn, and its picture URL
// and click link are handed to the UI thread in one step.
class TBannerFeedThread final : public QThread {
    Q_OBJECT
public:
    struct Setup {
        QString feedUrl;
        QString dataDir;     // where banner.inf is kept
        QString defaultLink; // the click link until the feed is read
        std::mt19937* random = nullptr;
        // Runs on the UI thread with (click link, picture URL).
        std::function<void(const QString& link, const QString& picture)> show;
        // The whole fetch is capped: a stalled feed ends before the next tick.
        long totalSeconds = net::kControlTotalSeconds;
    };
    explicit TBannerFeedThread(Setup setup, QObject* parent = nullptr);

    ~TBannerFeedThread() override;

    QString ClickLink() const { return clickLink_; }

    // Any thread: the fetch ends at once and hands nothing over any more.
    void Cancel();

    // The feed's lines, or none (status 300 or more, no connection, an
    // empty answer, a cancel). Over http or https only.
    static std::optional<QStringList>
    FetchFeedList(const QString& url, const std::shared_ptr<std::atomic<bool>>& cancel = {},
                  long totalSeconds = net::kControlTotalSeconds);

protected:
    void run() override;

private:
    Setup setup_;
    QString clickLink_;
    // Hand-overs post to `owner_` under the mutex; Cancel clears it first.
    std::mutex mutex_;
    QObject* owner_;
    std::shared_ptr<std::atomic<bool>> cancel_;
};

// The window closes: cancels the feed fetch and the banner's download, and
// waits for both threads until `deadline`. A feed thread that has not ended
// by then is let go (it deletes itself once done); false then.
bool StopBannerThreads(TBannerFeedThread* feed, TBannerImage* image,
                       QDeadlineTimer deadline = QDeadlineTimer(2000));

} // namespace banner
