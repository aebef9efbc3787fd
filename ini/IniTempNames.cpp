// The names of the INI engine's temporary files, the same on every system.
#include "ini/IniFileIo.h"

namespace ini {

namespace {
constexpr std::string_view kTempMark = ".qxtmp.";
} // namespace

// The PID in one of our temporary names, when the name is one.
std::optional<long> temporaryPid(std::string_view name) {
    // .<target>.qxtmp.<pid>.<six letters or digits from mkostemp>
    if (name.size() < 2 || name.front() != '.') return std::nullopt;
    if (name.size() < 7 || name[name.size() - 7] != '.') return std::nullopt;
    for (char c : name.substr(name.size() - 6))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return std::nullopt;
    const auto rest = name.substr(0, name.size() - 7);
    const auto mark = rest.rfind(kTempMark);
    if (mark == std::string_view::npos || mark < 2) return std::nullopt;
    const auto digits = rest.substr(mark + kTempMark.size());
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    long pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    if (pid <= 0) return std::nullopt;
    return pid;
}

} // namespace ini
