#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace ini {

// A typed value (flag, number, decimal) as players leave it in their files:
// "False #False for highest stable fps." or "0.5 ;half". A typed value never
// holds '#' or ';', so the first of them starts a comment that belongs to the
// line, not to the value.
struct ValueAndComment {
    std::string_view value;   // trimmed of the blanks before the comment
    std::string_view comment; // from the first blank before the marker to the end; "" when none
};
ValueAndComment SplitInlineComment(std::string_view text);

// A whole number as the game may have written it: "2", "2.000000", "0x10",
// with or without an inline comment. Decimals are rounded (halves away from
// zero) and clamped to 32 bits; text that is no number gives nothing.
std::optional<std::int32_t> ParseRoundedNumber(std::string_view text);

} // namespace ini
