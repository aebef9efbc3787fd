// The update client over real HTTP and FTP servers on 127.0.0.1.
#include "tests/support/LocalServer.h"
#include "tests/support/GameFolder.h"
#include "tests/support/UpdateFixture.h"
#include "update/TUpdateClient.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace update;
using testsupport::ReadAll;
using testsupport::WriteAll;
using testsupport::WriteSigned;
using testsupport::LocalServer;

class UpdateNetTest : public QObject {
    Q_OBJECT

    QTemporaryDir root;
    std::unique_ptr<LocalServer> http;
    std::unique_ptr<LocalServer> ftp;
    std::unique_ptr<TUpdateClient> client;
    QStringList messages;
    QList<int> errcodes;
    QList<int> statuscodes;

    QString site() const { return root.filePath(QStringLiteral("site")); }
    QString work() const { return root.filePath(QStringLiteral("work")); }
    QStringList tempFiles() const { return QDir(work()).entryList({QStringLiteral("*QUPD*.tmp")}, QDir::Files | QDir::Hidden); }
    QStringList logIds() const {
        QStringList ids;
        for (const QByteArray& line : ReadAll(work() + QStringLiteral("/QUPDATE.LOG")).split('\n'))
            if (line.contains(" : [")) ids << QString::fromLatin1(line.mid(line.indexOf('[') + 1, 3));
        return ids;
    }
    bool connect() {
        // The transfers need the session a run opens.
        return client->ConnectInternet() == 0;
    }

private slots:
    void initTestCase() {
        QDir().mkpath(site());
        QByteArray big;
        for (int i = 0; i < 20000; ++i) big += char('a' + i % 26);
        WriteAll(site() + QStringLiteral("/big.bin"), big);
        WriteSigned(site() + QStringLiteral("/quorlex2004.inf"), "[update]\r\nnewversion=1.0.0.0\r\n");
        http = std::make_unique<LocalServer>(testsupport::HttpServerScript(), site());
        ftp = std::make_unique<LocalServer>(testsupport::FtpServerScript(), site());
        QVERIFY(http->Started());
        QVERIFY(ftp->Started());
    }

    void init() {
        QDir(work()).removeRecursively();
        QDir().mkpath(work());
        qputenv("TMPDIR", work().toLocal8Bit());
        client = std::make_unique<TUpdateClient>();
        client->UpdateType = httpUpdate;
        client->UpdateConnect = ucConnectPrompt;
        client->UpdateUpdate = upSilent;
        client->TempDirectory = work();
        client->LogDirectory = work();
        client->PublicKey = testsupport::DemoPublicKey();
        client->SignatureMemoryKey = QStringLiteral("Software\\QuorlexTest\\") + QUuid::createUuid().toString(QUuid::Id128);
        client->AllowedFolders = {work()};
        messages.clear();
        errcodes.clear();
        statuscodes.clear();
        client->OnStatus = [this](TUpdateClient*, const QString& s, int status, int err) {
            messages << s;
            statuscodes << status;
            errcodes << err;
        };
    }
    void cleanup() {
        client.reset();
        qunsetenv("TMPDIR");
    }

    void notFoundRunLogsInOrder() {
        client->Logging = true;
        client->URL = http->Http(QStringLiteral("status/404"));
        client->RunUpdate();
        QCOMPARE(logIds(), (QStringList{QStringLiteral("918"), QStringLiteral("921"), QStringLiteral("915"), QStringLiteral("916"),
                                        QStringLiteral("925"), QStringLiteral("949"), QStringLiteral("949")}));
        QCOMPARE(errcodes[messages.indexOf(QStringLiteral("Http status : 404"))], 404);
        QVERIFY(ReadAll(work() + QStringLiteral("/QUPDATE.LOG")).contains("[916] Http status : 404 (Status:6) (Error:404)\r\n"));
        QVERIFY(tempFiles().isEmpty());
    }

