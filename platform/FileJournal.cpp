#include "platform/FileJournal.h"

#include "platform/OsFolder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>
#include <atomic>
#include <limits>
#include <map>
#include <memory>
#include <optional>

namespace platform::journal {

namespace {

using os::FileStatus;
using os::Folder;
using os::kOthersWrite;
using os::kPrivate;

QByteArray Native(const QString& path) { return os::EncodeName(path); }

constexpr qint64 kMaxJournal = 1 << 20;

// The player's own file: his, a plain file, and writable by no one else. In a
// folder others can write, a journal or a staged copy that is anything else
// may have been put there to make us move or remove files for them.
bool OwnFile(const FileStatus& st) { return st.regular && st.ours && (st.mode & kOthersWrite) == 0; }

// A name of a file directly in its folder: no path, no way up.
bool PlainName(const QByteArray& name) {
#ifdef Q_OS_WIN
    // There a backslash and a drive's colon lead elsewhere too.
    if (name.contains('\\') || name.contains(':')) return false;
#endif
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\0');
}

// A source is read through its own handle, and its mode is that handle's.
std::optional<std::pair<QByteArray, unsigned>> ReadSource(const QString& path) {
    return os::ReadPlainFile(path, std::numeric_limits<qint64>::max() / 2);
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
        const auto start = os::ProcessStart(pid);
        return start && written < start->addSecs(-2); // /proc's boot time is whole seconds
    };
    if (pid == os::CurrentPid()) return startedLater();
    return !os::ProcessAlive(pid) || startedLater();
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

// One target of a change and its two temporary names, all in one folder.
// The temporary names are the target's with the change's tag, so that a
// journal needs to name the target only.
struct Entry {
    const Folder* dir = nullptr;
    QByteArray target, staged, old;
    bool hadTarget = false;
    qint64 size = 0;
    QByteArray sha1; // hex
    unsigned mode = 0; // of the new version once it is in place
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
    return (!staged || OwnFile(*staged)) && (!old || old->regular);
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
        const auto m = TemporaryPattern().match(os::DecodeName(name));
        if (!m.hasMatch()) continue;
        const auto st = dir.Stat(name);
        if (!st) continue;
        const QDateTime written = QDateTime::fromMSecsSinceEpoch(st->mtimeMs);
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
        if (outcome == Outcome::LeftAlone) leftAlone << os::DecodeName(f.name);
    }
    bool removed = false;
    for (const Found& f : stale) {
        if (f.journal || kept.contains(f.tag)) continue;
        // Only what the player's own runs left; anyone else's stays.
        const auto st = dir.Stat(f.name);
        if (!st || !st->regular || !st->ours) continue;
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
    const QByteArray tag = Tag(os::CurrentPid(), ++Sequence());
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
    const unsigned umask = os::CurrentUmask();
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
        if (now && now->directory) return false; // a folder in the way
        e.hadTarget = folder->Exists(e.target);
        auto in = ReadSource(source);
        if (!in) return false;
        // A copy is never more open than the file it copies: a target keeps
        // its mode, narrowed to the source's, and a new one gets the source's
        // as any new file would. A read-only target is replaced all the same.
        e.mode =
            ((now && now->regular ? now->mode : ~umask) & in->second & 0777) | os::kOwnerWrite;
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
        const unsigned mode = journaled ? entries[i].mode & ~kOthersWrite : entries[i].mode;
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
