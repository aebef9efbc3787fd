// Cabinet extraction of a downloaded file: never a crash, nothing outside
// the destination, and never more output than the limit.
#include "fuzz/FuzzScratch.h"
#include "update/updater/Unpack.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::WriteInput("in.cab", data, size);
    const auto dest = fuzz::Scratch() / "out";
    unpack::Limits limits;
    limits.maxOutput = 4 << 20;
    limits.maxMemory = 16 << 20;
    unpack::ExtractCabinet(input, dest.string(), nullptr, limits);
    std::uintmax_t total = 0;
    for (const auto& e : std::filesystem::directory_iterator(fuzz::Scratch()))
        if (e.path().filename() != "in.cab" && e.path() != dest)
            std::abort(); // written beside the destination
    if (std::filesystem::exists(dest))
        for (const auto& e : std::filesystem::recursive_directory_iterator(dest))
            if (e.is_regular_file()) total += e.file_size();
    if (total > limits.maxOutput) std::abort();
    fuzz::ClearExcept("in.cab");
    return 0;
}
