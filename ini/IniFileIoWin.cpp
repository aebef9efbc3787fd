// The INI engine's file system side on Windows. Paths arrive as UTF-8 and
// are used through the wide API, so any folder name works.
#include "ini/IniFileIo.h"

#include "ini/IniFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <io.h>
#include <random>
#include <sys/stat.h>
#include <windows.h>

namespace ini {

namespace {

constexpr std::string_view kTempMark = ".qxtmp.";

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    return out;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::int64_t Ns(const FILETIME& t) { // since 1601, in 100 ns steps
    return ((std::int64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) * 100;
}

// Taken when the program loads: nothing of this process wrote before it.
const std::int64_t gProcessStartNs = [] {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return Ns(now);
}();

std::string dirOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash == 0 ? 1 : slash);
}

std::string leafOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The writer is alive when a process of that number runs that is older
// than the file; a process of another user cannot be asked and counts.
bool writerMayBeAlive(long pid, std::int64_t mtimeNs) {
    const HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, DWORD(pid));
    if (!h) return GetLastError() == ERROR_ACCESS_DENIED;
    FILETIME created, exited, kernel, user;
    const bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    const bool known = GetProcessTimes(h, &created, &exited, &kernel, &user);
    CloseHandle(h);
    return running && (!known || mtimeNs >= Ns(created));
}

struct Attributes {
    bool exists = false, directory = false, readOnly = false, link = false;
};

Attributes attributesOf(const std::string& path) {
    Attributes a;
    const DWORD bits = GetFileAttributesW(Wide(path).c_str());
    if (bits == INVALID_FILE_ATTRIBUTES) return a;
    a.exists = true;
    a.directory = bits & FILE_ATTRIBUTE_DIRECTORY;
    a.readOnly = bits & FILE_ATTRIBUTE_READONLY;
    a.link = bits & FILE_ATTRIBUTE_REPARSE_POINT;
    return a;
}

std::string lastError() {
    const DWORD error = GetLastError();
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return std::strerror(ENOSPC);
    if (error == ERROR_ACCESS_DENIED) return std::strerror(EACCES);
    return "Windows error " + std::to_string(error);
}

} // namespace

Signature statSignature(const std::string& path) {
    Signature sig;
    const HANDLE h = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return sig;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info)) {
        sig.exists = true;
        sig.size = (std::int64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
        sig.inode = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        sig.device = info.dwVolumeSerialNumber;
        sig.mtimeNs = Ns(info.ftLastWriteTime);
    }
    CloseHandle(h);
    return sig;
}

std::optional<std::string> readWholeFile(const std::string& path) {
    const HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info;
    std::string data;
    bool ok = GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    if (ok) data.reserve((std::size_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    char buffer[65536];
    while (ok) {
        DWORD n = 0;
        ok = ReadFile(h, buffer, sizeof buffer, &n, nullptr);
        if (!ok || n == 0) break;
        data.append(buffer, n);
    }
    CloseHandle(h);
    if (!ok) return std::nullopt;
    return data;
}

std::string resolveTarget(const std::string& path) {
    std::error_code ec;
    std::filesystem::path cur = std::filesystem::u8path(path);
    for (int hops = 0; hops < 40 && std::filesystem::is_symlink(cur, ec); ++hops) {
        const auto next = std::filesystem::read_symlink(cur, ec);
        if (ec) break;
        cur = next.is_absolute() ? next : cur.parent_path() / next;
    }
    const auto text = cur.u8string();
    return std::string(text.begin(), text.end());
}

bool canReplace(const std::string& target) {
    const Attributes a = attributesOf(target);
    if (a.exists && (a.directory || a.readOnly)) return false;
    const Attributes dir = attributesOf(dirOf(target));
    return dir.exists && dir.directory;
}

std::string whyNotReplaceable(const std::string& target) {
    const Attributes a = attributesOf(target);
    if (a.exists && a.directory) return "not a plain file";
    if (a.exists && a.readOnly) return "the file is read-only";
    return "its folder cannot be written";
}

std::string temporaryTemplate(const std::string& target) {
    return dirOf(target) + "/." + leafOf(target) + std::string(kTempMark) +
           std::to_string(GetCurrentProcessId()) + ".XXXXXX";
}

void removeStaleTemporaries(const std::string& dir) {
    WIN32_FIND_DATAW found;
    const HANDLE h = FindFirstFileW((Wide(dir) + L"\\.*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = Utf8(found.cFileName);
        const auto pid = temporaryPid(name);
        if (!pid || (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const std::int64_t mtime = Ns(found.ftLastWriteTime);
        if (mtime >= gProcessStartNs || writerMayBeAlive(*pid, mtime)) continue;
        DeleteFileW((Wide(dir) + L"\\" + found.cFileName).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
}

std::string stageFile(const std::string& path, const std::function<bool(int fd)>& fill) {
    const std::string target = resolveTarget(path);
    if (!canReplace(target)) throw EIniFileException(path, whyNotReplaceable(target));
    removeStaleTemporaries(dirOf(target));
    if (faultAt("create", path)) throw EIniFileException(path);
    static std::mt19937 random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string tmpl;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tmpl = temporaryTemplate(target);
        for (std::size_t i = tmpl.size() - 6; i < tmpl.size(); ++i)
            tmpl[i] = kLetters[random() % (sizeof kLetters - 1)];
        fd = _wopen(Wide(tmpl).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                    _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST) throw EIniFileException(path, std::strerror(errno));
    }
    if (fd < 0) throw EIniFileException(path, std::strerror(EEXIST));
    auto fail = [&](int error) {
        _close(fd);
        DeleteFileW(Wide(tmpl).c_str());
        throw EIniFileException(path, error ? std::strerror(error) : std::string());
    };
    errno = 0;
    if (faultAt("write", path) || !fill(fd)) fail(errno);
    // _commit is FlushFileBuffers: the bytes are on the disk before any rename.
    if (faultAt("sync", path) || _commit(fd) != 0) fail(errno);
    if (_close(fd) != 0) {
        const int error = errno;
        DeleteFileW(Wide(tmpl).c_str());
        throw EIniFileException(path, std::strerror(error));
    }
    return tmpl;
}

void replaceFile(const std::string& path, const std::function<bool(int fd)>& fill) {
    const std::string tmpl = stageFile(path, fill);
    const std::string target = resolveTarget(path);
    if (faultAt("rename", path) ||
        !MoveFileExW(Wide(tmpl).c_str(), Wide(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const std::string error = lastError();
        DeleteFileW(Wide(tmpl).c_str());
        throw EIniFileException(path, error);
    }
}

} // namespace ini
