#include "platform/OsFolder.h"

#include <QFile>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::os {

namespace {

bool ReadAll(int fd, QByteArray& out, qint64 limit) {
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || out.size() + n > limit) return false;
        if (n == 0) return true;
        out.append(buffer, n);
    }
}

FileStatus StatusOf(const struct stat& st) {
    FileStatus s;
    s.regular = S_ISREG(st.st_mode);
    s.directory = S_ISDIR(st.st_mode);
    s.ours = st.st_uid == ::geteuid();
    s.mode = st.st_mode & 0777;
    s.mtimeMs = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
    return s;
}

int FdOf(qintptr handle) { return int(handle); }

// O_NONBLOCK: a FIFO in a name's place must not hang us; plain files ignore it.
int OpenIn(qintptr dir, const QByteArray& name, int flags) {
    return ::openat(FdOf(dir), name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

} // namespace

QByteArray EncodeName(const QString& name) { return QFile::encodeName(name); }
QString DecodeName(const QByteArray& name) { return QFile::decodeName(name); }

Folder::Folder(QString path)
    : path_(std::move(path)),
      handle_(::open(QFile::encodeName(path_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}

Folder::~Folder() {
    if (handle_ >= 0) ::close(FdOf(handle_));
}

bool Folder::IsOpen() const { return handle_ >= 0; }

std::optional<FileStatus> Folder::Stat(const QByteArray& name, bool follow) const {
    struct stat st;
    if (::fstatat(FdOf(handle_), name.constData(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
        return std::nullopt;
    return StatusOf(st);
}

bool Folder::Rename(const QByteArray& from, const QByteArray& to) const {
    return ::renameat(FdOf(handle_), from.constData(), FdOf(handle_), to.constData()) == 0;
}

bool Folder::Remove(const QByteArray& name) const {
    return ::unlinkat(FdOf(handle_), name.constData(), 0) == 0 || errno == ENOENT;
}

bool Folder::Sync() const { return ::fsync(FdOf(handle_)) == 0; }

std::optional<std::pair<QByteArray, FileStatus>> Folder::Read(const QByteArray& name,
                                                               qint64 limit) const {
    const int fd = OpenIn(handle_, name, O_RDONLY);
    if (fd < 0) return std::nullopt;
    std::pair<QByteArray, FileStatus> out;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAll(fd, out.first, limit);
    ::close(fd);
    if (!ok) return std::nullopt;
    out.second = StatusOf(st);
    return out;
}

bool Folder::WriteNew(const QByteArray& name, const QByteArray& bytes, unsigned mode) const {
    const int fd = ::openat(FdOf(handle_), name.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivate);
    if (fd < 0) return false;
    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += n;
    }
    ok = ok && ::fchmod(fd, mode_t(mode)) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) Remove(name);
    return ok;
}

bool Folder::Append(const QByteArray& name, const QByteArray& bytes) const {
    const int fd = OpenIn(handle_, name, O_WRONLY | O_APPEND);
    if (fd < 0) return false;
    const bool ok =
        ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() && ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool Folder::Chmod(const QByteArray& name, unsigned mode) const {
    const int fd = OpenIn(handle_, name, O_RDONLY);
    if (fd < 0) return false;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd, mode_t(mode)) == 0;
    ::close(fd);
    return ok;
}

std::vector<QByteArray> Folder::Names() const {
    std::vector<QByteArray> names;
    // A handle of its own, so that listing never moves this one's position.
    const int fd = ::openat(FdOf(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0) ::close(fd);
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    return names;
}

std::optional<std::pair<QByteArray, unsigned>> ReadPlainFile(const QString& path, qint64 limit) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st;
    std::pair<QByteArray, unsigned> out;
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAll(fd, out.first, limit);
    ::close(fd);
    if (!ok) return std::nullopt;
    out.second = st.st_mode & 0777;
    return out;
}

qint64 CurrentPid() { return ::getpid(); }

bool ProcessAlive(qint64 pid) {
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

std::optional<QDateTime> ProcessStart(qint64 pid) {
    QFile statFile(QStringLiteral("/proc/%1/stat").arg(pid));
    QFile bootFile(QStringLiteral("/proc/stat"));
    if (!statFile.open(QIODevice::ReadOnly) || !bootFile.open(QIODevice::ReadOnly)) return {};
    const QByteArray stat = statFile.readAll();
    // The command name may hold spaces and parentheses: fields count from the last ')'.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 20) return {};
    bool ok = false;
    const qint64 ticks = fields.at(19).toLongLong(&ok); // field 22, starttime
    if (!ok) return {};
    qint64 boot = -1;
    for (const QByteArray& line : bootFile.readAll().split('\n'))
        if (line.startsWith("btime ")) boot = line.mid(6).trimmed().toLongLong();
    const long hz = ::sysconf(_SC_CLK_TCK);
    if (boot < 0 || hz <= 0) return {};
    return QDateTime::fromMSecsSinceEpoch(boot * 1000 + ticks * 1000 / hz);
}

// A umask(0) for a moment would let a file another thread makes meanwhile
// be created wider, so /proc tells it.
unsigned CurrentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok) return mask;
            }
    return 077; // unknown: as strict as can be
}

} // namespace platform::os
