// Applying an update: actions, dialogs, prompting, unpacking, and the
// restart through the real updater against a local HTTP server.
#include "tests/support/Dialogs.h"
#include "tests/support/GameFolder.h"
#include "tests/support/LocalServer.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/UpdateFixture.h"
#include "update/TUpdateClient.h"
#include "update/UpdateDialogs.h"
#include "update/updater/Unpack.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

// The programs' names: Windows finds a program by its extension.
#ifdef _WIN32
#define EXE ".exe"
constexpr bool kWindows = true;
#else
#define EXE ""
constexpr bool kWindows = false;
#endif

using namespace update;
using namespace testsupport;
using ui::Answer;

class UpdateApplyTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::UpdateFolders> folders;
    std::unique_ptr<TUpdateClient> client;
    std::unique_ptr<ScriptedPrompter> prompter;
    QStringList messages;

    QString site() const { return folders->site(); }
    QString app() const { return folders->app(); }
    void control(const QByteArray& text) {
        WriteSigned(site() + QStringLiteral("/quorlex2004.inf"), text);
    }
    QByteArray files(int n) {
        QByteArray t = "[files]\r\ncount=" + QByteArray::number(n) + "\r\n";
        for (int i = 1; i <= n; ++i) {
            WriteAll(site() + QStringLiteral("/f%1.txt").arg(i), "file " + QByteArray::number(i));
            t += "[file" + QByteArray::number(i) + "]\r\nurl=" + site().toUtf8() + "/f" +
                 QByteArray::number(i) + ".txt\r\ntargetdir={APP}\r\n";
        }
        return t;
    }

