#include "ini/FormatFixed.h"

#include <charconv>
#include <cmath>
#include <string>

namespace ini {

std::string FormatFixed(std::string_view pattern, double value) {
    int decimals = 0;
    if (auto dot = pattern.find('.'); dot != std::string_view::npos)
        for (char c : pattern.substr(dot + 1))
            if (c == '0' || c == '#') ++decimals;
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";

    // Shortest round-trip digits, then decimal rounding on that text.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(value), std::chars_format::scientific);
    std::string sci(buf, res.ptr);
    auto e = sci.find('e');
    int exponent = std::stoi(sci.substr(e + 1));
    std::string digits;
    for (char c : sci.substr(0, e))
        if (c != '.') digits.push_back(c);
    // value = 0.digits * 10^(exponent+1); integer part has exponent+1 digits.
    int intLen = exponent + 1;
    if (intLen <= 0) {
        digits.insert(0, static_cast<std::size_t>(-intLen), '0');
        intLen = 0;
    } else if (static_cast<int>(digits.size()) < intLen) {
        digits.append(intLen - digits.size(), '0');
    }
    const std::size_t keep = static_cast<std::size_t>(intLen + decimals);
    if (digits.size() < keep) digits.append(keep - digits.size(), '0');
    bool roundUp = digits.size() > keep && digits[keep] >= '5';
    digits.resize(keep);
    if (roundUp) {
        int i = static_cast<int>(keep) - 1;
        while (i >= 0 && digits[i] == '9') digits[i--] = '0';
        if (i >= 0)
            ++digits[i];
        else {
            digits.insert(digits.begin(), '1');
            ++intLen;
        }
    }
    std::string intPart = intLen > 0 ? digits.substr(0, intLen) : std::string("0");
    intPart.erase(0, std::min(intPart.find_first_not_of('0'), intPart.size() - 1));
    std::string out = intPart;
    if (decimals > 0) out += '.' + digits.substr(intLen, decimals);
    const bool allZero = out.find_first_not_of("0.") == std::string::npos;
    if (value < 0 && !allZero) out.insert(out.begin(), '-');
    return out;
}

} // namespace ini
