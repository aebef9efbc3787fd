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
#include <fcntl.h>
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

bool Exists(const QString& path) {
    struct stat st;
    return ::lstat(Native(path).constData(), &st) == 0;
}

bool RenameOver(const QString& from, const QString& to) {
    return ::rename(Native(from).constData(), Native(to).constData()) == 0;
}

bool RemoveFile(const QString& path) {
    return ::unlink(Native(path).constData()) == 0 || errno == ENOENT;
}

// A rename or a new name is only durable once its folder is synced.
bool SyncDir(const QString& dir) {
    const int fd = ::open(Native(dir).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Writes a new file that must not exist yet, and makes its bytes durable.
bool WriteDurable(const QString& path, const QByteArray& bytes, std::optional<mode_t> mode) {
    const int fd = ::open(Native(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = true;
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += n;
    }
    if (ok && mode) ok = ::fchmod(fd, *mode) == 0;
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) ::unlink(Native(path).constData());
    return ok;
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

QString Tag(qint64 pid, int seq) {
    return QStringLiteral(".quorlex-%1-%2").arg(pid).arg(seq);
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

struct Entry {
    QString target, staged, old;
    bool hadTarget = false;
    qint64 size = 0;
    QByteArray sha1; // hex
};

QByteArray Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

QByteArray JournalText(const std::vector<Entry>& entries) {
    QByteArray text = "quorlex replace 1\n";
    for (const Entry& e : entries)
        text += QByteArray(e.hadTarget ? "1" : "0") + '\t' + QByteArray::number(e.size) + '\t' +
                e.sha1 + '\t' + e.target.toUtf8().toPercentEncoding() + '\t' +
                e.staged.toUtf8().toPercentEncoding() + '\t' + e.old.toUtf8().toPercentEncoding() +
                '\n';
    return text + "end " + Hex(text) + '\n';
}

struct Journal {
    std::vector<Entry> entries;
    bool complete = false; // false: torn, never committed
    bool rollingBack = false;
};

Journal ParseJournal(const QByteArray& text) {
    Journal j;
    const qsizetype end = text.lastIndexOf("\nend ");
    if (!text.startsWith("quorlex replace 1\n") || end < 0) return j;
    const QByteArray body = text.left(end + 1);
    const QList<QByteArray> tail = text.mid(end + 1).split('\n');
    if (tail.at(0) != "end " + Hex(body)) return j;
    j.rollingBack = tail.size() > 1 && tail.at(1) == "rollback";
    const QList<QByteArray> lines = body.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).isEmpty()) continue;
        const QList<QByteArray> f = lines.at(i).split('\t');
        if (f.size() != 6) return {};
        Entry e;
        e.hadTarget = f.at(0) == "1";
        e.size = f.at(1).toLongLong();
        e.sha1 = f.at(2);
        e.target = QString::fromUtf8(QByteArray::fromPercentEncoding(f.at(3)));
        e.staged = QString::fromUtf8(QByteArray::fromPercentEncoding(f.at(4)));
        e.old = QString::fromUtf8(QByteArray::fromPercentEncoding(f.at(5)));
        j.entries.push_back(e);
    }
    j.complete = !j.entries.empty();
    return j;
}

QString DirOf(const QString& path) {
    return QFileInfo(path).absolutePath();
}

void SyncDirsOf(const std::vector<Entry>& entries) {
    QSet<QString> done;
    for (const Entry& e : entries)
        if (!done.contains(DirOf(e.target))) {
            done.insert(DirOf(e.target));
            SyncDir(DirOf(e.target));
        }
}

// Puts every old version back. Each step leaves a state this same routine
// can finish from, so a crash while undoing is undone at the next start.
bool RollBack(const std::vector<Entry>& entries) {
    bool ok = true;
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        if (Exists(e->old)) {
            ok = RenameOver(e->old, e->target) && ok;
            Step();
        } else if (!e->hadTarget && !Exists(e->staged) && Exists(e->target)) {
            ok = RemoveFile(e->target) && ok; // a file this change created
            Step();
        }
    }
    SyncDirsOf(entries);
    for (const Entry& e : entries)
        if (Exists(e.staged)) {
            ok = RemoveFile(e.staged) && ok;
            Step();
        }
    SyncDirsOf(entries);
    return ok;
}

// Moves every staged version into place, then drops the old ones. The old
// versions go only once every rename is durable.
bool RollForward(const std::vector<Entry>& entries) {
    for (const Entry& e : entries)
        if (Exists(e.staged)) {
            if (!RenameOver(e.staged, e.target)) return false;
            Step();
        }
    SyncDirsOf(entries);
    Step();
    bool ok = true;
    for (const Entry& e : entries)
        if (Exists(e.old)) {
            ok = RemoveFile(e.old) && ok;
            Step();
        }
    return ok;
}

// A staged version is whole, or already in place. Anything else (a file
// removed by someone else, a disk that lost it) means undoing instead.
bool StagedIntact(const Entry& e) {
    QFile f(Exists(e.staged) ? e.staged : e.target);
    if (!f.open(QIODevice::ReadOnly) || f.size() != e.size) return false;
    return Hex(f.readAll()) == e.sha1;
}

// True when the journal is dealt with and gone.
bool RecoverJournal(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const Journal j = ParseJournal(f.readAll());
    f.close();
    bool ok = true;
    if (j.complete) {
        const bool intact = std::all_of(j.entries.begin(), j.entries.end(), StagedIntact);
        ok = !j.rollingBack && intact ? RollForward(j.entries) : RollBack(j.entries);
    }
    // A torn journal was never committed: no target was touched, and its
    // staged files go with the other temporary files.
    if (!ok) return false;
    SyncDirsOf(j.entries);
    const bool removed = RemoveFile(path);
    SyncDir(DirOf(path));
    Step();
    return removed;
}

