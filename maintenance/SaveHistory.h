#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace maintenance {

struct HistoryFile {
    QString path;
    QByteArray before;
    QByteArray after;
};

struct HistoryEntry {
    QString id; // sorts by time
    QDateTime time;
    QString command;
    int changedKeys = 0;
    std::vector<HistoryFile> files;
};

// The game files as they were before each command that replaced them, kept
// per user so a player can see what a command did and put it back. Every
// entry is a folder of its own, written whole before it is named, so a crash
// never leaves half an entry.
class SaveHistory {
public:
    explicit SaveHistory(QString folder);
    // ~/.local/share/quorlex2004/history, or the platform's equivalent.
    static QString DefaultFolder();
    const QString& Folder() const { return folder_; }

    // Keeps the files that changed; nothing when none did. False when the
    // entry could not be written (the command itself has happened all the same).
    bool Add(const QString& command, std::vector<HistoryFile> files, const QDateTime& when = QDateTime::currentDateTime());
    std::vector<HistoryEntry> Entries() const; // newest first
    std::optional<HistoryEntry> Latest() const;
    std::optional<HistoryEntry> Find(const QString& id) const;

    void SetLimits(int entries, qint64 bytes) {
        maxEntries_ = entries;
        maxBytes_ = bytes;
    }

private:
    QStringList EntryIds() const; // newest first
    std::optional<HistoryEntry> Read(const QString& id) const;
    void Prune() const;

    QString folder_;
    int maxEntries_ = 50;
    qint64 maxBytes_ = 50LL * 1024 * 1024;
};

// Notes the files' bytes when a command begins and adds an entry for those
// it changed when it ends. Scopes opened inside another add nothing: the
// outer command owns the entry.
class HistoryScope {
public:
    HistoryScope(SaveHistory* history, QString command, QStringList paths);
    ~HistoryScope();
    HistoryScope(const HistoryScope&) = delete;
    HistoryScope& operator=(const HistoryScope&) = delete;

private:
    SaveHistory* history_;
    QString command_;
    std::vector<HistoryFile> files_;
    bool outer_;
};

// The files of an entry that were changed by something else after it
// (they no longer hold what the command left).
QStringList ChangedSince(const HistoryEntry& entry);

// Puts back the bytes the files had before the entry's command, all or
// nothing; files named in `keep` stay as they are. False when nothing could
// be written.
bool PutBack(const HistoryEntry& entry, const QStringList& keep);

} // namespace maintenance
