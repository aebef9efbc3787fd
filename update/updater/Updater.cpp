#include "update/updater/Updater.h"

#include "update/updater/Unpack.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace updater {

namespace {

using Clock = std::chrono::steady_clock;

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string extensionOf(const std::string& name) {
    const auto dot = name.rfind('.');
    const auto slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return upper(name.substr(dot));
}

std::string leafOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void say(const std::string& text) {
    std::fprintf(stderr, "upd: %s\n", text.c_str());
}

bool isVariable(const char* entry, const char* name) {
    const std::size_t n = std::strlen(name);
    return std::strncmp(entry, name, n) == 0 && entry[n] == '=';
}

// Our environment without the update's own variables. A program whose
// start is to be confirmed gets both back: the marker file to create and
// the run folder it must lie in, without which it reports nothing.
std::vector<std::string> environmentWith(const std::string& marker = {},
                                         const std::string& runDir = {}) {
    std::vector<std::string> env;
    for (char** e = environ; e && *e; ++e)
        if (!isVariable(*e, kStartedVariable) && !isVariable(*e, kRunDirVariable))
            env.emplace_back(*e);
    if (!marker.empty()) {
        env.push_back(std::string(kStartedVariable) + "=" + marker);
        env.push_back(std::string(kRunDirVariable) + "=" + runDir);
    }
    return env;
}

// Starts argv[0] (a path, not looked up) in a session of its own.
pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            bool search) {
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
    pid_t pid = -1;
    const int rc = search ? posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), envp.data())
                          : posix_spawn(&pid, argv[0], nullptr, &attr, argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        say("cannot start " + args[0] + ": " + std::strerror(rc));
        return -1;
    }
    return pid;
}

bool isZombie(long pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%ld/stat", pid);
    FILE* f = std::fopen(path, "r");
    if (!f) return false;
    char line[512] = {};
    const bool read = std::fgets(line, sizeof line, f) != nullptr;
    std::fclose(f);
    // "pid (name) S ...": the state follows the last ')'.
    const char* close = read ? std::strrchr(line, ')') : nullptr;
    return close && close[1] == ' ' && close[2] == 'Z';
}

// The run folder, when it is one we can trust: ours and closed to others.
std::string runFolder() {
    const char* dir = std::getenv(kRunDirVariable);
    if (!dir || dir[0] != '/') return {};
    struct stat st {};
    if (::lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0)
        return {};
    return dir;
}

// The run folder holds this program and the run's scratch files; nothing
// of it is needed once the program is back, and /tmp should not collect
// one per update. Only a folder we trust (ours, closed to others) is
// emptied, entry by entry, without following links.
void removeRunFolder() {
    const std::string dir = runFolder();
    if (dir.empty()) return;
    if (DIR* d = ::opendir(dir.c_str())) {
        const int fd = ::dirfd(d);
        while (const dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != ".." && ::unlinkat(fd, name.c_str(), 0) != 0 && errno == EISDIR)
                ::unlinkat(fd, name.c_str(), AT_REMOVEDIR); // an emptied scratch folder
        }
        ::closedir(d);
    }
    ::rmdir(dir.c_str());
}

