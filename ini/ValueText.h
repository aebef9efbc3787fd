#pragma once
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

} // namespace ini
