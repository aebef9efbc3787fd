// The main window's update commands against a local HTTP server.
#include "app/TfrmMain.h"
#include "tests/support/GameFolder.h"
#include "tests/support/LocalServer.h"
#include "tests/support/ScriptedPrompter.h"
#include "ui/TfrmProgress.h"
#include "tests/support/UpdateFixture.h"
#include "update/TUpdateClient.h"

#include <QDir>
#include <QtTest>

using namespace testsupport;

class UpdateWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir site;
    std::unique_ptr<LocalServer> http;
    std::unique_ptr<GameFolder> game;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<app::TfrmMain> w;
    QString oldCwd;

    void start(const QString& controlPath, bool checkOnStartup = false) {
        WriteAll(game->SettingsFile(), "[Quorlex]\r\nInit=False\r\nAutoBackup=False\r\nCheckOnStartup=" +
                                           QByteArray(checkOnStartup ? "True" : "False") + "\r\nUpdateURL=" +
                                           http->Http(controlPath).toUtf8() + "\r\nUpdateKey=" +
                                           DemoKeyFile("pub").toUtf8() + "\r\n\r\n[UT2k4]\r\nDir=" + game->GameDir().toUtf8() +
                                           "\r\nSystem=" + game->GameDir().toUtf8() + "/System\r\n");
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter.get();
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/unused.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        w = std::make_unique<app::TfrmMain>(env);
    }
    void waitForTheRun() { QTRY_VERIFY_WITH_TIMEOUT(!w->UpdateClient1->Running(), 10000); }

private slots:
    void initTestCase() {
        WriteSigned(site.filePath(QStringLiteral("same.inf")), "[update]\r\nnewversion=1.0.0.0\r\nlocalversion={APP}\\missing.exe\r\n");
        WriteSigned(site.filePath(QStringLiteral("nothing.inf")), "[update]\r\ndescr=nothing to decide\r\n");
        WriteAll(site.filePath(QStringLiteral("payload.txt")), QByteArray(30000, 'p'));
        http = std::make_unique<LocalServer>(HttpServerScript(), site.path());
        QVERIFY(http->Started());
        WriteSigned(site.filePath(QStringLiteral("files.inf")),
                 "[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                     http->Http(QStringLiteral("files/payload.txt")).toUtf8() + "\r\n");
    }
    void init() {
        game = std::make_unique<GameFolder>();
        prompter = std::make_unique<ScriptedPrompter>();
        oldCwd = QDir::currentPath();
        QDir::setCurrent(game->ProgramDir()); // TempDirectory "." of the client
        qputenv("TMPDIR", game->ProgramDir().toLocal8Bit());
    }
    void cleanup() {
        w.reset();
        QDir::setCurrent(oldCwd);
        qunsetenv("TMPDIR");
    }

    void manualCheckWithoutANewVersion() {
        start(QStringLiteral("files/same.inf"));
        w->Checkforupdates1Click();
        waitForTheRun();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("No new version available")});
        QVERIFY(w->ManualUpdateCheck);
    }

    void manualCheckWithoutAControlFileSaysSoOnce() {
        start(QStringLiteral("status/404"));
        w->Checkforupdates1Click();
        waitForTheRun();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("Update file not found\nCannot continue update")});
        QVERIFY(!w->ManualUpdateCheck);
    }

    void controlFileWithoutACriterionSaysNothing() {
        start(QStringLiteral("files/nothing.inf"));
        w->Checkforupdates1Click();
        waitForTheRun();
        QVERIFY(prompter->prompts.isEmpty());
    }

    void startupCheckShowsNoneOfTheManualMessages() {
        start(QStringLiteral("status/404"), true);
        QVERIFY(!w->ManualUpdateCheck);
        waitForTheRun();
        QVERIFY(prompter->prompts.isEmpty());
    }

    void filesShowTheProgressWindowWhichGoesAfterwards() {
        start(QStringLiteral("files/files.inf"));
        QStringList labels, bytes;
        QList<int> maxima;
        auto progress = w->UpdateClient1->OnFileProgress;
        w->UpdateClient1->OnFileProgress = [&](update::TUpdateClient* c, const QString& f, int pos, int size) {
            progress(c, f, pos, size);
            QVERIFY(w->ProgressWindow());
            labels << w->ProgressWindow()->Text();
            bytes << w->ProgressWindow()->BytesText();
            maxima << size;
        };
        auto original = w->UpdateClient1->OnStatus;
        bool windowShown = false;
        w->UpdateClient1->OnStatus = [&](update::TUpdateClient* c, const QString& s, int code, int err) {
            original(c, s, code, err);
            if (s == QStringLiteral("Found file update instruction")) {
                windowShown = w->ProgressWindow() && w->ProgressWindow()->isVisible() &&
                              w->ProgressWindow()->Text() == QStringLiteral("Initializing....");
            }
        };
        w->Checkforupdates1Click();
        waitForTheRun();
        QVERIFY(windowShown);
        QVERIFY(!labels.isEmpty());
        QCOMPARE(labels.last(), QStringLiteral("Downloading payload.txt..."));
        QCOMPARE(bytes.last(), QStringLiteral("30,000 of 30,000 bytes"));
        QCOMPARE(maxima.last(), 30000);
        QVERIFY(QFile::exists(game->ProgramDir() + QStringLiteral("payload.txt")));
        QVERIFY(!w->ProgressWindow()); // closed: no restart follows
        // The end of the run says what it did.
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("The update is done. Updated: payload.txt")});
    }
};

QTEST_MAIN(UpdateWindowTest)
#include "UpdateWindowTest.moc"
