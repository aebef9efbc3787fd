// The update client as an attacker meets it: forged and replayed control
// files, files that are not what the control file says, endless answers,
// planted files of another user, a temporary folder mounted noexec, a full
// disk, foreign URL schemes. Real transfers against a local HTTP server.
#include "platform/Shell.h"
#include "platform/UserStore.h"
#include "tests/support/LocalServer.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/UpdateFixture.h"
#include "update/TUpdateClient.h"
#include "update/updater/Unpack.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QtTest>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace update;
using namespace testsupport;
using ui::Answer;

namespace {

QByteArray szdd(const QByteArray& data, char last) {
    const auto packed =
        unpack::CompressSzdd(std::vector<unsigned char>(data.begin(), data.end()), last);
    return QByteArray(reinterpret_cast<const char*>(packed.data()),
                      static_cast<qsizetype>(packed.size()));
}

// Root may mount and switch users; CI runs as root too.
bool isRoot() {
    return ::geteuid() == 0;
}

bool run(const QString& program, const QStringList& args) {
    return QProcess::execute(program, args) == 0;
}

// A scratch user for the planted files, made once.
bool scratchUser(const QString& name) {
    if (QProcess::execute(QStringLiteral("id"), {QStringLiteral("-u"), name}) == 0) return true;
    return run(QStringLiteral("useradd"),
               {QStringLiteral("-M"), QStringLiteral("-r"), QStringLiteral("-s"),
                QStringLiteral("/usr/sbin/nologin"), name});
}

// The biggest file below `dir`, and the sum of all of them.
QPair<qint64, qint64> sizesBelow(const QString& dir) {
    qint64 biggest = 0, total = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        biggest = std::max(biggest, it.fileInfo().size());
        total += it.fileInfo().size();
    }
    return {biggest, total};
}

// The process's peak memory so far (VmHWM), in bytes.
qint64 peakMemory() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

} // namespace

class UpdateAttackTest : public QObject {
    Q_OBJECT

    QTemporaryDir web; // what the server serves
    std::unique_ptr<LocalServer> http;
    std::unique_ptr<UpdateFolders> folders;
    std::unique_ptr<TUpdateClient> client;
    QStringList messages;
    QList<int> codes, errors;
    QStringList opened; // what the shell was asked to open
    QStringList mounts;

    QString app() const { return folders->app(); }
    QString url(const QString& path) const { return http->Http(path); }
    QString served(const QString& name) const { return web.filePath(name); }
    // The control file over HTTP, signed unless told otherwise.
    void control(const QByteArray& text, bool sign = true) {
        WriteAll(served(QStringLiteral("quorlex2004.inf")), text);
        QFile::remove(served(QStringLiteral("quorlex2004.inf.minisig")));
        if (sign) Sign(served(QStringLiteral("quorlex2004.inf")));
        client->URL = url(QStringLiteral("files/quorlex2004.inf"));
    }
    QByteArray oneFile(const QByteArray& fileUrl, const QByteArray& keys = {}) const {
        return "[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" + fileUrl +
               "\r\ntargetdir={APP}\r\n" + keys;
    }
    QStringList tempsIn(const QString& dir) const {
        return QDir(dir).entryList({QStringLiteral("*QUPD*")},
                                   QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot);
    }
    bool mountTmpfs(const QString& dir, const QString& options, unsigned long flags = 0) {
        QDir().mkpath(dir);
        if (!isRoot() || ::mount("tmpfs", QFile::encodeName(dir).constData(), "tmpfs", flags,
                                 options.toLatin1().constData()) != 0)
            return false;
        mounts << dir;
        return true;
    }

private slots:
    void initTestCase() {
        http = std::make_unique<LocalServer>(HttpServerScript(), web.path());
        QVERIFY(http->Started());
    }

    void init() {
        folders = std::make_unique<UpdateFolders>();
        client = std::make_unique<TUpdateClient>();
        folders->Configure(*client);
        client->UpdateType = httpUpdate;
        client->UpdateConnect = ucConnectPrompt;
        client->UpdateUpdate = upSilent;
        WriteAll(app() + QStringLiteral("/prog"), "the program");
        client->OwnExecutable = app() + QStringLiteral("/prog");
        messages.clear();
        codes.clear();
        errors.clear();
        opened.clear();
        client->OnStatus = [this](TUpdateClient*, const QString& s, int code, int err) {
            messages << s;
            codes << code;
            errors << err;
        };
        platform::SetShellOpenHookForTesting([this](const QString& u) { opened << u; });
    }
    void cleanup() {
        platform::SetShellOpenHookForTesting({});
        client.reset();
        for (const QString& m : mounts)
            ::umount2(QFile::encodeName(m).constData(), MNT_DETACH);
        mounts.clear();
        folders.reset();
    }

