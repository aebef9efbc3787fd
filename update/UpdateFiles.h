#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

// File work of an update run that nobody else on the machine can steer:
// private folders, files that are created new (never opened through a
// planted name or symbolic link), replacements that never delete first.
namespace update::files {

// A fresh folder under the temporary folder that only this user can enter
// (mkdtemp, mode 0700). Empty on failure, with the system's text in `error`.
QString MakePrivateFolder(QString* error = nullptr, int* errnum = nullptr);
// A fresh folder "<prefix>XXXXXX" in `folder`, for this user alone; empty on failure.
class Folder;
QString MakeFolderIn(const Folder& folder, const QString& prefix);
// Removes a folder made above with what is in it (no links followed).
void RemovePrivateFolder(const QString& dir);

// A new, uniquely named file in `dir`, created with O_EXCL | O_NOFOLLOW and
// mode 0600. `fd` is -1 on failure and `error` holds errno.
struct NewFile {
    QString path;
    int fd = -1;
    int error = 0;
};
NewFile CreateTempIn(const QString& dir, const QString& prefix);
// The named file, which must not exist yet, created as above.
NewFile CreateNew(const QString& path, int mode = 0600);

// Writes all of `data` to `fd`; false on a short or failed write.
bool WriteAll(int fd, const char* data, qint64 size);

// Puts `temp` (a finished file in the target's own folder) in place of
// `target`: flushed to disk, given the old file's mode (0644 for a new
// file), renamed over the target, the folder flushed. The old file is never
// deleted first, so a failure at any step leaves it whole. False with the
// system's text in `error`; `temp` is removed then.
bool ReplaceAtomically(const QString& temp, const QString& target, QString* error = nullptr);

// Lower-case hex SHA-256 of a file; empty when it cannot be read.
QByteArray Sha256OfFile(const QString& path);
// Whether the file starts like an HTML page (what a captive portal sends
// in place of the file that was asked for).
bool LooksLikeHtml(const QString& path);
// The system's text for an errno value.
QString ErrorText(int errnum);

// Whether `path` (absolute, "." and ".." resolved) lies inside one of
// `folders`; neither may escape through a symbolic link.
bool IsInside(const QString& path, const QStringList& folders);

// A folder of an update's targets, opened once. Found by its cleaned text
// inside one of the allowed roots; every folder below that root is opened
// without following a symbolic link (and made when missing, if asked), so
// a link planted in the tree cannot lead a write outside. Its files are
// reached through Path(), which goes through the opened folder: what was
// checked is what is written, whatever is renamed or linked meanwhile.
class Folder {
public:
    Folder() = default;
    Folder(int fd, QString shown);
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    ~Folder();
    bool IsOpen() const { return fd_ >= 0; }
    // A path that reaches `name` in this very folder.
    QString Path(const QString& name = {}) const;
    // The same file as the player knows it.
    QString Shown(const QString& name = {}) const;

private:
    int fd_ = -1;
    QString shown_;
};
// Empty `path`: the first root. `error` says why nothing was opened.
Folder OpenFolderInside(const QString& path, const QStringList& roots, bool create,
                        QString* error = nullptr);

} // namespace update::files
