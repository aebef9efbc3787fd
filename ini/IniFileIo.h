#pragma once
// File system side of the INI engine: reading a file whole, and replacing it
// atomically through a temporary file beside it.
#include "ini/IniDocument.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace ini {

Signature statSignature(const std::string& path);

// The file's bytes; nullopt when it exists but cannot be read (then it must
// never be overwritten).
std::optional<std::string> readWholeFile(const std::string& path);

// The file a write lands in: the final target of a symbolic link.
std::string resolveTarget(const std::string& path);

// Whether the target may be replaced (a file without write bits counts as
// read-only, for root too, as the Windows attribute does).
bool canReplace(const std::string& target);
// Why canReplace says no, in a player's words.
std::string whyNotReplaceable(const std::string& target);

// Writes the new content through `fill` into a temporary file in the target's
// folder, syncs it and renames it over the target. Raises EIniFileException
// naming `path`; the old file is then untouched and no temporary is left.
void replaceFile(const std::string& path, const std::function<bool(int fd)>& fill);
// The first half of that: the filled, synced temporary file, for the caller
// to rename over `resolveTarget(path)`. Raises like replaceFile.
std::string stageFile(const std::string& path, const std::function<bool(int fd)>& fill);

// The PID in one of our temporary names (".<target>.qxtmp.<pid>.<six
// letters or digits>"), when the name is one.
std::optional<long> temporaryPid(std::string_view name);

// The temporary file name used for `target` by this process.
std::string temporaryTemplate(const std::string& target);

// Removes temporary files of this engine in `dir` that an interrupted save
// left behind: only names of our own pattern, only regular files, only when
// they are older than this process and the process named in them is gone (or
// started after the file was last written, so the name's PID was reused).
void removeStaleTemporaries(const std::string& dir);

// Test seam, defined with TIniFile.
bool faultAt(std::string_view step, const std::string& path);

} // namespace ini
