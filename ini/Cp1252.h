#pragma once
#include <string>
#include <string_view>

namespace ini {

// The game writes its INI files in Windows-1252. The rest of the program
// speaks UTF-8, so every value crosses this boundary exactly once.
// The five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// map to the C1 control of the same number, so that any byte sequence
// survives a decode/encode round trip unchanged.
std::string cp1252ToUtf8(std::string_view bytes);

// Characters Windows-1252 cannot hold become '?', as the Windows
// conversion does; malformed UTF-8 sequences too.
std::string utf8ToCp1252(std::string_view utf8);

} // namespace ini
