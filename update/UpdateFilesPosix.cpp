// The update's file work on POSIX systems: folders opened once and walked
// with openat, so a planted link cannot lead a write elsewhere.
#include "update/UpdateFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace update::files {

namespace {

QByteArray local(const QString& path) {
    return QFile::encodeName(path);
}

void setText(QString* out, int errnum) {
    if (out) *out = ErrorText(errnum);
}

// Flushes a folder's entry table, so a rename in it survives a crash.
void syncFolder(const QString& dir) {
    const int fd = ::open(local(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

QString MakePrivateFolder(QString* error, int* errnum) {
    QByteArray pattern =
        local(QDir(QDir::tempPath()).filePath(QStringLiteral("quorlex-update-XXXXXX")));
    if (!::mkdtemp(pattern.data())) {
        const int e = errno;
        setText(error, e);
        if (errnum) *errnum = e;
        return {};
    }
    return QFile::decodeName(pattern);
}

QString MakeFolderIn(const Folder& folder, const QString& prefix) {
    QByteArray pattern = local(folder.Path(prefix + QStringLiteral("XXXXXX")));
    return ::mkdtemp(pattern.data()) ? QFile::decodeName(pattern) : QString();
}

NewFile CreateNew(const QString& path, int mode) {
    NewFile f;
    f.path = path;
    f.fd =
        ::open(local(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (f.fd < 0) f.error = errno;
    return f;
}

bool ReplaceAtomically(const QString& temp, const QString& target, QString* error) {
    const QByteArray t = local(temp), to = local(target);
    mode_t mode = 0644;
    struct stat old {};
    if (::stat(to.constData(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) {
            ::unlink(t.constData());
            if (error) *error = QStringLiteral("not a plain file");
            return false;
        }
        // A new file never inherits set-user or set-group rights, even from the old one.
        mode = old.st_mode & 0777;
    }
    const int fd = ::open(t.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    int e = ok ? 0 : errno;
    if (fd >= 0) ::close(fd);
    if (ok && ::rename(t.constData(), to.constData()) != 0) {
        ok = false;
        e = errno;
    }
    if (!ok) {
        ::unlink(t.constData());
        setText(error, e);
        return false;
    }
    syncFolder(QFileInfo(target).absolutePath());
    return true;
}

QString Folder::Path(const QString& name) const {
    // The kernel's name for the opened folder itself: no part of the
    // folder's text is looked up again.
    const QString self = QStringLiteral("/proc/self/fd/%1").arg(fd_);
    return name.isEmpty() ? self : self + QLatin1Char('/') + name;
}

Folder OpenFolderInside(const QString& path, const QStringList& roots, bool create,
                        QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return Folder();
    };
    if (roots.isEmpty()) return fail(QStringLiteral("no folder may be written"));
    const QString wanted = QDir::cleanPath(
        path.isEmpty() ? roots.first() : QDir(roots.first()).absoluteFilePath(path));
    // The root as configured or as the system resolves it; below it, names only.
    QString root, rest;
    for (const QString& r : roots) {
        for (const QString& form :
             {QDir::cleanPath(QDir(r).absolutePath()), QFileInfo(r).canonicalFilePath()}) {
            if (form.isEmpty()) continue;
            if (wanted == form ||
                wanted.startsWith(form == QStringLiteral("/") ? form : form + QLatin1Char('/'))) {
                root = form;
                rest = wanted.mid(form.size());
                break;
            }
        }
        if (!root.isEmpty()) break;
    }
    if (root.isEmpty())
        return fail(QStringLiteral("target folder outside the program and game folders: ") +
                    wanted);
    int fd = ::open(local(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(root + QStringLiteral(": ") + ErrorText(errno));
    for (const QString& part : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const QByteArray name = local(part);
        int next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0 && errno == ENOENT && create && ::mkdirat(fd, name.constData(), 0755) == 0)
            next = ::openat(fd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int e = errno;
        ::close(fd);
        if (next < 0) {
            const bool link = e == ELOOP || e == ENOTDIR;
            return fail(link ? QStringLiteral("target folder reached through a symbolic link or a "
                                              "file: ") +
                                   wanted
                             : wanted + QStringLiteral(": ") + ErrorText(e));
        }
        fd = next;
    }
    return Folder(fd, wanted);
}

} // namespace update::files