// Keeps a copy of `path` as `path.old` without ever leaving `path` missing:
// a hard link where the file system has them, else a copy.
bool keepOld(const std::string& path) {
    const std::string old = path + ".old";
    const std::string temp = path + ".old-tmp";
    ::unlink(temp.c_str());
    if (::link(path.c_str(), temp.c_str()) != 0) {
        const int in = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        const int out =
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        bool ok = in >= 0 && out >= 0;
        char buffer[65536];
        for (ssize_t n; ok && (n = ::read(in, buffer, sizeof buffer)) != 0;)
            ok = n > 0 && ::write(out, buffer, static_cast<std::size_t>(n)) == n;
        struct stat st {};
        ok = ok && ::fstat(in, &st) == 0 && ::fchmod(out, st.st_mode & 0777) == 0 &&
             ::fsync(out) == 0;
        if (in >= 0) ::close(in);
        if (out >= 0) ::close(out);
        if (!ok) {
            ::unlink(temp.c_str());
            return false;
        }
    }
    if (std::rename(temp.c_str(), old.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

void stop(pid_t pid) {
    ::kill(pid, SIGTERM);
    const auto until = Clock::now() + std::chrono::seconds(2);
    int status = 0;
    while (Clock::now() < until) {
        if (::waitpid(pid, &status, WNOHANG) == pid) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
}

enum class Start { Confirmed, Failed, Unconfirmable };

// Starts the replaced program and waits for the file it creates once its
// window is up. It failing to appear in time, or the program ending first,
// means the new version does not work here.
Start startAndConfirm(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
    const std::string dir = runFolder();
    if (dir.empty()) {
        say("no private run folder: the new program cannot confirm its start, the previous one "
            "stays as .old");
        return spawn(args, environmentWith(), false) > 0 ? Start::Unconfirmable : Start::Failed;
    }
    const std::string marker = dir + "/started";
    ::unlink(marker.c_str());
    const pid_t pid = spawn(args, environmentWith(marker, dir), false);
    if (pid <= 0) return Start::Failed;
    const auto until = Clock::now() + timeout;
    for (;;) {
        struct stat st {};
        if (::lstat(marker.c_str(), &st) == 0) {
            ::unlink(marker.c_str());
            return Start::Confirmed;
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            say("the new program ended before its window was up");
            return Start::Failed;
        }
        if (Clock::now() >= until) {
            say("the new program did not start in time");
            stop(pid);
            return Start::Failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool sameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

// The file a component replaces, for the "_NEW" rule; empty for others.
std::string replacedBy(const std::string& name) {
    const std::string up = upper(name);
    if (up.size() > 4 && up.find("_NEW") == up.size() - 4) return name.substr(0, name.size() - 4);
    return {};
}

// The file a component puts in place: the "_NEW" rule's or the expanded
// name of an SZDD file (cabinets and patches are not the program).
std::string targetOf(const std::string& name) {
    if (std::string base = replacedBy(name); !base.empty()) return base;
    const std::string ext = extensionOf(name);
    if (ext == ".CAB" || ext == ".PAT") return {};
    return unpack::ExpandedSzddName(name);
}

} // namespace

bool PlainComponentName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find("..") != std::string::npos)
        return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 32 || c == 127) return false;
    return true;
}

std::optional<Arguments> ParseArguments(int argc, char** argv, std::string* error) {
    auto refuse = [&](const std::string& why) -> std::optional<Arguments> {
        if (error) *error = why;
        return std::nullopt;
    };
    if (argc < 2) return refuse("no process id");
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0' || errno != 0 || pid < 0)
        return refuse(std::string("not a process id: ") + argv[1]);
    Arguments a;
    a.pid = pid;
    a.program = argc >= 3 ? argv[2] : "null";
    if (a.program.empty()) a.program = "null";
    int i = 3;
    for (; i < argc && std::string(argv[i]) != "--"; ++i) {
        if (!PlainComponentName(argv[i]))
            return refuse(std::string("not a plain file name: ") + argv[i]);
        a.components.emplace_back(argv[i]);
    }
    for (++i; i < argc; ++i)
        a.programArguments.emplace_back(argv[i]);
    return a;
}

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    bool quoted = false, any = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any || !cur.empty()) out.push_back(cur);
            cur.clear();
            any = false;
        } else {
            cur += c;
        }
    }
    if (any || !cur.empty()) out.push_back(cur);
    return out;
}

