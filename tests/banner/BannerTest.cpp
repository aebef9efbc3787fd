#include "app/TfrmMain.h"
#include "banner/TBannerFeedThread.h"
#include "banner/TBannerImage.h"
#include "imaging/GifImage.h"
#include "imaging/JpegImage.h"
#include "platform/Shell.h"
#include "tests/support/GameFolder.h"
#include "tests/support/GifBuilder.h"
#include "tests/support/LocalServer.h"
#include "tests/support/ScriptedPrompter.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSemaphore>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <optional>
#include <thread>
#ifdef _WIN32
#include <windows.h>
// after windows.h, which it builds on
#include <psapi.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace banner;
using namespace testsupport;

namespace {
QByteArray png(int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::darkGreen);
    QByteArray bytes;
    QBuffer b(&bytes);
    b.open(QIODevice::WriteOnly);
    img.save(&b, "PNG");
    return bytes;
}
// A real JPEG whose header now declares a width and height of `side`.
QByteArray jpegDeclaring(int side) {
    QByteArray jpeg = ReadAll(SourceDir() + QStringLiteral("/demo/previews/Foundry.jpg"));
    qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof < 0) sof = jpeg.indexOf(QByteArray("\xFF\xC2", 2));
    if (sof < 0) return {};
    for (int at : {5, 7}) {
        jpeg[sof + at] = static_cast<char>(side >> 8);
        jpeg[sof + at + 1] = static_cast<char>(side & 0xFF);
    }
    return jpeg;
}
QString loadError(TBannerPicture& picture, const QByteArray& bytes) {
    try {
        picture.LoadFromBytes(bytes);
    } catch (const std::exception& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}
QColor px(const QImage& image, int x, int y) {
    return QColor(image.pixel(x, y));
}
QByteArray threeFrames() {
    return BuildGif(40, 20,
                    {{QRect(0, 0, 40, 20), Qt::red, 10},
                     {QRect(5, 6, 10, 8), Qt::green, 20},
                     {QRect(1, 2, 3, 4), Qt::blue, 30}});
}
// One frame of 65535 by 65535 pixels on a 4x4 canvas, in 1.6 MB.
QByteArray bombGif() {
    return BuildSolidGif({4, 4}, {QRect(0, 0, 65535, 65535)});
}

// The process's peak memory so far (VmHWM, or Windows' peak working set), in bytes.
qint64 peakMemory() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)
               ? static_cast<qint64>(counters.PeakWorkingSetSize)
               : 0;
#endif
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

#ifndef _WIN32
bool isRoot() {
    return ::geteuid() == 0;
}
bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    p.start(program, args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}
// A scratch user for planted files, made once (another test binary may be making it too).
bool scratchUser(const QString& name) {
    const auto exists = [&] { return run(QStringLiteral("id"), {QStringLiteral("-u"), name}); };
    if (exists()) return true;
    run(QStringLiteral("useradd"),
        {QStringLiteral("-M"), QStringLiteral("-r"), QStringLiteral("-s"),
         QStringLiteral("/usr/sbin/nologin"), name});
    return exists();
}
bool runAs(const QString& user, const QString& script) {
    return run(QStringLiteral("setpriv"),
               {QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + user,
                QStringLiteral("--clear-groups"), QStringLiteral("sh"), QStringLiteral("-c"),
                script});
}
uint modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}
#endif

// What one feed fetch handed to the UI thread: (click link, picture URL).
std::optional<std::pair<QString, QString>> fetchFeed(const QString& feedUrl,
                                                     const QString& dataDir) {
    std::optional<std::pair<QString, QString>> got;
    TBannerFeedThread::Setup s;
    s.feedUrl = feedUrl;
    s.dataDir = dataDir;
    s.defaultLink = QStringLiteral("https://home/");
    s.show = [&](const QString& link, const QString& picture) { got = {link, picture}; };
    QObject owner;
    auto* t = new TBannerFeedThread(s, &owner);
    t->start();
    if (!t->wait(20000)) return got;
    QCoreApplication::sendPostedEvents(&owner); // the hand-over was posted before the thread ended
    return got;
}

// The temporary folder for as long as this lives: TMPDIR, and Windows' TMP and TEMP.
struct TempDirAs {
    explicit TempDirAs(const QString& dir) {
        for (const char* name : {"TMPDIR", "TMP", "TEMP"}) {
            old.emplace_back(name, qgetenv(name));
            qputenv(name, QFile::encodeName(QDir::toNativeSeparators(dir)));
        }
    }
    ~TempDirAs() {
        for (const auto& [name, value] : old)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
    }
    std::vector<std::pair<const char*, QByteArray>> old;
};
} // namespace

class BannerTest : public QObject {
    Q_OBJECT

