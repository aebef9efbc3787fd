#pragma once
// The updater's own platform file: the few file calls it makes, on POSIX
// and on Windows (System.cpp). Paths are UTF-8 and use '/'. Every open
// refuses a symbolic link (a reparse point on Windows) at the last name.
#include <ctime>
#include <string>

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

} // namespace sys
