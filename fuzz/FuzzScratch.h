#pragma once
// A private folder per fuzzing process and a file in it holding the input:
// the parsers under test read files, as they do in the program.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fuzz {

inline const std::filesystem::path& Scratch() {
    static const std::filesystem::path dir = [] {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "quorlex-fuzz.XXXXXX").string();
        return std::filesystem::path(::mkdtemp(tmpl.data()));
    }();
    return dir;
}

inline std::string WriteInput(const std::string& name, const std::uint8_t* data, std::size_t size) {
    const std::string path = (Scratch() / name).string();
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return path;
}

// Everything but the input goes, so each run starts from the same folder.
inline void ClearExcept(const std::string& keep) {
    for (const auto& e : std::filesystem::directory_iterator(Scratch()))
        if (e.path().filename() != keep) std::filesystem::remove_all(e.path());
}

} // namespace fuzz
