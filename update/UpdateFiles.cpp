#include "update/UpdateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sodium.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace update::files {

QString ErrorText(int errnum) {
    return QString::fromLocal8Bit(std::strerror(errnum));
}

void RemovePrivateFolder(const QString& dir) {
    if (dir.isEmpty()) return;
    // QDir::removeRecursively removes links, never what they point to.
    QDir(dir).removeRecursively();
}

NewFile CreateTempIn(const QString& dir, const QString& prefix) {
    NewFile f;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = QStringLiteral("%1%2.tmp")
                                 .arg(prefix, QString::number(randombytes_uniform(0x7fffffff), 36));
        f = CreateNew(QDir(dir.isEmpty() ? QStringLiteral(".") : dir).filePath(name));
        if (f.fd >= 0 || f.error != EEXIST) return f;
    }
    return f;
}

bool WriteAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= n;
    }
    return true;
}

QByteArray Sha256OfFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || sodium_init() < 0) return {};
    crypto_hash_sha256_state state;
    crypto_hash_sha256_init(&state);
    for (;;) {
        const QByteArray block = f.read(65536);
        if (block.isEmpty()) break;
        crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(block.constData()),
                                  static_cast<unsigned long long>(block.size()));
    }
    if (f.error() != QFileDevice::NoError) return {};
    unsigned char digest[crypto_hash_sha256_BYTES];
    crypto_hash_sha256_final(&state, digest);
    return QByteArray(reinterpret_cast<const char*>(digest), sizeof digest).toHex();
}

bool LooksLikeHtml(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    QByteArray head = f.read(512).trimmed().toLower();
    if (head.startsWith("\xef\xbb\xbf")) head = head.mid(3).trimmed();
    return head.startsWith("<!doctype html") || head.startsWith("<html") ||
           head.startsWith("<head") || head.startsWith("<body") ||
           (head.startsWith("<?xml") && head.contains("<html"));
}

bool IsInside(const QString& path, const QStringList& folders) {
    const QFileInfo info(path);
    // What exists of the path is taken with its links resolved; the rest is plain names.
    QString existing = QDir::cleanPath(info.absoluteFilePath());
    QString rest;
    while (!existing.isEmpty() && !QFileInfo::exists(existing)) {
        const qsizetype slash = existing.lastIndexOf(QLatin1Char('/'));
        if (slash <= 0) break;
        rest.prepend(existing.mid(slash));
        existing.truncate(slash);
    }
    QString real = QFileInfo(existing).canonicalFilePath();
    if (real.isEmpty()) return false;
    real = QDir::cleanPath(real + rest);
    for (const QString& folder : folders) {
        const QString root = QFileInfo(folder).canonicalFilePath();
        if (root.isEmpty()) continue;
        if (real == root || real.startsWith(root + QLatin1Char('/'))) return true;
    }
    return false;
}

Folder::Folder(int fd, QString shown) : fd_(fd), shown_(std::move(shown)) {}

Folder::Folder(Folder&& other) noexcept : fd_(other.fd_), shown_(std::move(other.shown_)) {
    other.fd_ = -1;
}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        shown_ = std::move(other.shown_);
        other.fd_ = -1;
    }
    return *this;
}

Folder::~Folder() {
    if (fd_ >= 0) ::close(fd_);
}

QString Folder::Shown(const QString& name) const {
    return name.isEmpty() ? shown_ : QDir(shown_).filePath(name);
}

} // namespace update::files
