#include "update/updater/System.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
// after windows.h, which they build on
#include <aclapi.h>
#include <shellapi.h>
#else
#include <csignal>
#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
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
// A second handle to the same open file with `access`: a descriptor opened
// for reading still gets flushed and its attributes set, as POSIX allows.
HANDLE Reopened(int fd, DWORD access) {
    return ReOpenFile(HandleOf(fd), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0);
}
bool sync(int fd) {
    if (_commit(fd) == 0) return true;
    const HANDLE h = Reopened(fd, GENERIC_WRITE);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = FlushFileBuffers(h);
    CloseHandle(h);
    return ok;
}
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
    if (info.FileAttributes == before ||
        SetFileInformationByHandle(HandleOf(fd), FileBasicInfo, &info, sizeof info))
        return true;
    const HANDLE h = Reopened(fd, FILE_WRITE_ATTRIBUTES);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = SetFileInformationByHandle(h, FileBasicInfo, &info, sizeof info);
    CloseHandle(h);
    return ok;
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

bool hardLink(const std::string& from, const std::string& to) {
    return CreateHardLinkW(Wide(to).c_str(), Wide(from).c_str(), nullptr);
}

namespace {
std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), nullptr, 0,
                                      nullptr, nullptr);
    std::string out(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// One argument as CommandLineToArgvW and the C runtime read it back.
std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    std::size_t slashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        out += c;
    }
    out.append(slashes * 2, L'\\');
    return out + L'"';
}

std::map<Pid, HANDLE>& Children() {
    static std::map<Pid, HANDLE> children;
    return children;
}
} // namespace

std::vector<std::string> environment() {
    std::vector<std::string> out;
    wchar_t* block = GetEnvironmentStringsW();
    if (!block) return out;
    for (const wchar_t* e = block; *e; e += wcslen(e) + 1)
        if (*e != L'=') out.push_back(Utf8(e)); // "=C:=C:\\..." are the shell's own
    FreeEnvironmentStringsW(block);
    return out;
}

Pid spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, bool search,
          std::string* error, const std::string& workDir) {
    if (args.empty() || args[0].empty()) return -1;
    std::wstring line;
    for (const auto& a : args)
        line += (line.empty() ? L"" : L" ") + Quoted(Wide(a));
    std::wstring block;
    for (const auto& e : env)
        block += Wide(e) + L'\0';
    block += L'\0';
    // Without `search` the program is the named file only: no PATH, no
    // current folder lookup of a bare name.
    const std::wstring program = Wide(args[0]);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    const std::wstring folder = Wide(workDir);
    // No console window: the updater is a console program, and a black
    // window flashing up mid-update is nothing a player should see.
    if (!CreateProcessW(search ? nullptr : program.c_str(), line.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_NEW_PROCESS_GROUP | CREATE_NO_WINDOW, block.data(),
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        const DWORD code = GetLastError();
        if (error) *error = "Windows error " + std::to_string(code);
        errno = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
        return -1;
    }
    CloseHandle(info.hThread);
    Children()[info.dwProcessId] = info.hProcess;
    return info.dwProcessId;
}

bool childEnded(Pid child) {
    const auto it = Children().find(child);
    return it == Children().end() || WaitForSingleObject(it->second, 0) == WAIT_OBJECT_0;
}

int waitChild(Pid child) {
    const auto it = Children().find(child);
    if (it == Children().end()) return -1;
    WaitForSingleObject(it->second, INFINITE);
    DWORD code = 0;
    const bool known = GetExitCodeProcess(it->second, &code);
    CloseHandle(it->second);
    Children().erase(it);
    return known ? int(code) : -1;
}

void stopChild(Pid child) {
    const auto it = Children().find(child);
    if (it == Children().end()) return;
    // A window program has no console to be asked by; it is ended.
    TerminateProcess(it->second, 1);
    waitChild(child);
}

void waitForProcess(Pid pid) {
    if (pid <= 0) return;
    const HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, DWORD(pid));
    if (!h) return; // gone, or another user's: not our program
    WaitForSingleObject(h, INFINITE);
    CloseHandle(h);
}

namespace {
bool IsRealFolder(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
// The SID of the user this process runs as, in `buffer`.
PSID CurrentUser(std::vector<char>& buffer) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    buffer.resize(size);
    const bool ok = size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    return ok ? reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid : nullptr;
}
} // namespace

