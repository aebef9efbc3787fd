// The update client by what it does: each instruction of a control file,
// each per-file filter, the signature check, the remembered date and URL,
// the session and hang-up paths, each event, and the rule that the program
// restarts only after one of its own components was fetched.
#include "platform/Files.h"
#include "platform/Shell.h"
#include "platform/UserStore.h"
#include "tests/support/GameFolder.h"
#include "tests/support/PeBuilder.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/UpdateFixture.h"
#include "update/TUpdateClient.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <QtTest>

using namespace update;
using testsupport::BuildPe;
using testsupport::ReadAll;
using testsupport::WriteAll;
using testsupport::WriteSigned;

namespace {

// A transport without a network: the session opens or not as told, and
// every transfer hands out the bytes it was given (or cannot be opened).
class OfflineClient : public TUpdateClient {
public:
    bool sessionOpens = true;
    bool hostOpens = true;
    bool transferOpens = true;
    QByteArray body;
    int sessionsClosed = 0;
    int posts = 0;
    bool online = true;
    void PostUpdateResults() override { ++posts; }
    bool IsInternetConnected() override { return online; }

    struct MemoryTransfer : Transfer {
        OfflineClient* owner;
        qint64 at = 0;
        explicit MemoryTransfer(OfflineClient* o) : owner(o) {}
        bool Open(const QString&) override { return owner->transferOpens; }
        qint64 ExpectedSize() const override { return owner->body.size(); }
        qint64 Read(char* buffer, qint64 max) override {
            const qint64 n = std::min(max, owner->body.size() - at);
            memcpy(buffer, owner->body.constData() + at, static_cast<size_t>(n));
            at += n;
            return n;
        }
    };

protected:
    std::unique_ptr<Transfer> OpenTransfer() override { return std::make_unique<MemoryTransfer>(this); }
    bool OpenSession() override { return sessionOpens; }
    bool OpenHost() override {
        if (hostOpens) return true;
        lastError_ = QStringLiteral("The connection was refused");
        lastErrorCode_ = 12029;
        return false;
    }
    void CloseHost() override {}
    void CloseSession() override { ++sessionsClosed; }
};

} // namespace

class UpdateBehaviourTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::UpdateFolders> folders;
    std::unique_ptr<OfflineClient> client;
    testsupport::ScriptedPrompter prompter;
    QStringList messages;
    QList<int> codes;

    QString site() const { return folders->site(); }
    QString app() const { return folders->app(); }
    QString control() const { return site() + QStringLiteral("/quorlex2004.inf"); }
    QByteArray sitePath() const { return site().toUtf8(); }
    // A control file that always updates and lists one file, data.bin.
    void writeControl(const QByteArray& extra, const QByteArray& fileKeys = {}) {
        WriteAll(site() + QStringLiteral("/data.bin"), "fresh");
        // A component comes only with its hash.
        const QByteArray hash = extra.contains("appcomps=data.bin") ? testsupport::Sha256Line(site() + QStringLiteral("/data.bin")) : QByteArray();
        WriteSigned(control(), "[update]\r\nunconditional=1\r\n" + extra + "\r\n[files]\r\ncount=1\r\n[file1]\r\ndescr=the data\r\nurl=" +
                                sitePath() + "/data.bin\r\ntargetdir={APP}\r\n" + hash + fileKeys);
    }
    bool fetched() const { return QFile::exists(app() + QStringLiteral("/data.bin")); }
    QString uniqueKey() const { return QStringLiteral("Software\\QuorlexTest\\") + QUuid::createUuid().toString(QUuid::Id128); }

