#include "tests/support/PeBuilder.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/GameFolder.h"
#include "tests/support/UpdateFixture.h"
#include "update/TUpdateClient.h"
#include "platform/Files.h"

static QString platform_date(const QDate& d) { return platform::DateText(d); }

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace update;
using testsupport::ReadAll;
using testsupport::WriteAll;
using testsupport::WriteSigned;
using testsupport::BuildPe;

class UpdateClientTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testsupport::UpdateFolders> folders;
    std::unique_ptr<TUpdateClient> client;
    QList<int> codes;     // statuscode of every report
    QStringList messages; // every OnStatus text

    QString site() const { return folders->site(); }
    QString app() const { return folders->app(); }
    QString control() const { return site() + QStringLiteral("/quorlex2004.inf"); }
    void writeControl(const QByteArray& text) { WriteSigned(control(), text); }
    QStringList logIds() const {
        QStringList ids;
        for (const QByteArray& line : ReadAll(app() + QStringLiteral("/QUPDATE.LOG")).split('\n'))
            if (line.contains(" : [")) ids << QString::fromLatin1(line.mid(line.indexOf('[') + 1, 3));
        return ids;
    }

private slots:
    void init() {
        folders = std::make_unique<testsupport::UpdateFolders>();
        client = std::make_unique<TUpdateClient>();
        folders->Configure(*client);
        client->UpdateUpdate = upSilent;
        client->Logging = true;
        client->Clock = [] { return QDateTime(QDate(2004, 5, 21), QTime(18, 2, 11)); };
        codes.clear();
        messages.clear();
        client->OnStatus = [this](TUpdateClient*, const QString& s, int code, int) {
            messages << s;
            codes << code;
        };
    }
    void cleanup() {
        client.reset();
        folders.reset();
    }

    void defaultsAsConstructed() {
        TUpdateClient c;
        QCOMPARE(c.DateFormat, QStringLiteral("dd/mm/yyyy"));
        QCOMPARE(c.Port, 21);
        QCOMPARE(c.UpdateType, ftpUpdate);
        QCOMPARE(c.UpdateUpdate, upPromptOnce);
        QCOMPARE(c.Signature, QStringLiteral("QuorlexUpdate"));
        QCOMPARE(c.TempDirectory, QStringLiteral("."));
        QVERIFY(!c.LastUrlMemory.Save);
    }

    void versionRunFetchesTheNewProgramAndLogs() {
        WriteAll(app() + QStringLiteral("/program.exe"), BuildPe(0x00010002, 0));
        WriteAll(site() + QStringLiteral("/program.exe_NEW"), BuildPe(0x00010003, 0));
        writeControl("[update]\r\nnewversion=1.3.0.0\r\nlocalversion={APP}\\program.exe\r\n"
                     "[application]\r\nappupdate=1\r\nappname={APP}\\program.exe\r\nappcomps=program.exe_NEW\r\n"
                     "[files]\r\ncount=1\r\n[file1]\r\nurl=" + site().toUtf8() + "/program.exe_NEW\r\n"
                     "localversion={APP}\\program.exe\r\nnewversion=1.3.0.0\r\ntargetdir={APP}\r\n" +
                     testsupport::Sha256Line(site() + QStringLiteral("/program.exe_NEW")));
        client->OwnExecutable = app() + QStringLiteral("/program.exe");
        bool success = false;
        client->OnSuccess = [&](TUpdateClient*) { success = true; };
        client->RunUpdate();
        QVERIFY(success);
        QCOMPARE(ReadAll(app() + QStringLiteral("/program.exe_NEW")), BuildPe(0x00010003, 0));
        QVERIFY(client->ComponentFetched);
        QVERIFY(client->RestartPending);
        QVERIFY(messages.contains(QStringLiteral("New version found : 1.3.0.0")));
        // The control file, then its signature, then the program.
        QCOMPARE(logIds(), (QStringList{QStringLiteral("915"), QStringLiteral("926"), QStringLiteral("915"), QStringLiteral("933"), QStringLiteral("929"),
                                        QStringLiteral("943"), QStringLiteral("915"), QStringLiteral("948")}));
        const QByteArray log = ReadAll(app() + QStringLiteral("/QUPDATE.LOG"));
        QVERIFY(log.startsWith("21-05-2004 18:02:11 : [915] Download : "));
        QVERIFY(log.contains("21-05-2004 18:02:11 : [926] Update control file found (Status:3) (Error:0)\r\n"));
        QVERIFY(!QFile::exists(client->ControlFilePath)); // the local copy is gone after the run
        QCOMPARE(QDir(app()).entryList({QStringLiteral("*QUPD*.tmp")}, QDir::Files | QDir::Hidden), QStringList());
    }

    void upToDateRunFetchesNothingAndDoesNotRestart() {
        WriteAll(app() + QStringLiteral("/program.exe"), BuildPe(0x00010003, 0));
        writeControl("[update]\r\nnewversion=1.3.0.0\r\nlocalversion={APP}\\program.exe\r\n[files]\r\ncount=1\r\n"
                     "[file1]\r\nurl=" + site().toUtf8() + "/x\r\n");
        client->RunUpdate();
        QVERIFY(messages.contains(QStringLiteral("No new version found")));
        QVERIFY(!client->RestartPending);
        QVERIFY(!QFile::exists(app() + QStringLiteral("/x")));
    }

    void missingControlFile() {
        client->RunUpdate();
        QCOMPARE(messages, (QStringList{QStringLiteral("Download : ") + control(), QStringLiteral("File not found : ") + control(),
                                        QStringLiteral("Update control file not found")}));
        QCOMPARE(codes.last(), 2);
    }

    void checkForUpdateResults_data() {
        QTest::addColumn<QByteArray>("update");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("reported");
        QTest::newRow("nothing") << QByteArray("") << 7 << QStringList();
        QTest::newRow("unconditional after an old date")
            << QByteArray("date=01/01/1990\r\nunconditional=1\r\nlocalversion={APP}\\program.exe\r\n") << 8
            << QStringList{QStringLiteral("Date based update found"), QStringLiteral("No new version found")};
        QTest::newRow("newer date") << QByteArray("date=01/01/2999\r\nlocalversion={APP}\\program.exe\r\n") << 6
                                    << QStringList{QStringLiteral("Date based update found"), QStringLiteral("New version found : ") + platformDate()};
        QTest::newRow("date without local file") << QByteArray("date=01/01/2000\r\nlocalversion={APP}\\gone.exe\r\n") << 6
                                                 << QStringList{QStringLiteral("Date based update found"), QStringLiteral("New version found : ") + platformDate2000()};
        QTest::newRow("version without local file")
            << QByteArray("newversion=9.0.0.0\r\n") << 7 << QStringList{QStringLiteral("New version found : 9.0.0.0")};
        QTest::newRow("checksum decides") << QByteArray("newversion=1.0.0.0\r\nlocalversion={APP}\\program.exe\r\nnewsize=5\r\nnewchecksum=1\r\n")
                                          << 10 << QStringList{QStringLiteral("Checksum based update found"), QStringLiteral("New version found : 1.0.0.0")};
        QTest::newRow("same size") << QByteArray("newversion=1.0.0.0\r\nlocalversion={APP}\\program.exe\r\nnewsize=1024\r\n")
                                   << 7 << QStringList{QStringLiteral("File size based update found"), QStringLiteral("No new version found")};
        QTest::newRow("1.10 beats 1.9") << QByteArray("newversion=1.10.0.0\r\nlocalversion={APP}\\program.exe\r\n") << 11
                                        << QStringList{QStringLiteral("Version based update found"), QStringLiteral("New version found : 1.10.0.0")};
    }
    static QString platformDate();
    static QString platformDate2000();

    void checkForUpdateResults() {
        QFETCH(QByteArray, update);
        QFETCH(int, result);
        QFETCH(QStringList, reported);
        WriteAll(app() + QStringLiteral("/program.exe"), BuildPe(0x00010009, 0));
        writeControl("[update]\r\n" + update);
        QCOMPARE(client->ReadControlFile(), 0);
        messages.clear();
        QCOMPARE(client->CheckForUpdate(), result);
        QCOMPARE(messages, reported);
    }

    void customValidateHasTheLastWord() {
        writeControl("[update]\r\nunconditional=1\r\n[custom]\r\nvalidatemsg=m\r\nvalidateparam=p\r\n");
        QCOMPARE(client->ReadControlFile(), 0);
        QString got;
        client->OnCustomValidate = [&](TUpdateClient*, const QString& m, const QString& p, bool& allow) {
            got = m + p;
            allow = false;
        };
        QCOMPARE(client->CheckForUpdate(), 7);
        QCOMPARE(got, QStringLiteral("mp"));
    }

    void isNewVersionRules() {
        WriteAll(app() + QStringLiteral("/noversion.exe"), "plain");
        QString nv = QStringLiteral("1.0.0.0"), lf = app() + QStringLiteral("/noversion.exe");
        QVERIFY(!client->IsNewVersion(nv, lf, 0, -1));
        client->VersionCheck = vcAlways;
        QVERIFY(client->IsNewVersion(nv, lf, 0, -1));
        QCOMPARE(lf, QStringLiteral("65535.65535.65535.65535"));
        QString empty, none;
        QVERIFY(client->IsNewVersion(empty, none, 0, -1));
        QString bad = QStringLiteral("1.0"), file = app() + QStringLiteral("/noversion.exe");
        QVERIFY(!client->IsNewVersion(bad, file, 0, -1));
        client->UseCRC32 = true;
        QString v = QStringLiteral("1.0.0.0"), f = app() + QStringLiteral("/noversion.exe");
        QVERIFY(!client->IsNewVersion(v, f, 0, FileCRC(f)));
    }

    void prefixes() {
        // {APP} is the program's folder, whichever folder is the current one.
        QDir::setCurrent(QDir::rootPath());
        const QString cwd = app();
        QCOMPARE(client->ResolvePrefixes(QStringLiteral("{APP}\\x")), testsupport::PrefixFolder(cwd) + QStringLiteral("\\x"));
        QCOMPARE(client->ResolvePrefixes(QStringLiteral("{app}\\x")), testsupport::PrefixFolder(cwd) + QStringLiteral("\\x"));
        QCOMPARE(client->ResolvePrefixes(QStringLiteral("{XYZ}\\x")), QStringLiteral("{XYZ}\\x"));
        QCOMPARE(client->ResolvePrefixes(QStringLiteral("{{APP}")), QStringLiteral("{{APP}"));
        QCOMPARE(client->ResolvePrefixes(QStringLiteral("a{TMP}b")), QStringLiteral("a") + testsupport::PrefixFolder(QDir::tempPath()) + QStringLiteral("b"));
#ifdef _WIN32
        QCOMPARE(NativePath(client->ResolvePrefixes(QStringLiteral("{APP}\\x"))), cwd + QStringLiteral("\\x"));
#else
        QCOMPARE(NativePath(client->ResolvePrefixes(QStringLiteral("{APP}\\x"))), cwd + QStringLiteral("/./x"));
#endif
        client->OnConvertPrefix = [](TUpdateClient*, QString& p) { p.replace(QStringLiteral("{HOME}"), QStringLiteral("{APP}")); };
        QCOMPARE(client->ResolvePrefixes(QStringLiteral("{HOME}")), testsupport::PrefixFolder(cwd));
    }

    void fileNamesFromUrls() {
        QCOMPARE(client->FileNameFromURL(QStringLiteral("http://h/a/b.txt")), QStringLiteral("b.txt"));
        QCOMPARE(client->FileNameFromURL(QStringLiteral("C:\\dir\\c.exe")), QStringLiteral("c.exe"));
        client->OnFileNameFromURL = [](TUpdateClient*, const QString&, QString& n) { n = n.toUpper(); };
        QCOMPARE(client->FileNameFromURL(QStringLiteral("x/y.z")), QStringLiteral("Y.Z"));
    }

    void filterWithOnGetFileList() {
        writeControl("[files]\r\ncount=3\r\n[file1]\r\ndescr=one\r\n[file2]\r\ndescr=two\r\n[file3]\r\ndescr=three\r\n");
        QCOMPARE(client->ReadControlFile(), 0);
        QCOMPARE(client->ReadFileList(), 3);
        client->OnGetFileList = [](TUpdateClient*, QStringList& l) { l[1].clear(); };
        QCOMPARE(client->FilterFileList(), 0);
        QCOMPARE(client->FileList.Items.size(), 2u);
        QCOMPARE(client->FileList.Items[1].Description, QStringLiteral("three"));
    }

    void hostileControlFiles() {
        // Garbage, an empty file, a huge count and negative numbers: no crash, nothing fetched.
        QByteArray garbage(20000, '\0');
        for (int i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 7919) % 251);
        for (const QByteArray& text : {garbage, QByteArray(), QByteArray("[files]\r\ncount=1000000\r\n"),
                                       QByteArray("[update]\r\nunconditional=1\r\nnewsize=-5\r\nnewchecksum=-7\r\n[files]\r\ncount=-3\r\n")}) {
            writeControl(text);
            client->RunUpdate();
        }
        // A huge count reads no more than 4096 entries.
        writeControl("[files]\r\ncount=1000000\r\n");
        QCOMPARE(client->ReadControlFile(), 0);
        QCOMPARE(client->ReadFileList(), 1000000);
        QCOMPARE(client->FileList.Items.size(), 4096u);
    }

    void oversizedControlFileIsNoControlFile() {
        QFile f(control());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.resize(100LL << 20);
        f.close();
        client->RunUpdate();
        QVERIFY(messages.contains(QStringLiteral("Update control file not found")));
    }

    void entriesThatLeaveTheirFolderAreRefused() {
        WriteAll(site() + QStringLiteral("/ok.txt"), "fine");
        writeControl("[update]\r\nunconditional=1\r\n[files]\r\ncount=3\r\n"
                     "[file1]\r\nurl=" + site().toUtf8() + "/ok.txt\r\ntargetdir={APP}\\..\\..\\elsewhere\r\n"
                     "[file2]\r\nurl=" + site().toUtf8() + "/..\r\ntargetdir={APP}\r\n"
                     "[file3]\r\nurl=" + site().toUtf8() + "/ok.txt\r\ntargetdir={APP}\\inner\r\n");
        client->RunUpdate();
        // Each refusal says why.
        QCOMPARE(messages.filter(QStringLiteral("Cannot download update file : ") + site() +
                                 QStringLiteral("/ok.txt (target folder outside the program and game folders")).size(), 1);
        QVERIFY(messages.contains(QStringLiteral("Cannot download update file : ") + site() + QStringLiteral("/.. (no plain file name)")));
        QCOMPARE(ReadAll(app() + QStringLiteral("/inner/ok.txt")), QByteArray("fine"));
        QVERIFY(!QFile::exists(QDir(folders->root()).filePath(QStringLiteral("elsewhere/ok.txt"))));
        QVERIFY(logIds().contains(QStringLiteral("946")));
    }

    void copyLocalFileCases() {
        WriteAll(site() + QStringLiteral("/a"), QByteArray(40000, 'a'));
        QVERIFY(!client->CopyLocalFile(site() + QStringLiteral("/a"), site() + QStringLiteral("/a")));
        QCOMPARE(messages.last(), QStringLiteral("Equal source and target files : ") + site() + QStringLiteral("/a"));
        QList<int> positions;
        client->OnFileProgress = [&](TUpdateClient*, const QString&, int pos, int size) {
            positions << pos;
            QCOMPARE(size, 40000);
        };
        QVERIFY(client->CopyLocalFile(site() + QStringLiteral("/a"), app() + QStringLiteral("/b")));
        QCOMPARE(positions, (QList<int>{16384, 32768, 40000, 40000}));
        client->OnProgressCancel = [](TUpdateClient*, bool& c) { c = true; };
        WriteAll(app() + QStringLiteral("/c"), "old");
        QVERIFY(!client->CopyLocalFile(site() + QStringLiteral("/a"), app() + QStringLiteral("/c")));
        QCOMPARE(ReadAll(app() + QStringLiteral("/c")), QByteArray("old"));
        QCOMPARE(QDir(app()).entryList({QStringLiteral("*QUPD*.tmp")}, QDir::Files | QDir::Hidden), QStringList());
        client->OnProgressCancel = nullptr;
        client->OnFileProgress = nullptr;
        // An empty source replaces nothing.
        WriteAll(site() + QStringLiteral("/empty"), "");
        QVERIFY(!client->CopyLocalFile(site() + QStringLiteral("/empty"), app() + QStringLiteral("/c")));
        QCOMPARE(ReadAll(app() + QStringLiteral("/c")), QByteArray("old"));
    }

    void startUpdateRunsLaterAndRefusesASecondRun() {
        writeControl("");
        bool done = false;
        client->OnThreadUpdateDone = [&](TUpdateClient*) { done = true; };
        QVERIFY(client->StartUpdate());
        QVERIFY(!client->StartUpdate());
        QVERIFY(messages.isEmpty()); // nothing before the event loop turns
        QTRY_VERIFY(done);
        QVERIFY(messages.contains(QStringLiteral("Update control file found")));
        QVERIFY(client->StartUpdate());
        QTRY_VERIFY(!client->Running());
    }

    void unwritableLogNeverStopsARun() {
        client->LogDirectory = QDir(folders->root()).filePath(QStringLiteral("no/such/dir"));
        writeControl("[update]\r\nunconditional=1\r\n");
        client->RunUpdate();
        QVERIFY(messages.contains(QStringLiteral("Update control file found")));
    }

    void emptyStatusesStillReachTheLog() {
        client->ReportStatus(953, QStringLiteral("ignored"), 3, 0);
        QCOMPARE(messages.last(), QString());
        QVERIFY(ReadAll(app() + QStringLiteral("/QUPDATE.LOG")).contains("[953]  (Status:3) (Error:0)\r\n"));
    }
};

QString UpdateClientTest::platformDate() { return platform_date(QDate(2999, 1, 1)); }
QString UpdateClientTest::platformDate2000() { return platform_date(QDate(2000, 1, 1)); }

QTEST_GUILESS_MAIN(UpdateClientTest)
#include "UpdateClientTest.moc"