bool trustedFolder(const std::string& path) {
    // As the application makes it: a real folder (no link or junction),
    // owned by this user, whose access list lets no one else in. Checked on
    // the opened folder, so the name cannot be swapped between the checks.
    if (!isAbsolute(path)) return false;
    const HANDLE h = CreateFileW(
        Wide(path).c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    bool trusted = false;
    std::vector<char> userBuffer;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const PSID user = CurrentUser(userBuffer);
    if (IsRealFolder(h) && user &&
        GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                        &owner, nullptr, &dacl, nullptr, &descriptor) == ERROR_SUCCESS &&
        owner && EqualSid(owner, user) && dacl) { // no access list at all lets everyone in
        trusted = true;
        for (DWORD i = 0; trusted && i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            if (!GetAce(dacl, i, &ace)) {
                trusted = false;
                break;
            }
            const auto* header = static_cast<ACE_HEADER*>(ace);
            if (header->AceType == ACCESS_DENIED_ACE_TYPE) continue;
            trusted = header->AceType == ACCESS_ALLOWED_ACE_TYPE &&
                      EqualSid(&static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart, user);
        }
    }
    if (descriptor) LocalFree(descriptor);
    CloseHandle(h);
    return trusted;
}

std::vector<std::string> arguments(int, char**) {
    std::vector<std::string> out;
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    for (int i = 0; wide && i < n; ++i)
        out.push_back(Utf8(wide[i]));
    if (wide) LocalFree(wide);
    return out;
}

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

bool hardLink(const std::string& from, const std::string& to) {
    return ::link(from.c_str(), to.c_str()) == 0;
}

std::vector<std::string> environment() {
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e)
        out.emplace_back(*e);
    return out;
}

Pid spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, bool search,
          std::string* error, const std::string& workDir) {
    if (args.empty() || args[0].empty()) return -1;
    std::vector<char*> argv, envp;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto& e : env)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    pid_t pid = -1;
    const int rc = search ? posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), envp.data())
                          : posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        if (error) *error = std::strerror(rc);
        errno = rc;
        return -1;
    }
    return pid;
}

bool childEnded(Pid child) {
    int status = 0;
    return ::waitpid(pid_t(child), &status, WNOHANG) == pid_t(child);
}

int waitChild(Pid child) {
    int status = 0;
    while (::waitpid(pid_t(child), &status, 0) < 0)
        if (errno != EINTR) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stopChild(Pid child) {
    using Clock = std::chrono::steady_clock;
    ::kill(pid_t(child), SIGTERM);
    const auto until = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < until) {
        if (childEnded(child)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_t(child), SIGKILL);
    waitChild(child);
}

namespace {
bool isZombie(Pid pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%lld/stat", pid);
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // "pid (name) S ...": the state follows the last ')'.
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    return close && close[1] == ' ' && close[2] == 'Z';
}
} // namespace

void waitForProcess(Pid pid) {
    if (pid <= 0) return;
    // Not our child: ask until the id is gone. An id another user's process
    // holds (EPERM) is no longer our program, and an ended program its
    // parent has not yet reaped has nothing left open.
    while (::kill(pid_t(pid), 0) == 0 && !isZombie(pid)) {
        int status = 0;
        if (::waitpid(pid_t(pid), &status, WNOHANG) == pid_t(pid)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool trustedFolder(const std::string& path) {
    struct stat st {};
    return !path.empty() && path[0] == '/' && ::lstat(path.c_str(), &st) == 0 &&
           S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

std::vector<std::string> arguments(int argc, char** argv) {
    return {argv, argv + argc};
}

#endif

bool sameFile(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(std::filesystem::u8path(a), std::filesystem::u8path(b), ec);
}

bool isAbsolute(const std::string& path) {
    return std::filesystem::u8path(path).is_absolute();
}

std::string currentFolder() {
    std::error_code ec;
    const auto text = std::filesystem::current_path(ec).generic_u8string();
    return std::string(text.begin(), text.end());
}

bool enterFolder(const std::string& path) {
    std::error_code ec;
    std::filesystem::current_path(std::filesystem::u8path(path), ec);
    return !ec;
}

// Entry by entry, never following a link out of the folder.
void removeFolder(const std::string& path) {
    std::error_code ec;
    const auto dir = std::filesystem::u8path(path);
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        std::error_code one;
        if (e.is_directory(one) && !e.is_symlink(one))
            std::filesystem::remove(e.path(), one); // an emptied scratch folder only
        else
            std::filesystem::remove(e.path(), one);
    }
    std::filesystem::remove(dir, ec);
}

} // namespace sys