    void fileWithLengthReportsItsSize() {
        QVERIFY(connect());
        QList<int> sizes, positions;
        client->OnFileProgress = [&](TUpdateClient*, const QString&, int pos, int size) {
            positions << pos;
            sizes << size;
        };
        QVERIFY(client->DownloadFile(http->Http(QStringLiteral("files/big.bin")), work() + QLatin1Char('/'), false));
        QCOMPARE(ReadAll(work() + QStringLiteral("/big.bin")), ReadAll(site() + QStringLiteral("/big.bin")));
        QCOMPARE(sizes.first(), 20000);
        QCOMPARE(positions.last(), 20000);
        QVERIFY(positions.size() >= 5); // 4096-byte blocks
    }

    void fileWithoutLengthReportsZero() {
        QVERIFY(connect());
        QList<int> sizes;
        client->OnFileProgress = [&](TUpdateClient*, const QString&, int, int size) { sizes << size; };
        QVERIFY(client->DownloadFile(http->Http(QStringLiteral("nolength/big.bin")), work(), false));
        QCOMPARE(ReadAll(work() + QStringLiteral("/big.bin")).size(), 20000);
        for (int s : sizes) QCOMPARE(s, 0);
    }

    void slowBodyArrives() {
        QVERIFY(connect());
        QVERIFY(client->DownloadFile(http->Http(QStringLiteral("slow/big.bin")), work(), false));
        QCOMPARE(ReadAll(work() + QStringLiteral("/big.bin")).size(), 20000);
    }

    void redirectAndErrorsWriteNothing() {
        QVERIFY(connect());
        QVERIFY(!client->DownloadFile(http->Http(QStringLiteral("status/302")), work(), false));
        // A redirect not followed is told as one, not as a missing file.
        QVERIFY2(messages.last().startsWith(QStringLiteral("Update file moved : ")) &&
                     messages.last().endsWith(QStringLiteral("(the server redirects it (HTTP 302), "
                                                             "which is not followed)")),
                 qPrintable(messages.last()));
        QCOMPARE(errcodes.last(), 302);
        QVERIFY(!QFile::exists(work() + QStringLiteral("/302")));
        QVERIFY(tempFiles().isEmpty());
        QVERIFY(!client->DownloadFile(QStringLiteral("http://127.0.0.1:9/none"), work(), false));
        QCOMPARE(messages.last(), QStringLiteral("File not found : http://127.0.0.1:9/none"));
    }

    void droppedConnectionKeepsTheOldTarget() {
        QVERIFY(connect());
        WriteAll(work() + QStringLiteral("/big.bin"), "old");
        QVERIFY(!client->DownloadFile(http->Http(QStringLiteral("drop/big.bin")), work(), false));
        QCOMPARE(ReadAll(work() + QStringLiteral("/big.bin")), QByteArray("old"));
        QVERIFY(tempFiles().isEmpty());
    }

    void cancelInTheFirstProgressEvent() {
        QVERIFY(connect());
        WriteAll(work() + QStringLiteral("/big.bin"), "old");
        client->OnProgressCancel = [](TUpdateClient*, bool& c) { c = true; };
        QVERIFY(!client->DownloadFile(http->Http(QStringLiteral("files/big.bin")), work(), false));
        QCOMPARE(ReadAll(work() + QStringLiteral("/big.bin")), QByteArray("old"));
        QVERIFY(tempFiles().isEmpty());
    }

    void htmlInsteadOfAControlFileIsNoUpdate() {
        client->URL = http->Http(QStringLiteral("html/quorlex2004.inf"));
        bool success = false;
        client->OnSuccess = [&](TUpdateClient*) { success = true; };
        client->RunUpdate();
        QVERIFY(messages.contains(QStringLiteral("Update control file found")));
        QVERIFY(!success);
    }

    void httpAndFileGiveTheSameDecision() {
        client->URL = http->Http(QStringLiteral("files/quorlex2004.inf"));
        client->RunUpdate();
        const QStringList overHttp = messages.filter(QStringLiteral("version"));
        messages.clear();
        client->UpdateType = fileUpdate;
        client->URL = site() + QStringLiteral("/quorlex2004.inf");
        client->RunUpdate();
        QCOMPARE(messages.filter(QStringLiteral("version")), overHttp);
        QVERIFY(overHttp.contains(QStringLiteral("New version found : 1.0.0.0")));
    }

