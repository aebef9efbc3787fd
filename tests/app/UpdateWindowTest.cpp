// The main window's update commands against a local HTTP server.
#include "app/TfrmMain.h"
#include "tests/support/Dialogs.h"
#include "tests/support/GameFolder.h"
#include "tests/support/LocalServer.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/UpdateFixture.h"
#include "ui/TfrmProgress.h"
#include "update/TUpdateClient.h"
#include "update/UpdateDialogs.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
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
        WriteAll(game->SettingsFile(),
                 "[Quorlex]\r\nInit=False\r\nAutoBackup=False\r\nCheckOnStartup=" +
                     QByteArray(checkOnStartup ? "True" : "False") +
                     "\r\nUpdateURL=" + http->Http(controlPath).toUtf8() +
                     "\r\nUpdateKey=" + DemoKeyFile("pub").toUtf8() +
                     "\r\n\r\n[UT2k4]\r\nDir=" + game->GameDir().toUtf8() +
                     "\r\nSystem=" + game->GameDir().toUtf8() + "/System\r\n");
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter.get();
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/unused.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        w = std::make_unique<app::TfrmMain>(env);
        isolateSigningTimes();
    }
    // Each test keeps the signing time it accepted apart from the others'.
    void isolateSigningTimes() {
        w->UpdateClient1->SignatureMemoryKey =
            QStringLiteral("Software\\QuorlexTest\\") + QUuid::createUuid().toString(QUuid::Id128);
    }
    void waitForTheRun() { QTRY_VERIFY_WITH_TIMEOUT(!w->UpdateClient1->Running(), 10000); }