    // Nothing of a control file that is not signed by our key, or was
    // changed after signing, is acted on: no command, no URL, no file.
    void forgedControlFilesAreNotActedOn_data() {
        QTest::addColumn<QString>("forgery");
        QTest::addColumn<QString>("why");
        QTest::newRow("unsigned") << QStringLiteral("none") << QStringLiteral("no signature");
        QTest::newRow("changed after signing")
            << QStringLiteral("changed") << QStringLiteral("does not match");
        QTest::newRow("trusted comment changed")
            << QStringLiteral("comment") << QStringLiteral("trusted comment");
        QTest::newRow("another key") << QStringLiteral("key") << QStringLiteral("another key");
        QTest::newRow("no signing time")
            << QStringLiteral("notime") << QStringLiteral("signing time");
        QTest::newRow("garbage signature")
            << QStringLiteral("garbage") << QStringLiteral("minisign format");
        // Its secret half is published: a leftover demo setting must not let anyone sign.
        QTest::newRow("demo key outside the demo")
            << QStringLiteral("demo") << QStringLiteral("demo key is trusted only");
        // A time to come would make every later genuine file look replayed.
        QTest::newRow("signed in the future")
            << QStringLiteral("future") << QStringLiteral("time still to come");
        // An old genuine offer served after its signed expiry, or with one unreadable.
        QTest::newRow("expired") << QStringLiteral("expired") << QStringLiteral("offer expired");
        QTest::newRow("unreadable expiry")
            << QStringLiteral("badexpiry") << QStringLiteral("expiry is not a time");
        // Even with no record yet, a file older than the program is an old one.
        QTest::newRow("signed before this program")
            << QStringLiteral("ancient") << QStringLiteral("before this program was built");
    }
    void forgedControlFilesAreNotActedOn() {
        QFETCH(QString, forgery);
        QFETCH(QString, why);
        const QString marker = folders->root() + QStringLiteral("/ran");
        WriteAll(served(QStringLiteral("data.bin")), "attacker's bytes");
        const QByteArray text =
            "[update]\r\nunconditional=1\r\n[application]\r\nappupdate=1\r\nappname={APP}\\prog\r\n"
            "appcomps=data.bin\r\n[action]\r\nrunbefore=touch " +
            marker.toUtf8() + "\r\nshowURL=http://attacker.invalid/\r\nrunafter=touch " +
            marker.toUtf8() + "\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
            url(QStringLiteral("files/data.bin")).toUtf8() + "\r\ntargetdir={APP}\r\n";
        control(text, forgery != QStringLiteral("none"));
        const QString sig = served(QStringLiteral("quorlex2004.inf.minisig"));
        if (forgery == QStringLiteral("changed"))
            WriteAll(served(QStringLiteral("quorlex2004.inf")), text + "\r\n");
        if (forgery == QStringLiteral("comment")) {
            QByteArray s = ReadAll(sig);
            s.replace("trusted comment: timestamp:", "trusted comment: timestamp:9");
            WriteAll(sig, s);
        }
        if (forgery == QStringLiteral("key")) client->PublicKey.clear(); // the release key
        if (forgery == QStringLiteral("notime"))
            Sign(served(QStringLiteral("quorlex2004.inf")), -1);
        if (forgery == QStringLiteral("garbage"))
            WriteAll(sig, "<html>Sign in to the network</html>");
        if (forgery == QStringLiteral("future"))
            Sign(served(QStringLiteral("quorlex2004.inf")),
                 QDateTime::currentSecsSinceEpoch() + 10 * 24 * 3600);
        if (forgery == QStringLiteral("demo")) qunsetenv("QUORLEX_DEMO");
        if (forgery == QStringLiteral("expired"))
            Sign(served(QStringLiteral("quorlex2004.inf")), NextSigningTime(), true,
                 "expires:" + QByteArray::number(QDateTime::currentSecsSinceEpoch() - 1));
        if (forgery == QStringLiteral("badexpiry"))
            Sign(served(QStringLiteral("quorlex2004.inf")), NextSigningTime(), true, "expires:soon");
        if (forgery == QStringLiteral("ancient")) {
            platform::WriteUserString(client->SignatureMemoryKey, client->SignatureMemorySection,
                                      QStringLiteral("LastSignedTime-19384D0A7C31D8F0"), QStringLiteral("0"));
            Sign(served(QStringLiteral("quorlex2004.inf")), 1000000000);
        }
        const auto demoBack = qScopeGuard([] { qputenv("QUORLEX_DEMO", "1"); });
        client->RunUpdate();
        client->ThreadFinished();
        QVERIFY(!QFile::exists(app() + QStringLiteral("/data.bin")));
        QVERIFY(!QFile::exists(marker));
        QVERIFY(opened.isEmpty());
        QVERIFY(!client->RestartPending);
        const auto at = codes.indexOf(11);
        QVERIFY2(at >= 0, qPrintable(messages.join(QLatin1Char('|'))));
        QVERIFY2(messages[at].startsWith(
                     QStringLiteral("Update control file could not be verified : ")) &&
                     messages[at].contains(why),
                 qPrintable(messages[at]));
        QVERIFY(!messages.contains(QStringLiteral("Found file update instruction")));
    }

    // Files signed by the real tool, in its default (prehashed) and its
    // legacy form, are accepted.
    void signaturesOfTheMinisignToolAreAccepted_data() {
        QTest::addColumn<QStringList>("flags");
        QTest::newRow("prehashed") << QStringList();
        QTest::newRow("legacy") << QStringList{QStringLiteral("-l")};
    }
    void signaturesOfTheMinisignToolAreAccepted() {
        QFETCH(QStringList, flags);
        WriteAll(served(QStringLiteral("data.bin")), "fresh");
        control(oneFile(url(QStringLiteral("files/data.bin")).toUtf8()), false);
        QProcess minisign;
        minisign.start(
            QStringLiteral("minisign"),
            QStringList{QStringLiteral("-S")} + flags +
                QStringList{QStringLiteral("-s"), DemoKeyFile("key"), QStringLiteral("-m"),
                            served(QStringLiteral("quorlex2004.inf")), QStringLiteral("-t"),
                            QStringLiteral("timestamp:%1").arg(NextSigningTime())});
        if (!minisign.waitForStarted())
            QSKIP("the minisign tool is not installed (scripts/install-deps installs it)");
        QVERIFY(minisign.waitForFinished());
        QCOMPARE(minisign.exitCode(), 0);
        client->RunUpdate();
        QVERIFY2(QFile::exists(app() + QStringLiteral("/data.bin")),
                 qPrintable(messages.join(QLatin1Char('|'))));
    }

