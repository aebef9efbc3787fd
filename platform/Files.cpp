#include "platform/Files.h"

#include "platform/FileJournal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <cerrno>
#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

namespace {
QDate& fakeToday() {
    static QDate d;
    return d;
}

// The file's bytes on the disk, not only in the system's cache.
bool SyncToDisk(int fd) {
#ifdef Q_OS_WIN
    return FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(fd))) != FALSE;
#else
    return ::fsync(fd) == 0;
#endif
}
} // namespace

bool ReplaceFiles(const std::vector<std::pair<QString, QString>>& sourceToTarget) {
    return journal::Replace(sourceToTarget);
}

bool ExchangeFiles(const std::vector<std::pair<QString, QString>>& pairs) {
    std::vector<std::pair<QString, QString>> swaps;
    for (const auto& [a, b] : pairs) {
        swaps.emplace_back(b, a);
        swaps.emplace_back(a, b);
    }
    return journal::Replace(swaps);
}

bool ExchangeFiles(const QString& a, const QString& b) { return ExchangeFiles({{a, b}}); }

QStringList RecoverInterruptedReplacements(const QString& dir) {
    return journal::Recover(dir);
}

bool WriteNewFile(const QString& path, const QByteArray& bytes,
                  QFileDevice::Permissions permissions) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions)) return false;
    const bool ok = f.write(bytes) == bytes.size() && f.flush() && SyncToDisk(f.handle());
    f.close();
    if (!ok || f.error() != QFileDevice::NoError) {
        f.remove();
        return false;
    }
    return true;
}

bool MakePrivateFolder(const QString& path) {
    constexpr auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    constexpr auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                            QFileDevice::ExeGroup | QFileDevice::ReadOther |
                            QFileDevice::WriteOther | QFileDevice::ExeOther;
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    QStringList missing;
    for (QString at = clean; !QFileInfo::exists(at) && !missing.contains(at);
         at = QFileInfo(at).path())
        missing.prepend(at);
    for (const QString& dir : missing)
        if (!QDir().mkdir(dir, owner) && !QFileInfo(dir).isDir()) return false;
    const QFileInfo info(clean);
    if (!info.isDir()) return false;
    // One an earlier build made readable by everyone.
    if (info.permissions() & others) QFile::setPermissions(clean, owner);
    return true;
}

#ifdef Q_OS_WIN
bool WriteOwnFile(const QString& path, const QByteArray& data) {
    // The profile's folders are the user's own; a new file inherits that.
    const QFileInfo target(path);
    QString temp;
    QFile f;
    for (int attempt = 0; attempt < 100 && !f.isOpen(); ++attempt) {
        temp =
            target.absoluteDir().filePath(QStringLiteral(".%1.%2.tmp")
                                              .arg(target.fileName())
                                              .arg(QRandomGenerator::global()->generate(), 0, 36));
        f.setFileName(temp);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly) && !QFileInfo::exists(temp))
            return false;
    }
    if (!f.isOpen()) return false;
    bool ok = f.write(data) == data.size() && f.flush() && SyncToDisk(f.handle());
    f.close();
    ok = ok && MoveFileExW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(temp).utf16()),
                           reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) QFile::remove(temp);
    return ok;
}
#else
bool WriteOwnFile(const QString& path, const QByteArray& data) {
    const QFileInfo target(path);
    const QByteArray to = QFile::encodeName(path);
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = QFile::encodeName(
            target.absoluteDir().filePath(QStringLiteral(".%1.%2.tmp")
                                              .arg(target.fileName())
                                              .arg(QRandomGenerator::global()->generate(), 0, 36)));
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    const char* at = data.constData();
    qint64 left = data.size();
    bool ok = true;
    while (ok && left > 0) {
        const ssize_t n = ::write(fd, at, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        at += n;
        left -= n;
    }
    // Exactly 0600, whatever the umask made of it.
    ok = ok && ::fchmod(fd, 0600) == 0 && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.constData(), to.constData()) == 0) return true;
    ::unlink(temp.constData());
    return false;
}
#endif

QDate LastWriteDate(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.lastModified().date() : QDate();
}

QString FindIgnoringCase(const QString& dir, const QString& name) {
    const QDir d(dir);
    for (const QString& entry : d.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (entry.compare(name, Qt::CaseInsensitive) == 0) return d.filePath(entry);
    return d.filePath(name);
}

QString DashedDateFormat(const QString& shortFormat) {
    // Keep the fields of the format (d, M, y runs) in their order and put
    // "-" between them, whatever separators the locale uses.
    QString format;
    QChar last;
    for (const QChar c : shortFormat) {
        const bool field = c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y');
        if (!field) {
            last = QChar();
            continue;
        }
        if (c != last && !format.isEmpty() && !format.endsWith(QLatin1Char('-'))) format += QLatin1Char('-');
        format += c;
        last = c;
    }
    if (format.count(QLatin1Char('d')) == 0 || format.count(QLatin1Char('M')) == 0 || format.count(QLatin1Char('y')) == 0)
        format = QStringLiteral("d-M-yyyy");
    // Names of months or days would bring letters of the locale: numbers only.
    format.replace(QStringLiteral("dddd"), QStringLiteral("dd")).replace(QStringLiteral("ddd"), QStringLiteral("dd"));
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MM")).replace(QStringLiteral("MMM"), QStringLiteral("MM"));
    return format;
}

QString DateText(const QDate& date, const QString& shortFormat) {
    return QLocale::c().toString(date, DashedDateFormat(shortFormat));
}

QString ShortDateFormat() { return DashedDateFormat(QLocale::system().dateFormat(QLocale::ShortFormat)); }

QString DateText(const QDate& date) { return DateText(date, QLocale::system().dateFormat(QLocale::ShortFormat)); }

QDate Today() { return fakeToday().isValid() ? fakeToday() : QDate::currentDate(); }

void SetTodayForTesting(const QDate& date) { fakeToday() = date; }

bool IsReadOnlyFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) return false;
    const auto writeBits = QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther;
    return !(info.permissions() & writeBits) || !info.isWritable();
}

} // namespace platform
