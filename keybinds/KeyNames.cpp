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

// No Qt key: a mouse button.
constexpr int kNoQtKey = -1;

constexpr KeyRowDef kKeys[] = {
    {5, "Mouse4", kNoQtKey, false},
    {6, "Mouse5", kNoQtKey, false},
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
// X/Wayland keycodes (evdev + 8) of the modifiers, with their virtual key.
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

// The keys of the main block by X keycode, with the virtual key Wine's
// layout tables give each place in the three families of layouts: QWERTY
// (US, Russian), AZERTY (French), QWERTZ (German).
enum Family { kQwerty, kAzerty, kQwertz, kFamilies };
struct MainKey {
    std::uint32_t keycode;
    int vk[kFamilies];
};

constexpr MainKey kMainKeys[] = {
    {49, {192, 222, 192}}, // left of 1
    {10, {'1', '1', '1'}}, {11, {'2', '2', '2'}}, {12, {'3', '3', '3'}}, {13, {'4', '4', '4'}},
    {14, {'5', '5', '5'}}, {15, {'6', '6', '6'}}, {16, {'7', '7', '7'}}, {17, {'8', '8', '8'}},
    {18, {'9', '9', '9'}}, {19, {'0', '0', '0'}}, {20, {189, 219, 189}}, {21, {187, 187, 187}},
    {24, {'Q', 'A', 'Q'}}, {25, {'W', 'Z', 'W'}}, {26, {'E', 'E', 'E'}}, {27, {'R', 'R', 'R'}},
    {28, {'T', 'T', 'T'}}, {29, {'Y', 'Y', 'Z'}}, {30, {'U', 'U', 'U'}}, {31, {'I', 'I', 'I'}},
    {32, {'O', 'O', 'O'}}, {33, {'P', 'P', 'P'}}, {34, {219, 221, 219}}, {35, {221, 186, 221}},
    {38, {'A', 'Q', 'A'}}, {39, {'S', 'S', 'S'}}, {40, {'D', 'D', 'D'}}, {41, {'F', 'F', 'F'}},
    {42, {'G', 'G', 'G'}}, {43, {'H', 'H', 'H'}}, {44, {'J', 'J', 'J'}}, {45, {'K', 'K', 'K'}},
    {46, {'L', 'L', 'L'}}, {47, {186, 'M', 186}}, {48, {222, 192, 222}}, {51, {220, 220, 220}},
    {52, {'Z', 'W', 'Y'}}, {53, {'X', 'X', 'X'}}, {54, {'C', 'C', 'C'}}, {55, {'V', 'V', 'V'}},
    {56, {'B', 'B', 'B'}}, {57, {'N', 'N', 'N'}}, {58, {'M', 188, 'M'}}, {59, {188, 190, 188}},
    {60, {190, 191, 190}}, {61, {191, 223, 191}}, {94, {226, 226, 226}}, // between Shift and Z
};

const MainKey* mainKeyAt(std::uint32_t keycode) {
    for (const auto& k : kMainKeys)
        if (k.keycode == keycode) return &k;
    return nullptr;
}

template <std::size_t N> int placeOf(const Place (&table)[N], std::uint32_t keycode) {
    for (const auto& p : table)
        if (p.keycode == keycode) return p.vk;
    return 0;
}

int latinLetter(std::uint32_t sym) {
    if (sym >= 'a' && sym <= 'z') return static_cast<int>(sym - 'a' + 'A');
    if (sym >= 'A' && sym <= 'Z') return static_cast<int>(sym);
    return 0;
}

// Without the display's map, the key's own symbol is all that is known of
// it; a synthetic event may carry only its Qt code, which is the symbol for
// Latin-1 keys.
platform::KeyboardMap oneKeyMap(const PhysicalKey& key) {
    std::uint32_t sym = key.nativeVirtualKey;
    if (sym == 0 && key.qtKey >= 0x20 && key.qtKey <= 0xff)
        sym = static_cast<std::uint32_t>(key.qtKey);
    platform::KeyboardMap map;
    map.keys[key.nativeScanCode] = {sym, 0, 0, 0};
    return map;
}

// The family that fits the map best: its letters where the map has them,
// and no letter where the map's key types none. A Russian map, without
// Latin letters, is QWERTY, as Wine's Russian table is; so is a map that
// tells nothing.
Family familyOf(const platform::KeyboardMap& map) {
    int score[kFamilies] = {};
    for (const auto& k : kMainKeys) {
        const auto symbols = map.Of(k.keycode);
        if (symbols == platform::KeyboardMap::Symbols{}) continue;
        int letter = 0;
        for (const std::uint32_t sym : symbols)
            if ((letter = latinLetter(sym)) != 0) break;
        for (int f = 0; f < kFamilies; ++f)
            if (letter != 0 ? k.vk[f] == letter
                            : latinLetter(static_cast<std::uint32_t>(k.vk[f])) == 0)
                ++score[f];
    }
    int best = kQwerty;
    for (int f = 1; f < kFamilies; ++f)
        if (score[f] > score[best]) best = f;
    return static_cast<Family>(best);
}
#endif

// SDL 1.2's X11 symbols (SDLK_*) of the X keysyms 0xffXX whose key the game
// names, and of the dead keys and AltGr, which it does not.
struct SdlSym {
    std::uint32_t keysym;
    int sdl;
};

constexpr SdlSym kSdlSyms[] = {
    {0xff08, 8},   {0xff0d, 13},  {0xff13, 19},  {0xff14, 302}, {0xff1b, 27},
    {0xff50, 278}, {0xff51, 276}, {0xff52, 273}, {0xff53, 275}, {0xff54, 274},
    {0xff55, 280}, {0xff56, 281}, {0xff57, 279}, {0xff61, 316}, {0xff63, 277},
    {0xff7f, 300}, {0xff8d, 271}, {0xff95, 263}, {0xff96, 260}, {0xff97, 264},
    {0xff98, 262}, {0xff99, 258}, {0xff9a, 265}, {0xff9b, 259}, {0xff9c, 257},
    {0xff9d, 261}, {0xff9e, 256}, {0xff9f, 266}, {0xffaa, 268}, {0xffab, 270},
    {0xffad, 269}, {0xffae, 266}, {0xffaf, 267}, {0xffe1, 304}, {0xffe2, 303},
    {0xffe3, 306}, {0xffe4, 305}, {0xffe5, 301}, {0xffe9, 308}, {0xffea, 307},
    {0xffff, 127}, {0xfe03, 313}, // ISO_Level3_Shift (AltGr): SDLK_MODE
    {0xfe52, 94}, // dead circumflex: SDLK_CARET; every other dead key is SDLK_COMPOSE
};

// The game key of each SDL 1.2 symbol the game names; letters, digits, the
// keypad digits and F1-F12 go by their ranges.
struct SdlKey {
    int sdl;
    int vk;
};

constexpr SdlKey kSdlKeys[] = {
    {8, 8},     {13, 13},  {19, 19},  {27, 27},   {32, 32},   {39, 222},  {44, 188},
    {45, 189},  {46, 190}, {47, 191}, {59, 186},  {61, 187},  {91, 219},  {92, 220},
    {93, 221},  {96, 192}, {127, 46}, {266, 110}, {267, 111}, {268, 106}, {269, 109},
    {270, 107}, {271, 13}, {273, 38}, {274, 40},  {275, 39},  {276, 37},  {277, 45},
    {278, 36},  {279, 35}, {280, 33}, {281, 34},  {300, 144}, {301, 20},  {302, 145},
    {303, 16},  {304, 16}, {305, 17}, {306, 17},  {307, 18},  {308, 18},  {316, 44},
};

constexpr int kSdlCompose = 314;

int sdlKeyOfKeysym(std::uint32_t sym) {
    switch (sym >> 8) {
    case 0x00: // Latin-1: the symbol itself
        return static_cast<int>(sym);
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
    case 0x06:
    case 0x07:
    case 0x08:
    case 0x0a:
    case 0x0c:
    case 0x0d:
        // Other scripts: SDL keeps the low byte, a symbol the game has no key for.
        return static_cast<int>(sym & 0xff);
    case 0xfe:
    case 0xff:
        for (const auto& s : kSdlSyms)
            if (s.keysym == sym) return s.sdl;
        if (sym >= 0xffb0 && sym <= 0xffb9) return 256 + static_cast<int>(sym - 0xffb0); // KP_0-9
        if (sym >= 0xffbe && sym <= 0xffcc) return 282 + static_cast<int>(sym - 0xffbe); // F1-F15
        if (sym >= 0xfe50 && sym <= 0xfe62) return kSdlCompose; // dead keys
        return 0;
    default:
        return 0;
    }
}

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

int VirtualKeyOf(const PhysicalKey& key, const platform::KeyboardMap& map) {
#ifdef Q_OS_WIN
    (void)map;
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
        if (const MainKey* place = mainKeyAt(key.nativeScanCode)) {
            const platform::KeyboardMap known = map.Has(key.nativeScanCode) ? map : oneKeyMap(key);
            const auto symbols = known.Of(key.nativeScanCode);
            for (const std::uint32_t sym : {symbols[0], symbols[1]})
                if (const int letter = latinLetter(sym)) return letter;
            // Dead keys too: the place is the key, whatever it would compose.
            return place->vk[familyOf(known)];
        }
    }
#endif
    return byQtKey(key.qtKey, false);
}