void RecoverDir(const QString& dir) {
    QDir d(dir);
    if (dir.isEmpty() || !d.exists()) return;
    const QStringList names = d.entryList(QDir::Files | QDir::Hidden | QDir::System);
    struct Found {
        QString path;
        QString id;
        bool journal;
    };
    std::vector<Found> stale;
    for (const QString& name : names) {
        const auto m = TemporaryPattern().match(name);
        if (!m.hasMatch()) continue;
        const QString path = d.filePath(name);
        const QFileInfo info(path);
        if (info.isSymLink() || !OwnerEnded(m.captured(2).toLongLong(), info.lastModified()))
            continue;
        stale.push_back({path, m.captured(2) + QLatin1Char('-') + m.captured(3),
                         m.captured(4) == QLatin1String("journal")});
    }
    QSet<QString> kept; // operations whose journal could not be finished keep their files
    for (const Found& f : stale)
        if (f.journal && !RecoverJournal(f.path)) kept.insert(f.id);
    bool removed = false;
    for (const Found& f : stale)
        if (!f.journal && !kept.contains(f.id) && Exists(f.path)) {
            RemoveFile(f.path);
            removed = true;
            Step();
        }
    if (removed) SyncDir(dir);
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

void Recover(const QString& dir) {
    StepCount() = 0;
    RecoverDir(dir);
}

bool Replace(const std::vector<std::pair<QString, QString>>& sourceToTarget) {
    StepCount() = 0;
    if (sourceToTarget.empty()) return true;
    const qint64 pid = ::getpid();
    const int seq = ++Sequence();
    std::vector<Entry> entries;
    std::vector<QByteArray> contents;
    QSet<QString> targets, dirs;
    // Whatever an ended run left here is finished before anything new
    // starts, and before the sources are read: a source may be one of the
    // files that run was replacing (a backup taken of User.ini).
    for (const auto& pair : sourceToTarget) {
        dirs.insert(QFileInfo(ResolvedTarget(pair.second)).absolutePath());
        dirs.insert(QFileInfo(pair.first).absolutePath());
    }
    for (const QString& dir : dirs)
        RecoverDir(dir);
    for (const auto& [source, target] : sourceToTarget) {
        Entry e;
        e.target = ResolvedTarget(target);
        const QFileInfo info(e.target);
        if (info.isDir() || targets.contains(e.target)) return false; // a folder in the way
        targets.insert(e.target);
        dirs.insert(info.absolutePath());
        e.hadTarget = info.exists();
        const QString stem =
            info.absolutePath() + QLatin1Char('/') + info.fileName() + Tag(pid, seq);
        e.staged = stem + QStringLiteral(".new");
        e.old = stem + QStringLiteral(".old");
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly)) return false;
        contents.push_back(in.readAll());
        if (in.error() != QFileDevice::NoError) return false;
        e.size = contents.back().size();
        e.sha1 = Hex(contents.back());
        entries.push_back(e);
    }
    const auto discardStaged = [&] {
        for (const Entry& e : entries)
            RemoveFile(e.staged);
    };
    for (size_t i = 0; i < entries.size(); ++i) {
        // The new version keeps the old one's mode, with the owner's write
        // bit: a read-only target is replaced all the same.
        std::optional<mode_t> mode;
        struct stat st;
        if (entries[i].hadTarget && ::stat(Native(entries[i].target).constData(), &st) == 0)
            mode = (st.st_mode & 07777) | S_IWUSR;
        if (!WriteDurable(entries[i].staged, contents[i], mode)) {
            discardStaged();
            return false;
        }
        Step();
    }
    if (entries.size() == 1) { // one rename is atomic by itself
        const bool ok = RenameOver(entries[0].staged, entries[0].target);
        if (!ok) RemoveFile(entries[0].staged);
        SyncDir(DirOf(entries[0].target));
        Step();
        return ok;
    }

    SyncDirsOf(entries);
    Step();
    const QString journal = DirOf(entries[0].target) + QStringLiteral("/replace") + Tag(pid, seq) +
                            QStringLiteral(".journal");
    if (!WriteDurable(journal, JournalText(entries), std::nullopt) || !SyncDir(DirOf(journal))) {
        RemoveFile(journal);
        discardStaged();
        return false;
    }
    Step(); // from here on, a crash completes the change

    bool ok = true;
    for (const Entry& e : entries) {
        if (e.hadTarget && Exists(e.target)) {
            ok = RenameOver(e.target, e.old);
            if (!ok) break;
            Step();
        }
        ok = RenameOver(e.staged, e.target);
        if (!ok) break;
        Step();
    }
    if (!ok) {
        // Mark the journal first, so that a crash while undoing goes on undoing.
        QFile mark(journal);
        if (mark.open(QIODevice::Append) && mark.write("rollback\n") == 9 && mark.flush())
            ::fsync(mark.handle());
        mark.close();
        if (RollBack(entries)) {
            RemoveFile(journal);
            SyncDir(DirOf(journal));
        }
        return false;
    }
    SyncDirsOf(entries);
    Step();
    for (const Entry& e : entries)
        if (e.hadTarget) {
            RemoveFile(e.old);
            Step();
        }
    RemoveFile(journal);
    SyncDir(DirOf(journal));
    Step();
    return true;
}

} // namespace platform::journal
