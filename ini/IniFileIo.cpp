#include "ini/IniFileIo.h"

#include "ini/IniFile.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace ini {

namespace {

constexpr std::string_view kTempMark = ".qxtmp.";

std::int64_t toNs(const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Taken when the program loads: nothing of this process wrote before it.
const std::int64_t gProcessStartNs = [] {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return toNs(t);
}();

std::string dirOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// When the process started, in ns of the real-time clock; nullopt when that
// cannot be told. /proc gives clock ticks since boot, and the boot time only
// in whole seconds.
std::optional<std::int64_t> processStartNs(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string all((std::istreambuf_iterator<char>(stat)), {});
    const auto paren = all.rfind(')');
    if (paren == std::string::npos) return std::nullopt;
    std::istringstream fields(all.substr(paren + 1));
    std::string field;
    // state is field 3 of stat; starttime is field 22.
    for (int i = 3; i <= 22; ++i)
        if (!(fields >> field)) return std::nullopt;
    const long long ticks = std::strtoll(field.c_str(), nullptr, 10);
    std::ifstream procStat("/proc/stat");
    std::string line;
    long long btime = -1;
    while (std::getline(procStat, line))
        if (line.rfind("btime ", 0) == 0) btime = std::strtoll(line.c_str() + 6, nullptr, 10);
    const long hz = ::sysconf(_SC_CLK_TCK);
    if (btime < 0 || hz <= 0 || ticks <= 0) return std::nullopt;
    return btime * 1000000000LL + ticks * (1000000000LL / hz);
}

bool writerMayBeAlive(long pid, std::int64_t mtimeNs) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return false;
    // The PID is taken; by the writer only if that process is older than the file.
    const auto started = processStartNs(pid);
    constexpr std::int64_t kClockSlack = 2'000'000'000; // boot time has whole seconds
    return !started || mtimeNs + kClockSlack >= *started;
}

} // namespace

Signature statSignature(const std::string& path) {
    struct stat st {};
    Signature sig;
    if (::stat(path.c_str(), &st) != 0) return sig;
    sig.exists = true;
    sig.size = st.st_size;
    sig.inode = st.st_ino;
    sig.device = st.st_dev;
    sig.mtimeNs = toNs(st.st_mtim);
    return sig;
}

std::optional<std::string> readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        return std::nullopt;
    }
    std::string data;
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    bool failed = false;
    while (got < data.size()) {
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    data.resize(got);
    // A file that grew since fstat: take the rest too, without growing the
    // big buffer a little at a time.
    char more[65536];
    while (!failed) {
        const ssize_t n = ::read(fd, more, sizeof more);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) failed = true;
        if (n <= 0) break;
        data.append(more, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (failed) return std::nullopt;
    return data;
}

std::string resolveTarget(const std::string& path) {
    std::string cur = path;
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(cur.c_str(), buf, sizeof buf - 1);
        if (n < 0) return cur;
        std::string next(buf, static_cast<std::size_t>(n));
        if (next.empty() || next.front() != '/') {
            const auto slash = cur.rfind('/');
            next = (slash == std::string::npos ? std::string() : cur.substr(0, slash + 1)) + next;
        }
        cur = next;
    }
    return cur;
}

bool canReplace(const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return false;
        if (::access(target.c_str(), W_OK) != 0) return false;
    }
    return ::access(dirOf(target).c_str(), W_OK | X_OK) == 0;
}

std::string whyNotReplaceable(const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return "not a plain file";
        if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)
            return "the file is read-only";
    }
    return "its folder cannot be written";
}

std::string temporaryTemplate(const std::string& target) {
    const auto slash = target.rfind('/');
    return dirOf(target) + "/." + target.substr(slash == std::string::npos ? 0 : slash + 1) +
           std::string(kTempMark) + std::to_string(::getpid()) + ".XXXXXX";
}

void removeStaleTemporaries(const std::string& dir) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const int dfd = ::dirfd(d);
    while (const dirent* e = ::readdir(d)) {
        const auto pid = temporaryPid(e->d_name);
        if (!pid) continue;
        struct stat st {};
        // Only our own: in a shared folder another user's files are not ours to remove.
        if (::fstatat(dfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::getuid())
            continue;
        const std::int64_t mtime = toNs(st.st_mtim);
        if (mtime >= gProcessStartNs || writerMayBeAlive(*pid, mtime)) continue;
        ::unlinkat(dfd, e->d_name, 0);
    }
    ::closedir(d);
}

std::string stageFile(const std::string& path, const std::function<bool(int fd)>& fill) {
    const std::string target = resolveTarget(path);
    if (!canReplace(target)) throw EIniFileException(path, whyNotReplaceable(target));
    const std::string dir = dirOf(target);
    removeStaleTemporaries(dir);
    std::string tmpl = temporaryTemplate(target);
    if (faultAt("create", path)) throw EIniFileException(path);
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) throw EIniFileException(path, std::strerror(errno));
    auto fail = [&](int error) {
        ::close(fd);
        ::unlink(tmpl.c_str());
        throw EIniFileException(path, error ? std::strerror(error) : std::string());
    };
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        ::fchmod(fd, st.st_mode & 07777);
        if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) { /* keep ours */
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    errno = 0;
    if (faultAt("write", path) || !fill(fd)) fail(errno);
    if (faultAt("sync", path) || ::fsync(fd) != 0) fail(errno);
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(tmpl.c_str());
        throw EIniFileException(path, std::strerror(error));
    }
    return tmpl;
}

void replaceFile(const std::string& path, const std::function<bool(int fd)>& fill) {
    const std::string tmpl = stageFile(path, fill);
    const std::string target = resolveTarget(path);
    if (faultAt("rename", path) || ::rename(tmpl.c_str(), target.c_str()) != 0) {
        const int error = errno;
        ::unlink(tmpl.c_str());
        throw EIniFileException(path, error ? std::strerror(error) : std::string());
    }
    if (const int dirFd = ::open(dirOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace ini
