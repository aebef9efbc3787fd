#pragma once
#include "platform/Installs.h"
#include "platform/Keyboard.h"

#include <QString>
#include <Qt>
#include <cstdint>

namespace keybinds {

// The game's name of a Windows virtual-key code; empty for a key it has no name for.
QString KeyNameOfVirtualKey(int vk);

// One key event as the toolkit reports it.
struct PhysicalKey {
    int qtKey = 0;                      // Qt::Key
    bool keypad = false;                // Qt::KeypadModifier
    std::uint32_t nativeScanCode = 0;   // X/Wayland keycode, Windows scan code; 0 when none
    std::uint32_t nativeVirtualKey = 0; // X/Wayland keysym, Windows virtual key; 0 when none
    QString text;                       // what the key types, if anything
};

// The game key of a pressed key, as its Windows virtual-key code (0 when the
// game has no name for it), the way the game of the install reads it:
// - VirtualKeys (the Windows build): on Windows the system's own virtual key.
//   Elsewhere the game runs under Wine, which gives each key of the main
//   block the code its layout tables give that place: the layout's letters
//   tell QWERTY, AZERTY or QWERTZ apart, so on a French keyboard the key
//   right of P is RightBracket and the key typing ; is Period. A key whose
//   first group types a Latin letter is that letter; letters of other
//   scripts go by place (a Russian Й is Q).
// - SdlKeySymbols (the native build): SDL 1.2's key for the first symbol the
//   map gives the key, whatever Shift, Caps Lock or the group: a French & key
//   is no key the game names, the key typing M is M.
// Without a map the key's own symbol stands for it; without native codes
// (no window system) the Qt code of a US layout is used.
int GameKeyOf(const PhysicalKey& key, platform::KeyReading reading,
              const platform::KeyboardMap& map = {});
// The two readings on their own: the virtual key, and SDL 1.2's key
// symbol (SDLK_*, 0 for none) with the game key it stands for.
int VirtualKeyOf(const PhysicalKey& key, const platform::KeyboardMap& map = {});
int SdlKeyOf(const PhysicalKey& key, const platform::KeyboardMap& map = {});
int VirtualKeyOfSdlKey(int sdlKey);

// The game key of a mouse button pressed on the key field: the thumb
// buttons are Mouse4 and Mouse5; the others are the field's own.
int VirtualKeyOfMouseButton(Qt::MouseButton button);

// How the system itself calls a key, for telling the player which key has no
// name in the game.
QString NativeKeyName(const PhysicalKey& key);

} // namespace keybinds
