#include "maintenance/SaveHistory.h"

#include "maintenance/IniDiff.h"
#include "platform/Files.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <atomic>

namespace maintenance {

namespace {

int scopeDepth = 0;
std::atomic<int> entryCounter{0};

std::optional<QByteArray> ReadBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    return f.readAll();
}

// The history holds the player's settings, so it is his alone.
constexpr QFileDevice::Permissions kPrivateFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

bool WriteBytes(const QString& path, const QByteArray& bytes,
                QFileDevice::Permissions permissions = kPrivateFile) {
    return platform::WriteNewFile(path, bytes, permissions);
}

qint64 FolderSize(const QString& path) {
    qint64 total = 0;
    for (const QFileInfo& info : QDir(path).entryInfoList(QDir::Files)) total += info.size();
    return total;
}

} // namespace

SaveHistory::SaveHistory(QString folder) : folder_(std::move(folder)) {}

QString SaveHistory::DefaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/quorlex2004/history");
}

bool SaveHistory::Add(const QString& command, std::vector<HistoryFile> files, const QDateTime& when) {
    std::erase_if(files, [](const HistoryFile& f) { return f.before == f.after; });
    if (files.empty()) return true;
    if (!platform::MakePrivateFolder(folder_)) return false;
    const QString id = when.toUTC().toString(QStringLiteral("yyyyMMdd-HHmmsszzz")) +
                       QStringLiteral("-%1-%2").arg(QCoreApplication::applicationPid()).arg(++entryCounter);
    const QString partial = folder_ + QStringLiteral("/.") + id;
    if (!QDir().mkdir(partial,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return false;
    int changedKeys = 0;
    QString meta = QStringLiteral("Time=%1\nCommand=%2\n").arg(when.toString(Qt::ISODateWithMs), command);
    bool ok = true;
    for (std::size_t i = 0; i < files.size(); ++i) {
        changedKeys += static_cast<int>(ChangedValues(files[i].before, files[i].after).size());
        meta += QStringLiteral("File%1=%2\n").arg(i).arg(files[i].path);
        ok = ok && WriteBytes(partial + QStringLiteral("/%1.before").arg(i), files[i].before) &&
             WriteBytes(partial + QStringLiteral("/%1.after").arg(i), files[i].after);
    }
    meta += QStringLiteral("ChangedKeys=%1\n").arg(changedKeys);
    ok = ok && WriteBytes(partial + QStringLiteral("/entry.txt"), meta.toUtf8());
    if (!ok || !QDir().rename(partial, folder_ + QLatin1Char('/') + id)) {
        QDir(partial).removeRecursively();
        return false;
    }
    Prune();
    return true;
}

QStringList SaveHistory::EntryIds() const {
    QStringList ids = QDir(folder_).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    // Half-written entries start with a dot and are hidden from this listing.
    return ids;
}

std::optional<HistoryEntry> SaveHistory::Read(const QString& id) const {
    const QString dir = folder_ + QLatin1Char('/') + id;
    const auto meta = ReadBytes(dir + QStringLiteral("/entry.txt"));
    if (!meta) return std::nullopt;
    HistoryEntry e;
    e.id = id;
    for (const QString& line : QString::fromUtf8(*meta).split(QLatin1Char('\n'))) {
        const auto eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        const QString key = line.left(eq), value = line.mid(eq + 1);
        if (key == QStringLiteral("Time"))
            e.time = QDateTime::fromString(value, Qt::ISODateWithMs);
        else if (key == QStringLiteral("Command"))
            e.command = value;
        else if (key == QStringLiteral("ChangedKeys"))
            e.changedKeys = value.toInt();
        else if (key.startsWith(QStringLiteral("File"))) {
            const QString n = key.mid(4);
            const auto before = ReadBytes(dir + QLatin1Char('/') + n + QStringLiteral(".before"));
            const auto after = ReadBytes(dir + QLatin1Char('/') + n + QStringLiteral(".after"));
            if (!before || !after) return std::nullopt;
            e.files.push_back({value, *before, *after});
        }
    }
    if (e.files.empty()) return std::nullopt;
    return e;
}

std::vector<HistoryEntry> SaveHistory::Entries() const {
    std::vector<HistoryEntry> out;
    for (const QString& id : EntryIds())
        if (auto e = Read(id)) out.push_back(std::move(*e));
    return out;
}

std::optional<HistoryEntry> SaveHistory::Latest() const {
    for (const QString& id : EntryIds())
        if (auto e = Read(id)) return e;
    return std::nullopt;
}

std::optional<HistoryEntry> SaveHistory::Find(const QString& id) const { return Read(id); }

void SaveHistory::Prune() const {
    const QStringList ids = EntryIds();
    qint64 total = 0;
    for (int i = 0; i < ids.size(); ++i) {
        const QString dir = folder_ + QLatin1Char('/') + ids[i];
        total += FolderSize(dir);
        // The newest entry stays whatever its size: it is the one an undo needs.
        if (i > 0 && (i >= maxEntries_ || total > maxBytes_)) QDir(dir).removeRecursively();
    }
    // Half-written entries of a run that died.
    for (const QString& name : QDir(folder_).entryList({QStringLiteral(".*")}, QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot)) {
        const QFileInfo info(folder_ + QLatin1Char('/') + name);
        if (info.lastModified().secsTo(QDateTime::currentDateTime()) > 3600)
            QDir(info.filePath()).removeRecursively();
    }
}

HistoryScope::HistoryScope(SaveHistory* history, QString command, QStringList paths)
    : history_(history), command_(std::move(command)), outer_(scopeDepth++ == 0) {
    if (!outer_ || !history_) return;
    for (const QString& path : paths) {
        if (path.isEmpty()) continue;
        if (auto bytes = ReadBytes(path)) files_.push_back({path, *bytes, {}});
    }
}

HistoryScope::~HistoryScope() {
    --scopeDepth;
    if (!outer_ || !history_) return;
    for (auto& f : files_) f.after = ReadBytes(f.path).value_or(QByteArray());
    history_->Add(command_, std::move(files_));
}

QStringList ChangedSince(const HistoryEntry& entry) {
    QStringList out;
    for (const auto& f : entry.files)
        if (ReadBytes(f.path).value_or(QByteArray()) != f.after) out << f.path;
    return out;
}

bool PutBack(const HistoryEntry& entry, const QStringList& keep) {
    QTemporaryDir staging;
    if (!staging.isValid()) return false;
    std::vector<std::pair<QString, QString>> pairs;
    int n = 0;
    for (const auto& f : entry.files) {
        if (keep.contains(f.path)) continue;
        const QString source = staging.path() + QStringLiteral("/%1").arg(n++);
        // A copy is never more open than its source, so the staged one is as
        // open as the file it goes back into: that file keeps its mode.
        const QFileDevice::Permissions mode =
            QFile::exists(f.path) ? QFile::permissions(f.path) : kPrivateFile;
        if (!WriteBytes(source, f.before, mode)) return false;
        pairs.emplace_back(source, f.path);
    }
    if (pairs.empty()) return false;
    return platform::ReplaceFiles(pairs);
}

} // namespace maintenance