    // An older control file, however well signed, cannot be replayed to
    // force an old version back; the same file again is fine.
    void replayedOlderControlFileIsRefused() {
        const qint64 now = NextSigningTime() + 1000;
        WriteAll(served(QStringLiteral("new.bin")), "version 2");
        WriteAll(served(QStringLiteral("quorlex2004.inf")),
                 oneFile(url(QStringLiteral("files/new.bin")).toUtf8()));
        Sign(served(QStringLiteral("quorlex2004.inf")), now);
        client->URL = url(QStringLiteral("files/quorlex2004.inf"));
        client->RunUpdate();
        QCOMPARE(ReadAll(app() + QStringLiteral("/new.bin")), QByteArray("version 2"));
        QFile::remove(app() + QStringLiteral("/new.bin"));
        client->RunUpdate(); // the same file again
        QVERIFY(QFile::exists(app() + QStringLiteral("/new.bin")));
        WriteAll(served(QStringLiteral("old.bin")), "version 1");
        WriteAll(served(QStringLiteral("quorlex2004.inf")),
                 oneFile(url(QStringLiteral("files/old.bin")).toUtf8()));
        Sign(served(QStringLiteral("quorlex2004.inf")), now - 86400);
        messages.clear();
        client->RunUpdate();
        QVERIFY(!QFile::exists(app() + QStringLiteral("/old.bin")));
        QVERIFY(
            messages
                .filter(QStringLiteral("could not be verified : signed before the last accepted"))
                .size() == 1);
    }

    // A fetched file replaces nothing unless it is what the signed file says.
    void filesThatAreNotWhatTheControlFileSaysReplaceNothing_data() {
        QTest::addColumn<QByteArray>("fileUrl");
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<QString>("why");
        const QByteArray good = "fresh bytes";
        QTest::newRow("wrong sha256")
            << QByteArray("files/data.bin") << QByteArray("sha256=" + QByteArray(64, '0') + "\r\n")
            << QStringLiteral("SHA-256");
        QTest::newRow("html page")
            << QByteArray("html/data.bin") << QByteArray() << QStringLiteral("web page");
        QTest::newRow("empty 200")
            << QByteArray("files/empty.bin") << QByteArray() << QStringLiteral("empty");
        QTest::newRow("newsize differs")
            << QByteArray("files/data.bin") << QByteArray("newsize=4\r\n")
            << QStringLiteral("larger than 4");
        QTest::newRow("newsize not a number")
            << QByteArray("files/data.bin") << QByteArray("newsize=11 bytes\r\n")
            << QStringLiteral("newsize is not a size");
        QTest::newRow("newchecksum differs")
            << QByteArray("files/data.bin") << QByteArray("newchecksum=7\r\n")
            << QStringLiteral("checksum");
        QTest::newRow("truncated SZDD")
            << QByteArray("files/data.bi_") << QByteArray("compressed=1\r\n")
            << QStringLiteral("cannot be expanded");
        QTest::newRow("past newsize while streaming")
            << QByteArray("nolengthsized/200000/data.bin") << QByteArray("newsize=1000\r\n")
            << QStringLiteral("larger than 1000");
        Q_UNUSED(good);
    }
    void filesThatAreNotWhatTheControlFileSaysReplaceNothing() {
        QFETCH(QByteArray, fileUrl);
        QFETCH(QByteArray, keys);
        QFETCH(QString, why);
        WriteAll(served(QStringLiteral("data.bin")), "fresh bytes");
        WriteAll(served(QStringLiteral("empty.bin")), "");
        // Declares 3400 bytes, holds the first part only.
        WriteAll(served(QStringLiteral("data.bi_")), szdd(QByteArray(3400, 'x'), 'n').left(200));
        const QString target =
            app() + (fileUrl.endsWith("empty.bin") ? QStringLiteral("/empty.bin")
                                                   : QStringLiteral("/data.bin"));
        WriteAll(target, "old");
        control(oneFile(url(QString::fromLatin1(fileUrl)).toUtf8(), keys));
        client->RunUpdate();
        QCOMPARE(ReadAll(target), QByteArray("old"));
        QVERIFY(tempsIn(app()).isEmpty());
        const auto refused = messages.filter(QStringLiteral("Update file refused : "));
        QVERIFY2(refused.size() == 1 && refused[0].contains(why),
                 qPrintable(messages.join(QLatin1Char('|'))));
        QVERIFY(codes.contains(15));
        QCOMPARE(client->Failures.size(), 1);
    }

    // The right file replaces the old one keeping its mode; a new file gets 0644.
    void verifiedFilesReplaceAndKeepTheMode() {
        WriteAll(served(QStringLiteral("data.bin")), "fresh bytes");
        WriteAll(served(QStringLiteral("other.bin")), "other");
        WriteAll(app() + QStringLiteral("/data.bin"), "old");
        // Set-user rights are not handed on to the new bytes.
        QCOMPARE(::chmod(QFile::encodeName(app() + QStringLiteral("/data.bin")).constData(), 04640), 0);
        const QByteArray hash =
            QCryptographicHash::hash("fresh bytes", QCryptographicHash::Sha256).toHex();
        control("[update]\r\nunconditional=1\r\n[files]\r\ncount=2\r\n[file1]\r\nurl=" +
                url(QStringLiteral("files/data.bin")).toUtf8() + "\r\ntargetdir={APP}\r\nsha256=" +
                hash.toUpper() + "\r\nnewsize=11\r\n[file2]\r\nurl=" +
                url(QStringLiteral("files/other.bin")).toUtf8() + "\r\ntargetdir={APP}\r\n");
        client->RunUpdate();
        QCOMPARE(ReadAll(app() + QStringLiteral("/data.bin")), QByteArray("fresh bytes"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(app() + QStringLiteral("/data.bin")).constData(), &st),
                 0);
        QCOMPARE(st.st_mode & 07777, 0640u);
        QCOMPARE(::stat(QFile::encodeName(app() + QStringLiteral("/other.bin")).constData(), &st),
                 0);
        QCOMPARE(st.st_mode & 07777, 0644u);
        QVERIFY(client->Failures.isEmpty());
    }