private slots:
    void initTestCase() {
        WriteSigned(site.filePath(QStringLiteral("same.inf")),
                    "[update]\r\nnewversion=1.0.0.0\r\nlocalversion={APP}\\missing.exe\r\n");
        WriteSigned(site.filePath(QStringLiteral("nothing.inf")),
                    "[update]\r\ndescr=nothing to decide\r\n");
        WriteAll(site.filePath(QStringLiteral("payload.txt")), QByteArray(30000, 'p'));
        http = std::make_unique<LocalServer>(HttpServerScript(), site.path());
        QVERIFY(http->Started());
        WriteSigned(site.filePath(QStringLiteral("files.inf")),
                    "[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                        http->Http(QStringLiteral("files/payload.txt")).toUtf8() + "\r\n");
        // Not signed: a man in the middle's offer.
        WriteAll(site.filePath(QStringLiteral("unsigned.inf")),
                 "[update]\r\nunconditional=1\r\n[action]\r\nmsg=Install our toolbar\r\n");
        // A slow file, for a check that is still running.
        WriteAll(site.filePath(QStringLiteral("slow.bin")), QByteArray(60000, 's'));
        WriteSigned(site.filePath(QStringLiteral("slow.inf")),
                    "[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                        http->Http(QStringLiteral("slow/slow.bin")).toUtf8() + "\r\n");
        // A download that is still running, whatever the machine's speed.
        WriteSigned(site.filePath(QStringLiteral("trickle.inf")),
                    "[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                        http->Http(QStringLiteral("trickle/slow.bin")).toUtf8() + "\r\n");
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
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("Update file not found\nCannot continue update")});
        QVERIFY(!w->ManualUpdateCheck);
    }

    // A redirect is not followed, and says so: the file may well be there.
    void redirectedControlFileIsToldAsSuch() {
        start(QStringLiteral("status/302"));
        w->Checkforupdates1Click();
        waitForTheRun();
        QCOMPARE(prompter->Texts().size(), 1);
        QVERIFY2(prompter->Texts()[0].contains(QStringLiteral("redirects it (HTTP 302), which is "
                                                              "not followed")),
                 qPrintable(prompter->Texts()[0]));
    }

    // Closing the window during a transfer ends the run quietly, and the
    // program with it: nothing blames the server for the player's close.
    void closingDuringATransferEndsTheProgram_data() {
        QTest::addColumn<QString>("controlPath");
        QTest::newRow("stalled control file") << QStringLiteral("stall/quorlex2004.inf");
        QTest::newRow("download") << QStringLiteral("files/trickle.inf");
    }
    void closingDuringATransferEndsTheProgram() {
        QFETCH(QString, controlPath);
        start(controlPath);
        w->show();
        QTimer::singleShot(0, w.get(), [this] { w->Checkforupdates1Click(); });
        QTimer::singleShot(700, w.get(), [this] { w->close(); });
        QTimer failed;
        connect(&failed, &QTimer::timeout, [] { QCoreApplication::exit(1); });
        failed.start(8000);
        // The program's own loop, which its quit ends with 0.
        QCOMPARE(QCoreApplication::exec(), 0);
        QVERIFY(w->Closed());
        QTRY_VERIFY(!w->UpdateClient1->Running());
        QVERIFY2(prompter->prompts.isEmpty(), qPrintable(prompter->Texts().join(QLatin1Char('|'))));
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
        w->UpdateClient1->OnFileProgress = [&](update::TUpdateClient* c, const QString& f, int pos,
                                               int size) {
            progress(c, f, pos, size);
            QVERIFY(w->ProgressWindow());
            labels << w->ProgressWindow()->Text();
            bytes << w->ProgressWindow()->BytesText();
            maxima << size;
        };
        auto original = w->UpdateClient1->OnStatus;
        bool windowShown = false;
        w->UpdateClient1->OnStatus = [&](update::TUpdateClient* c, const QString& s, int code,
                                         int err) {
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
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("The update is done. Updated: payload.txt")});
    }

    // A control file that is not signed by our key is told about, at a
    // start-up check too, and nothing of it is shown or done.
    void unsignedControlFileIsToldAndIgnored() {
        start(QStringLiteral("files/unsigned.inf"), true);
        waitForTheRun();
        QCOMPARE(prompter->prompts.size(), 1);
        QCOMPARE(prompter->prompts[0].kind, ui::PromptKind::Warning);
        QVERIFY(prompter->prompts[0].text.startsWith(
            QStringLiteral("The update could not be verified, so nothing of it was used.\nUpdate "
                           "control file could not be verified : no signature")));
    }

    // A second check while one runs says so instead of doing nothing; the
    // download window names the file, counts its bytes and can cancel it.
    void secondCheckIsToldAndTheDownloadCanBeCancelled() {
        start(QStringLiteral("files/slow.inf"));
        WriteAll(game->ProgramDir() + QStringLiteral("slow.bin"), "old");
        bool asked = false;
        auto progress = w->UpdateClient1->OnFileProgress;
        w->UpdateClient1->OnFileProgress = [&](update::TUpdateClient* c, const QString& f, int pos,
                                               int size) {
            progress(c, f, pos, size);
            if (!f.endsWith(QStringLiteral("slow.bin")))
                return; // the control file and its signature
            auto* window = w->ProgressWindow();
            QVERIFY(window);
            QCOMPARE(window->Text(), QStringLiteral("Downloading slow.bin..."));
            QVERIFY(window->BytesText().endsWith(QStringLiteral(" of 60,000 bytes")));
            if (!asked && pos >= 10000) {
                asked = true;
                w->Checkforupdates1Click(); // while this one runs
                auto* cancel = window->findChild<QPushButton*>(QStringLiteral("btnCancel"));
                QVERIFY(cancel && cancel->isVisible());
                QTest::mouseClick(cancel, Qt::LeftButton);
            }
        };
        w->Checkforupdates1Click();
        waitForTheRun();
        QVERIFY(asked);
        QCOMPARE(ReadAll(game->ProgramDir() + QStringLiteral("slow.bin")), QByteArray("old"));
        QCOMPARE(prompter->Texts(),
                 (QStringList{QStringLiteral("An update check is already running."),
                              QStringLiteral("The update was cancelled; nothing was replaced.")}));
        QVERIFY(!w->ProgressWindow());
    }

    // A restart for an update asks about unsaved edits as Exit does; Cancel
    // keeps the program and its edits.
    void restartAsksAboutUnsavedEdits() {
        start(QStringLiteral("files/same.inf"));
        auto* field = w->findChild<QLineEdit*>(QStringLiteral("edtSpace"));
        QVERIFY(field);
        field->setText(field->text() + QStringLiteral(" | Jump"));
        QVERIFY(w->AnyPageChanged());
        bool started = false;
        w->UpdateClient1->StartProcess = [&](const QString&, const QStringList&) {
            started = true;
            return 0;
        };
        w->UpdateClient1->AppComponents = QStringLiteral("x_NEW");
        w->UpdateClient1->RestartPending = w->UpdateClient1->ComponentFetched = true;
        prompter->Answer(ui::Answer::Cancel);
        w->UpdateClient1->ThreadFinished();
        QVERIFY(!started);
        QCOMPARE(
            prompter->Texts(),
            (QStringList{
                QStringLiteral(
                    "Press OK to finalize the update, and to restart the newest Quorlex 2004!"),
                QStringLiteral("You have made some changes\nDo you want to save your changes?")}));
        QVERIFY(w->AnyPageChanged());
    }

    // The demo's own site: its offer is signed with the demo key and asks
    // Yes or No over its what's-new text; No changes nothing.
    void demoOfferIsSignedAndAsksYesOrNo() {
#ifdef _WIN32
        QSKIP("the demo's site is started by a host shell script, whose output a Windows test cannot read");
#endif
        QTemporaryDir scratch;
        QProcess demoSite;
        demoSite.start(QStringLiteral("bash"),
                       {SourceDir() + QStringLiteral("/scripts/demo-site"), scratch.path()});
        QVERIFY(demoSite.waitForFinished(20000));
        const QString base = QString::fromLatin1(demoSite.readAllStandardOutput()).trimmed();
        const QString pid =
            QString::fromLatin1(ReadAll(scratch.filePath(QStringLiteral("site.pid")))).trimmed();
        auto stop = qScopeGuard([&] {
            QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-P"), pid});
            QProcess::execute(QStringLiteral("kill"), {pid});
        });
        QVERIFY2(base.startsWith(QStringLiteral("http://127.0.0.1:")), qPrintable(base));
        // The installed program at version 1: the demo offers 2.1.
        QFile::copy(QStringLiteral(QUORLEX_STANDIN_V1),
                    game->ProgramDir() + QStringLiteral("quorlex2004"));
        WriteAll(game->ProgramDir() + QStringLiteral("ReadMe.txt"), "the old read-me");
        WriteAll(
            game->SettingsFile(),
            "[Quorlex]\r\nInit=False\r\nAutoBackup=False\r\nCheckOnStartup=False\r\nUpdateURL=" +
                (base + QStringLiteral("/files/quorlex2004.inf")).toUtf8() + "\r\nUpdateKey=" +
                DemoKeyFile("pub").toUtf8() + "\r\n\r\n[UT2k4]\r\nDir=" + game->GameDir().toUtf8() +
                "\r\nSystem=" + game->GameDir().toUtf8() + "/System\r\n");
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter.get();
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        w = std::make_unique<app::TfrmMain>(env);
        isolateSigningTimes();
        QStringList buttons;
        QString text, caption, question;
        WhenModal<update::TWhatsNewDialog>([&](update::TWhatsNewDialog* d) {
            caption = d->windowTitle();
            // The question is in the dialog itself, above the text.
            QVERIFY(d->captionLabel && d->captionLabel->isVisible());
            QVERIFY(d->captionLabel->geometry().bottom() < d->memo->geometry().top());
            question = d->captionLabel->text();
            text = d->memo->toPlainText();
            buttons = {d->okButton->text(), d->cancelButton->text()};
            d->cancelButton->click();
        });
        QStringList statuses;
        auto original = w->UpdateClient1->OnStatus;
        w->UpdateClient1->OnStatus = [&](update::TUpdateClient* c, const QString& s, int code,
                                         int err) {
            statuses << s;
            original(c, s, code, err);
        };
        w->Checkforupdates1Click();
        waitForTheRun();
        QVERIFY2(buttons.size() == 2, qPrintable(statuses.join(QLatin1Char('|')) +
                                                 prompter->Texts().join(QLatin1Char('|'))));
        QCOMPARE(buttons, (QStringList{QStringLiteral("&Yes"), QStringLiteral("&No")}));
        QVERIFY(caption.contains(QStringLiteral("Install it now?")));
        QCOMPARE(question, caption);
        QVERIFY(text.contains(QStringLiteral("What's new")));
        QCOMPARE(ReadAll(game->ProgramDir() + QStringLiteral("ReadMe.txt")),
                 QByteArray("the old read-me"));
        QVERIFY2(prompter->prompts.isEmpty(), qPrintable(prompter->Texts().join(QLatin1Char('|'))));
    }
};

QTEST_MAIN(UpdateWindowTest)
#include "UpdateWindowTest.moc"
