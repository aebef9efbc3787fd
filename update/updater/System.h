#pragma once
// The updater's own platform file: the few file calls it makes, on POSIX
// and on Windows (System.cpp). Paths are UTF-8 and use '/'. Every open
// refuses a symbolic link (a reparse point on Windows) at the last name.
#include <ctime>
#include <string>
#include <vector>

namespace sys {

int openRead(const std::string& path);
// A new file that must not exist yet, private to the user.
int createNew(const std::string& path);
int read(int fd, void* buffer, std::size_t bytes);
int write(int fd, const void* buffer, std::size_t bytes);
long long seek(int fd, long long offset, int whence);
bool close(int fd);
bool sync(int fd);
// A folder's new and renamed names made durable; nothing more on Windows,
// where every rename is written through.
void syncDir(const std::string& dir);
bool setMode(int fd, unsigned mode);
bool isRegular(int fd);
bool setTimes(int fd, std::time_t when);

enum class Kind { Missing, Regular, Directory, Other, Unknown };
// What the name itself is, a link not followed; `mode` gets its 0777 bits.
Kind kindOf(const std::string& path, unsigned* mode = nullptr);
// True when the folder exists afterwards (made now or before).
bool makeDir(const std::string& path);
// Renames `from` over `to` in one step.
bool replace(const std::string& from, const std::string& to);
bool remove(const std::string& path);
// A second name for the same file where the file system has them.
bool hardLink(const std::string& from, const std::string& to);
bool sameFile(const std::string& a, const std::string& b);
bool isAbsolute(const std::string& path);
std::string currentFolder();
bool enterFolder(const std::string& path);

// The run folder the application made for this update, when it can be
// trusted: a real folder (no link) of this user, closed to others.
bool trustedFolder(const std::string& path);
// Removes the folder's files and empty subfolders, then the folder.
void removeFolder(const std::string& path);

// Processes. A child is one `spawn` started.
using Pid = long long;
std::vector<std::string> environment(); // NAME=value, UTF-8
// Starts args[0] in a session (a process group) of its own, in `workDir`
// when one is given; with `search` a bare name is looked up on the PATH.
// -1, a message and errno when it failed.
Pid spawn(const std::vector<std::string>& args, const std::vector<std::string>& env, bool search,
          std::string* error, const std::string& workDir = {});
bool childEnded(Pid child); // without waiting
int waitChild(Pid child);   // its exit code; -1 when unknown
void stopChild(Pid child);  // asked to end, then ended
// Waits until a process that is not our child has ended.
void waitForProcess(Pid pid);

// The arguments as UTF-8, whatever the system's own encoding.
std::vector<std::string> arguments(int argc, char** argv);

} // namespace sys