    // The updater starts a component as the program: one without its hash
    // in the signed file is not fetched, and a part of a name is no component.
    void componentsNeedTheirHashAndTheirWholeName() {
        WriteAll(served(QStringLiteral("prog_NEW")), "new program");
        WriteAll(served(QStringLiteral("g_NEW")), "data");
        const QByteArray application =
            "[application]\r\nappupdate=1\r\nappname={APP}\\prog\r\nappcomps=prog_NEW\r\n";
        control(oneFile(url(QStringLiteral("files/prog_NEW")).toUtf8()) + application);
        client->RunUpdate();
        client->ThreadFinished();
        QVERIFY(!QFile::exists(app() + QStringLiteral("/prog_NEW")));
        QVERIFY(!client->ComponentFetched);
        QVERIFY(!messages.filter(QStringLiteral("a component is taken only with its sha256=")).isEmpty());
        control(oneFile(url(QStringLiteral("files/g_NEW")).toUtf8()) + application);
        client->RunUpdate();
        client->ThreadFinished();
        QCOMPARE(ReadAll(app() + QStringLiteral("/g_NEW")), QByteArray("data"));
        QVERIFY(!client->ComponentFetched);
    }

    // A compressed component reaches the updater as it came: the updater
    // expands it and keeps the program it replaces until the new one starts.
    void aCompressedComponentIsLeftToTheUpdater() {
        const std::string body = "#!/bin/sh\necho new\n";
        const auto packed = unpack::CompressSzdd({body.begin(), body.end()}, 'g');
        const QByteArray bytes(reinterpret_cast<const char*>(packed.data()), static_cast<qsizetype>(packed.size()));
        WriteAll(served(QStringLiteral("pro_")), bytes);
        const QByteArray hash = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
        control(oneFile(url(QStringLiteral("files/pro_")).toUtf8(), "compressed=1\r\nsha256=" + hash + "\r\n") +
                "[application]\r\nappupdate=1\r\nappname={APP}\\prog\r\nappcomps=pro_\r\n");
        client->RunUpdate();
        QCOMPARE(ReadAll(app() + QStringLiteral("/prog")), QByteArray("the program"));
        QCOMPARE(ReadAll(app() + QStringLiteral("/pro_")), bytes);
        QVERIFY(client->ComponentFetched);
    }

    // Control and text files are capped while they arrive: neither disk nor
    // memory grows with an endless or huge answer.
    void controlAndTextFilesAreCappedWhileTheyStream_data() {
        QTest::addColumn<QString>("controlPath");
        QTest::addColumn<QString>("whatsNewPath");
        QTest::newRow("endless control file")
            << QStringLiteral("endless/quorlex2004.inf") << QString();
        QTest::newRow("100 MB control file")
            << QStringLiteral("sized/104857600/quorlex2004.inf") << QString();
        QTest::newRow("100 MB without a length")
            << QStringLiteral("nolengthsized/104857600/quorlex2004.inf") << QString();
        QTest::newRow("400 MB what's new")
            << QString() << QStringLiteral("nolengthsized/419430400/news.txt");
    }
    void controlAndTextFilesAreCappedWhileTheyStream() {
        QFETCH(QString, controlPath);
        QFETCH(QString, whatsNewPath);
        if (!whatsNewPath.isEmpty())
            control("[update]\r\nunconditional=1\r\n[whatsnew]\r\nfile=" +
                    url(whatsNewPath).toUtf8() + "\r\n");
        else
            client->URL = url(controlPath);
        bool dialog = false;
        client->OnDownloadedWhatsNew = [&](TUpdateClient*, QStringList&, int& res) {
            dialog = true;
            res = 1;
        };
        QElapsedTimer timer;
        timer.start();
        const qint64 peakBefore = peakMemory();
        client->RunUpdate();
        QVERIFY2(timer.elapsed() < 30000, qPrintable(QString::number(timer.elapsed())));
        // Memory stays bounded too: nothing holds the body.
        QVERIFY2(peakMemory() - peakBefore < (64 << 20),
                 qPrintable(QString::number(peakMemory() - peakBefore)));
        QVERIFY(!dialog);
        const auto [biggest, total] = sizesBelow(folders->root());
        QVERIFY2(biggest <= (1 << 20) + 4096 && total < (4 << 20),
                 qPrintable(QStringLiteral("%1 %2").arg(biggest).arg(total)));
        QVERIFY(messages.filter(QStringLiteral("larger than 1048576 bytes")).size() == 1);
        if (whatsNewPath.isEmpty())
            QVERIFY(messages.contains(QStringLiteral("Update control file not found")));
    }