    QTemporaryDir site;
    std::unique_ptr<LocalServer> http;

private slots:
    void initTestCase() {
        WriteAll(site.filePath(QStringLiteral("anim.gif")), threeFrames());
        WriteAll(site.filePath(QStringLiteral("wide.png")), png(358, 74));
        WriteAll(site.filePath(QStringLiteral("b1.png")), png(10, 10));
        WriteAll(site.filePath(QStringLiteral("b2.png")), png(20, 10));
        WriteAll(site.filePath(QStringLiteral("b3.png")), png(30, 10));
        WriteAll(site.filePath(QStringLiteral("bad.png")),
                 "not a picture at all, though the server says it is");
        http = std::make_unique<LocalServer>(HttpServerScript(), site.path());
        QVERIFY(http->Started());
        QByteArray feed = "[urls]\r\nnr=3\r\n";
        for (int i = 1; i <= 3; ++i)
            feed += "url" + QByteArray::number(i) + "=" +
                    http->Http(QStringLiteral("files/b%1.png").arg(i)).toUtf8() + "\r\nonclick" +
                    QByteArray::number(i) + "=https://example.org/" + QByteArray::number(i) +
                    "\r\n";
        WriteAll(site.filePath(QStringLiteral("banner.txt")), feed);
        // One feed per misbehaving picture server, and one with a dangerous link.
        for (const char* kind : {"stall", "stopmid", "endless", "trickle"})
            WriteAll(
                site.filePath(QStringLiteral("feed-%1.txt").arg(QLatin1String(kind))),
                "[urls]\r\nnr=1\r\nurl1=" +
                    http->Http(QStringLiteral("%1/wide.png").arg(QLatin1String(kind))).toUtf8() +
                    "\r\nonclick1=https://example.org/\r\n");
        WriteAll(site.filePath(QStringLiteral("bomb.gif")), bombGif());
        WriteAll(site.filePath(QStringLiteral("huge.gif")),
                 BuildSolidGif({4096, 4096}, {QRect(0, 0, 4096, 4096)}));
        feedFor(QStringLiteral("feed-huge.txt"),
                http->Http(QStringLiteral("files/huge.gif")).toUtf8());
        WriteAll(site.filePath(QStringLiteral("evil.txt")),
                 "[urls]\r\nnr=1\r\nurl1=" + http->Http(QStringLiteral("files/b1.png")).toUtf8() +
                     "\r\nonclick1=javascript:alert(1)\r\n");
    }

    // A feed of one entry whose picture is `url1`; its URL.
    QString feedFor(const QString& name, const QByteArray& url1) {
        WriteAll(site.filePath(name),
                 "[urls]\r\nnr=1\r\nurl1=" + url1 + "\r\nonclick1=https://example.org/\r\n");
        return http->Http(QStringLiteral("files/") + name);
    }

    std::unique_ptr<app::TfrmMain> bannerWindow(GameFolder& game, ScriptedPrompter& prompter,
                                                const QString& feedPath) {
        WriteAll(
            game.SettingsFile(),
            "[Quorlex]\r\nInit=False\r\nAutoBackup=False\r\nCheckOnStartup=False\r\nBannerURL=" +
                http->Http(feedPath).toUtf8() + "\r\n\r\n[UT2k4]\r\nDir=" +
                game.GameDir().toUtf8() + "\r\nSystem=" + game.GameDir().toUtf8() + "/System\r\n");
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game.ProgramDir();
        env.prompter = &prompter;
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/x.inf");
        env.isOnline = [] { return true; };
        return std::make_unique<app::TfrmMain>(env);
    }

    // Measured first: the peak of the process is compared with what it was.
    void bigPicturesStaySmallInTheirSlot() {
        const qint64 before = peakMemory();
        TBannerImage image;
        image.AutoSize = true;
        image.SetSlot(QSize(358, 74));
        TBannerPicture& picture = *image.BannerPicture();
        picture.LoadFromBytes(
            BuildSolidGif({4096, 4096}, {QRect(0, 0, 4096, 4096), QRect(0, 0, 4096, 2048)}));
        QCOMPARE(picture.GifFrameCount(), 2);
        QCOMPARE(picture.CurrentImage().size(), QSize(74, 74));
        QCOMPARE(image.size(), QSize(74, 74));
        // Wider than the slot: scaled to its width, shape kept; never enlarged.
        picture.LoadFromBytes(png(1000, 100));
        QCOMPARE(image.size(), QSize(358, 35));
        QCOMPARE(px(picture.CurrentImage(), 200, 20), QColor(Qt::darkGreen));
        picture.LoadFromBytes(png(30, 10));
        QCOMPARE(image.size(), QSize(30, 10));
        const QByteArray jpeg = ReadAll(SourceDir() + QStringLiteral("/demo/previews/Foundry.jpg"));
        picture.LoadFromBytes(jpeg);
        QVERIFY(image.width() <= 358 && image.height() <= 74);
        QVERIFY(image.width() == 358 || image.height() == 74);
        // 400,000 frames: about 500 are kept.
        picture.LoadFromBytes(BuildSolidGif({4, 4}, std::vector<QRect>(400000, QRect(0, 0, 4, 4))));
        QCOMPARE(picture.GifFrameCount(), kMaxBannerFrames);
        const qint64 grown = peakMemory() - before;
        QVERIFY2(grown < (48 << 20),
                 qPrintable(QString::number(grown >> 20) + QStringLiteral(" MB")));
    }

    // A picture far larger than its slot leaves the window's layout as it was.
    void bannerKeepsItsPlaceInTheWindow() {
        GameFolder game;
        ScriptedPrompter prompter;
        auto w = bannerWindow(game, prompter, QStringLiteral("files/feed-huge.txt"));
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto* pages = w->findChild<QTabWidget*>(QStringLiteral("PageCtrl"));
        QVERIFY(pages);
        const QRect before = pages->geometry();
        QTRY_VERIFY_WITH_TIMEOUT(!w->BannerImage1->BannerPicture()->Empty(), 20000);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCOMPARE(pages->geometry(), before);
        QCOMPARE(w->BannerImage1->size(), QSize(74, 74));
    }

