#include "ini/ValueText.h"

namespace ini {

ValueAndComment SplitInlineComment(std::string_view text) {
    const auto marker = text.find_first_of("#;");
    if (marker == std::string_view::npos) return {text, {}};
    auto end = marker;
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return {text.substr(0, end), text.substr(end)};
}

} // namespace ini