    // Files another user planted in the shared temporary folder are never
    // written through or started: the updater goes into a private folder.
    void plantedUpdaterFilesOfAnotherUserAreNeverUsed() {
        if (!isRoot())
            QSKIP("needs root to switch to a scratch user (setpriv); run the suite as root, as CI "
                  "does");
        const QString attacker = QStringLiteral("quorlex-attacker");
        QVERIFY(scratchUser(attacker));
        const QString shared = folders->root() + QStringLiteral("/shared-tmp");
        QDir().mkpath(shared);
        QVERIFY(::chmod(QFile::encodeName(folders->root()).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        qputenv("TMPDIR", shared.toLocal8Bit());
        const QString victim = app() + QStringLiteral("/precious.txt");
        WriteAll(victim, "the player's file");
        const QString pwned = shared + QStringLiteral("/pwned");
        const QString script = QStringLiteral("printf '#!/bin/sh\\ntouch %1\\n' > %2/upd.exe && "
                                              "chmod 755 %2/upd.exe && ln -s %3 %2/upd.ex_")
                                   .arg(pwned, shared, victim);
        QVERIFY(run(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=") + attacker, QStringLiteral("--regid=") + attacker,
                     QStringLiteral("--clear-groups"), QStringLiteral("sh"), QStringLiteral("-c"),
                     script}));
        QVERIFY(QFileInfo(shared + QStringLiteral("/upd.ex_")).isSymLink());
        client->AppComponents = QStringLiteral("x_NEW");
        client->OnAppRestart = [](TUpdateClient*, bool& allow) { allow = true; };
        client->OnAppDoClose = [](TUpdateClient*) {};
        QString startedProgram;
        client->StartProcess = [&](const QString& program, const QStringList&) {
            startedProgram = program;
            return 0;
        };
        client->RestartApplication();
        QCOMPARE(ReadAll(victim), QByteArray("the player's file"));
        QVERIFY(!startedProgram.isEmpty());
        QVERIFY(startedProgram != shared + QStringLiteral("/upd.exe"));
        QCOMPARE(ReadAll(startedProgram), ReadAll(QStringLiteral(QUORLEX_UPD)));
        struct stat st {};
        QCOMPARE(
            ::stat(QFile::encodeName(QFileInfo(startedProgram).absolutePath()).constData(), &st),
            0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QCOMPARE(st.st_uid, ::geteuid());
        QVERIFY(!QFile::exists(pwned));
    }

    // The same with two scratch users: the attacker plants, the victim
    // (this test binary again, as another user) updates.
    void plantedFilesOfOneUserNeverReachAnother() {
        if (!isRoot())
            QSKIP("needs root to make and switch to scratch users (setpriv); run the suite as "
                  "root, as CI does");
        const QString attacker = QStringLiteral("quorlex-attacker"),
                      victim = QStringLiteral("quorlex-victim");
        QVERIFY(scratchUser(attacker) && scratchUser(victim));
        QVERIFY(::chmod(QFile::encodeName(folders->root()).constData(), 0755) == 0);
        const QString shared = folders->root() + QStringLiteral("/shared-tmp");
        const QString home = folders->root() + QStringLiteral("/victim-home");
        QDir().mkpath(shared);
        QDir().mkpath(home);
        QVERIFY(::chmod(QFile::encodeName(shared).constData(), 01777) == 0);
        const QString precious = home + QStringLiteral("/precious.txt");
        WriteAll(precious, "the victim's file");
        QVERIFY(run(QStringLiteral("chown"),
                    {QStringLiteral("-R"), victim + QLatin1Char(':') + victim, home}));
        const QString pwned = shared + QStringLiteral("/pwned");
        const QString plant = QStringLiteral("printf '#!/bin/sh\\ntouch %1\\n' > %2/upd.exe && "
                                             "chmod 755 %2/upd.exe && ln -s %3 %2/upd.ex_")
                                  .arg(pwned, shared, precious);
        QVERIFY(run(QStringLiteral("setpriv"),
                    {QStringLiteral("--reuid=") + attacker, QStringLiteral("--regid=") + attacker,
                     QStringLiteral("--clear-groups"), QStringLiteral("sh"), QStringLiteral("-c"),
                     plant}));
        QProcess side;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QUORLEX_VICTIM_SHARED"), shared);
        env.insert(QStringLiteral("QUORLEX_VICTIM_FILE"), precious);
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("TMPDIR"), home);
        side.setProcessEnvironment(env);
        side.setProcessChannelMode(QProcess::MergedChannels);
        side.start(QStringLiteral("setpriv"),
                   {QStringLiteral("--reuid=") + victim, QStringLiteral("--regid=") + victim,
                    QStringLiteral("--clear-groups"), QCoreApplication::applicationFilePath(),
                    QStringLiteral("victimSide")});
        QVERIFY(side.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(side.readAll());
        QVERIFY2(side.exitCode() == 0 &&
                     out.contains(QStringLiteral("PASS   : UpdateAttackTest::victimSide()")),
                 qPrintable(out));
        QCOMPARE(ReadAll(precious), QByteArray("the victim's file"));
        QVERIFY(!QFile::exists(pwned));
    }
    // The victim's side of the test above; skipped in a normal run.
    void victimSide() {
        const QString shared = qEnvironmentVariable("QUORLEX_VICTIM_SHARED");
        if (shared.isEmpty()) QSKIP("the victim's side of plantedFilesOfOneUserNeverReachAnother");
        qputenv("TMPDIR", shared.toLocal8Bit());
        client->AppComponents = QStringLiteral("x_NEW");
        client->OnAppRestart = [](TUpdateClient*, bool& allow) { allow = true; };
        client->OnAppDoClose = [](TUpdateClient*) {};
        QString startedProgram;
        client->StartProcess = [&](const QString& program, const QStringList&) {
            startedProgram = program;
            return 0;
        };
        client->RestartApplication();
        QVERIFY2(!startedProgram.isEmpty(), qPrintable(messages.join(QLatin1Char('|'))));
        QVERIFY(startedProgram.startsWith(shared + QStringLiteral("/quorlex-update-")));
        QCOMPARE(ReadAll(startedProgram), ReadAll(QStringLiteral(QUORLEX_UPD)));
        struct stat st {};
        QCOMPARE(
            ::stat(QFile::encodeName(QFileInfo(startedProgram).absolutePath()).constData(), &st),
            0);
        QCOMPARE(st.st_mode & 07777, 0700u);
        QCOMPARE(st.st_uid, ::getuid());
        QCOMPARE(ReadAll(qEnvironmentVariable("QUORLEX_VICTIM_FILE")),
                 QByteArray("the victim's file"));
    }

    // The updater cannot start: the program keeps running and says why,
    // with the system's error number.
    void noexecTemporaryFolderKeepsTheProgramRunning() {
        const QString noexec = folders->root() + QStringLiteral("/noexec");
        if (!mountTmpfs(noexec, QStringLiteral("size=4m,mode=1777"), MS_NOEXEC))
            QSKIP("mounting a tmpfs is not allowed here (needs root)");
        qputenv("TMPDIR", noexec.toLocal8Bit());
        client->AppComponents = QStringLiteral("x_NEW");
        client->OnAppRestart = [](TUpdateClient*, bool& allow) { allow = true; };
        bool closed = false;
        client->OnAppDoClose = [&](TUpdateClient*) { closed = true; };
        client->RestartApplication();
        QVERIFY(!closed);
        const auto at = messages.indexOf(QStringLiteral("Failed to spawn updater process : ") +
                                         QString::fromLocal8Bit(strerror(EACCES)));
        QVERIFY2(at >= 0, qPrintable(messages.join(QLatin1Char('|'))));
        QCOMPARE(codes[at], 9);
        QCOMPARE(errors[at], EACCES);
    }

    // A full disk: the old file survives whole, no partial file is left.
    void fullDiskKeepsTheOldFile() {
        const QString small = folders->root() + QStringLiteral("/small");
        if (!mountTmpfs(small, QStringLiteral("size=256k")))
            QSKIP("mounting a tmpfs is not allowed here (needs root)");
        QByteArray old(150000, 'o');
        WriteAll(small + QStringLiteral("/data.bin"), old);
        WriteAll(served(QStringLiteral("data.bin")), QByteArray(200000, 'n'));
        client->AllowedFolders << small;
        control("[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                url(QStringLiteral("files/data.bin")).toUtf8() + "\r\ntargetdir=" + small.toUtf8() +
                "\r\n");
        client->RunUpdate();
        QCOMPARE(ReadAll(small + QStringLiteral("/data.bin")), old);
        QVERIFY(tempsIn(small).isEmpty());
        QVERIFY(messages.contains(QStringLiteral("Cannot download update file : ") +
                                  url(QStringLiteral("files/data.bin"))));
        // Told as a full disk, not as a file the server lacks.
        QVERIFY2(messages.contains(QStringLiteral("Cannot write to folder : ") + small + QStringLiteral(" (") +
                                   QString::fromLocal8Bit(strerror(ENOSPC)) + QLatin1Char(')')),
                 qPrintable(messages.join(QLatin1Char('|'))));
        QVERIFY(!client->Failures.isEmpty());
    }

    // A folder that cannot be written is told as such, for the run's own
    // private folder and for a file's target folder.
    void unwritableFoldersAreToldAsSuch() {
        const QString ro = folders->root() + QStringLiteral("/readonly");
        if (!mountTmpfs(ro, QStringLiteral("size=64k"), MS_RDONLY))
            QSKIP("mounting a tmpfs is not allowed here (needs root)");
        const QString expected = QStringLiteral("Cannot write to folder : ") + ro +
                                 QStringLiteral(" (") + QString::fromLocal8Bit(strerror(EROFS)) +
                                 QLatin1Char(')');
        WriteAll(served(QStringLiteral("data.bin")), "fresh");
        client->AllowedFolders << ro;
        control("[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                url(QStringLiteral("files/data.bin")).toUtf8() + "\r\ntargetdir=" + ro.toUtf8() +
                "\r\n");
        client->RunUpdate();
        QVERIFY2(messages.contains(expected), qPrintable(messages.join(QLatin1Char('|'))));
        QCOMPARE(codes[messages.indexOf(expected)], 18);
        QCOMPARE(errors[messages.indexOf(expected)], EROFS);
        QVERIFY(client->Failures.value(0).contains(QStringLiteral("cannot write to its folder")));
        messages.clear();
        qputenv("TMPDIR", ro.toLocal8Bit());
        client->RunUpdate();
        QVERIFY2(messages.contains(expected), qPrintable(messages.join(QLatin1Char('|'))));
    }

    // Only http, https and ftp are fetched, only http and https opened; a
    // crafted program file named by localversion is no version, not a crash.
    void foreignSchemesAndCraftedFiles() {
        QTcpServer dict;
        QVERIFY(dict.listen(QHostAddress::LocalHost));
        QByteArray elf(64, '\0');
        elf.replace(0, 7,
                    QByteArray("\x7F"
                               "ELF\x02\x01\x01",
                               7));
        for (int i = 0; i < 8; ++i)
            elf[0x28 + i] = char(i == 7 ? 0x7F : 0xFF); // e_shoff near the top
        elf[0x3A] = 64;
        elf[0x3C] = 1;
        WriteAll(app() + QStringLiteral("/crafted"), elf);
        control(
            "[update]\r\nnewversion=9.0.0.0\r\nlocalversion={APP}\\crafted\r\nunconditional=1\r\n"
            "[action]\r\nshowURL=file:///etc/passwd\r\n[files]\r\ncount=2\r\n"
            "[file1]\r\nurl=file:///etc/passwd\r\ntargetdir={APP}\r\n"
            "[file2]\r\nurl=dict://127.0.0.1:" +
            QByteArray::number(dict.serverPort()) + "/d:x\r\ntargetdir={APP}\r\n");
        client->RunUpdate();
        QVERIFY(!QFile::exists(app() + QStringLiteral("/passwd")));
        QVERIFY(!dict.waitForNewConnection(300));
        QVERIFY(opened.isEmpty());
        QCOMPARE(messages.filter(QStringLiteral("(only http, https and ftp addresses are fetched)"))
                     .size(),
                 2);
        QVERIFY(messages.contains(
            QStringLiteral("file:///etc/passwd (only http and https addresses are opened)")
                .prepend(QStringLiteral("Update file refused : "))));
    }

    // Where files may go, and what may be restarted.
    void targetFoldersAndTheRestartAreChecked_data() {
        QTest::addColumn<QByteArray>("targetdir");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("the program folder") << QByteArray("{APP}") << true;
        QTest::newRow("a folder below") << QByteArray("{APP}\\sub") << true;
        QTest::newRow(".. that stays inside") << QByteArray("{APP}\\sub\\..\\inner") << true;
        QTest::newRow("the game folder by ..") << QByteArray("{APP}\\..\\game\\Maps") << true;
        QTest::newRow(".. that leaves") << QByteArray("{APP}\\..\\elsewhere") << false;
        QTest::newRow("an absolute folder") << QByteArray("/tmp") << false;
        QTest::newRow("a name that only begins like the game's")
            << QByteArray("{APP}\\..\\game-other") << false;
        // The kernel would take link/.. outside; the folder checked is the one written.
        QTest::newRow("a link out, then ..") << QByteArray("{APP}\\link\\..") << true;
        QTest::newRow("into a link out") << QByteArray("{APP}\\link") << false;
        QTest::newRow("below a link out") << QByteArray("{APP}\\link\\sub") << false;
    }
    void targetFoldersAndTheRestartAreChecked() {
        QFETCH(QByteArray, targetdir);
        QFETCH(bool, allowed);
        const QString outside = folders->root() + QStringLiteral("/outside");
        QDir().mkpath(outside + QStringLiteral("/sub"));
        QDir().mkpath(folders->root() + QStringLiteral("/game-other"));
        QVERIFY(QFile::link(outside, app() + QStringLiteral("/link")));
        QDir().mkpath(folders->root() + QStringLiteral("/game"));
        client->AllowedFolders = {app(), folders->root() + QStringLiteral("/game")};
        WriteAll(served(QStringLiteral("placed.bin")), "placed");
        control("[update]\r\nunconditional=1\r\n[files]\r\ncount=1\r\n[file1]\r\nurl=" +
                url(QStringLiteral("files/placed.bin")).toUtf8() + "\r\ntargetdir=" + targetdir +
                "\r\n");
        client->RunUpdate();
        const auto refusal = messages.filter(QStringLiteral("(target folder "));
        QCOMPARE(refusal.isEmpty(), allowed);
        QCOMPARE(client->FetchedFiles.size(), allowed ? 1 : 0);
        for (const QString& dir : {QStringLiteral("/tmp"), folders->root(), outside,
                                   outside + QStringLiteral("/sub"),
                                   folders->root() + QStringLiteral("/game-other")})
            QVERIFY2(!QFile::exists(dir + QStringLiteral("/placed.bin")), qPrintable(dir));
    }

    // Files that the program or the game runs are handed over only by the
    // updater, as components with their hash: never written over in place.
    void programFilesAreReplacedOnlyThroughTheUpdater_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("the program itself") << QStringLiteral("prog") << QByteArray() << false;
        QTest::newRow("the program, hashed")
            << QStringLiteral("prog") << QByteArray("HASH") << false;
        QTest::newRow("a Windows program") << QStringLiteral("UT2004.exe") << QByteArray() << false;
        QTest::newRow("a library") << QStringLiteral("Core.dll") << QByteArray() << false;
        QTest::newRow("a versioned library")
            << QStringLiteral("libSDL-1.2.so.0") << QByteArray() << false;
        QTest::newRow("the game's binary")
            << QStringLiteral("ut2004-bin-linux-amd64") << QByteArray() << false;
        QTest::newRow("the updater") << QStringLiteral("upd") << QByteArray() << false;
        QTest::newRow("a marked program") << QStringLiteral("tool") << QByteArray() << false;
        // Next to them: data, also a data file every file of a mount marks as runnable.
        QTest::newRow("a text") << QStringLiteral("ReadMe.txt") << QByteArray() << true;
        QTest::newRow("a marked text") << QStringLiteral("notes.txt") << QByteArray() << true;
    }
    void programFilesAreReplacedOnlyThroughTheUpdater() {
        QFETCH(QString, name);
        QFETCH(QByteArray, keys);
        QFETCH(bool, replaced);
        WriteAll(served(name), "attacker's bytes");
        const QString target = app() + QLatin1Char('/') + name;
        if (name != QStringLiteral("prog")) WriteAll(target, "old");
        if (name == QStringLiteral("tool") || name == QStringLiteral("notes.txt"))
            QFile::setPermissions(target, QFile::permissions(target) | QFile::ExeOwner);
        if (keys == "HASH") keys = Sha256Line(served(name));
        control(oneFile(url(QStringLiteral("files/") + name).toUtf8(), keys));
        client->RunUpdate();
        QCOMPARE(ReadAll(target) == "attacker's bytes", replaced);
        QCOMPARE(messages.filter(QStringLiteral("is a program file")).isEmpty(), replaced);
        QVERIFY(tempsIn(app()).isEmpty());
    }

    // runbefore is the offer's own command: it waits for the player's Yes.
    // htmldlg shows web pages, not the player's files; a patch runs only the
    // patcher beside the program, never one found through PATH.
    void commandsAndPagesWaitForTheOfferAndStayOurs() {
        ScriptedPrompter prompter;
        client->SetPrompter(&prompter);
        const QString before = folders->root() + QStringLiteral("/before");
        const QString bin = folders->root() + QStringLiteral("/bin");
        QDir().mkpath(bin);
        WriteAll(bin + QStringLiteral("/patcher.exe"),
                 "#!/bin/sh\ntouch " + QFile::encodeName(folders->root()) + "/patched\n");
        QFile::setPermissions(bin + QStringLiteral("/patcher.exe"), QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin) + ":" + path);
        const auto pathBack = qScopeGuard([&] { qputenv("PATH", path); });
        client->ApplyPatch = true;
        WriteAll(served(QStringLiteral("fix.pat")), "patch");
        WriteAll(folders->root() + QStringLiteral("/secret.html"), "<html>private</html>");
        const QByteArray actions = "[action]\r\nrunbefore=touch " + QFile::encodeName(before) +
                                   "\r\nquery=Install it?\r\nhtmldlg=" +
                                   QFile::encodeName(folders->root()) + "/secret.html\r\n";
        control(oneFile(url(QStringLiteral("files/fix.pat")).toUtf8(),
                        "localversion={APP}\\prog\r\n") +
                actions);
        prompter.Answer(Answer::No);
        client->RunUpdate();
        QTest::qWait(300);
        QVERIFY(!QFile::exists(before));
        QVERIFY(!messages.filter(QStringLiteral("secret.html (only a web page")).isEmpty());
        prompter.Answer(Answer::Yes);
        client->RunUpdate();
        QTRY_VERIFY(QFile::exists(before));
        QTest::qWait(300);
        QVERIFY(!QFile::exists(folders->root() + QStringLiteral("/patched")));
        QVERIFY(!messages.filter(QStringLiteral("no patcher.exe beside the program")).isEmpty());
    }

