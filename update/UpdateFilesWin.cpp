// The update's file work on Windows: every folder on the way to a target
// is opened without following a reparse point and held open, so that it can
// be neither renamed nor swapped for a link while the update writes in it.
#include "update/UpdateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <sodium.h>
#include <sys/stat.h>
#include <windows.h>
// after windows.h, which they build on
#include <sddl.h>

namespace update::files {

namespace {

std::wstring Wide(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

QString SystemText(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString out = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("Windows error %1").arg(error);
    if (text) LocalFree(text);
    return out;
}

// A folder handle that shares reading and writing of its entries but not
// its own deletion or renaming.
HANDLE OpenFolderHandle(const std::wstring& path, bool followLink = false) {
    return CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
}

bool IsRealFolder(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// "D:P(A;OICI;FA;;;<the user's SID>)": the user alone, inherited by what is made inside.
std::wstring OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    std::wstring sddl;
    wchar_t* sid = nullptr;
    if (GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
        LocalFree(sid);
    }
    CloseHandle(token);
    return sddl;
}

} // namespace

QString MakePrivateFolder(QString* error, int* errnum) {
    const std::wstring sddl = OwnerOnlyDescriptor();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (sddl.empty() ||
        !ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        if (error) *error = SystemText(GetLastError());
        if (errnum) *errnum = EACCES;
        return {};
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    QString made;
    DWORD last = 0;
    for (int attempt = 0; attempt < 100 && made.isEmpty(); ++attempt) {
        const QString path = QDir(QDir::tempPath())
                                 .filePath(QStringLiteral("quorlex-update-%1")
                                               .arg(QString::number(randombytes_uniform(0x7fffffff), 36)));
        if (CreateDirectoryW(Wide(path).c_str(), &attributes))
            made = path;
        else if ((last = GetLastError()) != ERROR_ALREADY_EXISTS)
            break;
    }
    LocalFree(descriptor);
    if (made.isEmpty()) {
        if (error) *error = SystemText(last);
        if (errnum) *errnum = last == ERROR_DISK_FULL ? ENOSPC : EACCES;
    }
    return made;
}

QString MakeFolderIn(const Folder& folder, const QString& prefix) {
    // The folder inherits the target folder's access: it lives there only
    // for the moment of the rename.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString path =
            folder.Path(prefix + QString::number(randombytes_uniform(0x7fffffff), 36));
        if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return {};
}

NewFile CreateNew(const QString& path, int mode) {
    NewFile f;
    f.path = path;
    // CREATE_NEW fails on any existing name, a link included: nothing is
    // opened through a name someone planted.
    f.fd = _wopen(Wide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  (mode & 0200) ? _S_IREAD | _S_IWRITE : _S_IREAD | _S_IWRITE);
    if (f.fd < 0) f.error = errno;
    return f;
}

bool ReplaceAtomically(const QString& temp, const QString& target, QString* error) {
    const std::wstring from = Wide(temp), to = Wide(target);
    const DWORD attributes = GetFileAttributesW(to.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        DeleteFileW(from.c_str());
        if (error) *error = QStringLiteral("not a plain file");
        return false;
    }
    // Flushed before it takes the old one's place; the old one keeps its
    // read-only state, which is all a Windows file has of a mode.
    const HANDLE h = CreateFileW(from.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool ok = h != INVALID_HANDLE_VALUE && FlushFileBuffers(h);
    DWORD e = ok ? 0 : GetLastError();
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (ok && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetFileAttributesW(to.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
        SetFileAttributesW(from.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    if (ok && !MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        e = GetLastError();
        if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesW(to.c_str(), attributes);
    }
    if (!ok) {
        SetFileAttributesW(from.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(from.c_str());
        if (error) *error = SystemText(e);
        return false;
    }
    return true;
}

// The folder is held open without delete sharing, so its path names this
// very folder for as long as the handle lives.
QString Folder::Path(const QString& name) const {
    return name.isEmpty() ? shown_ : QDir(shown_).filePath(name);
}

Folder OpenFolderInside(const QString& path, const QStringList& roots, bool create, QString* error) {
    auto fail = [&](const QString& why) {
        if (error) *error = why;
        return Folder();
    };
    if (roots.isEmpty()) return fail(QStringLiteral("no folder may be written"));
    const QString wanted =
        QDir::cleanPath(path.isEmpty() ? roots.first() : QDir(roots.first()).absoluteFilePath(path));
    QString root, rest;
    for (const QString& r : roots) {
        const QString form = QDir::cleanPath(QDir(r).absolutePath());
        if (wanted.compare(form, Qt::CaseInsensitive) == 0 ||
            wanted.startsWith(form.endsWith(QLatin1Char('/')) ? form : form + QLatin1Char('/'), Qt::CaseInsensitive)) {
            root = form;
            rest = wanted.mid(form.size());
            break;
        }
    }
    if (root.isEmpty())
        return fail(QStringLiteral("target folder outside the program and game folders: ") + wanted);
    // The root as the player set it up may itself be a link; below it, none.
    QString at = root;
    HANDLE held = OpenFolderHandle(Wide(at), true);
    if (held == INVALID_HANDLE_VALUE) return fail(root + QStringLiteral(": ") + SystemText(GetLastError()));
    for (const QString& part : rest.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        at += QLatin1Char('/') + part;
        HANDLE next = OpenFolderHandle(Wide(at));
        if (next == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND && create &&
            CreateDirectoryW(Wide(at).c_str(), nullptr))
            next = OpenFolderHandle(Wide(at));
        const DWORD e = GetLastError();
        // The parent stays held until the child is: nothing on the way can move.
        const bool real = next != INVALID_HANDLE_VALUE && IsRealFolder(next);
        CloseHandle(held);
        if (!real) {
            if (next != INVALID_HANDLE_VALUE) CloseHandle(next);
            return fail(next != INVALID_HANDLE_VALUE || e == ERROR_DIRECTORY
                            ? QStringLiteral("target folder reached through a symbolic link or a file: ") + wanted
                            : wanted + QStringLiteral(": ") + SystemText(e));
        }
        held = next;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(held), _O_RDONLY);
    if (fd < 0) {
        CloseHandle(held);
        return fail(wanted + QStringLiteral(": ") + SystemText(GetLastError()));
    }
    return Folder(fd, wanted);
}

} // namespace update::files
