#include "banner/TBannerFeedThread.h"

#include "banner/TBannerImage.h"
#include "ini/IniFile.h"
#include "net/CurlStream.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QUrl>

namespace banner {

namespace {
// A feed is a few lines; a megabyte is plenty.
constexpr std::int64_t kMaxFeed = 1 << 20;
} // namespace

bool IsWebLink(const QString& link) {
    // The link comes over plain HTTP: a file:, javascript: or any other
    // scheme would let whoever sits on the way run things on the player's machine.
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() &&
           (scheme == QStringLiteral("http") || scheme == QStringLiteral("https")) &&
           !url.host().isEmpty();
}

TBannerFeedThread::TBannerFeedThread(Setup setup, QObject* parent)
    : QThread(parent), setup_(std::move(setup)), clickLink_(setup_.defaultLink),
      owner_(parent ? parent : QCoreApplication::instance()), cancel_(net::MakeCancelFlag()) {}

TBannerFeedThread::~TBannerFeedThread() {
    Cancel();
    wait();
}

void TBannerFeedThread::Cancel() {
    const std::lock_guard lock(mutex_);
    owner_ = nullptr;
    cancel_->store(true);
}

std::optional<QStringList> TBannerFeedThread::FetchFeedList(
    const QString& url, const std::shared_ptr<std::atomic<bool>>& cancel, long totalSeconds) {
    net::Request r;
    r.url = url.toStdString();
    r.agent = "Quorlex";
    r.protocols = "http,https";
    r.kind = net::Kind::Control; // a stalled feed ends well before the next tick
    r.totalSeconds = totalSeconds;
    r.maxBytes = kMaxFeed;
    r.cancel = cancel;
    net::Session s;
    if (!s.Open(r) || s.Status() >= 300) return std::nullopt;
    // The feed stays in memory: a file of a known name in the shared
    // temporary folder could be another user's, or a link of theirs.
    QByteArray feed;
    char block[4096];
    qint64 n = 0;
    while ((n = s.Read(block, sizeof block)) > 0)
        feed.append(block, n);
    if (n < 0 || feed.isEmpty()) return std::nullopt;
    QStringList lines;
    for (QByteArray line : feed.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        lines << QString::fromLatin1(line);
    }
    return lines;
}

void TBannerFeedThread::run() {
    const auto lines = FetchFeedList(setup_.feedUrl, cancel_, setup_.totalSeconds);
    if (!lines || cancel_->load()) return;
    const QString copy = QDir(setup_.dataDir).filePath(QStringLiteral("banner.inf"));
    if (!platform::WriteOwnFile(copy, lines->join(QStringLiteral("\r\n")).toLatin1())) return;
    const ini::TIniFile feed(copy.toStdString());
    const int nr = feed.ReadNumber("urls", "nr", 0);
    int n = 1;
    if (nr > 0 && setup_.random)
        n = 1 + std::uniform_int_distribution<int>(0, nr - 1)(*setup_.random);
    QString picture = QString::fromStdString(feed.ReadText("urls", "url" + std::to_string(n), ""));
    QString link = QString::fromStdString(feed.ReadText("urls", "onclick" + std::to_string(n), ""));
    if (!IsWebLink(link)) link.clear(); // a click then opens nothing
    // Only a picture from the web: file:///dev/ptmx would hold the reading
    // thread for good, and other schemes reach other services.
    if (!IsWebLink(picture)) picture.clear(); // the banner stays as it is
    // The click link and the picture change together, on the UI thread.
    // Queued, not blocking: so a window that goes away can wait for us. The
    // owner cannot go away while the call is posted, and a call that is
    // still pending when it does is dropped with it.
    const std::lock_guard lock(mutex_);
    if (!owner_) return;
    QMetaObject::invokeMethod(
        owner_,
        [self = QPointer<TBannerFeedThread>(this), cancel = cancel_, show = setup_.show, link,
         picture] {
            if (cancel->load()) return;
            if (self) self->clickLink_ = link;
            if (show) show(link, picture);
        },
        Qt::QueuedConnection);
}

bool StopBannerThreads(TBannerFeedThread* feed, TBannerImage* image, QDeadlineTimer deadline) {
    // Both are cancelled before either is waited for, so they end side by
    // side within the one deadline.
    if (feed) feed->Cancel();
    bool ended = !image || image->BannerPicture()->StopDownload(deadline);
    if (feed && !feed->wait(deadline)) {
        feed->setParent(nullptr); // not deleted under its running thread by its owner
        QObject::connect(feed, &QThread::finished, feed, &QObject::deleteLater,
                         Qt::UniqueConnection);
        ended = false;
    }
    return ended;
}

} // namespace banner