    void restartNamesOnlyThisProgramAndPlainComponents_data() {
        QTest::addColumn<QByteArray>("application");
        QTest::addColumn<bool>("restarts");
        QTest::newRow("this program")
            << QByteArray("appname={APP}\\prog\r\nappcomps=prog_NEW\r\n") << true;
        QTest::newRow("another program")
            << QByteArray("appname=/bin/sh -c evil\r\nappcomps=prog_NEW\r\n") << false;
        QTest::newRow("a component with a folder")
            << QByteArray("appname={APP}\\prog\r\nappcomps=../prog_NEW\r\n") << false;
    }
    void restartNamesOnlyThisProgramAndPlainComponents() {
        QFETCH(QByteArray, application);
        QFETCH(bool, restarts);
        control("[application]\r\nappupdate=1\r\n" + application);
        QCOMPARE(client->ConnectInternet(), 0);
        QCOMPARE(client->ReadControlFile(), 0);
        QCOMPARE(client->RestartPending, restarts);
        QCOMPARE(messages.filter(QStringLiteral("Restart refused : ")).isEmpty(), restarts);
    }

    // A program path with blanks reaches the updater as one argument.
    void programPathWithBlanksIsOneArgument() {
        QDir().mkpath(app() + QStringLiteral("/my app"));
        WriteAll(app() + QStringLiteral("/my app/quorlex 2004"), "program");
        client->OwnExecutable = app() + QStringLiteral("/my app/quorlex 2004");
        control("[application]\r\nappupdate=1\r\nappname={APP}\\quorlex 2004 -windowed \"a "
                "b\"\r\nappcomps=quorlex_NEW\r\n");
        QCOMPARE(client->ConnectInternet(), 0);
        QCOMPARE(client->ReadControlFile(), 0);
        QVERIFY(client->RestartPending);
        QCOMPARE(
            client->UpdaterArguments(42),
            (QStringList{QStringLiteral("42"), app() + QStringLiteral("/my app/./quorlex 2004"),
                         QStringLiteral("quorlex_NEW"), QStringLiteral("--"),
                         QStringLiteral("-windowed"), QStringLiteral("a b")}));
    }