    // The feed names pictures; only http and https ones are fetched.
    void picturesComeOnlyFromTheWeb_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("fetched");
        const QString port = QString::number(http->Port());
        QTest::newRow("http") << http->Http(QStringLiteral("files/b1.png")) << true;
        QTest::newRow("HTTPS, upper case")
            << QStringLiteral("HTTPS://127.0.0.1:%1/files/b1.png").arg(port) << true;
        QTest::newRow("a device that blocks for good")
            << QStringLiteral("file:///dev/ptmx") << false;
        QTest::newRow("FILE, upper case") << QStringLiteral("FILE:///etc/hostname") << false;
        QTest::newRow("ftp") << QStringLiteral("ftp://127.0.0.1:%1/b1.png").arg(port) << false;
        QTest::newRow("dict") << QStringLiteral("dict://127.0.0.1:%1/d:x").arg(port) << false;
        QTest::newRow("gopher") << QStringLiteral("gopher://127.0.0.1:%1/1").arg(port) << false;
        QTest::newRow("a built-in resource") << QStringLiteral("res://banner1.gif") << false;
        QTest::newRow("http without a host") << QStringLiteral("http:///files/b1.png") << false;
    }
    void picturesComeOnlyFromTheWeb() {
        QFETCH(QString, url);
        QFETCH(bool, fetched);
        QTemporaryDir data;
        const auto got =
            fetchFeed(feedFor(QStringLiteral("feed-scheme.txt"), url.toUtf8()), data.path());
        QVERIFY(got);
        QCOMPARE(got->first,
                 QStringLiteral("https://example.org/")); // the link is not the picture's business
        QCOMPARE(got->second, fetched ? url : QString());
    }

    // The picture's own transfer speaks http and https only, whoever names the URL.
    void pictureTransfersSpeakOnlyHttp() {
        QDir(site.path()).mkpath(QStringLiteral("sub"));
        WriteAll(site.filePath(QStringLiteral("sub/b1.png")), png(10, 10));
        LocalServer ftp(FtpServerScript(), site.path());
        QVERIFY(ftp.Started());
        TBannerPicture picture;
        QStringList errors;
        picture.OnDownLoadError = [&](TBannerPicture*, const QString& e) { errors << e; };
        picture.LoadFromURL(QStringLiteral("ftp://127.0.0.1:%1/sub/b1.png").arg(ftp.Port()));
        picture.LoadFromURL(QStringLiteral("dict://127.0.0.1:%1/d:x").arg(http->Port()));
        picture.LoadFromURL(QStringLiteral("gopher://127.0.0.1:%1/1").arg(http->Port()));
        QCOMPARE(errors, QStringList(3, QStringLiteral("Cannot open http connection")));
        QVERIFY(picture.Empty());
        QTest::qWait(100);
        QCOMPARE(ftp.Lines(), QStringList()); // never reached the folder
    }

    // A FILE:// URL names plain files only: a pipe or a device would hold
    // the thread that reads it for good.
    void localPicturesArePlainFiles() {
        QTemporaryDir dir;
        TBannerImage image;
#ifndef _WIN32 // Windows has no named pipe in the file system to stand in the way

        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("pipe")));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        std::atomic<bool> stop{false}, readerWaited{false};
        // Lets a reader that opened the pipe go again, and tells on it.
        std::thread writer([&] {
            while (!stop) {
                const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fd >= 0) {
                    readerWaited = true;
                    ::close(fd);
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        image.SetURL(QStringLiteral("FILE://") + QFile::decodeName(fifo));
        stop = true;
        writer.join();
        QVERIFY(!readerWaited);
        QVERIFY(image.BannerPicture()->Empty());
#endif
        image.SetURL(QStringLiteral("FILE:///dev/zero"));
        QVERIFY(image.BannerPicture()->Empty());
        image.SetURL(QStringLiteral("FILE://") + site.filePath(QStringLiteral("b1.png")));
        QVERIFY(!image.BannerPicture()->Empty());
    }

    // The decoder's work happens on the download's thread; the window goes
    // on meanwhile, and a URL given then is dropped, not decoded alongside.
    void decodingRunsOffTheUiThread() {
        TBannerImage image;
        image.Async = true;
        QStringList errors;
        int completed = 0;
        image.OnDownLoadError = [&](TBannerImage*, const QString& e) { errors << e; };
        image.OnDownLoadComplete = [&](TBannerImage*) { ++completed; };
        QSemaphore ticks;
        std::atomic<bool> decoding{false};
        bool secondGiven = false;
        QTimer ticker;
        ticker.setInterval(0);
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (!decoding) return;
            if (!secondGiven) {
                secondGiven = true;
                image.SetURL(http->Http(QStringLiteral("files/b1.png")));
            }
            ticks.release();
        });
        ticker.start();
        QThread* decodedOn = nullptr;
        bool uiRanMeanwhile = false;
        TBannerPicture::SetDecodeObserverForTesting([&] {
            decodedOn = QThread::currentThread();
            decoding = true;
            uiRanMeanwhile =
                ticks.tryAcquire(1, 10000); // never granted while the UI thread decodes
            decoding = false;
        });
        const QString bomb = http->Http(QStringLiteral("files/bomb.gif"));
        image.SetURL(bomb);
        QTRY_COMPARE_WITH_TIMEOUT(errors.size(), 1, 20000);
        TBannerPicture::SetDecodeObserverForTesting({});
        QVERIFY(decodedOn && decodedOn != QThread::currentThread());
        QVERIFY(uiRanMeanwhile);
        QVERIFY(secondGiven);
        // The bomb is refused by its descriptor, and the second URL was dropped.
        QCOMPARE(errors, QStringList{QStringLiteral("Could not load image. Invalid format")});
        QCOMPARE(image.BannerPicture()->URL(), bomb);
        QVERIFY(image.BannerPicture()->Empty());
        QVERIFY(!image.BannerPicture()->Busy());
        QCOMPARE(completed, 0);
        image.SetURL(http->Http(QStringLiteral("files/b1.png")));
        QTRY_COMPARE(completed, 1);
        // Synchronously, the same file is refused the same way.
        QCOMPARE(loadError(*image.BannerPicture(), bombGif()),
                 QStringLiteral("Could not load image. Invalid format"));
        QCOMPARE(loadError(*image.BannerPicture(),
                           BuildSolidGif({4, 4}, std::vector<QRect>(9, QRect(0, 0, 65535, 65535)))),
                 QStringLiteral("Could not load image. Invalid format"));
        QCOMPARE(image.BannerPicture()->CurrentImage().size(), QSize(10, 10));
    }

    // The feed never goes through a file of a known name in the shared
    // temporary folder: the player's own file of that name stays too.
    void feedStaysOutOfTheTemporaryFolder() {
        QTemporaryDir shared, data;
        WriteAll(shared.filePath(QStringLiteral("banner.txt")), "the player's own notes");
        const TempDirAs temp(shared.path());
        const auto got = fetchFeed(http->Http(QStringLiteral("files/banner.txt")), data.path());
        QVERIFY(got);
        QVERIFY(got->second.startsWith(http->Http(QStringLiteral("files/b"))));
        QCOMPARE(ReadAll(shared.filePath(QStringLiteral("banner.txt"))),
                 QByteArray("the player's own notes"));
        QCOMPARE(
            QDir(shared.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("banner.txt")});
        QCOMPARE(
            QDir(data.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("banner.inf")});
#ifndef _WIN32 // Windows keeps the profile's files private by its access lists
        QCOMPARE(modeOf(data.filePath(QStringLiteral("banner.inf"))), 0600u);
#endif
    }

    // Another user plants a file, or a link to where the player's shell
    // reads its start-up file, under the name the feed once used.
    void plantedTempFilesOfAnotherUserAreLeftAlone_data() {
        QTest::addColumn<bool>("link");
        QTest::newRow("their file") << false;
        QTest::newRow("their dangling link") << true;
    }
    void plantedTempFilesOfAnotherUserAreLeftAlone() {
#ifdef _WIN32
        QSKIP("plants files as a second POSIX user (setpriv) in a sticky shared folder");
#else
        QFETCH(bool, link);
        if (!isRoot())
            QSKIP("needs root to switch to a scratch user (setpriv); run the suite as root, as CI "
                  "does");
        const QString attacker = QStringLiteral("quorlex-banner");
        QVERIFY(scratchUser(attacker));
        QTemporaryDir root, data;
        QVERIFY(::chmod(QFile::encodeName(root.path()).constData(), 0755) == 0);
        const QString shared = root.filePath(QStringLiteral("tmp")),
                      home = root.filePath(QStringLiteral("home"));
        QVERIFY(QDir().mkpath(shared) && QDir().mkpath(home));
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        const QString planted = shared + QStringLiteral("/banner.txt"),
                      profile = home + QStringLiteral("/.bash_profile");
        QVERIFY(runAs(attacker, link ? QStringLiteral("ln -s %1 %2").arg(profile, planted)
                                     : QStringLiteral("printf theirs > %1").arg(planted)));
        const TempDirAs temp(shared);
        const auto got = fetchFeed(http->Http(QStringLiteral("files/banner.txt")), data.path());
        QVERIFY(got);
        QVERIFY(got->second.startsWith(http->Http(QStringLiteral("files/b"))));
        const QFileInfo after(planted);
        QCOMPARE(after.isSymLink(), link);
        if (link)
            QCOMPARE(after.symLinkTarget(), profile);
        else
            QCOMPARE(ReadAll(planted), QByteArray("theirs"));
        QVERIFY(!QFileInfo::exists(profile));
        QCOMPARE(QDir(home).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot),
                 QStringList());
        QCOMPARE(QDir(shared).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                        QDir::NoDotAndDotDot),
                 QStringList{QStringLiteral("banner.txt")});
