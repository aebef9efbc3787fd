#include "platform/FileJournal.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::journal {

namespace {

// ---- the few system calls, in one place ----

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

constexpr mode_t kPrivate = S_IRUSR | S_IWUSR;
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
constexpr qint64 kMaxJournal = 1 << 20;

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

// The process's umask, read without changing it: a umask(0) for a moment
// would let a file another thread makes meanwhile be created wider.
mode_t CurrentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok) return mode_t(mask);
            }
    return 077; // unknown: as strict as can be
}

// A folder opened once. Every name in it is looked up and changed through
// this handle, never through the folder's path again, and a name that is a
// symbolic link is never followed.
class Folder {
public:
    explicit Folder(QString path)
        : path_(std::move(path)),
          fd_(::open(Native(path_).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~Folder() {
        if (fd_ >= 0) ::close(fd_);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    const QString& Path() const { return path_; }

    std::optional<struct stat> Stat(const QByteArray& name, bool follow = false) const {
        struct stat st;
        if (::fstatat(fd_, name.constData(), &st, follow ? 0 : AT_SYMLINK_NOFOLLOW) != 0)
            return std::nullopt;
        return st;
    }
    bool Exists(const QByteArray& name) const { return Stat(name).has_value(); }
    bool Rename(const QByteArray& from, const QByteArray& to) const {
        return ::renameat(fd_, from.constData(), fd_, to.constData()) == 0;
    }
    bool Remove(const QByteArray& name) const {
        return ::unlinkat(fd_, name.constData(), 0) == 0 || errno == ENOENT;
    }
    // A rename or a new name is only durable once its folder is synced.
    bool Sync() const { return ::fsync(fd_) == 0; }
    // O_NONBLOCK: a FIFO in a name's place must not hang us; plain files ignore it.
    int Open(const QByteArray& name, int flags) const {
        return ::openat(fd_, name.constData(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }

    // A plain file's bytes, with its status as read through the same handle.
    std::optional<std::pair<QByteArray, struct stat>> Read(const QByteArray& name,
                                                           qint64 limit) const {
        const int fd = Open(name, O_RDONLY);
        if (fd < 0) return std::nullopt;
        std::pair<QByteArray, struct stat> out;
        const bool ok = ::fstat(fd, &out.second) == 0 && S_ISREG(out.second.st_mode) &&
                        ReadAll(fd, out.first, limit);
        ::close(fd);
        if (!ok) return std::nullopt;
        return out;
    }

    // Writes a new file that must not exist yet and makes its bytes durable.
    // It is private while it is being written and gets `mode` only once whole.
    bool WriteNew(const QByteArray& name, const QByteArray& bytes, mode_t mode) const {
        const int fd = ::openat(fd_, name.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivate);
        if (fd < 0) return false;
        bool ok = true;
        for (qsizetype done = 0; ok && done < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR) continue;
            ok = n > 0;
            if (ok) done += n;
        }
        ok = ok && ::fchmod(fd, mode) == 0;
        ok = ok && ::fsync(fd) == 0;
        ok = ::close(fd) == 0 && ok;
        if (!ok) Remove(name);
        return ok;
    }

    bool Append(const QByteArray& name, const QByteArray& bytes) const {
        const int fd = Open(name, O_WRONLY | O_APPEND);
        if (fd < 0) return false;
        const bool ok = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size() &&
                        ::fsync(fd) == 0;
        ::close(fd);
        return ok;
    }

    bool Chmod(const QByteArray& name, mode_t mode) const {
        const int fd = Open(name, O_RDONLY);
        if (fd < 0) return false;
        struct stat st;
        const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::fchmod(fd, mode) == 0;
        ::close(fd);
        return ok;
    }

    std::vector<QByteArray> Names() const {
        std::vector<QByteArray> names;
        // A handle of its own, so that listing never moves this one's position.
        const int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
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

private:
    QString path_;
    int fd_;
};

// The player's own file: his, a plain file, and writable by no one else. In a
// folder others can write, a journal or a staged copy that is anything else
// may have been put there to make us move or remove files for them.
bool OwnFile(const struct stat& st) {
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & kOthersWrite) == 0;
}

// A name of a file directly in its folder: no path, no way up.
bool PlainName(const QByteArray& name) {
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\0');
}

// A source is read through its own handle, and its mode is that handle's.
std::optional<std::pair<QByteArray, mode_t>> ReadSource(const QString& path) {
    const int fd = ::open(Native(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st;
    std::pair<QByteArray, mode_t> out;
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    ReadAll(fd, out.first, std::numeric_limits<qint64>::max() / 2);
    ::close(fd);
    if (!ok) return std::nullopt;
    out.second = st.st_mode & 0777;
    return out;
}

bool ProcessAlive(qint64 pid) {
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// When a process started, from /proc; nothing where that is unknown.
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

// ---- names ----

const QRegularExpression& TemporaryPattern() {
    static const QRegularExpression re(
        QStringLiteral("^(.+)\\.quorlex-(\\d{1,10})-(\\d{1,10})\\.(new|old|journal)$"));
    return re;
}

QByteArray Tag(qint64 pid, int seq) {
    return ".quorlex-" + QByteArray::number(pid) + '-' + QByteArray::number(seq);
}

// A temporary file is ours to remove when the process that made it has
// ended, or when it is older than the process now holding its number.
bool OwnerEnded(qint64 pid, const QDateTime& written) {
    const auto startedLater = [&] {
        const auto start = ProcessStart(pid);
        return start && written < start->addSecs(-2); // /proc's boot time is whole seconds
    };
    if (pid == ::getpid()) return startedLater();
    return !ProcessAlive(pid) || startedLater();
}

// ---- steps, for crash tests ----

std::function<void(int)>& Hook() {
    static std::function<void(int)> hook;
    return hook;
}
int& StepCount() {
    static int count = 0;
    return count;
}
void Step() {
    if (Hook()) Hook()(++StepCount());
}

// ---- the journal ----

// ---- the journal ----

// One target of a change and its two temporary names, all in one folder.
// The temporary names are the target's with the change's tag, so that a
// journal needs to name the target only.
struct Entry {
    const Folder* dir = nullptr;
    QByteArray target, staged, old;
    bool hadTarget = false;
    qint64 size = 0;
    QByteArray sha1; // hex
    mode_t mode = 0; // of the new version once it is in place
};

Entry Named(const Folder& dir, const QByteArray& target, const QByteArray& tag) {
    Entry e;
    e.dir = &dir;
    e.target = target;
    e.staged = target + tag + ".new";
    e.old = target + tag + ".old";
    return e;
}

QByteArray Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

// A journal names files of its own folder only, by their names.
QByteArray JournalText(const std::vector<const Entry*>& entries) {
    QByteArray text = "quorlex replace 2\n";
    for (const Entry* e : entries)
        text += QByteArray(e->hadTarget ? "1" : "0") + '\t' + QByteArray::number(e->size) + '\t' +
                e->sha1 + '\t' + e->target.toPercentEncoding() + '\n';
    return text + "end " + Hex(text) + '\n';
}

struct Journal {
    std::vector<Entry> entries;
    bool complete = false; // false: torn, never committed
    bool rollingBack = false;
    bool foreign = false; // names something that is not a file of its folder
};

Journal ParseJournal(const QByteArray& text, const Folder& dir, const QByteArray& tag) {
    Journal j;
    const bool v1 = text.startsWith("quorlex replace 1\n");
    const qsizetype end = text.lastIndexOf("\nend ");
    if ((!v1 && !text.startsWith("quorlex replace 2\n")) || end < 0) return j;
    const QByteArray body = text.left(end + 1);
    const QList<QByteArray> tail = text.mid(end + 1).split('\n');
    if (tail.at(0) != "end " + Hex(body)) return j;
    j.rollingBack = tail.size() > 1 && tail.at(1) == "rollback";
    // Earlier builds wrote whole paths; such a path counts only when it is
    // a file of this very folder, and then only its name is used.
    const QString prefix =
        QDir::cleanPath(QFileInfo(dir.Path()).absoluteFilePath()) + QLatin1Char('/');
    const auto nameIn = [&](const QByteArray& field) {
        QByteArray name = QByteArray::fromPercentEncoding(field);
        if (v1) {
            const QString path = QString::fromUtf8(name);
            name = path.startsWith(prefix) ? Native(path.mid(prefix.size())) : QByteArray();
        }
        return PlainName(name) ? name : QByteArray();
    };
    const QList<QByteArray> lines = body.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).isEmpty()) continue;
        const QList<QByteArray> f = lines.at(i).split('\t');
        if (f.size() != (v1 ? 6 : 4)) return {};
        const QByteArray target = nameIn(f.at(3));
        Entry e = Named(dir, target, tag);
        if (target.isEmpty() || (v1 && (nameIn(f.at(4)) != e.staged || nameIn(f.at(5)) != e.old))) {
            j.foreign = true;
            return j;
        }
        e.hadTarget = f.at(0) == "1";
        e.size = f.at(1).toLongLong();
        e.sha1 = f.at(2);
        j.entries.push_back(e);
    }
    j.complete = !j.entries.empty();
    return j;
}

void SyncDirsOf(const std::vector<Entry>& entries) {
    std::vector<const Folder*> done;
    for (const Entry& e : entries)
        if (std::find(done.begin(), done.end(), e.dir) == done.end()) {
            done.push_back(e.dir);
            e.dir->Sync();
        }
}

// Puts every old version back. Each step leaves a state this same routine
// can finish from, so a crash while undoing is undone at the next start.
bool RollBack(const std::vector<Entry>& entries) {
    bool ok = true;
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        if (e->dir->Exists(e->old)) {
            ok = e->dir->Rename(e->old, e->target) && ok;
            Step();
        } else if (!e->hadTarget && !e->dir->Exists(e->staged) && e->dir->Exists(e->target)) {
            ok = e->dir->Remove(e->target) && ok; // a file this change created
            Step();
        }
    }
    SyncDirsOf(entries);
    for (const Entry& e : entries)
        if (e.dir->Exists(e.staged)) {
            ok = e.dir->Remove(e.staged) && ok;
            Step();
        }
    SyncDirsOf(entries);
    return ok;
}

// Moves every staged version into place, then drops the old ones. The old
// versions go only once every rename is durable.
bool RollForward(const std::vector<Entry>& entries) {
    for (const Entry& e : entries)
        if (e.dir->Exists(e.staged)) {
            if (!e.dir->Rename(e.staged, e.target)) return false;
            Step();
        }
    SyncDirsOf(entries);
    Step();
    bool ok = true;
    for (const Entry& e : entries)
        if (e.dir->Exists(e.old)) {
            ok = e.dir->Remove(e.old) && ok;
            Step();
        }
    return ok;
}

// A staged version is whole, or already in place. Anything else (a file
// removed by someone else, a disk that lost it) means undoing instead.
bool StagedIntact(const Entry& e) {
    const auto file = e.dir->Read(e.dir->Exists(e.staged) ? e.staged : e.target, e.size);
    return file && file->first.size() == e.size && Hex(file->first) == e.sha1;
}

// What a recovery may move: a staged copy of the player's own, an old
// version that is a plain file. A link is never moved into a target's place.
bool Movable(const Entry& e) {
    const auto staged = e.dir->Stat(e.staged);
    const auto old = e.dir->Stat(e.old);
    return (!staged || OwnFile(*staged)) && (!old || S_ISREG(old->st_mode));
}

enum class Outcome { Settled, Unfinished, LeftAlone };

Outcome RecoverJournal(const Folder& dir, const QByteArray& name, const QByteArray& tag) {
    const auto file = dir.Read(name, kMaxJournal);
    if (!file || !OwnFile(file->second)) return Outcome::LeftAlone;
    const Journal j = ParseJournal(file->first, dir, tag);
    if (j.foreign || !std::all_of(j.entries.begin(), j.entries.end(), Movable))
        return Outcome::LeftAlone;
    bool ok = true;
    if (j.complete) {
        const bool intact = std::all_of(j.entries.begin(), j.entries.end(), StagedIntact);
        ok = !j.rollingBack && intact ? RollForward(j.entries) : RollBack(j.entries);
    }
    // A torn journal was never committed: no target was touched, and its
    // staged files go with the other temporary files.
    if (!ok) return Outcome::Unfinished;
    dir.Sync();
    const bool removed = dir.Remove(name);
    dir.Sync();
    Step();
    return removed ? Outcome::Settled : Outcome::Unfinished;
}

QStringList RecoverDir(const QString& path) {
    if (path.isEmpty()) return {};
    const Folder dir(path);
    if (!dir.IsOpen()) return {};
    struct Found {
        QByteArray name, tag;
        bool journal;
    };
    std::vector<Found> stale;
    for (const QByteArray& name : dir.Names()) {
        const auto m = TemporaryPattern().match(QFile::decodeName(name));
        if (!m.hasMatch()) continue;
        const auto st = dir.Stat(name);
        if (!st) continue;
        const QDateTime written = QDateTime::fromMSecsSinceEpoch(qint64(st->st_mtim.tv_sec) * 1000 +
                                                                 st->st_mtim.tv_nsec / 1000000);
        if (!OwnerEnded(m.captured(2).toLongLong(), written)) continue;
        stale.push_back(
            {name,
             (QStringLiteral(".quorlex-") + m.captured(2) + QLatin1Char('-') + m.captured(3))
                 .toLatin1(),
             m.captured(4) == QLatin1String("journal")});
    }
    QSet<QByteArray> kept; // changes whose journal is not finished keep their files
    QStringList leftAlone;
    for (const Found& f : stale) {
        if (!f.journal) continue;
        const Outcome outcome = RecoverJournal(dir, f.name, f.tag);
        if (outcome != Outcome::Settled) kept.insert(f.tag);
        if (outcome == Outcome::LeftAlone) leftAlone << QFile::decodeName(f.name);
    }
    bool removed = false;
    for (const Found& f : stale) {
        if (f.journal || kept.contains(f.tag)) continue;
        // Only what the player's own runs left; anyone else's stays.
        const auto st = dir.Stat(f.name);
        if (!st || !S_ISREG(st->st_mode) || st->st_uid != ::geteuid()) continue;
        dir.Remove(f.name);
        removed = true;
        Step();
    }
    if (removed) dir.Sync();
    return leftAlone;
}

std::atomic<int>& Sequence() {
    static std::atomic<int> seq{0};
    return seq;
}

// Where the write goes: a symbolic link's target is replaced, not the link.
QString ResolvedTarget(const QString& target) {
    const QFileInfo info(target);
    return info.isSymLink() ? info.symLinkTarget() : info.absoluteFilePath();
}

} // namespace

bool IsTemporaryName(const QString& fileName) {
    return TemporaryPattern().match(fileName).hasMatch();
}

void SetStepHookForTesting(std::function<void(int)> hook) {
    Hook() = std::move(hook);
}

QStringList Recover(const QString& dir) {
    StepCount() = 0;
    return RecoverDir(dir);
}

bool Replace(const std::vector<std::pair<QString, QString>>& sourceToTarget) {
    StepCount() = 0;
    if (sourceToTarget.empty()) return true;
    const QByteArray tag = Tag(::getpid(), ++Sequence());
    // Whatever an ended run left here is finished before anything new
    // starts, and before the sources are read: a source may be one of the
    // files that run was replacing (a backup taken of User.ini).
    QStringList dirs;
    for (const auto& [source, target] : sourceToTarget)
        for (const QString& d :
             {QFileInfo(ResolvedTarget(target)).absolutePath(), QFileInfo(source).absolutePath()})
            if (!dirs.contains(d)) dirs << d;
    for (const QString& d : dirs)
        RecoverDir(d);

    std::map<QString, std::unique_ptr<Folder>> folders;
    std::vector<const Folder*> order; // by their first target
    std::vector<Entry> entries;
    std::vector<QByteArray> contents;
    const mode_t umask = CurrentUmask();
    for (const auto& [source, target] : sourceToTarget) {
        const QFileInfo info(ResolvedTarget(target));
        auto& folder = folders[info.absolutePath()];
        if (!folder) {
            folder = std::make_unique<Folder>(info.absolutePath());
            if (!folder->IsOpen()) return false;
            order.push_back(folder.get());
        }
        Entry e = Named(*folder, Native(info.fileName()), tag);
        if (!PlainName(e.target)) return false;
        for (const Entry& other : entries)
            if (other.dir == e.dir && other.target == e.target) return false;
        const auto now = folder->Stat(e.target, /*follow=*/true);
        if (now && S_ISDIR(now->st_mode)) return false; // a folder in the way
        e.hadTarget = folder->Exists(e.target);
        auto in = ReadSource(source);
        if (!in) return false;
        // A copy is never more open than the file it copies: a target keeps
        // its mode, narrowed to the source's, and a new one gets the source's
        // as any new file would. A read-only target is replaced all the same.
        e.mode =
            ((now && S_ISREG(now->st_mode) ? now->st_mode : ~umask) & in->second & 0777) | S_IWUSR;
        e.size = in->first.size();
        e.sha1 = Hex(in->first);
        entries.push_back(e);
        contents.push_back(std::move(in->first));
    }
    const bool journaled = entries.size() > 1;
    const auto discardStaged = [&] {
        for (const Entry& e : entries)
            e.dir->Remove(e.staged);
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        // A staged copy under a journal is writable by its owner alone, or a
        // recovery would not trust it; the target gets such bits back once
        // it is in place.
        const mode_t mode = journaled ? entries[i].mode & ~kOthersWrite : entries[i].mode;
        if (!entries[i].dir->WriteNew(entries[i].staged, contents[i], mode)) {
            discardStaged();
            return false;
        }
        Step();
    }
    if (!journaled) { // one rename is atomic by itself
        const Entry& e = entries[0];
        const bool ok = e.dir->Rename(e.staged, e.target);
        if (!ok) e.dir->Remove(e.staged);
        e.dir->Sync();
        Step();
        return ok;
    }

    SyncDirsOf(entries);
    Step();
    // One journal in each folder, naming that folder's targets only.
    const QByteArray journal = "replace" + tag + ".journal";
    const auto dropJournals = [&] {
        for (const Folder* f : order) {
            f->Remove(journal);
            f->Sync();
        }
    };
    for (const Folder* f : order) {
        std::vector<const Entry*> own;
        for (const Entry& e : entries)
            if (e.dir == f) own.push_back(&e);
        if (!f->WriteNew(journal, JournalText(own), kPrivate) || !f->Sync()) {
            dropJournals();
            discardStaged();
            return false;
        }
        Step(); // from here on, a crash completes the change in this folder
    }

    bool ok = true;
    for (const Entry& e : entries) {
        if (e.hadTarget && e.dir->Exists(e.target)) {
            ok = e.dir->Rename(e.target, e.old);
            if (!ok) break;
            Step();
        }
        ok = e.dir->Rename(e.staged, e.target);
        if (!ok) break;
        Step();
    }
    if (!ok) {
        // Mark the journals first, so that a crash while undoing goes on undoing.
        for (const Folder* f : order)
            f->Append(journal, "rollback\n");
        if (RollBack(entries)) dropJournals();
        return false;
    }
    SyncDirsOf(entries);
    Step();
    for (const Entry& e : entries)
        if (e.mode & kOthersWrite) e.dir->Chmod(e.target, e.mode);
    for (const Entry& e : entries)
        if (e.hadTarget) {
            e.dir->Remove(e.old);
            Step();
        }
    dropJournals();
    Step();
    return true;
}

} // namespace platform::journal
