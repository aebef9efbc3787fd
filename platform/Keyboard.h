#pragma once
#include <array>
#include <cstdint>
#include <map>

namespace platform {

// The key symbols the window system's keyboard map gives each key, by X
// keycode (evdev code + 8, as Qt reports it in nativeScanCode): the core
// map's first four columns, that is the first two groups with two levels
// each. It is the map Wine and SDL read, so the keys of a game under either
// are named from it, whatever group the player has switched to.
struct KeyboardMap {
    using Symbols = std::array<std::uint32_t, 4>; // 0 where the map has none
    std::map<std::uint32_t, Symbols> keys;

    bool Has(std::uint32_t keycode) const { return keys.count(keycode) != 0; }
    Symbols Of(std::uint32_t keycode) const {
        const auto it = keys.find(keycode);
        return it == keys.end() ? Symbols{} : it->second;
    }
};

// The map of the X display the program shows on, read anew at each call, so
// a layout switched meanwhile is seen. Under Wayland it is the map Xwayland
// gives X programs (the game among them). Empty where there is none
// (Windows, no display, offscreen).
KeyboardMap CurrentKeyboardMap();

} // namespace platform
