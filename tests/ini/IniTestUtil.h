#pragma once
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>

namespace initest {

inline std::string slurp(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void spit(const std::string& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
    out << bytes;
}

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir() {
        std::mt19937_64 random{std::random_device{}()};
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto dir = std::filesystem::temp_directory_path() / ("qini." + std::to_string(random()));
            if (std::filesystem::create_directory(dir)) path_ = dir.generic_string();
        }
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    // Names of everything in the folder, to prove no temporary file was left.
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(path_),
                                                      std::filesystem::directory_iterator()));
    }

private:
    std::string path_;
};

} // namespace initest
