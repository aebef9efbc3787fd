#pragma once
#include <string>
#include <string_view>

namespace ini {

// A decimal value as the game's files hold it: always "." as separator, as many
// decimals as the pattern has zeros after its ".", halves rounded away from zero.
// Rounding works on the shortest decimal text of the double, so 2.675 with
// "0.00" gives 2.68 (as a person reading the value expects), not 2.67.
std::string FormatFixed(std::string_view pattern, double value);

} // namespace ini
