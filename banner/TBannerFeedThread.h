#pragma once
#include <QPointer>
#include <QString>
#include <QThread>
#include <functional>
#include <optional>
#include <random>

namespace banner {

// One fetch of the banner feed: the feed is kept as banner.inf, one entry
// is drawn, and its picture URL and click link are handed to the UI thread
// in one step.
class TBannerFeedThread final : public QThread {
    Q_OBJECT
public:
    struct Setup {
        QString feedUrl;
        QString dataDir;     // banner.inf and the staging bla.inf
        QString defaultLink; // the click link until the feed is read
        std::mt19937* random = nullptr;
        // Runs on the UI thread with (click link, picture URL).
        std::function<void(const QString& link, const QString& picture)> show;
    };
    explicit TBannerFeedThread(Setup setup, QObject* parent = nullptr);

    QString ClickLink() const { return clickLink_; }

    // The feed's lines, or none (status 300 or more, no connection, a file
    // that could not be written).
    static std::optional<QStringList> FetchFeedList(const QString& url, const QString& dataDir);

protected:
    void run() override;

private:
    Setup setup_;
    QString clickLink_;
};

} // namespace banner
