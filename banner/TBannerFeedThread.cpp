#include "banner/TBannerFeedThread.h"

#include "ini/IniFile.h"
#include "net/CurlStream.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace banner {

TBannerFeedThread::TBannerFeedThread(Setup setup, QObject* parent)
    : QThread(parent), setup_(std::move(setup)), clickLink_(setup_.defaultLink) {}

std::optional<QStringList> TBannerFeedThread::FetchFeedList(const QString& url, const QString& dataDir) {
    net::Request r;
    r.url = url.toStdString();
    r.agent = "Quorlex";
    net::Session s;
    if (!s.Open(r) || s.Status() >= 300) return std::nullopt;
    const QString staging = QDir(dataDir).filePath(QStringLiteral("bla.inf"));
    QFile out(staging);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) return std::nullopt;
    char block[4096];
    qint64 total = 0, n = 0;
    bool failed = false;
    // A feed is a few lines; a megabyte is plenty.
    while ((n = s.Read(block, sizeof block)) > 0 && total < (1 << 20)) {
        if (out.write(block, n) != n) failed = true;
        total += n;
    }
    if (n < 0) failed = true;
    out.close();
    if (failed || total == 0) {
        QFile::remove(staging);
        return std::nullopt;
    }
    QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
    name = name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
    if (name.isEmpty() || name == QStringLiteral("..")) name = QStringLiteral("banner.txt");
    const QString temp = QDir(QDir::tempPath()).filePath(name);
    QFile::remove(temp);
    if (!QFile::rename(staging, temp) && !(QFile::copy(staging, temp) && QFile::remove(staging))) {
        QFile::remove(staging);
        return std::nullopt;
    }
    QFile in(temp);
    QStringList lines;
    if (in.open(QIODevice::ReadOnly))
        for (QByteArray line : in.readAll().split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            lines << QString::fromLatin1(line);
        }
    in.close();
    QFile::remove(temp);
    return lines;
}

void TBannerFeedThread::run() {
    const auto lines = FetchFeedList(setup_.feedUrl, setup_.dataDir);
    if (!lines) return;
    const QString copy = QDir(setup_.dataDir).filePath(QStringLiteral("banner.inf"));
    {
        QSaveFile f(copy);
        if (!f.open(QIODevice::WriteOnly)) return;
        f.write(lines->join(QStringLiteral("\r\n")).toLatin1());
        if (!f.commit()) return;
    }
    const ini::TIniFile feed(copy.toStdString());
    const int nr = feed.ReadNumber("urls", "nr", 0);
    int n = 1;
    if (nr > 0 && setup_.random) n = 1 + std::uniform_int_distribution<int>(0, nr - 1)(*setup_.random);
    const QString picture = QString::fromStdString(feed.ReadText("urls", "url" + std::to_string(n), ""));
    const QString link = QString::fromStdString(feed.ReadText("urls", "onclick" + std::to_string(n), ""));
    // The click link and the picture change together, on the UI thread.
    // Queued, not blocking: so a window that goes away can wait for us.
    QMetaObject::invokeMethod(
        parent() ? parent() : QCoreApplication::instance(),
        [self = QPointer<TBannerFeedThread>(this), show = setup_.show, link, picture] {
            if (self) self->clickLink_ = link;
            if (show) show(link, picture);
        },
        Qt::QueuedConnection);
}

} // namespace banner
