#include "update/updater/Updater.h"

#include "update/updater/Unpack.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace updater {

namespace {

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string extensionOf(const std::string& name) {
    const auto dot = name.rfind('.');
    const auto slash = name.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    return upper(name.substr(dot));
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

pid_t spawn(const std::string& commandLine, bool detach) {
    const auto args = SplitCommandLine(commandLine);
    if (args.empty()) return -1;
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    if (detach) posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

} // namespace

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
    // Not our child: ask until the id is gone (or a zombie of our own parent).
    while (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) {
        int status = 0;
        if (::waitpid(static_cast<pid_t>(pid), &status, WNOHANG) == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

bool RunAndWait(const std::string& commandLine) {
    const pid_t pid = spawn(commandLine, false);
    if (pid < 0) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool StartDetached(const std::string& commandLine) { return spawn(commandLine, true) > 0; }

bool ProcessFile(const std::string& name) {
    const std::string up = upper(name);
    if (up.size() > 4 && up.find("_NEW") == up.size() - 4) {
        // The new file must be there before the old one goes: rename
        // replaces it in one step, and a missing new file loses nothing.
        const std::string base = name.substr(0, name.size() - 4);
        if (!exists(name)) return false;
        // The new file takes the old one's permissions: a program stays runnable.
        struct stat old {};
        if (::stat(base.c_str(), &old) == 0) ::chmod(name.c_str(), old.st_mode & 07777);
        return std::rename(name.c_str(), base.c_str()) == 0;
    }
    const std::string ext = extensionOf(name);
    if (ext == ".PAT") {
        const std::string target = name.substr(0, name.size() - 4) + ".EXE";
        RunAndWait("patcher.exe \"" + name + "\" \"" + target + "\"");
        std::remove(name.c_str());
        return true;
    }
    if (ext == ".CAB") {
        const bool ok = unpack::ExtractCabinet(name, std::string());
        if (ok) std::remove(name.c_str());
        return ok;
    }
    return !unpack::ExpandSzdd(name).empty(); // the compressed file is kept
}

int Run(int argc, char** argv) {
    if (argc < 2) return 1;
    char* end = nullptr;
    const long pid = std::strtol(argv[1], &end, 10);
    if (end == argv[1] || *end != '\0') return 1;
    WaitForProcess(pid);
    for (int i = 3; i < argc; ++i) ProcessFile(argv[i]);
    if (argc >= 3 && std::string(argv[2]) != "null" && argv[2][0] != '\0') StartDetached(argv[2]);
    return 0;
}

} // namespace updater
