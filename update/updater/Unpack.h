#pragma once
#include <cstdint>
#include <string>
#include <vector>

// SZDD and cabinet files with libmspack, held to our own rules: nothing is
// written outside its destination, no output follows a symbolic link, and
// neither memory nor output can grow past what the archive declares.
// Standard library and libmspack only: the updater program uses it too.
namespace unpack {

bool IsSzdd(const std::string& path);

// Expands an SZDD file next to itself, into the name its header gives
// (upd.ex_ -> upd.exe). The expanded path, or empty on failure. Output
// stops at the header's declared length.
std::string ExpandSzdd(const std::string& path, std::string* error = nullptr);

// Extracts every member of a cabinet below `destination` (empty: the
// current folder), creating stored folders and setting each file's date.
// A member named absolute, with a ".." part or a control character makes
// the whole extraction fail before anything is written.
bool ExtractCabinet(const std::string& cabinet, const std::string& destination, std::string* error = nullptr);

// The SZDD stream of compress.exe (LZSS, 4096-byte window), for embedding
// our updater; libmspack only expands.
std::vector<unsigned char> CompressSzdd(const std::vector<unsigned char>& data, char missingChar);

// Whether a stored name stays inside its folder.
bool SafeMemberName(const std::string& name);

} // namespace unpack
