#include "ini/ValueText.h"

#include "ini/IniFile.h"

#include <cmath>
#include <limits>

namespace ini {

ValueAndComment SplitInlineComment(std::string_view text) {
    const auto marker = text.find_first_of("#;");
    if (marker == std::string_view::npos) return {text, {}};
    auto end = marker;
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return {text.substr(0, end), text.substr(end)};
}

std::optional<std::int32_t> ParseRoundedNumber(std::string_view text) {
    auto value = SplitInlineComment(text).value;
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    if (auto n = ParseIniNumber(value)) return n;
    const auto d = ParseIniFraction(value);
    if (!d || std::isnan(*d)) return std::nullopt;
    const double r = std::round(*d);
    if (r <= static_cast<double>(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    if (r >= static_cast<double>(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(r);
}

} // namespace ini
