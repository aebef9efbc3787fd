#pragma once
#include <QString>
#include <cstdint>

namespace keybinds {

// The game's name of a Windows virtual-key code; empty for a key it has no name for.
QString KeyNameOfVirtualKey(int vk);

// One key event as the toolkit reports it.
struct PhysicalKey {
    int qtKey = 0;                 // Qt::Key
    bool keypad = false;           // Qt::KeypadModifier
    std::uint32_t nativeScanCode = 0; // 0 when the platform gives none
};

// The virtual-key code of the physical key, 0 when it has none. Keys whose
// Qt code depends on the keyboard layout (the digit row, the punctuation keys)
// are told apart by their native scan code, so the key left of 1 is "Tilde"
// on every layout; without a scan code the Qt code of a US layout is used.
int VirtualKeyOf(const PhysicalKey& key);

} // namespace keybinds
