#pragma once
// The few file system and process calls that replacing files safely needs,
// one implementation per system (OsFolderPosix.cpp, OsFolderWin.cpp).
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

namespace platform::os {

// Permission bits as POSIX writes them; on Windows only the owner's write
// bit means something (the read-only attribute).
constexpr unsigned kOwnerRead = 0400, kOwnerWrite = 0200;
constexpr unsigned kOthersWrite = 0022; // group and others
constexpr unsigned kPrivate = kOwnerRead | kOwnerWrite;

struct FileStatus {
    bool regular = false;   // a plain file, not a link, folder or device
    bool directory = false;
    bool ours = false;      // owned by the user this process runs as
    unsigned mode = 0;      // the 0777 bits
    qint64 mtimeMs = 0;     // last write, ms since the epoch
};

// A name as the folder's listing gives it, and back.
QByteArray EncodeName(const QString& name);
QString DecodeName(const QByteArray& name);

// A folder opened once. Every name in it is looked up and changed through
// this handle, never through the folder's path again, and a name that is a
// symbolic link (a reparse point) is never followed.
class Folder {
public:
    explicit Folder(QString path);
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    bool IsOpen() const;
    const QString& Path() const { return path_; }

    std::optional<FileStatus> Stat(const QByteArray& name, bool follow = false) const;
    bool Exists(const QByteArray& name) const { return Stat(name).has_value(); }
    // Replaces an existing `to`, read-only or not.
    bool Rename(const QByteArray& from, const QByteArray& to) const;
    bool Remove(const QByteArray& name) const; // true when it is gone
    // A rename or a new name is only durable once its folder is synced.
    bool Sync() const;
    // A plain file's bytes, with its status as read through the same handle.
    std::optional<std::pair<QByteArray, FileStatus>> Read(const QByteArray& name, qint64 limit) const;
    // Writes a new file that must not exist yet and makes its bytes durable.
    // It is private while it is being written and gets `mode` only once whole.
    bool WriteNew(const QByteArray& name, const QByteArray& bytes, unsigned mode) const;
    bool Append(const QByteArray& name, const QByteArray& bytes) const;
    bool Chmod(const QByteArray& name, unsigned mode) const;
    std::vector<QByteArray> Names() const;

private:
    QString path_;
    qintptr handle_ = -1;
};

// A plain file's bytes and mode, read through one handle.
std::optional<std::pair<QByteArray, unsigned>> ReadPlainFile(const QString& path, qint64 limit);

qint64 CurrentPid();
bool ProcessAlive(qint64 pid);
// When a process started; nothing where that is unknown.
std::optional<QDateTime> ProcessStart(qint64 pid);
// The mode bits a new file does not get (umask), read without changing it.
unsigned CurrentUmask();

} // namespace platform::os