    // "{APP}" inside the folder it stands for is inserted once, not forever.
    void prefixInsideItsOwnValueEnds() {
        const QString odd = folders->root() + QStringLiteral("/x{APP}y");
        QDir().mkpath(odd);
        client->OwnExecutable = odd + QStringLiteral("/prog");
        QCOMPARE(client->ResolvePrefixes(QStringLiteral("{APP}\\a")),
                 odd + QStringLiteral("/.\\a"));
    }

    // The control file's time is read by TimeFormat.
    void timeFormatIsHonoured() {
        client->TimeFormat = QStringLiteral("nn:hh");
        QCOMPARE(client->ParseDateTime(QStringLiteral("01/02/2004"), QStringLiteral("30:10")),
                 QDateTime(QDate(2004, 2, 1), QTime(10, 30)));
        client->TimeFormat = QStringLiteral("hh:nn:ss");
        QCOMPARE(client->ParseDateTime(QStringLiteral("01/02/2004"), QStringLiteral("10:30:15")),
                 QDateTime(QDate(2004, 2, 1), QTime(10, 30, 15)));
    }

    // The result post names itself and sends the body as given.
    void resultPostAgentAndBody() {
        client->ResultPost.Server = QStringLiteral("127.0.0.1:%1").arg(http->Port());
        client->ResultPost.Action = QStringLiteral("echoagent");
        client->ResultPost.Data = QStringLiteral("a=1&b=2");
        client->PostUpdateResults();
        QCOMPARE(client->ResultPost.ResponseText,
                 QStringLiteral("agent:QuorlexUpdatePost body:a=1&b=2"));
        client->ResultPost.Data.clear();
        client->PostUpdateResults();
        QCOMPARE(client->ResultPost.ResponseText, QStringLiteral("agent:QuorlexUpdatePost body:"));
    }
};

QTEST_MAIN(UpdateAttackTest)
#include "UpdateAttackTest.moc"