#endif
    }

    // The copy of the feed replaces whatever banner.inf was, a link
    // included, and never writes where a link points.
    void feedCopyNeverFollowsLinks() {
        QTemporaryDir data, elsewhere;
        const QString copy = data.filePath(QStringLiteral("banner.inf"));
        const QString precious = elsewhere.filePath(QStringLiteral("precious")),
                      nowhere = elsewhere.filePath(QStringLiteral("new"));
        WriteAll(precious, "keep me");
#ifndef _WIN32 // Qt's links on Windows are shortcut files, plain files to the feed
        for (const QString& target : {precious, nowhere}) {
            QFile::remove(copy);
            QVERIFY(QFile::link(target, copy));
            const auto got = fetchFeed(http->Http(QStringLiteral("files/banner.txt")), data.path());
            QVERIFY(got);
            QVERIFY(!got->second.isEmpty());
            QVERIFY(!QFileInfo(copy).isSymLink());
            QCOMPARE(modeOf(copy), 0600u);
            QVERIFY(ReadAll(copy).startsWith("[urls]"));
            QCOMPARE(ReadAll(precious), QByteArray("keep me"));
            QVERIFY(!QFileInfo::exists(nowhere));
        }
#endif
        // A folder in its place: nothing to keep, nothing shown, nothing left behind.
        QFile::remove(copy);
        QVERIFY(QDir().mkdir(copy));
        QVERIFY(!fetchFeed(http->Http(QStringLiteral("files/banner.txt")), data.path()));
        QCOMPARE(
            QDir(data.path())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList{QStringLiteral("banner.inf")});
    }

    void gifFramesByByteScan() {
        const QByteArray gif = threeFrames();
        QVERIFY(imaging::IsGif(gif));
        QCOMPARE(imaging::GifFrameCount(gif), 3);
        QCOMPARE(imaging::GifFrameDelay(gif, 2), 20);
        QCOMPARE(imaging::GifFrameDelay(gif, 4), -1);
        // Frame 2 lands at its offset on the canvas, over frame 1.
        const auto decoded = imaging::DecodeGif(gif);
        QCOMPARE(decoded.canvas, QSize(40, 20));
        QCOMPARE(int(decoded.frames.size()), 3);
        QCOMPARE(decoded.delays, (std::vector<int>{10, 20, 30}));
        QCOMPARE(px(decoded.frames[1], 5, 6), QColor(Qt::green));
        QCOMPARE(px(decoded.frames[1], 14, 13), QColor(Qt::green));
        QCOMPARE(px(decoded.frames[1], 15, 14), QColor(Qt::red));
        QCOMPARE(px(decoded.frames[1], 4, 6), QColor(Qt::red));
        QCOMPARE(imaging::GifFrameCount(png(2, 2)), -1);
        // The demo's banner animates: its frames are found the same way.
        const QByteArray demo = ReadAll(SourceDir() + QStringLiteral("/demo/site/banner1.gif"));
        QVERIFY(imaging::GifFrameCount(demo) > 1);
        QCOMPARE(int(imaging::DecodeGif(demo).frames.size()), imaging::GifFrameCount(demo));
    }

    // An optimised GIF: a full first frame, then small update areas whose
    // disposal methods and transparent pixels decide what the canvas shows.
    void framesCompositedAsBrowsersDrawThem() {
        const QColor yellow(Qt::yellow);
        const QByteArray gif =
            BuildGif(60, 20,
                     {{QRect(0, 0, 60, 20), Qt::red, 10, 1},
                      {QRect(40, 0, 20, 20), Qt::green, 10, 2, false, QRect(0, 0, 5, 5)},
                      {QRect(0, 0, 10, 10), Qt::blue, 10, 3},
                      {QRect(20, 5, 10, 10), yellow, 10, 1}});
        const auto d = imaging::DecodeGif(gif);
        QCOMPARE(int(d.frames.size()), 4);
        QVERIFY(!d.truncated);
        for (const QImage& f : d.frames)
            QCOMPARE(f.size(), QSize(60, 20));
        QCOMPARE(px(d.frames[0], 59, 19), QColor(Qt::red));
        QCOMPARE(px(d.frames[1], 45, 10), QColor(Qt::green));
        QCOMPARE(px(d.frames[1], 41, 1), QColor(Qt::red)); // transparent: the canvas shows
        QCOMPARE(px(d.frames[1], 10, 10), QColor(Qt::red));
        // Frame 2 went back to the background (transparent) before frame 3.
        QCOMPARE(qAlpha(d.frames[2].pixel(45, 10)), 0);
        QCOMPARE(qAlpha(d.frames[2].pixel(41, 1)), 0);
        QCOMPARE(px(d.frames[2], 5, 5), QColor(Qt::blue));
        QCOMPARE(px(d.frames[2], 15, 15), QColor(Qt::red));
        // Frame 3 asked for the canvas it found to come back.
        QCOMPARE(px(d.frames[3], 5, 5), QColor(Qt::red));
        QCOMPARE(qAlpha(d.frames[3].pixel(45, 10)), 0);
        QCOMPARE(px(d.frames[3], 25, 10), yellow);
        QCOMPARE(px(d.frames[3], 35, 10), QColor(Qt::red));

        // Interlaced rows go to their own lines: only row 3 is a hole.
        const auto inter = imaging::DecodeGif(
            BuildGif(8, 16,
                     {{QRect(0, 0, 8, 16), Qt::red, 5},
                      {QRect(0, 0, 8, 16), Qt::blue, 5, 1, true, QRect(0, 3, 8, 1)}}));
        QCOMPARE(int(inter.frames.size()), 2);
        for (int y : {0, 1, 2, 4, 8, 11, 15})
            QCOMPARE(px(inter.frames[1], 2, y), QColor(Qt::blue));
        QCOMPARE(px(inter.frames[1], 2, 3), QColor(Qt::red));

        // A last frame cut off shows what arrived over the canvas before it.
        const QByteArray whole =
            BuildGif(120, 120,
                     {{QRect(0, 0, 120, 120), Qt::red, 5},
                      {QRect(0, 0, 120, 120), Qt::green, 5, 1, false, {}, Qt::blue}});
        const qsizetype second = imaging::GifFrameMarks(whole).at(1);
        const auto cut = imaging::DecodeGif(whole.left(second + (whole.size() - second) / 2));
        QVERIFY(cut.truncated);
        QCOMPARE(int(cut.frames.size()), 2);
        QVERIFY(px(cut.frames[1], 0, 0) != QColor(Qt::red));
        QCOMPARE(px(cut.frames[1], 119, 119), QColor(Qt::red));
        TBannerPicture picture;
        picture.LoadFromBytes(whole.left(second + (whole.size() - second) / 2));
        QCOMPARE(picture.GifFrameCount(), 2);
    }

    // The banner's layout: top-right in a wider control, small update frames.
    void optimisedBannerNeverBlinksEmpty() {
        const QByteArray gif = BuildGif(120, 40,
                                        {{QRect(0, 0, 120, 40), Qt::red, 10},
                                         {QRect(100, 30, 10, 5), Qt::green, 10},
                                         {QRect(0, 0, 4, 4), Qt::blue, 10}});
        TBannerImage image;
        image.resize(358, 74);
        image.PicturePosition = bpTopRight;
        image.BannerPicture()->LoadFromBytes(gif);
        QCOMPARE(image.PictureRect(), QRect(238, 0, 120, 40));
        QList<qint64> keys;
        for (int t = 0; t < 60; ++t) {
            image.AnimationTick();
            const int f = image.BannerPicture()->Frame();
            QImage shot(image.size(), QImage::Format_ARGB32);
            shot.fill(Qt::white);
            image.render(&shot);
            QCOMPARE(px(shot, 238 + 50, 20), QColor(Qt::red)); // frame 1 stays under every update
            QCOMPARE(px(shot, 238 + 105, 32), QColor(f >= 2 ? Qt::green : Qt::red));
            QCOMPARE(px(shot, 238 + 1, 1), QColor(f == 3 ? Qt::blue : Qt::red));
            if (t % 10 == 0) keys << image.BannerPicture()->CurrentImage().cacheKey();
        }
        // Decoded once: the same frame is the same image each time round.
        QCOMPARE(keys[0], keys[3]);
        // AutoSize takes the canvas, not the first or the current frame.
        image.AutoSize = true;
        image.BannerPicture()->SetFrame(2);
        image.BannerPicture()->LoadFromBytes(BuildGif(
            90, 30, {{QRect(10, 10, 5, 5), Qt::red, 10}, {QRect(0, 0, 2, 2), Qt::blue, 10}}));
        QCOMPARE(image.size(), QSize(90, 30));
    }

    void animationPlaysEachFrameForItsDelay() {
        TBannerImage image;
        image.BannerPicture()->LoadFromBytes(threeFrames());
        QVERIFY(image.Animated());
        QList<int> frames;
        for (int t = 0; t < 70; ++t) {
            image.AnimationTick();
            frames << image.BannerPicture()->Frame();
        }
        QCOMPARE(frames[0], 1);
        QCOMPARE(frames[9], 1);
        QCOMPARE(frames[10], 2);
        QCOMPARE(frames[29], 2);
        QCOMPARE(frames[30], 3);
        QCOMPARE(frames[59], 3);
        QCOMPARE(frames[60], 1);
        // A frame without a delay does not stop the animation.
        image.BannerPicture()->LoadFromBytes(
            BuildGif(4, 4, {{QRect(0, 0, 4, 4), Qt::red, 0}, {QRect(0, 0, 4, 4), Qt::blue, 0}}));
        QSet<int> seen;
        for (int t = 0; t < 5; ++t) {
            image.AnimationTick();
            seen << image.BannerPicture()->Frame();
        }
        QCOMPARE(seen, (QSet<int>{1, 2}));
        image.BannerPicture()->LoadFromBytes(png(5, 5));
        QVERIFY(!image.Animated());
    }

    void placementAutoSizeAndHover() {
        TBannerImage image;
        image.resize(100, 50);
        image.PicturePosition = bpTopRight;
        image.BannerPicture()->LoadFromBytes(png(200, 20));
        QCOMPARE(image.PictureRect().topLeft(), QPoint(0, 0)); // wider than the control
        image.BannerPicture()->LoadFromBytes(png(40, 20));
        QCOMPARE(image.PictureRect().topLeft(), QPoint(60, 0));
        image.PicturePosition = bpCenter;
        QCOMPARE(image.PictureRect().topLeft(), QPoint(30, 15));
        image.PicturePosition = bpBottomLeft;
        QCOMPARE(image.PictureRect().topLeft(), QPoint(0, 30));
        image.PicturePosition = bpStretched;
        QCOMPARE(image.PictureRect(), QRect(0, 0, 100, 50));
        image.AutoSize = true;
        image.SetURL(QStringLiteral("FILE://") + site.filePath(QStringLiteral("wide.png")));
        QCOMPARE(image.size(), QSize(358, 74));
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(&image, &enter);
        QVERIFY(image.Hovered());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&image, &leave);
        QVERIFY(!image.Hovered());
        const QPoint inside(image.width() / 2, image.height() / 2);
        QImage withPicture(image.size(), QImage::Format_RGB32);
        withPicture.fill(Qt::magenta);
        image.render(&withPicture);
        QCOMPARE(QColor(withPicture.pixel(inside)),
                 QColor(Qt::darkGreen)); // the picture fills the control
        image.SetURL(QStringLiteral("FILE://") + site.filePath(QStringLiteral("missing.png")));
        QVERIFY(image.BannerPicture()->Empty());
        QImage shot(image.size(), QImage::Format_RGB32);
        shot.fill(Qt::magenta);
        image.render(&shot); // nothing but the frame: the picture's pixels are gone
        QVERIFY(QColor(shot.pixel(inside)) != QColor(Qt::darkGreen));
        QCOMPARE(QColor(shot.pixel(0, 0)), QColor(Qt::blue));
    }

    void downloadsAndTheirErrors() {
        TBannerImage image;
        QStringList errors;
        int completed = 0;
        image.OnDownLoadError = [&](TBannerImage*, const QString& e) { errors << e; };
        image.OnDownLoadComplete = [&](TBannerImage*) { ++completed; };
        image.SetURL(http->Http(QStringLiteral("status/404")));
        image.SetURL(http->Http(QStringLiteral("html/x")));
        QCOMPARE(errors, (QStringList{QStringLiteral("Cannot open URL ") +
                                          http->Http(QStringLiteral("status/404")),
                                      QStringLiteral("Resource is not of image type : ") +
                                          http->Http(QStringLiteral("html/x"))}));
        image.CheckContentLength = true;
        image.SetURL(http->Http(QStringLiteral("nolength/anim.gif")));
        QCOMPARE(errors.last(), QStringLiteral("Image size is 0"));
        image.CheckContentLength = false;
        image.SetURL(http->Http(QStringLiteral("nolength/anim.gif")));
        QCOMPARE(completed, 1);
        QVERIFY(image.Animated());
        // A cancel after the first block keeps the picture and completes nothing.
        image.OnDownLoadCancel = [](TBannerImage*, bool& c) { c = true; };
        image.SetURL(http->Http(QStringLiteral("files/wide.png")));
        QCOMPARE(completed, 1);
        QVERIFY(image.Animated());
        image.OnDownLoadCancel = nullptr;
        // Asynchronous: the network part on a worker, the picture on the UI thread.
        image.Async = true;
        image.AutoSize = true;
        image.SetURL(http->Http(QStringLiteral("slow/wide.png")));
        QVERIFY(image.BannerPicture()->Busy());
        image.SetURL(http->Http(QStringLiteral("files/b1.png"))); // ignored while busy
        QTRY_COMPARE(completed, 2);
        QCOMPARE(image.size(), QSize(358, 74));
    }

    void feedPicksOneEntryAndCleansUp() {
        QTemporaryDir data;
        std::mt19937 rng(1);
        QStringList links, pictures;
        TBannerFeedThread::Setup s;
        s.feedUrl = http->Http(QStringLiteral("files/banner.txt"));
        s.dataDir = data.path();
        s.defaultLink = QStringLiteral("https://home/");
        s.random = &rng;
        s.show = [&](const QString& l, const QString& p) {
            links << l;
            pictures << p;
        };
        QObject owner;
        for (int i = 0; i < 12; ++i) {
            auto* t = new TBannerFeedThread(s, &owner);
            t->start();
            QVERIFY(t->wait(10000));
            QTRY_COMPARE(links.size(), i + 1);
        }
        for (int i = 0; i < links.size(); ++i)
            QCOMPARE(pictures[i],
                     http->Http(QStringLiteral("files/b%1.png").arg(links[i].right(1))));
        QVERIFY(QSet<QString>(links.begin(), links.end()).size() > 1);
        QVERIFY(QFile::exists(data.filePath(QStringLiteral("banner.inf"))));
        QVERIFY(!QFile::exists(data.filePath(QStringLiteral("bla.inf"))));
        QVERIFY(!QFile::exists(QDir::temp().filePath(QStringLiteral("banner.txt"))));
        // A feed answered 404 changes nothing.
        s.feedUrl = http->Http(QStringLiteral("status/404"));
        auto* t = new TBannerFeedThread(s, &owner);
        t->start();
        QVERIFY(t->wait(10000));
        QTest::qWait(50);
        QCOMPARE(links.size(), 12);
        QCOMPARE(t->ClickLink(), QStringLiteral("https://home/"));
        // A feed server that never answers: the fetch ends at its cap, and the next one works.
        s.feedUrl = http->Http(QStringLiteral("stall/banner.txt"));
        s.totalSeconds = 1;
        t = new TBannerFeedThread(s, &owner);
        t->start();
        QVERIFY(t->wait(1000 + 5000));
        QCOMPARE(links.size(), 12);
        s.feedUrl = http->Http(QStringLiteral("files/banner.txt"));
        t = new TBannerFeedThread(s, &owner);
        t->start();
        QVERIFY(t->wait(10000));
        QTRY_COMPARE(links.size(), 13);
    }

    // A picture that goes away while its download runs: its thread is
    // stopped, and no event of the download reaches anything afterwards.
    void pictureDeletedDuringItsDownload_data() {
        QTest::addColumn<QString>("path");
        QTest::newRow("never answers") << QStringLiteral("stall/wide.png");
        QTest::newRow("stops mid-body") << QStringLiteral("stopmid/wide.png");
        QTest::newRow("sends forever") << QStringLiteral("endless/x.gif");
        QTest::newRow("arrives slowly") << QStringLiteral("trickle/wide.png");
    }
    void pictureDeletedDuringItsDownload() {
        QFETCH(QString, path);
        int events = 0;
        auto* picture = new TBannerPicture;
        picture->Async = true;
        picture->OnDownLoadProgress = [&](TBannerPicture*, quint32, quint32) { ++events; };
        picture->OnDownLoadError = [&](TBannerPicture*, const QString&) { ++events; };
        picture->OnDownLoadComplete = [&](TBannerPicture*) { ++events; };
        picture->LoadFromURL(http->Http(path));
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        delete picture;
        // Proves only that closing does not wait out the stall (30 s); Wine takes 2 s.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        const int before = events;
        QTest::qWait(300);
        QCOMPARE(events, before);
    }

    // The window closes while the feed or the picture is on its way.
    void windowClosedDuringTransfers_data() {
        QTest::addColumn<QString>("feed");
        QTest::addColumn<bool>("pictureBusy");
        QTest::newRow("feed never answers") << QStringLiteral("stall/banner.txt") << false;
        QTest::newRow("feed stops mid-body") << QStringLiteral("stopmid/banner.txt") << false;
        QTest::newRow("feed sends forever") << QStringLiteral("endless/banner.txt") << false;
        QTest::newRow("picture never answers") << QStringLiteral("files/feed-stall.txt") << true;
        QTest::newRow("picture stops mid-body") << QStringLiteral("files/feed-stopmid.txt") << true;
        QTest::newRow("picture arrives slowly") << QStringLiteral("files/feed-trickle.txt") << true;
    }
    void windowClosedDuringTransfers() {
        QFETCH(QString, feed);
        QFETCH(bool, pictureBusy);
        GameFolder game;
        ScriptedPrompter prompter;
        auto w = bannerWindow(game, prompter, feed);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        if (pictureBusy) QTRY_VERIFY(w->BannerImage1->BannerPicture()->Busy());
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        w.reset();
        // Proves only that closing does not wait out the stall (30 s); Wine takes 2 s.
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(300); // nothing is handed to the window that is gone
    }

    void badPictureKeepsTheGoodOne() {
        TBannerImage image;
        QStringList errors;
        int completed = 0;
        image.OnDownLoadError = [&](TBannerImage*, const QString& e) { errors << e; };
        image.OnDownLoadComplete = [&](TBannerImage*) { ++completed; };
        image.SetURL(http->Http(QStringLiteral("files/b2.png")));
        QCOMPARE(completed, 1);
        const QByteArray good = image.BannerPicture()->RawBytes();
        image.SetURL(http->Http(QStringLiteral("files/bad.png")));
        QCOMPARE(completed, 1);
        QCOMPARE(errors, QStringList{QStringLiteral("Could not load image. Invalid format")});
        QVERIFY(!image.BannerPicture()->Empty());
        QCOMPARE(image.BannerPicture()->RawBytes(), good);
        QCOMPARE(px(image.BannerPicture()->CurrentImage(), 19, 9), QColor(Qt::darkGreen));

        // Declared sizes beyond what the control shows are refused, the old picture stays.
        TBannerPicture& picture = *image.BannerPicture();
        const QString tooLarge = QStringLiteral("Could not allocate memory for image");
        QCOMPARE(loadError(picture, jpegDeclaring(8192)), tooLarge);
        QCOMPARE(loadError(picture, png(kMaxBannerSide + 1, 1)), tooLarge);
        QCOMPARE(
            loadError(picture, BuildGif(1, kMaxBannerSide + 1, {{QRect(0, 0, 1, 1), Qt::red, 0}})),
            tooLarge);
        QCOMPARE(loadError(picture, QByteArray("GIF89a")),
                 QStringLiteral("Could not load image. Invalid format"));
        QCOMPARE(picture.RawBytes(), good);
        QCOMPARE(loadError(picture, png(kMaxBannerSide, 2)), QString());
        // Map previews stop at 2048 by 2048.
        QString why;
        QVERIFY(imaging::DecodeJpeg(jpegDeclaring(2049), &why).isNull());
        QCOMPARE(why, QStringLiteral("Picture too large"));
        QVERIFY(imaging::DecodeJpeg(jpegDeclaring(2048), &why, 4096).width() == 2048 ||
                why != QStringLiteral("Picture too large"));
    }

    void onlyWebLinksAreOpened() {
        QVERIFY(IsWebLink(QStringLiteral("http://example.org/x?y=1")));
        QVERIFY(IsWebLink(QStringLiteral("HTTPS://example.org")));
        for (const char* bad : {"file:///etc/passwd", "javascript:alert(1)", "ftp://example.org/",
                                "http://", "mailto:a@example.org", "", "C:/Windows/notepad.exe",
                                "\\\\server\\share", "/usr/bin/xterm"})
            QVERIFY2(!IsWebLink(QString::fromLatin1(bad)), bad);
        // A feed whose link is not a web link: the picture shows, a click opens nothing.
        QTemporaryDir data;
        QStringList links;
        TBannerFeedThread::Setup s;
        s.feedUrl = http->Http(QStringLiteral("files/evil.txt"));
        s.dataDir = data.path();
        s.defaultLink = QStringLiteral("https://home/");
        s.show = [&](const QString& l, const QString&) { links << l; };
        QObject owner;
        auto* t = new TBannerFeedThread(s, &owner);
        t->start();
        QVERIFY(t->wait(10000));
        QTRY_COMPARE(links.size(), 1);
        QCOMPARE(links[0], QString());
        QCOMPARE(t->ClickLink(), QString());
    }

    void mainWindowShowsTheFeedAndOpensTheLink() {
        GameFolder game;
        WriteAll(
            game.SettingsFile(),
            "[Quorlex]\r\nInit=False\r\nAutoBackup=False\r\nCheckOnStartup=False\r\nBannerURL=" +
                http->Http(QStringLiteral("files/banner.txt")).toUtf8() +
                "\r\n\r\n[UT2k4]\r\nDir=" + game.GameDir().toUtf8() +
                "\r\nSystem=" + game.GameDir().toUtf8() + "/System\r\n");
        ScriptedPrompter prompter;
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game.ProgramDir();
        env.prompter = &prompter;
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/x.inf");
        bool online = false;
        env.isOnline = [&] { return online; };
        QStringList opened;
        platform::SetShellOpenHookForTesting([&](const QString& t) { opened << t; });
        {
            app::TfrmMain w(env);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.BannerImage1Click(); // offline: no fetch yet, nothing opens
            QVERIFY(opened.isEmpty());
            QCOMPARE(w.timerBanner->interval(), 90000);
            QVERIFY(w.timerBanner->isActive());
            online = true;
            w.timerBannerTimer();
            QTRY_VERIFY_WITH_TIMEOUT(!w.BannerImage1->BannerPicture()->Empty(), 10000);
            w.BannerImage1Click();
            QCOMPARE(opened.size(), 1);
            QVERIFY(opened[0].startsWith(QStringLiteral("https://example.org/")));
            QCOMPARE(w.BannerImage1->size().height(), 10);
        }
        platform::SetShellOpenHookForTesting({});
    }
};

QTEST_MAIN(BannerTest)
#include "BannerTest.moc"
