#include "update/updater/System.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace sys {

#ifdef _WIN32

namespace {
std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), nullptr, 0);
    std::wstring out(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), out.data(), n);
    for (wchar_t& c : out)
        if (c == L'/') c = L'\\';
    return out;
}
HANDLE HandleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }
int Open(const std::string& path, int flags, int mode) {
    if (kindOf(path) == Kind::Other) {
        errno = ELOOP;
        return -1;
    }
    return _wopen(Wide(path).c_str(), flags | _O_BINARY | _O_NOINHERIT, mode);
}
} // namespace

int openRead(const std::string& path) { return Open(path, _O_RDONLY, 0); }
int createNew(const std::string& path) {
    return Open(path, _O_WRONLY | _O_CREAT | _O_EXCL, _S_IREAD | _S_IWRITE);
}
int read(int fd, void* buffer, std::size_t bytes) { return _read(fd, buffer, unsigned(bytes)); }
int write(int fd, const void* buffer, std::size_t bytes) { return _write(fd, buffer, unsigned(bytes)); }
long long seek(int fd, long long offset, int whence) { return _lseeki64(fd, offset, whence); }
bool close(int fd) { return _close(fd) == 0; }
bool sync(int fd) { return _commit(fd) == 0; }
void syncDir(const std::string&) {}
// Only the owner's write bit means something: the read-only attribute.
bool setMode(int fd, unsigned mode) {
    FILE_BASIC_INFO info{};
    if (!GetFileInformationByHandleEx(HandleOf(fd), FileBasicInfo, &info, sizeof info)) return false;
    const DWORD before = info.FileAttributes;
    if (mode & 0200)
        info.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
    else
        info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return info.FileAttributes == before ||
           SetFileInformationByHandle(HandleOf(fd), FileBasicInfo, &info, sizeof info);
}
bool isRegular(int fd) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(HandleOf(fd), &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}
bool setTimes(int fd, std::time_t when) {
    const long long ticks = (static_cast<long long>(when) + 11644473600LL) * 10000000LL;
    FILETIME t{DWORD(ticks), DWORD(ticks >> 32)};
    return SetFileTime(HandleOf(fd), nullptr, &t, &t);
}
Kind kindOf(const std::string& path, unsigned* mode) {
    const DWORD bits = GetFileAttributesW(Wide(path).c_str());
    if (bits == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Kind::Missing : Kind::Unknown;
    }
    if (mode) *mode = (bits & FILE_ATTRIBUTE_READONLY) ? 0444 : 0644;
    if (bits & FILE_ATTRIBUTE_REPARSE_POINT) return Kind::Other;
    return (bits & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Directory : Kind::Regular;
}
bool makeDir(const std::string& path) {
    return CreateDirectoryW(Wide(path).c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}
bool replace(const std::string& from, const std::string& to) {
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
bool remove(const std::string& path) { return DeleteFileW(Wide(path).c_str()); }

#else

int openRead(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW); }
int createNew(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}
int read(int fd, void* buffer, std::size_t bytes) { return int(::read(fd, buffer, bytes)); }
int write(int fd, const void* buffer, std::size_t bytes) { return int(::write(fd, buffer, bytes)); }
long long seek(int fd, long long offset, int whence) { return ::lseek(fd, offset, whence); }
bool close(int fd) { return ::close(fd) == 0; }
bool sync(int fd) { return ::fsync(fd) == 0; }
void syncDir(const std::string& dir) {
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
bool setMode(int fd, unsigned mode) { return ::fchmod(fd, mode_t(mode)) == 0; }
bool isRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}
bool setTimes(int fd, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    return ::futimens(fd, times) == 0;
}
Kind kindOf(const std::string& path, unsigned* mode) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT ? Kind::Missing : Kind::Unknown;
    if (mode) *mode = st.st_mode & 0777;
    if (S_ISREG(st.st_mode)) return Kind::Regular;
    return S_ISDIR(st.st_mode) ? Kind::Directory : Kind::Other;
}
bool makeDir(const std::string& path) { return ::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST; }
bool replace(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }
bool remove(const std::string& path) { return ::unlink(path.c_str()) == 0; }

#endif

} // namespace sys
