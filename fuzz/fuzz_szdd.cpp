// SZDD expansion of a downloaded file: never a crash, and never an output
// that differs in length from what the header declares.
#include "fuzz/FuzzScratch.h"
#include "update/updater/Unpack.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input = fuzz::WriteInput("in.tx_", data, size);
    unpack::Limits limits;
    limits.maxOutput = 1 << 20;
    limits.maxMemory = 1 << 20;
    const std::string out = unpack::ExpandSzdd(input, nullptr, limits);
    if (!out.empty()) {
        std::uint32_t declared = 0;
        for (int i = 0; i < 4; ++i)
            declared |= std::uint32_t{data[10 + i]} << (8 * i);
        if (std::filesystem::file_size(out) != declared) std::abort();
    }
    fuzz::ClearExcept("in.tx_");
    return 0;
}