private slots:
    void init() {
        folders = std::make_unique<testsupport::UpdateFolders>();
        client = std::make_unique<OfflineClient>();
        folders->Configure(*client);
        // The program that control files name to be restarted.
        WriteAll(app() + QStringLiteral("/prog.exe"), "program");
        client->OwnExecutable = app() + QStringLiteral("/prog.exe");
        client->UpdateUpdate = upSilent;
        client->SetPrompter(&prompter);
        prompter.prompts.clear();
        messages.clear();
        codes.clear();
        client->OnStatus = [this](TUpdateClient*, const QString& s, int code, int) {
            messages << s;
            codes << code;
        };
    }
    void cleanup() {
        platform::SetShellOpenHookForTesting({});
        client.reset();
        folders.reset();
    }

    void signatureCheck_data() {
        QTest::addColumn<bool>("check");
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("checked, right") << true << QByteArray("signature=QuorlexUpdate\r\n") << true;
        QTest::newRow("checked, wrong") << true << QByteArray("signature=Other\r\n") << false;
        QTest::newRow("checked, missing") << true << QByteArray() << false;
        QTest::newRow("not checked, wrong") << false << QByteArray("signature=Other\r\n") << true;
    }
    void signatureCheck() {
        QFETCH(bool, check);
        QFETCH(QByteArray, signature);
        QFETCH(bool, accepted);
        client->SignatureCheck = check;
        writeControl(signature);
        client->RunUpdate();
        QCOMPARE(fetched(), accepted);
        QCOMPARE(messages.contains(QStringLiteral("Invalid signature in update control file")), !accepted);
        if (!accepted) QCOMPARE(codes[messages.indexOf(QStringLiteral("Invalid signature in update control file"))], 11);
    }

    // The date of the last update comes from the user store when one is
    // named, and a run that found a date-based update writes it back.
    void rememberedDate() {
        const QString key = uniqueKey();
        client->LastUrlMemory = {true, key, QStringLiteral("Update")};
        const QString fmt = platform::ShortDateFormat();
        platform::WriteUserString(key, QStringLiteral("Update"), QStringLiteral("LastDate"), QDate(2004, 6, 2).toString(fmt));
        WriteSigned(control(), "[update]\r\ndate=01/06/2004\r\n");
        QCOMPARE(client->ReadControlFile(), 0);
        QCOMPARE(client->CheckForUpdate(), 7);
        QVERIFY(client->LastDateRead);
        QVERIFY(messages.contains(QStringLiteral("No new version found")));

        writeControl("date=03/06/2004\r\n");
        client->RunUpdate();
        QVERIFY(fetched());
        QCOMPARE(platform::ReadUserString(key, QStringLiteral("Update"), QStringLiteral("LastDate")), QDate(2004, 6, 3).toString(fmt));

        // Without Save nothing is written.
        const QString other = uniqueKey();
        client->LastUrlMemory = {false, other, QStringLiteral("Update")};
        QFile::remove(app() + QStringLiteral("/data.bin"));
        writeControl("date=04/06/2004\r\n");
        client->RunUpdate();
        QVERIFY(fetched());
        QCOMPARE(platform::ReadUserString(other, QStringLiteral("Update"), QStringLiteral("LastDate")), QString());
    }

    void redirectedUrlIsRememberedOnlyWhenSaving() {
        const QString key = uniqueKey();
        client->LastUrlMemory = {true, key, QStringLiteral("Update")};
        const QByteArray next = sitePath() + "/next.inf";
        writeControl("[action]\r\nupdateURL=" + next + "\r\n");
        client->RunUpdate();
        QVERIFY(messages.contains(QStringLiteral("Found URL redirection instruction")));
        QCOMPARE(platform::ReadUserString(key, QStringLiteral("Update"), QStringLiteral("LastURL")), QString::fromUtf8(next));
        QCOMPARE(client->GetControlFileURL(), QString::fromUtf8(next));

        client->LastUrlMemory = {false, uniqueKey(), QStringLiteral("Update")};
        client->RunUpdate();
        QCOMPARE(client->LoadLastURL(), QString());
        QCOMPARE(client->GetControlFileURL(), control());
    }

    void perFileFilters_data() {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<bool>("kept");
        // The local file: "abc", dated 1 June 2004, no version resource.
        QTest::newRow("date: newer") << QByteArray("localversion={APP}\\local.bin\r\ndate=02/06/2004\r\n") << true;
        QTest::newRow("date: older") << QByteArray("localversion={APP}\\local.bin\r\ndate=31/05/2004\r\n") << false;
        QTest::newRow("date: no local file") << QByteArray("localversion={APP}\\gone.bin\r\ndate=31/05/2004\r\n") << true;
        QTest::newRow("size: same") << QByteArray("localversion={APP}\\local.bin\r\nnewsize=3\r\n") << false;
        // The new file "fresh": 5 bytes, byte sum 535.
        QTest::newRow("size: other") << QByteArray("localversion={APP}\\local.bin\r\nnewsize=5\r\n") << true;
        // The byte sum of "abc" starts from -1: 293.
        QTest::newRow("checksum: same") << QByteArray("localversion={APP}\\local.bin\r\nnewchecksum=293\r\n") << false;
        QTest::newRow("checksum: other") << QByteArray("localversion={APP}\\local.bin\r\nnewchecksum=535\r\n") << true;
        QTest::newRow("version: newer") << QByteArray("localversion={APP}\\prog.exe\r\nnewversion=1.3.0.0\r\n") << true;
        QTest::newRow("version: same") << QByteArray("localversion={APP}\\prog.exe\r\nnewversion=1.2.0.0\r\n") << false;
        QTest::newRow("version: older") << QByteArray("localversion={APP}\\prog.exe\r\nnewversion=1.1.9.9\r\n") << false;
    }
    void perFileFilters() {
        QFETCH(QByteArray, keys);
        QFETCH(bool, kept);
        const QString local = app() + QStringLiteral("/local.bin");
        WriteAll(local, "abc");
        QFile f(local);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime(QDate(2004, 6, 1), QTime(12, 0)), QFileDevice::FileModificationTime));
        f.close();
        WriteAll(app() + QStringLiteral("/prog.exe"), BuildPe(0x00010002, 0));
        writeControl({}, keys);
        client->RunUpdate();
        QCOMPARE(fetched(), kept);
    }

    void crcChecksumWhenAsked() {
        WriteAll(app() + QStringLiteral("/local.bin"), "abc");
        client->UseCRC32 = true;
        // This checksum adds each table step to the running value: for "abc"
        // it is 6C8D9D41, not the usual CRC-32 (352441C2).
        writeControl({}, "localversion={APP}\\local.bin\r\nnewchecksum=" + QByteArray::number(qint32(0x6C8D9D41u)) + "\r\n");
        auto keptEntries = [&] {
            client->ReadControlFile();
            client->ReadFileList();
            client->FilterFileList();
            return client->FileList.Items.size();
        };
        QCOMPARE(keptEntries(), std::size_t(0));
        client->UseCRC32 = false;
        QCOMPARE(keptEntries(), std::size_t(1));
    }

    void customVersionAsksTheEvent() {
        QStringList seen;
        client->OnFileVersionCheck = [&](TUpdateClient*, const QString& nv, const QString& lv, bool& isNew) {
            seen << nv << lv;
            isNew = false;
        };
        writeControl({}, "customversion=build 7\r\nlocalversion=mine\r\n");
        client->RunUpdate();
        QCOMPARE(seen, (QStringList{QStringLiteral("build 7"), QStringLiteral("mine")}));
        QVERIFY(!fetched());
        QCOMPARE(client->FilterFileList(), -1);
    }

    void messageAndQuery() {
        writeControl("[action]\r\nmsg=Line one\\nLine two\r\nquery=Go on?\r\n");
        prompter.Answer(ui::Answer::No);
        client->RunUpdate();
        QVERIFY(!fetched());
        QVERIFY(!client->RestartPending);
        QCOMPARE(prompter.Texts(), (QStringList{QStringLiteral("Line one\nLine two"), QStringLiteral("Go on?")}));
        QVERIFY(messages.contains(QStringLiteral("Found message instruction")));
        QVERIFY(messages.contains(QStringLiteral("Found query instruction")));

        prompter.prompts.clear();
        prompter.Answer(ui::Answer::Yes);
        client->RunUpdate();
        QVERIFY(fetched());
    }

    void showUrlCarriesTheProxyLogin() {
        QStringList opened;
        platform::SetShellOpenHookForTesting([&](const QString& t) { opened << t; });
        client->ProxyUserID = QStringLiteral("u");
        client->ProxyPassword = QStringLiteral("p");
        writeControl("[action]\r\nshowURL=http://example.invalid/news\r\n");
        client->RunUpdate();
        QCOMPARE(opened, QStringList{QStringLiteral("http://u:p@example.invalid/news")});
        QVERIFY(messages.contains(QStringLiteral("Found URL show instruction")));
    }

    void commandsBeforeAndAfter() {
#ifdef _WIN32
        writeControl("[action]\r\nrunbefore=cmd /c echo.>{APP}\\before.txt\r\nrunafter=cmd /c echo.>{APP}\\after.txt\r\n"
                     "query=Update now?\r\n");
#else
        writeControl("[action]\r\nrunbefore=touch {APP}\\before.txt\r\nrunafter=touch {APP}\\after.txt\r\n"
                     "query=Update now?\r\n");
#endif
        prompter.Answer(ui::Answer::Yes);
        client->RunUpdate();
        QTRY_VERIFY(QFile::exists(app() + QStringLiteral("/before.txt")));
        QTRY_VERIFY(QFile::exists(app() + QStringLiteral("/after.txt")));
    }

    void htmlPageIsShown() {
        WriteAll(site() + QStringLiteral("/page.html"), "<p>Read me</p>");
        writeControl("[action]\r\nhtmldlg=" + sitePath() + "/page.html\r\n");
        bool shown = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (QWidget* w = QApplication::activeModalWidget()) {
                shown = true;
                w->close();
            }
        });
        closer.start(20);
        client->RunUpdate();
        QVERIFY(shown);
        QVERIFY(messages.contains(QStringLiteral("Found HTML dialog instruction")));
        QCOMPARE(codes[messages.indexOf(QStringLiteral("Found HTML dialog instruction"))], 7);
    }

    void customProcessEvent() {
        QString got;
        client->OnCustomProcess = [&](TUpdateClient*, const QString& m, const QString& p) { got = m + QLatin1Char('|') + p; };
        writeControl("[custom]\r\nprocessmsg=hello\r\nprocessparam=42\r\n");
        client->RunUpdate();
        QCOMPARE(got, QStringLiteral("hello|42"));
    }

    void downloadEvents() {
        QStringList before, downloaded;
        client->OnBeforeFileDownload = [&](TUpdateClient*, int idx, const QString& descr, QString& url) {
            before << QString::number(idx) << descr << url;
            url = site() + QStringLiteral("/elsewhere.bin"); // only a copy: the listed file is fetched
        };
        client->OnFileDownloaded = [&](TUpdateClient*, const QString& name) { downloaded << name; };
        bool success = false;
        client->OnSuccess = [&](TUpdateClient*) { success = true; };
        writeControl({});
        client->RunUpdate();
        QCOMPARE(before, (QStringList{QStringLiteral("1"), QStringLiteral("the data"), site() + QStringLiteral("/data.bin")}));
        QCOMPARE(ReadAll(app() + QStringLiteral("/data.bin")), QByteArray("fresh"));
        QVERIFY(downloaded.last().endsWith(QStringLiteral("/data.bin")));
        QVERIFY(success);

        // A run without an update never reports success.
        success = false;
        WriteSigned(control(), "[update]\r\n");
        client->RunUpdate();
        QVERIFY(!success);
    }

    void cancelledTransferPlacesNothing() {
        // The control file goes through; the listed file is cancelled.
        QString current;
        client->OnFileProgress = [&](TUpdateClient*, const QString& name, int, int) { current = name; };
        client->OnProgressCancel = [&](TUpdateClient*, bool& cancel) { cancel = current.endsWith(QStringLiteral("data.bin")); };
        writeControl({});
        client->RunUpdate();
        QVERIFY(!fetched());
        QVERIFY(messages.contains(QStringLiteral("Cannot download update file : ") + site() + QStringLiteral("/data.bin")));
    }

    void whatsNewAndLicenceEvents_data() {
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<int>("res");
        QTest::addColumn<bool>("goesOn");
        QTest::newRow("news accepted") << QByteArray("whatsnew") << 1 << true;
        QTest::newRow("news declined") << QByteArray("whatsnew") << 0 << false;
        QTest::newRow("licence accepted") << QByteArray("eula") << 1 << true;
        QTest::newRow("licence declined") << QByteArray("eula") << 0 << false;
    }
    void whatsNewAndLicenceEvents() {
        QFETCH(QByteArray, section);
        QFETCH(int, res);
        QFETCH(bool, goesOn);
        WriteAll(site() + QStringLiteral("/text.txt"), "first\r\nsecond\r\n");
        writeControl("[application]\r\nappupdate=1\r\nappname={APP}\\prog.exe\r\n[" + section + "]\r\nfile=" + sitePath() +
                     "/text.txt\r\n");
        QStringList shown;
        auto handler = [&](TUpdateClient*, QStringList& text, int& r) {
            shown = text;
            r = res;
        };
        (section == "eula" ? client->OnDownloadedEULA : client->OnDownloadedWhatsNew) = handler;
        client->RunUpdate();
        QCOMPARE(shown, (QStringList{QStringLiteral("first"), QStringLiteral("second")}));
        QCOMPARE(fetched(), goesOn);
        if (!goesOn) QVERIFY(!client->RestartPending);
    }

    void appParamsEvent() {
        client->OnSetAppParams = [](TUpdateClient*, QString& p) {
            QCOMPARE(p, QStringLiteral("-a"));
            p = QStringLiteral("-b");
        };
        writeControl("[application]\r\nappupdate=1\r\nappname={APP}\\prog.exe -a\r\n");
        QCOMPARE(client->ReadControlFile(), 0);
        QCOMPARE(client->AppCommandLine, QStringLiteral("\"") + testsupport::PrefixFolder(app()) + QStringLiteral("\\prog.exe -b\""));
        QCOMPARE(client->AppParams, QStringList{QStringLiteral("-b")});
        QVERIFY(client->RestartPending);
    }

    // A restart needs a fetched component: without one the program stays.
    void restartOnlyAfterAComponent_data() {
        QTest::addColumn<QByteArray>("comps");
        QTest::addColumn<bool>("restarts");
        QTest::newRow("the fetched file is a component") << QByteArray("data.bin") << true;
        QTest::newRow("another file is") << QByteArray("other.exe") << false;
        QTest::newRow("no components") << QByteArray() << false;
    }
    void restartOnlyAfterAComponent() {
        QFETCH(QByteArray, comps);
        QFETCH(bool, restarts);
        writeControl("[application]\r\nappupdate=1\r\nappname={APP}\\prog.exe\r\nappcomps=" + comps + "\r\n");
        int asked = 0, closed = 0, done = 0;
        QStringList started;
        client->OnAppRestart = [&](TUpdateClient*, bool& allow) {
            ++asked;
            allow = true;
        };
        client->OnAppDoClose = [&](TUpdateClient*) { ++closed; };
        client->OnThreadUpdateDone = [&](TUpdateClient*) { ++done; };
        client->StartProcess = [&](const QString& program, const QStringList& args) {
            started << program << args;
            return 0;
        };
        client->RunUpdate();
        QVERIFY(fetched());
        QCOMPARE(client->ComponentFetched, restarts);
        client->ThreadFinished();
        QCOMPARE(done, 1);
        QCOMPARE(asked, restarts ? 1 : 0);
        QCOMPARE(closed, restarts ? 1 : 0);
        QCOMPARE(started.isEmpty(), !restarts);
        if (restarts) {
            QCOMPARE(started.value(1), QString::number(QCoreApplication::applicationPid()));
            QVERIFY(QFile::exists(started.value(0)));
        }
    }

    void restartDeclinedStartsNothing() {
        writeControl("[application]\r\nappupdate=1\r\nappname={APP}\\prog.exe\r\nappcomps=data.bin\r\n");
        bool started = false, closed = false;
        client->OnAppRestart = [](TUpdateClient*, bool& allow) { allow = false; };
        client->OnAppDoClose = [&](TUpdateClient*) { closed = true; };
        client->StartProcess = [&](const QString&, const QStringList&) {
            started = true;
            return 0;
        };
        client->RunUpdate();
        client->ThreadFinished();
        QVERIFY(!started);
        QVERIFY(!closed);
    }

    // The result post and its event come at the end of a run that fetched,
    // and only when the post is enabled.
    void resultPostAndItsEvent_data() {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("enabled") << true;
        QTest::newRow("disabled") << false;
    }
    void resultPostAndItsEvent() {
        QFETCH(bool, enabled);
        client->ResultPost.Enabled = enabled;
        int events = 0;
        client->OnProcessPostResult = [&](TUpdateClient*, bool&) { ++events; };
        writeControl({});
        client->RunUpdate();
        QVERIFY(fetched());
        QCOMPARE(client->posts, enabled ? 1 : 0);
        QCOMPARE(events, enabled ? 1 : 0);
    }

    // A cancel before the restart keeps the program running.
    void cancelBeforeTheRestart() {
        writeControl("[application]\r\nappupdate=1\r\nappname={APP}\\prog.exe\r\nappcomps=data.bin\r\n");
        bool asked = false, started = false;
        client->RunUpdate();
        QVERIFY(client->ComponentFetched);
        client->OnProgressCancel = [](TUpdateClient*, bool& cancel) { cancel = true; };
        client->OnAppRestart = [&](TUpdateClient*, bool&) { asked = true; };
        client->StartProcess = [&](const QString&, const QStringList&) {
            started = true;
            return 0;
        };
        client->ThreadFinished();
        QVERIFY(!asked);
        QVERIFY(!started);
    }

    void noSessionStopsTheRun() {
        client->UpdateType = httpUpdate;
        client->sessionOpens = false;
        client->URL = QStringLiteral("http://example.invalid/quorlex2004.inf");
        client->RunUpdate();
        QCOMPARE(messages, (QStringList{QStringLiteral("Checking for Internet connection"), QStringLiteral("Found open Internet connection"),
                                        QStringLiteral("Cannot open Internet connection")}));
        QCOMPARE(codes.last(), 1);
    }

    // An FTP host that cannot be reached: the transport's own error is
    // reported as a connection failure, and no control file is read.
    void unreachableHostReportsTheTransportsError() {
        client->UpdateType = ftpUpdate;
        client->Host = QStringLiteral("ftp.example.invalid");
        client->hostOpens = false;
        QList<int> errors;
        client->OnStatus = [&](TUpdateClient*, const QString& s, int code, int err) {
            messages << s;
            codes << code;
            errors << err;
        };
        client->RunUpdate();
        const auto at = messages.indexOf(QStringLiteral("Connect to host : ftp.example.invalid"));
        QVERIFY(at >= 0);
        QCOMPARE(messages.value(at + 1), QStringLiteral("The connection was refused"));
        QCOMPARE(codes.value(at + 1), 1);
        QCOMPARE(errors.value(at + 1), 12029);
        QVERIFY(!messages.contains(QStringLiteral("Update control file found")));
        QVERIFY(!messages.contains(QStringLiteral("Update control file not found")));
    }

    // A dial-up connection of an earlier run is hung up only in the hang-up modes.
    void hangUpAfterDialling_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("hangsUp");
        QTest::newRow("prompt") << int(ucConnectPrompt) << false;
        QTest::newRow("silent") << int(ucConnectSilent) << false;
        QTest::newRow("prompt, hang up") << int(ucConnectPromptHangup) << true;
        QTest::newRow("silent, hang up") << int(ucConnectSilentHangup) << true;
    }
    void hangUpAfterDialling() {
        QFETCH(int, mode);
        QFETCH(bool, hangsUp);
        client->UpdateType = httpUpdate;
        client->UpdateConnect = static_cast<TUpdateConnect>(mode);
        client->Dialled = true;
        client->transferOpens = false;
        client->URL = QStringLiteral("http://example.invalid/quorlex2004.inf");
        QStringList ids;
        client->Logging = true;
        client->LogDirectory = app();
        client->RunUpdate();
        QCOMPARE(client->sessionsClosed, 1);
        for (const QByteArray& line : ReadAll(app() + QStringLiteral("/QUPDATE.LOG")).split('\n'))
            if (line.contains(" : [")) ids << QString::fromLatin1(line.mid(line.indexOf('[') + 1, 3));
        QCOMPARE(ids.contains(QStringLiteral("955")), hangsUp);
        QVERIFY(ids.contains(QStringLiteral("925")));
    }

    // Offline: no connection mode ends the run; the dial modes say how they
    // dial (919 asks, 920 silently), remember it for the hang-up, and go on.
    void offlineConnectModes_data() {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("dial");
        QTest::addColumn<bool>("goesOn");
        QTest::newRow("no connect") << int(ucNoConnect) << QString() << false;
        QTest::newRow("prompt") << int(ucConnectPrompt) << QStringLiteral("919") << true;
        QTest::newRow("prompt, hang up") << int(ucConnectPromptHangup) << QStringLiteral("919") << true;
        QTest::newRow("silent") << int(ucConnectSilent) << QStringLiteral("920") << true;
        QTest::newRow("silent, hang up") << int(ucConnectSilentHangup) << QStringLiteral("920") << true;
    }
    void offlineConnectModes() {
        QFETCH(int, mode);
        QFETCH(QString, dial);
        QFETCH(bool, goesOn);
        client->online = false;
        client->UpdateType = httpUpdate;
        client->UpdateConnect = static_cast<TUpdateConnect>(mode);
        client->transferOpens = false;
        client->URL = QStringLiteral("http://example.invalid/quorlex2004.inf");
        client->Logging = true;
        client->LogDirectory = app();
        client->RunUpdate();
        QStringList ids;
        for (const QByteArray& line : ReadAll(app() + QStringLiteral("/QUPDATE.LOG")).split('\n'))
            if (line.contains(" : [")) ids << QString::fromLatin1(line.mid(line.indexOf('[') + 1, 3));
        for (const char* other : {"919", "920"})
            QCOMPARE(ids.contains(QLatin1String(other)), dial == QLatin1String(other));
        QCOMPARE(client->Dialled, !dial.isEmpty());
        QCOMPARE(ids.contains(QStringLiteral("921")), goesOn); // the session is opened only when connected
    }

    // A transfer that ends without a byte replaces nothing.
    void emptyBody() {
        client->UpdateType = httpUpdate;
        client->body.clear();
        QStringList downloaded;
        client->OnFileDownloaded = [&](TUpdateClient*, const QString& name) { downloaded << name; };
        WriteAll(app() + QStringLiteral("/empty.bin"), "old");
        QVERIFY(!client->DownloadFile(QStringLiteral("http://example.invalid/empty.bin"), app(), false));
        QCOMPARE(ReadAll(app() + QStringLiteral("/empty.bin")), QByteArray("old"));
        QCOMPARE(downloaded.size(), 0);
        QCOMPARE(codes.last(), 15);

        client->body = "content";
        QVERIFY(client->DownloadFile(QStringLiteral("http://example.invalid/full.bin"), app(), false));
        QCOMPARE(ReadAll(app() + QStringLiteral("/full.bin")), QByteArray("content"));
    }

    // The window keeps a game file's earlier bytes: the client says which
    // file it replaces while the file still holds them.
    void replacingAFileIsToldBeforehand() {
        client->UpdateType = httpUpdate;
        WriteAll(app() + QStringLiteral("/User.ini"), "old");
        QStringList told;
        QByteArray held;
        client->OnFileReplacing = [&](TUpdateClient*, const QString& path) {
            told << path;
            held = ReadAll(path);
        };
        client->body = "new";
        QVERIFY(client->DownloadFile(QStringLiteral("http://example.invalid/User.ini"), app(), false));
        QCOMPARE(told.size(), 1);
        QCOMPARE(QFileInfo(told[0]).fileName(), QStringLiteral("User.ini"));
        QCOMPARE(held, QByteArray("old"));
        QVERIFY(client->DownloadFile(QStringLiteral("http://example.invalid/fresh.bin"), app(), false));
        QCOMPARE(told.size(), 1); // a new file replaces nothing
    }
};

QTEST_MAIN(UpdateBehaviourTest)
#include "UpdateBehaviourTest.moc"
