#include "platform/OsFolder.h"

#include <QDir>
#include <windows.h>

namespace platform::os {

namespace {

std::wstring Wide(const QString& path) { return QDir::toNativeSeparators(path).toStdWString(); }

qint64 MsSinceEpoch(const FILETIME& t) {
    const qint64 ticks = (qint64(t.dwHighDateTime) << 32) | t.dwLowDateTime; // 100 ns since 1601
    return ticks / 10000 - 11644473600000LL;
}

// What Windows tells of a file, as the journal reads modes: the read-only
// attribute is the owner's missing write bit. A reparse point (a symbolic
// link or junction) is no plain file.
FileStatus StatusOf(DWORD attributes, const FILETIME& written) {
    FileStatus s;
    s.directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    s.regular = !s.directory && !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
    // The files of a user's profile and of a folder he installed are his;
    // whose a file is does not show in its attributes.
    s.ours = true;
    s.mode = (attributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    s.mtimeMs = MsSinceEpoch(written);
    return s;
}

HANDLE OpenPlain(const std::wstring& path, DWORD access, DWORD disposition) {
    return CreateFileW(path.c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

std::optional<FileStatus> StatusOfHandle(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return std::nullopt;
    return StatusOf(info.dwFileAttributes, info.ftLastWriteTime);
}

bool ReadAll(HANDLE h, QByteArray& out, qint64 limit) {
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return false;
        if (out.size() + qint64(n) > limit) return false;
        if (n == 0) return true;
        out.append(buffer, qsizetype(n));
    }
}

bool WriteAll(HANDLE h, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<qsizetype>(bytes.size() - done, 1 << 20));
        if (!WriteFile(h, bytes.constData() + done, chunk, &n, nullptr) || n == 0) return false;
        done += n;
    }
    return true;
}

bool SetReadOnly(const std::wstring& path, bool readOnly) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return false;
    const DWORD wanted = readOnly ? attributes | FILE_ATTRIBUTE_READONLY : attributes & ~DWORD(FILE_ATTRIBUTE_READONLY);
    return wanted == attributes || SetFileAttributesW(path.c_str(), wanted);
}

} // namespace

// Names are UTF-8 here, so that any name Windows allows can be carried.
QByteArray EncodeName(const QString& name) { return name.toUtf8(); }
QString DecodeName(const QByteArray& name) { return QString::fromUtf8(name); }

Folder::Folder(QString path) : path_(std::move(path)) {
    // Held open without delete sharing, the folder cannot be renamed or
    // replaced by another while we work in it; a reparse point is refused.
    const HANDLE h = CreateFileW(Wide(path_).c_str(), FILE_LIST_DIRECTORY,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(h);
        return;
    }
    handle_ = reinterpret_cast<qintptr>(h);
}

Folder::~Folder() {
    if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

bool Folder::IsOpen() const { return handle_ != -1; }

namespace {
std::wstring In(const QString& folder, const QByteArray& name) {
    return Wide(folder + QLatin1Char('/') + DecodeName(name));
}
} // namespace

std::optional<FileStatus> Folder::Stat(const QByteArray& name, bool follow) const {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(In(path_, name).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    if (follow && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        const HANDLE h = CreateFileW(In(path_, name).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return std::nullopt;
        const auto s = StatusOfHandle(h);
        CloseHandle(h);
        return s;
    }
    return StatusOf(data.dwFileAttributes, data.ftLastWriteTime);
}

bool Folder::Rename(const QByteArray& from, const QByteArray& to) const {
    const std::wstring target = In(path_, to);
    // A read-only file is replaced as on POSIX, where a rename ignores modes.
    SetReadOnly(target, false);
    return MoveFileExW(In(path_, from).c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool Folder::Remove(const QByteArray& name) const {
    const std::wstring path = In(path_, name);
    if (DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    return SetReadOnly(path, false) && DeleteFileW(path.c_str());
}

// Every rename is written through; a folder has nothing more to sync.
bool Folder::Sync() const { return IsOpen(); }

std::optional<std::pair<QByteArray, FileStatus>> Folder::Read(const QByteArray& name, qint64 limit) const {
    const HANDLE h = OpenPlain(In(path_, name), GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::pair<QByteArray, FileStatus> out;
    const auto status = StatusOfHandle(h);
    const bool ok = status && status->regular && ReadAll(h, out.first, limit);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    out.second = *status;
    return out;
}

bool Folder::WriteNew(const QByteArray& name, const QByteArray& bytes, unsigned mode) const {
    const std::wstring path = In(path_, name);
    const HANDLE h = OpenPlain(path, GENERIC_WRITE, CREATE_NEW);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool ok = WriteAll(h, bytes) && FlushFileBuffers(h);
    ok = CloseHandle(h) && ok;
    ok = ok && ((mode & kOwnerWrite) || SetReadOnly(path, true));
    if (!ok) Remove(name);
    return ok;
}

bool Folder::Append(const QByteArray& name, const QByteArray& bytes) const {
    const HANDLE h = OpenPlain(In(path_, name), FILE_APPEND_DATA, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = WriteAll(h, bytes) && FlushFileBuffers(h);
    CloseHandle(h);
    return ok;
}

bool Folder::Chmod(const QByteArray& name, unsigned mode) const {
    const auto status = Stat(name);
    return status && status->regular && SetReadOnly(In(path_, name), !(mode & kOwnerWrite));
}

std::vector<QByteArray> Folder::Names() const {
    std::vector<QByteArray> names;
    WIN32_FIND_DATAW found;
    const HANDLE h = FindFirstFileW(Wide(path_ + QStringLiteral("/*")).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return names;
    do {
        const QByteArray name = EncodeName(QString::fromWCharArray(found.cFileName));
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileW(h, &found));
    FindClose(h);
    return names;
}

std::optional<std::pair<QByteArray, unsigned>> ReadPlainFile(const QString& path, qint64 limit) {
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::pair<QByteArray, unsigned> out;
    const auto status = StatusOfHandle(h);
    const bool ok = status && !status->directory && ReadAll(h, out.first, limit);
    CloseHandle(h);
    if (!ok) return std::nullopt;
    out.second = status->mode;
    return out;
}

qint64 CurrentPid() { return qint64(GetCurrentProcessId()); }

bool ProcessAlive(qint64 pid) {
    if (pid <= 0) return false;
    const HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!h) return GetLastError() == ERROR_ACCESS_DENIED; // another user's, running
    const bool alive = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    CloseHandle(h);
    return alive;
}

std::optional<QDateTime> ProcessStart(qint64 pid) {
    const HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!h) return {};
    FILETIME created, exited, kernel, user;
    const bool ok = GetProcessTimes(h, &created, &exited, &kernel, &user);
    CloseHandle(h);
    if (!ok) return {};
    return QDateTime::fromMSecsSinceEpoch(MsSinceEpoch(created));
}

// New files take their folder's permissions; there is no mask to narrow.
unsigned CurrentUmask() { return 0; }

} // namespace platform::os
