#pragma once
// What the update client's tests share: a scratch site and program folder,
// a client pointed at them, and control files signed with the demo key.
#include "tests/support/GameFolder.h"
#include "update/TUpdateClient.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUuid>
#include <csignal>
#include <memory>
#include <sodium.h>

namespace testsupport {

// What {APP}, {TMP} and the other folder prefixes stand for: a folder on a
// drive as it is ("C:/Games"), any other with "/." after it.
inline QString PrefixFolder(const QString& dir) {
    return dir.size() > 2 && dir[1] == QLatin1Char(':') ? dir : dir + QStringLiteral("/.");
}

inline QString DemoKeyFile(const char* suffix) {
    return SourceDir() + QStringLiteral("/demo/demo-update-key.") + QLatin1String(suffix);
}
inline QString DemoPublicKey() {
    QFile f(DemoKeyFile("pub"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// The control file's line naming a file's SHA-256, which a component needs.
inline QByteArray Sha256Line(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return "sha256=" + QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex() + "\r\n";
}

// Signing times of this process: each later than the one before, and
// later than any earlier run's, so no test file looks replayed by accident.
inline qint64 NextSigningTime() {
    static qint64 t = QDateTime::currentSecsSinceEpoch();
    return ++t;
}

// A .minisig beside `path`, made as `minisign -S` makes it, with the demo
// key (unencrypted on purpose) and "timestamp:<seconds>" as trusted comment.
// A negative timestamp leaves the signing time out.
// `extra`: further tab-separated fields of the trusted comment.
inline void Sign(const QString& path, qint64 timestamp = NextSigningTime(), bool prehashed = true,
                 const QByteArray& extra = {}) {
    QFile keyFile(DemoKeyFile("key"));
    keyFile.open(QIODevice::ReadOnly);
    const QByteArray raw = QByteArray::fromBase64(keyFile.readAll().split('\n').value(1).trimmed());
    // "Ed", no KDF, "B2", salt 32, opslimit 8, memlimit 8, then key id 8 and secret key 64.
    const auto* keyId = reinterpret_cast<const unsigned char*>(raw.constData()) + 54;
    const auto* sk = keyId + 8;
    QFile data(path);
    data.open(QIODevice::ReadOnly);
    const QByteArray bytes = data.readAll();
    if (sodium_init() < 0) return;
    unsigned char sig[64];
    if (prehashed) {
        unsigned char hash[64];
        crypto_generichash(hash, sizeof hash,
                           reinterpret_cast<const unsigned char*>(bytes.constData()),
                           static_cast<unsigned long long>(bytes.size()), nullptr, 0);
        crypto_sign_detached(sig, nullptr, hash, sizeof hash, sk);
    } else {
        crypto_sign_detached(sig, nullptr,
                             reinterpret_cast<const unsigned char*>(bytes.constData()),
                             static_cast<unsigned long long>(bytes.size()), sk);
    }
    const QByteArray file = "file:" + QFile::encodeName(QFileInfo(path).fileName());
    const QByteArray comment =
        (timestamp < 0 ? file : "timestamp:" + QByteArray::number(timestamp) + "\t" + file) +
        (extra.isEmpty() ? QByteArray() : "\t" + extra);
    const QByteArray signedPart = QByteArray(reinterpret_cast<const char*>(sig), 64) + comment;
    unsigned char global[64];
    crypto_sign_detached(global, nullptr,
                         reinterpret_cast<const unsigned char*>(signedPart.constData()),
                         static_cast<unsigned long long>(signedPart.size()), sk);
    const QByteArray line = QByteArray(prehashed ? "ED" : "Ed") +
                            QByteArray(reinterpret_cast<const char*>(keyId), 8) +
                            QByteArray(reinterpret_cast<const char*>(sig), 64);
    WriteAll(path + QStringLiteral(".minisig"),
             "untrusted comment: signature from the demo key\n" + line.toBase64() +
                 "\ntrusted comment: " + comment + "\n" +
                 QByteArray(reinterpret_cast<const char*>(global), 64).toBase64() + "\n");
}

inline void WriteSigned(const QString& path, const QByteArray& data) {
    WriteAll(path, data);
    Sign(path);
}

// The scratch folders of one test: site/ (where files come from), app/ (the
// current folder, {APP}) and tmp/ (TMPDIR), removed afterwards.
// Ends every process of ours started from `program` (a test's own copy).
inline void KillProgramsOf(const QString& program) {
#ifdef _WIN32
    // Windows names a program by its image: the stand-ins end that way.
    QProcess::execute(QStringLiteral("taskkill"),
                      {QStringLiteral("/F"), QStringLiteral("/IM"), QFileInfo(program).fileName()});
#else
    const QString wanted = QFileInfo(program).canonicalFilePath();
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs))
        if (pid.toInt() > 0 &&
            QFileInfo(QStringLiteral("/proc/") + pid + QStringLiteral("/exe")).symLinkTarget() ==
                wanted)
            ::kill(pid.toInt(), SIGKILL);
#endif
}

class UpdateFolders {
public:
    UpdateFolders() {
        root_ = std::make_unique<QTemporaryDir>();
        for (const char* d : {"site", "app", "tmp"})
            QDir().mkpath(root_->filePath(QLatin1String(d)));
        qputenv("TMPDIR", root_->filePath(QStringLiteral("tmp")).toLocal8Bit());
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(app());
    }
    ~UpdateFolders() {
        QDir::setCurrent(oldCwd_);
        qunsetenv("TMPDIR");
    }
    QString root() const { return root_->path(); }
    QString site() const { return root_->filePath(QStringLiteral("site")); }
    QString app() const { return root_->filePath(QStringLiteral("app")); }
    QString control() const { return site() + QStringLiteral("/quorlex2004.inf"); }

    // A client that copies from site/ into app/, trusts the demo key and
    // keeps its signing times under a key of its own.
    void Configure(update::TUpdateClient& c) const {
        c.UpdateType = update::fileUpdate;
        c.URL = control();
        c.TempDirectory = app();
        c.LogDirectory = app();
        c.PublicKey = DemoPublicKey();
        c.SignatureMemoryKey =
            QStringLiteral("Software\\QuorlexTest\\") + QUuid::createUuid().toString(QUuid::Id128);
        c.AllowedFolders = {app()};
        // {APP}: the folder of the program, not the current one.
        c.OwnExecutable = app() + QStringLiteral("/quorlex2004");
    }

private:
    std::unique_ptr<QTemporaryDir> root_;
    QString oldCwd_;
};

} // namespace testsupport
