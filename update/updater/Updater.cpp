#include "update/updater/Updater.h"

#include "update/updater/System.h"
#include "update/updater/Unpack.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

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
    for (const auto& e : sys::environment())
        if (!isVariable(e.c_str(), kStartedVariable) && !isVariable(e.c_str(), kRunDirVariable))
            env.push_back(e);
    if (!marker.empty()) {
        env.push_back(std::string(kStartedVariable) + "=" + marker);
        env.push_back(std::string(kRunDirVariable) + "=" + runDir);
    }
    return env;
}

// Starts argv[0] (a path, not looked up unless `search`) in a session of its own.
sys::Pid spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
               bool search) {
    std::string why;
    const sys::Pid pid = sys::spawn(args, env, search, &why);
    if (pid < 0 && !args.empty()) say("cannot start " + args[0] + ": " + why);
    return pid;
}

// The run folder, when it is one we can trust: ours and closed to others.
std::string runFolder() {
    const char* dir = std::getenv(kRunDirVariable);
    if (!dir || !sys::trustedFolder(dir)) return {};
    return dir;
}

// The run folder holds this program and the run's scratch files; nothing
// of it is needed once the program is back, and /tmp should not collect
// one per update. Only a folder we trust (ours, closed to others) is
// emptied, entry by entry, without following links.
void removeRunFolder() {
    const std::string dir = runFolder();
    if (!dir.empty()) sys::removeFolder(dir);
}

// Keeps a copy of `path` as `path.old` without ever leaving `path` missing:
// a hard link where the file system has them, else a copy.
bool keepOld(const std::string& path) {
    const std::string old = path + ".old";
    const std::string temp = path + ".old-tmp";
    sys::remove(temp);
    if (!sys::hardLink(path, temp)) {
        const int in = sys::openRead(path);
        const int out = sys::createNew(temp);
        bool ok = in >= 0 && out >= 0;
        char buffer[65536];
        for (int n; ok && (n = sys::read(in, buffer, sizeof buffer)) != 0;)
            ok = n > 0 && sys::write(out, buffer, static_cast<std::size_t>(n)) == n;
        unsigned mode = 0644;
        ok = ok && sys::kindOf(path, &mode) == sys::Kind::Regular && sys::setMode(out, mode) &&
             sys::sync(out);
        if (in >= 0) sys::close(in);
        if (out >= 0) sys::close(out);
        if (!ok) {
            sys::remove(temp);
            return false;
        }
    }
    if (!sys::replace(temp, old)) {
        sys::remove(temp);
        return false;
    }
    return true;
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
    sys::remove(marker);
    const sys::Pid pid = spawn(args, environmentWith(marker, dir), false);
    if (pid <= 0) return Start::Failed;
    const auto until = Clock::now() + timeout;
    for (;;) {
        if (sys::kindOf(marker) != sys::Kind::Missing) {
            sys::remove(marker);
            return Start::Confirmed;
        }
        if (sys::childEnded(pid)) {
            say("the new program ended before its window was up");
            return Start::Failed;
        }
        if (Clock::now() >= until) {
            say("the new program did not start in time");
            sys::stopChild(pid);
            return Start::Failed;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
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
    sys::waitForProcess(pid);
}

bool RunAndWait(const std::vector<std::string>& argv) {
    const sys::Pid pid = spawn(argv, environmentWith(), true);
    return pid >= 0 && sys::waitChild(pid) == 0;
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
        sys::remove(name);
        return true;
    }
    if (ext == ".CAB") {
        const bool ok = unpack::ExtractCabinet(name, std::string(), error);
        if (ok) sys::remove(name);
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
    if (a.program.find('/') != std::string::npos && !sys::isAbsolute(a.program))
        if (const std::string cwd = sys::currentFolder(); !cwd.empty())
            a.program = cwd + "/" + a.program;
    std::vector<std::string> programArgv{a.program};
    programArgv.insert(programArgv.end(), a.programArguments.begin(), a.programArguments.end());
    // The components lie beside the program, wherever we were started from.
    if (const auto slash = a.program.rfind('/'); slash != std::string::npos) {
        const std::string folder = slash == 0 ? "/" : a.program.substr(0, slash);
        if (!sys::enterFolder(folder)) {
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
        const bool replacesProgram = startProgram && !base.empty() && base == leafOf(a.program) &&
                                     sys::sameFile(base, a.program);
        if (replacesProgram && !keepOld(base)) {
            say("cannot keep the running program as " + base + ".old; it is not replaced");
            result = 2;
            continue;
        }
        std::string error;
        if (!ProcessFile(component, &error)) {
            say(component + ": " + error);
            result = 2;
            if (replacesProgram) sys::remove(base + ".old");
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
        sys::remove(self + ".old");
        break;
    case Start::Unconfirmable:
        break;
    case Start::Failed:
        // Back to the version that worked: one rename, then start it.
        if (!sys::replace(self + ".old", self)) {
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