    void ftpEntersItsFolderOncePerRun() {
        QDir().mkpath(site() + QStringLiteral("/updates"));
        WriteSigned(site() + QStringLiteral("/updates/quorlex2004.inf"), "[update]\r\nunconditional=1\r\n[files]\r\ncount=2\r\n"
                                                                  "[file1]\r\nurl=big1.bin\r\ntargetdir=" + work().toUtf8() +
                                                                  "\r\n[file2]\r\nurl=big2.bin\r\ntargetdir=" + work().toUtf8() + "\r\n");
        QFile::copy(site() + QStringLiteral("/big.bin"), site() + QStringLiteral("/updates/big1.bin"));
        QFile::copy(site() + QStringLiteral("/big.bin"), site() + QStringLiteral("/updates/big2.bin"));
        client->UpdateType = ftpUpdate;
        client->Host = QStringLiteral("127.0.0.1");
        client->Port = ftp->Port();
        client->UserID = QStringLiteral("quorlex");
        client->Password = QStringLiteral("secret");
        client->FTPPassive = true;
        client->FTPDirectory = QStringLiteral("updates");
        client->URL = QStringLiteral("quorlex2004.inf");
        QList<int> sizes;
        client->OnFileProgress = [&](TUpdateClient*, const QString&, int, int size) { sizes << size; };
        ftp->Lines();
        for (int run = 0; run < 2; ++run) {
            client->RunUpdate();
            QVERIFY2(ReadAll(work() + QStringLiteral("/big2.bin")).size() == 20000, qPrintable(messages.join(QLatin1Char('|'))));
            QFile::remove(work() + QStringLiteral("/big1.bin"));
            QFile::remove(work() + QStringLiteral("/big2.bin"));
        }
        QVERIFY(messages.contains(QStringLiteral("Connect to host : 127.0.0.1")));
        QVERIFY(sizes.contains(20000)); // the size from the server's listing
        QStringList cwd;
        QTRY_COMPARE((cwd += ftp->Lines().filter(QStringLiteral("CWD")), cwd.size()), 2);
    }

    void unreachableFtpHostReportsTheError() {
        client->UpdateType = ftpUpdate;
        client->Host = QStringLiteral("127.0.0.1");
        client->Port = 9;
        client->URL = QStringLiteral("quorlex2004.inf");
        client->RunUpdate();
        const auto at = messages.indexOf(QStringLiteral("Connect to host : 127.0.0.1"));
        QVERIFY(at >= 0);
        QVERIFY(messages.size() > at + 1);
        // The transport's own error comes next, as a connection failure with its code.
        QCOMPARE(statuscodes[at + 1], 1);
        QVERIFY(errcodes[at + 1] != 0);
        QVERIFY(!messages[at + 1].isEmpty());
        QCOMPARE(statuscodes.count(1), 1);
        QVERIFY(!messages.contains(QStringLiteral("Update control file found")));
    }

    void proxyCredentialsGoIntoHttpUrls() {
        QCOMPARE(TUpdateClient::AddProxyCredentials(QStringLiteral("HTTP://site/x"), QStringLiteral("u"), QStringLiteral("p")),
                 QStringLiteral("http://u:p@site/x"));
        QCOMPARE(TUpdateClient::AddProxyCredentials(QStringLiteral("ftp://site/x"), QStringLiteral("u"), QStringLiteral("p")),
                 QStringLiteral("ftp://site/x"));
        QCOMPARE(TUpdateClient::AddProxyCredentials(QStringLiteral("http://site/x"), QString(), QStringLiteral("p")),
                 QStringLiteral("http://site/x"));
    }

    void resultPost() {
        client->ResultPost.Server = QStringLiteral("127.0.0.1:%1").arg(http->Port());
        client->ResultPost.Action = QStringLiteral("echo");
        client->ResultPost.Data = QStringLiteral("name=value");
        client->PostUpdateResults();
        QCOMPARE(client->ResultPost.ResponseText, QStringLiteral("got:name=value"));
        client->ResultPost.Server = QStringLiteral("127.0.0.1:9");
        client->PostUpdateResults();
        QCOMPARE(messages.last(), QStringLiteral("Cannot connect to server for post"));
    }
};

QTEST_GUILESS_MAIN(UpdateNetTest)
#include "UpdateNetTest.moc"
