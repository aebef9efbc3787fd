#pragma once
#include <cstdint>
#include <string>
#include <vector>

// SZDD and cabinet files with libmspack, held to our own rules: nothing is
// written outside its destination, no output follows a symbolic link, every
// output is written under a fresh temporary name beside its target and
// renamed into place only when complete, and neither memory nor output can
// grow past what the archive declares or the limits allow.
// Standard library and libmspack only: the updater program uses it too.
namespace unpack {

struct Limits {
    std::uint64_t maxOutput = std::uint64_t{1} << 30; // all bytes one call may write
    std::size_t maxMemory = std::size_t{256} << 20;   // libmspack's memory in use at once
};

bool IsSzdd(const std::string& path);

// The name an SZDD file expands to: its own name with the last character
// replaced by the one its header stores (upd.ex_ -> upd.exe). Empty when
// that character cannot be part of a file name, or when the result would
// be the compressed file's own name (expanding would consume the source).
std::string ExpandedSzddName(const std::string& path, char storedChar);
// The same for an SZDD file on disk, from its header; empty for any other file.
std::string ExpandedSzddName(const std::string& path);

// Expands an SZDD file beside itself into ExpandedSzddName. The expanded
// path, or empty on failure. The output must reach exactly the header's
// declared length (a truncated file is refused; bytes past it are
// ignored); on failure nothing is left behind and an existing file of the
// expanded name is untouched. An existing target that is no regular file
// (a symbolic link, a folder) is refused.
std::string ExpandSzdd(const std::string& path, std::string* error = nullptr);
std::string ExpandSzdd(const std::string& path, std::string* error, const Limits& limits);

// Extracts every member of a cabinet below `destination` (empty: the
// current folder), creating stored folders and setting each file's date.
// Before anything is written the whole cabinet is checked: a member named
// absolute, with a ".." part or a control character, members whose ranges
// overlap within their folder, or a total past limits.maxOutput make the
// extraction fail. Members are written to temporary files first and renamed
// into place only when all of them are complete.
bool ExtractCabinet(const std::string& cabinet, const std::string& destination,
                    std::string* error = nullptr, const Limits& limits = {});

// Puts the complete file `source` in place of `target` (same folder): it
// is flushed to disk, given the target's mode (0644 when there is no
// target) and renamed over it; the target is never deleted first. A source
// or target that is a symbolic link is refused.
bool ReplaceFile(const std::string& source, const std::string& target,
                 std::string* error = nullptr);

// The SZDD stream of compress.exe (LZSS, 4096-byte window), for embedding
// our updater; libmspack only expands.
std::vector<unsigned char> CompressSzdd(const std::vector<unsigned char>& data, char missingChar);

// Whether a stored name stays inside its folder.
bool SafeMemberName(const std::string& name);

} // namespace unpack
