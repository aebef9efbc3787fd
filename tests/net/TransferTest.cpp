// The transfer layer against servers that stall, stop mid-body or never stop
// sending: every transfer ends within its bound, the UI thread keeps running
// its timers throughout, and a cancel ends a transfer at once.
#include "app/TfrmMain.h"
#include "net/CurlStream.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/GameFolder.h"
#include "tests/support/LocalServer.h"
#include "update/TUpdateClient.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

using testsupport::LocalServer;

namespace {

// Bounds in these tests are short; the slack only proves that a transfer ends.
constexpr qint64 kSlackMs = 5000;

// A 20 ms UI timer: counts how often it fired while a transfer ran.
class UiTimer {
public:
    UiTimer() {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { ++fired; });
        timer_.start();
    }
    int fired = 0;

private:
    QTimer timer_;
};

net::Request shortBounds(const QString& url) {
    net::Request r;
    r.url = url.toStdString();
    r.lowSpeedSeconds = 2;
    return r;
}

} // namespace

class TransferTest : public QObject {
    Q_OBJECT

    QTemporaryDir site;
    std::unique_ptr<LocalServer> http;
    QString url(const QString& path) const { return http->Http(path); }

private slots:
    void initTestCase() {
        QByteArray body(200000, 'x');
        testsupport::WriteAll(site.filePath(QStringLiteral("body.bin")), body);
        testsupport::WriteAll(site.filePath(QStringLiteral("small.txt")), "abcdefghij");
        testsupport::WriteAll(site.filePath(QStringLiteral("large.bin")), QByteArray(4 << 20, 'L'));
        http = std::make_unique<LocalServer>(testsupport::HttpServerScript(), site.path());
        QVERIFY(http->Started());
    }

    void boundsByKind() {
        net::Request r;
        QCOMPARE(r.TotalSeconds(), 0L); // files: the low-speed rule only
        QCOMPARE(r.lowSpeedBytes, 1L);
        QCOMPARE(r.lowSpeedSeconds, 30L);
        r.kind = net::Kind::Control;
        QCOMPARE(r.TotalSeconds(), 60L);
    }

    void serverThatNeverAnswers() {
        UiTimer ui;
        QElapsedTimer clock;
        clock.start();
        net::Session s;
        QVERIFY(!s.Open(shortBounds(url(QStringLiteral("stall/x")))));
        const qint64 took = clock.elapsed();
        QVERIFY2(took < 2000 + kSlackMs, qPrintable(QString::number(took)));
        QVERIFY(!s.Error().empty());
        QVERIFY2(ui.fired >= 20, qPrintable(QString::number(ui.fired)));

        // A control file is capped in total even while the low-speed rule waits.
        net::Request control;
        control.url = url(QStringLiteral("stall/y")).toStdString();
        control.kind = net::Kind::Control;
        control.totalSeconds = 1;
        clock.restart();
        QVERIFY(!net::FetchAll(control, 1000).ok);
        QVERIFY(clock.elapsed() < 1000 + kSlackMs);
    }

    void serverThatStopsMidBody() {
        UiTimer ui;
        QElapsedTimer clock;
        clock.start();
        net::Session s;
        QVERIFY(s.Open(shortBounds(url(QStringLiteral("stopmid/body.bin")))));
        QCOMPARE(s.Status(), 200L);
        char block[4096];
        qint64 got = 0, n = 0;
        while ((n = s.Read(block, sizeof block)) > 0) got += n;
        QCOMPARE(n, qint64(-1));
        QCOMPARE(got, qint64(100000));
        QVERIFY(clock.elapsed() < 2000 + kSlackMs);
        QVERIFY(ui.fired >= 20);
    }

    void serverThatSendsForever() {
        UiTimer ui;
        // The caller's size cap ends it, and no more than the cap is kept.
        const auto capped = net::FetchAll(shortBounds(url(QStringLiteral("endless/x.gif"))), 1 << 20);
        QVERIFY(!capped.ok);
        QCOMPARE(capped.error, std::string("too large"));
        QVERIFY(capped.body.size() <= std::size_t(1 << 20));
        // Without a cap, the time cap of its kind ends it.
        net::Request r = shortBounds(url(QStringLiteral("endless/x.gif")));
        r.totalSeconds = 2;
        QElapsedTimer clock;
        clock.start();
        net::Session s;
        QVERIFY(s.Open(r));
        char block[65536];
        qint64 n = 0;
        while ((n = s.Read(block, sizeof block)) > 0) {
        }
        QCOMPARE(n, qint64(-1));
        QVERIFY(clock.elapsed() < 2000 + kSlackMs);
        QVERIFY(ui.fired >= 20);
    }

    // A caller that takes its time between reads is not a stalled server.
    void slowReaderOfAFastServer() {
        net::Session s;
        QVERIFY(s.Open(shortBounds(url(QStringLiteral("files/large.bin")))));
        char block[65536];
        qint64 got = s.Read(block, sizeof block);
        QTest::qWait(2500); // longer than the low-speed bound of 2 s
        qint64 n = 0;
        while ((n = s.Read(block, sizeof block)) > 0) got += n;
        QCOMPARE(n, qint64(0));
        QCOMPARE(got, qint64(4 << 20));
    }