int SdlKeyOf(const PhysicalKey& key, const platform::KeyboardMap& map) {
    std::uint32_t sym = 0;
    if (key.nativeScanCode != 0 && map.Has(key.nativeScanCode))
        sym = map.Of(key.nativeScanCode)[0];
    else if ((sym = key.nativeVirtualKey) >= 'A' && sym <= 'Z')
        sym += 'a' - 'A'; // SDL reads the key's own symbol, not the shifted one
    return sdlKeyOfKeysym(sym);
}

int VirtualKeyOfSdlKey(int sdl) {
    if (sdl >= 'a' && sdl <= 'z') return sdl - 'a' + 'A';
    if (sdl >= '0' && sdl <= '9') return sdl;
    if (sdl >= 256 && sdl <= 265) return 96 + (sdl - 256);  // SDLK_KP0-9
    if (sdl >= 282 && sdl <= 293) return 112 + (sdl - 282); // SDLK_F1-F12
    for (const auto& k : kSdlKeys)
        if (k.sdl == sdl) return k.vk;
    return 0;
}

int GameKeyOf(const PhysicalKey& key, platform::KeyReading reading,
              const platform::KeyboardMap& map) {
    if (reading == platform::KeyReading::VirtualKeys) return VirtualKeyOf(key, map);
    const bool symbolKnown =
        key.nativeVirtualKey != 0 || (key.nativeScanCode != 0 && map.Has(key.nativeScanCode));
    if (!symbolKnown) return VirtualKeyOf(key); // no window system: a US layout's keys
    return VirtualKeyOfSdlKey(SdlKeyOf(key, map));
}

int VirtualKeyOfMouseButton(Qt::MouseButton button) {
    switch (button) {
    case Qt::BackButton:
        return 5; // XButton1
    case Qt::ForwardButton:
        return 6; // XButton2
    default:
        return 0;
    }
}

QString NativeKeyName(const PhysicalKey& key) {
    // A dead key types a combining accent, which shows as nothing alone (and
    // the toolkit's own name for it is garbled): it is named by its accent.
    if (key.qtKey >= Qt::Key_Dead_Grave && key.qtKey <= Qt::Key_Dead_Longsolidusoverlay) {
        static const QString accents =
            QStringLiteral("`\u00b4^~\u00af\u02d8\u02d9\u00a8\u02da\u02dd\u02c7\u00b8\u02db");
        const auto at = static_cast<qsizetype>(key.qtKey - Qt::Key_Dead_Grave);
        return at < accents.size() ? QStringLiteral("dead ") + accents.at(at)
                                   : QStringLiteral("dead key");
    }
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