void WaitForProcess(long pid) {
    if (pid <= 0) return;
    // Not our child: ask until the id is gone. An id another user's process
    // holds (EPERM) is no longer our program, and an ended program its
    // parent has not yet reaped has nothing left open.
    while (::kill(static_cast<pid_t>(pid), 0) == 0 && !isZombie(pid)) {
        int status = 0;
        if (::waitpid(static_cast<pid_t>(pid), &status, WNOHANG) == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool RunAndWait(const std::vector<std::string>& argv) {
    const pid_t pid = spawn(argv, environmentWith(), true);
    if (pid < 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunAndWait(const std::string& commandLine) {
    return RunAndWait(SplitCommandLine(commandLine));
}

bool ProcessFile(const std::string& name, std::string* error) {
    if (const std::string base = replacedBy(name); !base.empty()) {
        // The new file goes over the old one in one rename, flushed first and
        // with the old one's mode; a missing new file loses nothing.
        return unpack::ReplaceFile(name, base, error);
    }
    const std::string ext = extensionOf(name);
    if (ext == ".PAT") {
        // Only the patcher beside the program, never one found through PATH.
        RunAndWait({"./patcher.exe", name, name.substr(0, name.size() - 4) + ".EXE"});
        std::remove(name.c_str());
        return true;
    }
    if (ext == ".CAB") {
        const bool ok = unpack::ExtractCabinet(name, std::string(), error);
        if (ok) std::remove(name.c_str());
        return ok;
    }
    return !unpack::ExpandSzdd(name, error).empty(); // the compressed file is kept
}

int Run(int argc, char** argv, const Options& options) {
    struct RunFolderRemover {
        ~RunFolderRemover() { removeRunFolder(); }
    } removeAtEnd;
    std::string why;
    const auto parsed = ParseArguments(argc, argv, &why);
    if (!parsed) {
        say(why);
        // A refused component list still waits and restarts the program, but
        // applies nothing: half an update is worse than none.
        if (argc < 3 || why.rfind("not a plain file name", 0) != 0) return 1;
        char* kept[] = {argv[0], argv[1], argv[2], nullptr};
        Run(3, kept, options);
        return 1;
    }
    Arguments a = *parsed;
    const bool startProgram = a.program != "null";
    // A relative program path still names it after we change folders.
    if (a.program.find('/') != std::string::npos && a.program[0] != '/')
        if (char* cwd = ::getcwd(nullptr, 0)) {
            a.program = std::string(cwd) + "/" + a.program;
            std::free(cwd);
        }
    std::vector<std::string> programArgv{a.program};
    programArgv.insert(programArgv.end(), a.programArguments.begin(), a.programArguments.end());
    // The components lie beside the program, wherever we were started from.
    if (const auto slash = a.program.rfind('/'); slash != std::string::npos) {
        const std::string folder = slash == 0 ? "/" : a.program.substr(0, slash);
        if (::chdir(folder.c_str()) != 0) {
            say("cannot enter the program's folder " + folder + ": " + std::strerror(errno));
            WaitForProcess(a.pid);
            spawn(programArgv, environmentWith(), false);
            return 2;
        }
    }
    WaitForProcess(a.pid);

    std::string self; // the program's own file, when a component replaces it
    int result = 0;
    for (const auto& component : a.components) {
        const std::string base = targetOf(component);
        const bool replacesProgram =
            startProgram && !base.empty() && base == leafOf(a.program) && sameFile(base, a.program);
        if (replacesProgram && !keepOld(base)) {
            say("cannot keep the running program as " + base + ".old; it is not replaced");
            result = 2;
            continue;
        }
        std::string error;
        if (!ProcessFile(component, &error)) {
            say(component + ": " + error);
            result = 2;
            if (replacesProgram) ::unlink((base + ".old").c_str());
            continue;
        }
        if (replacesProgram) self = base;
    }
    if (!startProgram) return result;
    if (self.empty()) {
        spawn(programArgv, environmentWith(), false);
        return result;
    }
    switch (startAndConfirm(programArgv, options.startTimeout)) {
    case Start::Confirmed:
        ::unlink((self + ".old").c_str());
        break;
    case Start::Unconfirmable:
        break;
    case Start::Failed:
        // Back to the version that worked: one rename, then start it.
        if (std::rename((self + ".old").c_str(), self.c_str()) != 0) {
            say("cannot put " + self + ".old back: " + std::strerror(errno));
            return 2;
        }
        say("the previous program is back in place");
        spawn(programArgv, environmentWith(), false);
        return 2;
    }
    return result;
}

} // namespace updater