    void cancelFromTheUiThreadAtAnyMoment() {
        // Default bounds (30 s): only the cancel can end these in time.
        net::Session s;
        net::Request r;
        r.url = url(QStringLiteral("stall/z")).toStdString();
        QTimer::singleShot(200, [&] { s.Cancel(); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!s.Open(r));
        QVERIFY(s.Cancelled());
        QCOMPARE(s.Error(), std::string("cancelled"));
        QVERIFY(clock.elapsed() < kSlackMs);

        r.url = url(QStringLiteral("stopmid/body.bin")).toStdString();
        QVERIFY(s.Open(r));
        QTimer::singleShot(200, [&] { s.Cancel(); });
        clock.restart();
        char block[4096];
        qint64 n = 0;
        while ((n = s.Read(block, sizeof block)) > 0) {
        }
        QCOMPARE(n, qint64(-1));
        QVERIFY(clock.elapsed() < kSlackMs);
        // The session is usable again after a cancel.
        r.url = url(QStringLiteral("files/small.txt")).toStdString();
        QVERIFY(s.Open(r));
        QCOMPARE(s.Read(block, sizeof block), qint64(10));
    }

    void cancelAllReachesWorkerThreads() {
        net::Request r;
        r.url = url(QStringLiteral("stall/w")).toStdString();
        std::atomic<bool> ended = false;
        net::Fetched result;
        QThread* worker = QThread::create([&] {
            result = net::FetchAll(r, 1000);
            ended = true;
        });
        worker->start();
        QTest::qWait(300);
        QVERIFY(!ended);
        net::CancelAll();
        QVERIFY(worker->wait(kSlackMs));
        QVERIFY(result.cancelled);
        delete worker;

        // A flag the owner keeps stops a transfer that starts after it is set.
        r.cancel = net::MakeCancelFlag();
        *r.cancel = true;
        QVERIFY(net::FetchAll(r, 1000).cancelled);
    }

    void updateDownloadOfAStalledServer() {
        QTemporaryDir work;
        update::TUpdateClient client;
        client.UpdateType = update::httpUpdate;
        client.UpdateConnect = update::ucConnectPrompt;
        client.TempDirectory = work.path();
        client.LogDirectory = work.path();
        client.AllowedFolders = {work.path()};
        QVERIFY(client.ConnectInternet() == 0);
        UiTimer ui;
        // Closing the window cancels every transfer; the run gets a failure.
        QTimer::singleShot(300, [] { net::CancelAll(); });
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!client.DownloadFile(url(QStringLiteral("stopmid/body.bin")), work.path() + QLatin1Char('/'), false));
        QVERIFY(clock.elapsed() < kSlackMs);
        QVERIFY(ui.fired >= 5);
        QVERIFY(!QFile::exists(work.filePath(QStringLiteral("body.bin"))));
        client.DisconnectInternet();
    }

    void updateControlFileThatNeverEnds() {
        QTemporaryDir work;
        qputenv("TMPDIR", work.path().toLocal8Bit());
        update::TUpdateClient client;
        client.UpdateType = update::httpUpdate;
        client.UpdateConnect = update::ucConnectPrompt;
        client.TempDirectory = work.path();
        client.LogDirectory = work.path();
        client.URL = url(QStringLiteral("endless/quorlex2004.inf"));
        QVERIFY(client.ConnectInternet() == 0);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(client.ReadControlFile(), 4);
        QVERIFY(clock.elapsed() < kSlackMs);
        for (const QFileInfo& f : QDir(work.path()).entryInfoList(QDir::Files))
            QVERIFY2(f.size() <= (4 << 20) + 1, qPrintable(f.fileName())); // nothing beyond the cap was kept
        client.DisconnectInternet();
        qunsetenv("TMPDIR");
    }

    // An update run waits for its transfer in a loop of its own; closing the
    // window ends that transfer instead of leaving it to its time limit.
    void windowClosedDuringAnUpdateRun() {
        testsupport::GameFolder game;
        testsupport::ScriptedPrompter prompter;
        testsupport::WriteAll(game.SettingsFile(), "[Quorlex]\r\nInit=False\r\nAutoBackup=False\r\nCheckOnStartup=False\r\nUpdateURL=" +
                                                       url(QStringLiteral("stall/quorlex2004.inf")).toUtf8() +
                                                       "\r\n\r\n[UT2k4]\r\nDir=" + game.GameDir().toUtf8() +
                                                       "\r\nSystem=" + game.GameDir().toUtf8() + "/System\r\n");
        const QString oldCwd = QDir::currentPath();
        QDir::setCurrent(game.ProgramDir()); // the client's temporary folder is "."
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game.ProgramDir();
        env.prompter = &prompter;
        env.isOnline = [] { return false; }; // no banner traffic in this test
        {
            app::TfrmMain w(env);
            w.show();
            QElapsedTimer clock;
            qint64 closedAt = -1;
            QTimer::singleShot(500, &w, [&] {
                closedAt = clock.elapsed();
                w.close();
            });
            clock.start();
            w.Checkforupdates1Click();
            QTRY_VERIFY_WITH_TIMEOUT(closedAt >= 0 && !w.UpdateClient1->Running(), 20000);
            QVERIFY2(clock.elapsed() - closedAt < 5000, qPrintable(QString::number(clock.elapsed() - closedAt)));
        }
        QDir::setCurrent(oldCwd);
    }
};

QTEST_MAIN(TransferTest)
#include "TransferTest.moc"
