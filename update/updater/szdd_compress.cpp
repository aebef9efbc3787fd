// Build tool: compresses a file into SZDD (compress.exe's format).
// Usage: szdd_compress INPUT OUTPUT MISSINGCHAR
#include "update/updater/Unpack.h"

#include <fstream>
#include <iostream>
#include <iterator>

int main(int argc, char** argv) {
    if (argc != 4 || argv[3][0] == '\0') {
        std::cerr << "usage: szdd_compress INPUT OUTPUT MISSINGCHAR\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> data{std::istreambuf_iterator<char>(in), {}};
    if (!in.good() && !in.eof()) return 1;
    const auto packed = unpack::CompressSzdd(data, argv[3][0]);
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
    return out.good() ? 0 : 1;
}
