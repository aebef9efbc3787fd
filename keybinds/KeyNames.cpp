#include "keybinds/KeyNames.h"

#include <QKeySequence>
#include <Qt>

namespace keybinds {

namespace {

// The keys the game names that have a fixed Qt code on every layout, plus the
// US symbols of the layout-dependent keys (used when there is no native code).
struct KeyRowDef {
    int vk;
    const char* name;
    int qtKey;
    bool keypad;
};

constexpr KeyRowDef kKeys[] = {
    {8, "Backspace", Qt::Key_Backspace, false},
    {13, "Enter", Qt::Key_Return, false},
    {13, "Enter", Qt::Key_Enter, true},
    {16, "Shift", Qt::Key_Shift, false},
    {17, "Ctrl", Qt::Key_Control, false},
    {18, "Alt", Qt::Key_Alt, false},
    {18, "Alt", Qt::Key_AltGr, false},
    {19, "Pause", Qt::Key_Pause, false},
    {20, "Capslock", Qt::Key_CapsLock, false},
    {27, "Escape", Qt::Key_Escape, false},
    {32, "Space", Qt::Key_Space, false},
    {33, "PageUp", Qt::Key_PageUp, false},
    {34, "PageDown", Qt::Key_PageDown, false},
    {35, "End", Qt::Key_End, false},
    {36, "Home", Qt::Key_Home, false},
    {37, "Left", Qt::Key_Left, false},
    {38, "Up", Qt::Key_Up, false},
    {39, "Right", Qt::Key_Right, false},
    {40, "Down", Qt::Key_Down, false},
    {44, "PrintScrn", Qt::Key_Print, false},
    {45, "Insert", Qt::Key_Insert, false},
    {46, "Delete", Qt::Key_Delete, false},
    {96, "Numpad0", Qt::Key_0, true},
    {97, "Numpad1", Qt::Key_1, true},
    {98, "Numpad2", Qt::Key_2, true},
    {99, "Numpad3", Qt::Key_3, true},
    {100, "Numpad4", Qt::Key_4, true},
    {101, "Numpad5", Qt::Key_5, true},
    {102, "Numpad6", Qt::Key_6, true},
    {103, "Numpad7", Qt::Key_7, true},
    {104, "Numpad8", Qt::Key_8, true},
    {105, "Numpad9", Qt::Key_9, true},
    {106, "GreyStar", Qt::Key_Asterisk, true},
    {107, "GreyPlus", Qt::Key_Plus, true},
    {109, "GreyMinus", Qt::Key_Minus, true},
    {110, "NumpadPeriod", Qt::Key_Period, true},
    {110, "NumpadPeriod", Qt::Key_Comma, true},
    {111, "GreySlash", Qt::Key_Slash, true},
    {144, "NumLock", Qt::Key_NumLock, false},
    {145, "ScrollLock", Qt::Key_ScrollLock, false},
    {48, "0", Qt::Key_0, false},
    {49, "1", Qt::Key_1, false},
    {50, "2", Qt::Key_2, false},
    {51, "3", Qt::Key_3, false},
    {52, "4", Qt::Key_4, false},
    {53, "5", Qt::Key_5, false},
    {54, "6", Qt::Key_6, false},
    {55, "7", Qt::Key_7, false},
    {56, "8", Qt::Key_8, false},
    {57, "9", Qt::Key_9, false},
    {186, "Semicolon", Qt::Key_Semicolon, false},
    {187, "Equals", Qt::Key_Equal, false},
    {188, "Comma", Qt::Key_Comma, false},
    {189, "Minus", Qt::Key_Minus, false},
    {190, "Period", Qt::Key_Period, false},
    {191, "Slash", Qt::Key_Slash, false},
    {192, "Tilde", Qt::Key_QuoteLeft, false},
    {219, "LeftBracket", Qt::Key_BracketLeft, false},
    {220, "Backslash", Qt::Key_Backslash, false},
    {221, "RightBracket", Qt::Key_BracketRight, false},
    {222, "SingleQuote", Qt::Key_Apostrophe, false},
};

#ifndef Q_OS_WIN
// X/Wayland keycodes (evdev + 8) of the keys whose game name goes by place,
// with the virtual key the game gives that place on a US keyboard.
struct Place {
    std::uint32_t keycode;
    int vk;
};

constexpr Place kModifierPlaces[] = {
    {37, 17}, {105, 17}, // Ctrl
    {50, 16}, {62, 16},  // Shift
    {64, 18}, {108, 18}, // Alt, AltGr
    {66, 20},            // Caps Lock
};

constexpr Place kSymbolPlaces[] = {
    {10, '1'}, {11, '2'}, {12, '3'}, {13, '4'}, {14, '5'}, {15, '6'}, {16, '7'},
    {17, '8'}, {18, '9'}, {19, '0'}, {20, 189}, {21, 187}, {34, 219}, {35, 221},
    {47, 186}, {48, 222}, {49, 192}, {51, 220}, {59, 188}, {60, 190}, {61, 191},
};

constexpr Place kLetterPlaces[] = {
    {24, 'Q'}, {25, 'W'}, {26, 'E'}, {27, 'R'}, {28, 'T'}, {29, 'Y'}, {30, 'U'},
    {31, 'I'}, {32, 'O'}, {33, 'P'}, {38, 'A'}, {39, 'S'}, {40, 'D'}, {41, 'F'},
    {42, 'G'}, {43, 'H'}, {44, 'J'}, {45, 'K'}, {46, 'L'}, {52, 'Z'}, {53, 'X'},
    {54, 'C'}, {55, 'V'}, {56, 'B'}, {57, 'N'}, {58, 'M'},
};

template <std::size_t N> int placeOf(const Place (&table)[N], std::uint32_t keycode) {
    for (const auto& p : table)
        if (p.keycode == keycode) return p.vk;
    return 0;
}

enum class SymbolKind { None, LatinLetter, Digit, OtherLetter, Other };
struct Symbol {
    SymbolKind kind = SymbolKind::None;
    int vk = 0; // for Latin letters and digits
};

// Legacy keysym blocks that hold letters of other scripts: Latin-2/3/4,
// Kana, Arabic, Cyrillic, Greek, Hebrew, Thai.
bool legacyLetter(std::uint32_t sym) {
    return (sym >= 0x1a1 && sym <= 0x3fe) || (sym >= 0x4a6 && sym <= 0x4dd) ||
           (sym >= 0x5c1 && sym <= 0x5f2) || (sym >= 0x6a1 && sym <= 0x6ff) ||
           (sym >= 0x7a1 && sym <= 0x7f9) || (sym >= 0xce0 && sym <= 0xcfa) ||
           (sym >= 0xda1 && sym <= 0xdf9);
}

Symbol classify(char32_t u) {
    if (u >= 'a' && u <= 'z') return {SymbolKind::LatinLetter, static_cast<int>(u - 'a' + 'A')};
    if (u >= 'A' && u <= 'Z') return {SymbolKind::LatinLetter, static_cast<int>(u)};
    if (u >= '0' && u <= '9') return {SymbolKind::Digit, static_cast<int>(u)};
    if (QChar::isLetter(u)) return {SymbolKind::OtherLetter, 0};
    return {SymbolKind::Other, 0};
}

// What the layout puts on the key: the keysym when there is one (Qt may have
// swapped in a Latin key while Ctrl is held), else the Qt code.
Symbol symbolOf(const PhysicalKey& key) {
    const std::uint32_t sym = key.nativeVirtualKey;
    if ((sym >= 0x20 && sym <= 0x7e) || (sym >= 0xa0 && sym <= 0xff)) return classify(sym);
    if (sym >= 0x01000100 && sym <= 0x0110ffff) return classify(sym - 0x01000000);
    if (sym >= 0x100 && sym < 0x2000) {
        if (legacyLetter(sym)) return {SymbolKind::OtherLetter, 0};
        return {SymbolKind::Other, 0};
    }
    if (sym != 0) return {}; // function keys, dead keys, modifiers: the Qt code tells
    if (key.qtKey >= 0x20 && key.qtKey < 0x110000)
        return classify(static_cast<char32_t>(key.qtKey));
    return {};
}
#endif

int byQtKey(int qtKey, bool keypad) {
    if (!keypad) {
        if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
        if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12) return 112 + (qtKey - Qt::Key_F1);
    }
    for (const auto& row : kKeys)
        if (row.keypad == keypad && row.qtKey == qtKey) return row.vk;
    return 0;
}

} // namespace

