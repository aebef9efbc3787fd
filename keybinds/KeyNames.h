#pragma once
#include <QString>
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

// The game's virtual-key code of a pressed key, 0 when the game has no name
// for it. On Windows the system's own virtual key is that code. Elsewhere the
// key is read as the game would see it on Windows with the same layout:
// letters A-Z and digits go by the symbol the layout gives the key (the key
// labelled M on a French keyboard is M); punctuation, modifiers and letters of
// other scripts go by their position on the keyboard (the key left of 1 is
// Tilde, the Cyrillic key in the place of Q is Q). Without native codes (no
// window system) the Qt code of a US layout is used.
int VirtualKeyOf(const PhysicalKey& key);

// How the system itself calls a key, for telling the player which key has no
// name in the game.
QString NativeKeyName(const PhysicalKey& key);

} // namespace keybinds