private slots:
    void init() {
        folders = std::make_unique<testsupport::UpdateFolders>();
        prompter = std::make_unique<ScriptedPrompter>();
        client = std::make_unique<TUpdateClient>();
        folders->Configure(*client);
        client->SetPrompter(prompter.get());
        messages.clear();
        client->OnStatus = [this](TUpdateClient*, const QString& s, int, int) { messages << s; };
    }
    void cleanup() {
        client.reset();
        folders.reset();
    }

    void promptOnceAsksOnceForAll() {
        control("[update]\r\nunconditional=1\r\n" + files(3));
        client->UpdateUpdate = upPromptOnce;
        prompter->Answer(Answer::No);
        client->RunUpdate();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("Download update files ?")});
        QVERIFY(!QFile::exists(app() + QStringLiteral("/f1.txt")));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        client->RunUpdate();
        QCOMPARE(prompter->prompts.size(), 1);
        for (int i = 1; i <= 3; ++i)
            QVERIFY(QFile::exists(app() + QStringLiteral("/f%1.txt").arg(i)));
    }

    void promptAllAsksPerFile() {
        control("[update]\r\nunconditional=1\r\n" + files(2));
        client->UpdateUpdate = upPromptAll;
        prompter->Answer(Answer::No);
        prompter->Answer(Answer::Yes);
        client->RunUpdate();
        QCOMPARE(prompter->Texts(), (QStringList{QStringLiteral("Download update file : f1.txt"),
                                                 QStringLiteral("Download update file : f2.txt")}));
        QVERIFY(!QFile::exists(app() + QStringLiteral("/f1.txt")));
        QVERIFY(QFile::exists(app() + QStringLiteral("/f2.txt")));
    }

    void actionsShowAskAndOpen() {
        WriteAll(site() + QStringLiteral("/page.html"),
                 "<html><body><p>New things</p><img src=\"http://127.0.0.1:9/x.png\"><a "
                 "href=\"https://example.org/more\">more</a></body></html>");
        control("[update]\r\nunconditional=1\r\n[application]\r\nappupdate=1\r\nappname=x\r\n"
                "[action]\r\nmsg=Line one\\nLine two\r\nhtmldlg=" +
                site().toUtf8() + "/page.html\r\nquery=Go on?\r\n" + files(1));
        QString shown;
        WhenModal<THtmlDialog>([&](THtmlDialog* d) {
            shown = d->browser->toPlainText();
            d->accept();
        });
        client->UpdateUpdate = upSilent;
        prompter->Answer(Answer::No);
        client->RunUpdate();
        QCOMPARE(prompter->Texts(),
                 (QStringList{QStringLiteral("Line one\nLine two"), QStringLiteral("Go on?")}));
        QVERIFY(shown.contains(QStringLiteral("New things")));
        QVERIFY(!client->RestartPending);
        QVERIFY(
            !QFile::exists(app() + QStringLiteral("/f1.txt"))); // the declined query ends the run
        QVERIFY(messages.contains(QStringLiteral("Found HTML dialog instruction")));
    }

    void whatsNewCancelledEndsTheRun() {
        WriteAll(site() + QStringLiteral("/news.txt"), "Version 2\r\nFaster\r\n");
        control("[update]\r\nunconditional=1\r\n[whatsnew]\r\nfile=" + site().toUtf8() +
                "/news.txt\r\ncaption=News\r\n" + files(1));
        QStringList text;
        WhenModal<TWhatsNewDialog>([&](TWhatsNewDialog* d) {
            text = d->memo->toPlainText().split(QLatin1Char('\n'));
            QCOMPARE(d->windowTitle(), QStringLiteral("News"));
            QCOMPARE(d->captionLabel->text(), QStringLiteral("News"));
            QCOMPARE(d->size(), QSize(400, 400));
            QCOMPARE(d->okButton->text(), QStringLiteral("OK"));
            d->cancelButton->click();
        });
        client->UpdateUpdate = upSilent;
        client->RunUpdate();
        QCOMPARE(text, (QStringList{QStringLiteral("Version 2"), QStringLiteral("Faster")}));
        QVERIFY(messages.contains(QStringLiteral("Whatsnew not accepted")));
        QVERIFY(!QFile::exists(app() + QStringLiteral("/f1.txt")));
    }

    void licenceNeedsTheAcceptButton() {
        WriteAll(site() + QStringLiteral("/eula.txt"), "Terms");
        control("[update]\r\nunconditional=1\r\n[eula]\r\nfile=" + site().toUtf8() +
                "/eula.txt\r\n" + files(1));
        client->UpdateUpdate = upSilent;
        WhenModal<TLicenseDialog>([](TLicenseDialog* d) {
            QVERIFY(!d->acceptRadio->isChecked() && !d->notAcceptRadio->isChecked());
            QVERIFY(!d->captionLabel); // no caption, no empty line above the text
            d->okButton->click(); // neither chosen: refused
        });
        client->RunUpdate();
        QVERIFY(!QFile::exists(app() + QStringLiteral("/f1.txt")));
        WhenModal<TLicenseDialog>([](TLicenseDialog* d) {
            d->acceptRadio->setChecked(true);
            d->reject(); // however it closes, the radio decides
        });
        client->RunUpdate();
        QVERIFY(QFile::exists(app() + QStringLiteral("/f1.txt")));
    }

    void fetchedFilesAreUnpacked() {
        QFile packed(site() + QStringLiteral("/readme.tx_"));
        QVERIFY(packed.open(QIODevice::WriteOnly));
        const auto bytes = unpack::CompressSzdd({'n', 'e', 'w'}, 't');
        packed.write(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<qint64>(bytes.size()));
        packed.close();
        WriteAll(site() + QStringLiteral("/plain.tx_"), "plain text");
        QByteArray files = "[file1]\r\nurl=" + site().toUtf8() +
                           "/readme.tx_\r\ntargetdir={APP}\r\ncompressed=1\r\n"
                           "[file2]\r\nurl=" + site().toUtf8() +
                           "/plain.tx_\r\ntargetdir={APP}\r\ncompressed=1\r\n";
        // The cabinet is made by Debian's gcab, a program of the host, which
        // a Windows test does not start; the unpack tests cover cabinets there.
        const bool cabinet = !kWindows;
        if (cabinet) {
            WriteAll(QDir(folders->root()).filePath(QStringLiteral("cabsrc/inside.txt")),
                     "from the cabinet");
            QVERIFY(
                QProcess::execute(QStringLiteral("sh"),
                                  {QStringLiteral("-c"),
                                   QStringLiteral("cd '%1' && gcab -c '%2' inside.txt")
                                       .arg(QDir(folders->root()).filePath(QStringLiteral("cabsrc")),
                                            site() + QStringLiteral("/setup.cab"))}) == 0);
            files += "[file3]\r\nurl=" + site().toUtf8() + "/setup.cab\r\ntargetdir={APP}\\cab\r\n";
        }
        control("[update]\r\nunconditional=1\r\n[files]\r\ncount=" + QByteArray(cabinet ? "3" : "2") +
                "\r\n" + files);
        client->UpdateUpdate = upSilent;
        client->ExtractCAB = true;
        client->Logging = true;
        client->RunUpdate();
        QCOMPARE(ReadAll(app() + QStringLiteral("/readme.txt")), QByteArray("new"));
        QVERIFY(!QFile::exists(app() + QStringLiteral("/readme.tx_")));
        QCOMPARE(ReadAll(app() + QStringLiteral("/plain.tx_")),
                 QByteArray("plain text")); // not SZDD: kept as fetched
        QVERIFY(ReadAll(app() + QStringLiteral("/QUPDATE.LOG"))
                    .contains("Not SZDD compressed, kept as it is"));
        if (!cabinet) return;
        QCOMPARE(ReadAll(app() + QStringLiteral("/cab/inside.txt")),
                 QByteArray("from the cabinet"));
        QVERIFY(!QFile::exists(app() + QStringLiteral("/cab/setup.cab")));
    }

    void extractUpdaterWritesTheRealUpdater() {
        client->ExtractUpdater();
        QCOMPARE(ReadAll(client->UpdaterPath()), ReadAll(QStringLiteral(QUORLEX_UPD)));
        QVERIFY(QFileInfo(client->UpdaterPath()).isExecutable());
        QVERIFY(!QFile::exists(QDir(folders->root()).filePath(QStringLiteral("tmp/upd.ex_"))));
    }

    void restartCanBeDeclined() {
        client->RestartPending = client->ComponentFetched = true;
        bool started = false;
        client->StartProcess = [&](const QString&, const QStringList&) {
            started = true;
            return 0;
        };
        client->OnAppDoClose = [](TUpdateClient*) {};
        prompter->Answer(Answer::No);
        client->RestartApplication();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("Shutdown application to update executable files ?")});
        QVERIFY(!started);
    }

    // The whole way: a newer stand-in is fetched over HTTP, the updater
    // waits for the old one to end, swaps the file and starts the new one.
    void endToEndRestartRunsTheNewVersion_data() {
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain folder") << QString();
        QTest::newRow("folder with blanks") << QStringLiteral("/my games/quorlex 2004");
    }
    void endToEndRestartRunsTheNewVersion() {
        QFETCH(QString, folder);
        // The program's folder is the current one, as when it was started.
        const QString dir = app() + folder;
        QDir().mkpath(dir);
        QDir::setCurrent(dir);
        QFile::copy(QStringLiteral(QUORLEX_STANDIN_V1), dir + QStringLiteral("/standin" EXE));
        QFile::copy(QStringLiteral(QUORLEX_STANDIN_V2), site() + QStringLiteral("/standin" EXE "_NEW"));
        LocalServer http(HttpServerScript(), site());
        QVERIFY(http.Started());
        control("[update]\r\nnewversion=2.0.0.0\r\nlocalversion={APP}\\standin" EXE "\r\n"
                "[application]\r\nappupdate=1\r\nappname={APP}\\standin" EXE " "
                "versions.txt\r\nappcomps=standin" EXE "_NEW\r\n"
                "[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                http.Http(QStringLiteral("files/standin" EXE "_NEW")).toUtf8() +
                "\r\nlocalversion={APP}\\standin" EXE "\r\nnewversion=2.0.0.0\r\ntargetdir={APP}\r\n" +
                testsupport::Sha256Line(site() + QStringLiteral("/standin" EXE "_NEW")));
        // The old version runs; the updater is to wait for it.
        QProcess old;
        old.start(dir + QStringLiteral("/standin" EXE),
                  {QStringLiteral("versions.txt"), QStringLiteral("700")});
        QVERIFY(old.waitForStarted());
        client->UpdateType = httpUpdate;
        client->UpdateConnect = ucConnectPrompt;
        client->UpdateUpdate = upSilent;
        client->URL = http.Http(QStringLiteral("files/quorlex2004.inf"));
        // The control file travels over HTTP too.
        WriteSigned(site() + QStringLiteral("/quorlex2004.inf"),
                    ReadAll(site() + QStringLiteral("/quorlex2004.inf")));
        client->OwnExecutable = dir + QStringLiteral("/standin" EXE);
        client->RunUpdate();
        QVERIFY2(client->ComponentFetched, qPrintable(messages.join(QStringLiteral(" | "))));
        QVERIFY(client->RestartPending);
        client->OnAppRestart = [](TUpdateClient*, bool& allow) { allow = true; };
        client->OnAppDoClose = [](TUpdateClient*) {};
        QStringList passed;
        client->StartProcess = [&](const QString& program, QStringList args) {
            args[0] = QString::number(old.processId()); // the stand-in is the application that ends
            passed = args;
            return TUpdateClient::SpawnUpdater(program, args, QFileInfo(program).absolutePath());
        };
        client->RestartApplication();
        // The program is one argument, its own arguments follow "--".
        // As the control file names it, {APP}\standin, in the system's separators.
#ifdef _WIN32
        const QString program = dir + QStringLiteral("\\standin" EXE);
#else
        const QString program = dir + QStringLiteral("/./standin");
#endif
        QCOMPARE(passed.mid(1),
                 (QStringList{program, QStringLiteral("standin" EXE "_NEW"),
                              QStringLiteral("--"), QStringLiteral("versions.txt")}));
        old.waitForFinished(5000);
        QTRY_COMPARE_WITH_TIMEOUT(ReadAll(dir + QStringLiteral("/versions.txt")),
                                  QByteArray("1.0.0.0\n2.0.0.0\n"), 10000);
        QVERIFY(!QFile::exists(dir + QStringLiteral("/standin" EXE "_NEW")));
    }

    // The real program as the new version, the check started from another
    // folder (the game's): the updater finds the file beside the program,
    // and the new program reports its start, so it is not rolled back.
    void realProgramUpdateStartedElsewhereIsKept() {
        const QString dir = app() + QStringLiteral("/quorlex 2004");
        const QString elsewhere = app() + QStringLiteral("/game/System");
        QDir().mkpath(dir);
        QDir().mkpath(elsewhere);
        QDir::setCurrent(elsewhere);
        const QString program = dir + QStringLiteral("/quorlex2004" EXE);
        QFile::copy(QStringLiteral(QUORLEX_STANDIN_V1), program);
        const QString served = site() + QStringLiteral("/quorlex2004" EXE "_NEW");
        QFile::copy(QStringLiteral(QUORLEX_PROGRAM), served);
        const QByteArray realSha = testsupport::Sha256Line(served);
        LocalServer http(HttpServerScript(), site());
        QVERIFY(http.Started());
        control("[update]\r\nunconditional=1\r\n[application]\r\nappupdate=1\r\n"
                "appname={APP}\\quorlex2004" EXE "\r\nappcomps=quorlex2004" EXE "_NEW\r\n"
                "[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                http.Http(QStringLiteral("files/quorlex2004" EXE "_NEW")).toUtf8() +
                "\r\ntargetdir={APP}\r\n" + realSha);
        WriteSigned(site() + QStringLiteral("/quorlex2004.inf"),
                    ReadAll(site() + QStringLiteral("/quorlex2004.inf")));
        QProcess old;
        old.start(program, {QStringLiteral("versions.txt"), QStringLiteral("700")});
        QVERIFY(old.waitForStarted());
        client->UpdateType = httpUpdate;
        client->UpdateConnect = ucConnectPrompt;
        client->UpdateUpdate = upSilent;
        client->URL = http.Http(QStringLiteral("files/quorlex2004.inf"));
        client->OwnExecutable = program;
        client->RunUpdate();
        QVERIFY2(client->ComponentFetched, qPrintable(messages.join(QStringLiteral(" | "))));
        QVERIFY(!QFile::exists(elsewhere + QStringLiteral("/quorlex2004" EXE "_NEW")));
        client->OnAppRestart = [](TUpdateClient*, bool& allow) { allow = true; };
        client->OnAppDoClose = [](TUpdateClient*) {};
        client->StartProcess = [&](const QString& upd, QStringList args) {
            args[0] = QString::number(old.processId());
            return TUpdateClient::SpawnUpdater(upd, args, QFileInfo(upd).absolutePath());
        };
        // The new program starts offscreen with a home of its own, and waits at its setup.
        const QTemporaryDir home;
        const QByteArray realHome = qgetenv("HOME");
        qputenv("HOME", home.path().toLocal8Bit());
        client->RestartApplication();
        qputenv("HOME", realHome);
        old.waitForFinished(5000);
        // The updater keeps .old until the start is reported; without the
        // report it would put the old program back after 10 s.
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::Sha256Line(program) == realSha &&
                                     !QFile::exists(program + QStringLiteral(".old")),
                                 15000);
        QTest::qWait(500);
        QCOMPARE(testsupport::Sha256Line(program), realSha);
        KillProgramsOf(program);
    }
};

QTEST_MAIN(UpdateApplyTest)
#include "UpdateApplyTest.moc"