QString KeyNameOfVirtualKey(int vk) {
    if (vk >= 'A' && vk <= 'Z') return QString(QLatin1Char(static_cast<char>(vk)));
    if (vk >= 112 && vk <= 123) return QStringLiteral("F%1").arg(vk - 111);
    for (const auto& row : kKeys)
        if (row.vk == vk) return QString::fromLatin1(row.name);
    return {};
}

int VirtualKeyOf(const PhysicalKey& key) {
#ifdef Q_OS_WIN
    if (key.nativeVirtualKey != 0) return static_cast<int>(key.nativeVirtualKey);
#endif
    if (key.keypad) {
        if (const int vk = byQtKey(key.qtKey, true)) return vk;
        // Keypad keys with Num Lock off report as navigation keys.
        return byQtKey(key.qtKey, false);
    }
#ifndef Q_OS_WIN
    if (key.nativeScanCode != 0) {
        if (const int vk = placeOf(kModifierPlaces, key.nativeScanCode)) return vk;
        const Symbol symbol = symbolOf(key);
        if (symbol.kind == SymbolKind::LatinLetter || symbol.kind == SymbolKind::Digit)
            return symbol.vk;
        if (symbol.kind != SymbolKind::None) {
            if (const int vk = placeOf(kSymbolPlaces, key.nativeScanCode)) return vk;
            // A letter of another script in the place of a Latin one is that
            // letter's key, as the game sees it with the layout.
            if (symbol.kind == SymbolKind::OtherLetter)
                if (const int vk = placeOf(kLetterPlaces, key.nativeScanCode)) return vk;
        }
        // Dead keys have no symbol of their own but still sit in a place.
        if (symbol.kind == SymbolKind::None && key.qtKey >= Qt::Key_Dead_Grave &&
            key.qtKey <= Qt::Key_Dead_Longsolidusoverlay)
            return placeOf(kSymbolPlaces, key.nativeScanCode);
    }
#endif
    return byQtKey(key.qtKey, false);
}

QString NativeKeyName(const PhysicalKey& key) {
    const QString typed = key.text.trimmed();
    if (!typed.isEmpty() && typed.at(0).isPrint()) return typed;
    if (key.qtKey != 0 && key.qtKey != Qt::Key_unknown) {
        const QString name = QKeySequence(key.qtKey).toString(QKeySequence::NativeText);
        if (!name.isEmpty()) return name;
    }
    if (key.nativeVirtualKey != 0) return QStringLiteral("0x%1").arg(key.nativeVirtualKey, 0, 16);
    return QStringLiteral("scan code %1").arg(key.nativeScanCode);
}

} // namespace keybinds
