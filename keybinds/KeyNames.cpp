#include "keybinds/KeyNames.h"

#include <Qt>
#include <array>

namespace keybinds {

namespace {

constexpr int kNone = -1;

// One row per named key: its virtual-key code, the game's name, the Qt key
// that reports it (on or off the keypad), and for layout-dependent keys the
// native scan codes (XKB keycodes on X11/Wayland, set-1 scan codes on Windows).
struct KeyRowDef {
    int vk;
    const char* name;
    int qtKey;
    bool keypad;
    int xkbCode;
    int winScan;
};

constexpr KeyRowDef kKeys[] = {
    {8, "Backspace", Qt::Key_Backspace, false, kNone, kNone},
    {13, "Enter", Qt::Key_Return, false, kNone, kNone},
    {13, "Enter", Qt::Key_Enter, true, kNone, kNone},
    {16, "Shift", Qt::Key_Shift, false, kNone, kNone},
    {17, "Ctrl", Qt::Key_Control, false, kNone, kNone},
    {18, "Alt", Qt::Key_Alt, false, kNone, kNone},
    {18, "Alt", Qt::Key_AltGr, false, kNone, kNone},
    {19, "Pause", Qt::Key_Pause, false, kNone, kNone},
    {20, "Capslock", Qt::Key_CapsLock, false, kNone, kNone},
    {27, "Escape", Qt::Key_Escape, false, kNone, kNone},
    {32, "Space", Qt::Key_Space, false, kNone, kNone},
    {33, "PageUp", Qt::Key_PageUp, false, kNone, kNone},
    {34, "PageDown", Qt::Key_PageDown, false, kNone, kNone},
    {35, "End", Qt::Key_End, false, kNone, kNone},
    {36, "Home", Qt::Key_Home, false, kNone, kNone},
    {37, "Left", Qt::Key_Left, false, kNone, kNone},
    {38, "Up", Qt::Key_Up, false, kNone, kNone},
    {39, "Right", Qt::Key_Right, false, kNone, kNone},
    {40, "Down", Qt::Key_Down, false, kNone, kNone},
    {44, "PrintScrn", Qt::Key_Print, false, kNone, kNone},
    {45, "Insert", Qt::Key_Insert, false, kNone, kNone},
    {46, "Delete", Qt::Key_Delete, false, kNone, kNone},
    {96, "Numpad0", Qt::Key_0, true, kNone, kNone},
    {97, "Numpad1", Qt::Key_1, true, kNone, kNone},
    {98, "Numpad2", Qt::Key_2, true, kNone, kNone},
    {99, "Numpad3", Qt::Key_3, true, kNone, kNone},
    {100, "Numpad4", Qt::Key_4, true, kNone, kNone},
    {101, "Numpad5", Qt::Key_5, true, kNone, kNone},
    {102, "Numpad6", Qt::Key_6, true, kNone, kNone},
    {103, "Numpad7", Qt::Key_7, true, kNone, kNone},
    {104, "Numpad8", Qt::Key_8, true, kNone, kNone},
    {105, "Numpad9", Qt::Key_9, true, kNone, kNone},
    {106, "GreyStar", Qt::Key_Asterisk, true, kNone, kNone},
    {107, "GreyPlus", Qt::Key_Plus, true, kNone, kNone},
    {109, "GreyMinus", Qt::Key_Minus, true, kNone, kNone},
    {110, "NumpadPeriod", Qt::Key_Period, true, kNone, kNone},
    {110, "NumpadPeriod", Qt::Key_Comma, true, kNone, kNone},
    {111, "GreySlash", Qt::Key_Slash, true, kNone, kNone},
    {144, "NumLock", Qt::Key_NumLock, false, kNone, kNone},
    {145, "ScrollLock", Qt::Key_ScrollLock, false, kNone, kNone},
    {48, "0", Qt::Key_0, false, 19, 0x0B},
    {49, "1", Qt::Key_1, false, 10, 0x02},
    {50, "2", Qt::Key_2, false, 11, 0x03},
    {51, "3", Qt::Key_3, false, 12, 0x04},
    {52, "4", Qt::Key_4, false, 13, 0x05},
    {53, "5", Qt::Key_5, false, 14, 0x06},
    {54, "6", Qt::Key_6, false, 15, 0x07},
    {55, "7", Qt::Key_7, false, 16, 0x08},
    {56, "8", Qt::Key_8, false, 17, 0x09},
    {57, "9", Qt::Key_9, false, 18, 0x0A},
    {186, "Semicolon", Qt::Key_Semicolon, false, 47, 0x27},
    {187, "Equals", Qt::Key_Equal, false, 21, 0x0D},
    {188, "Comma", Qt::Key_Comma, false, 59, 0x33},
    {189, "Minus", Qt::Key_Minus, false, 20, 0x0C},
    {190, "Period", Qt::Key_Period, false, 60, 0x34},
    {191, "Slash", Qt::Key_Slash, false, 61, 0x35},
    {192, "Tilde", Qt::Key_QuoteLeft, false, 49, 0x29},
    {219, "LeftBracket", Qt::Key_BracketLeft, false, 34, 0x1A},
    {220, "Backslash", Qt::Key_Backslash, false, 51, 0x2B},
    {221, "RightBracket", Qt::Key_BracketRight, false, 35, 0x1B},
    {222, "SingleQuote", Qt::Key_Apostrophe, false, 48, 0x28},
};

int nativeCodeOf(const KeyRowDef& row) {
#ifdef Q_OS_WIN
    return row.winScan;
#else
    return row.xkbCode;
#endif
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
    if (key.keypad) {
        for (const auto& row : kKeys)
            if (row.keypad && row.qtKey == key.qtKey) return row.vk;
        // Keypad keys with Num Lock off report as navigation keys; fall through.
    } else if (key.nativeScanCode != 0) {
        for (const auto& row : kKeys)
            if (!row.keypad && nativeCodeOf(row) == static_cast<int>(key.nativeScanCode)) return row.vk;
    }
    if (key.qtKey >= Qt::Key_A && key.qtKey <= Qt::Key_Z) return 'A' + (key.qtKey - Qt::Key_A);
    if (key.qtKey >= Qt::Key_F1 && key.qtKey <= Qt::Key_F12) return 112 + (key.qtKey - Qt::Key_F1);
    for (const auto& row : kKeys) {
        if (row.keypad || row.qtKey != key.qtKey) continue;
        // A layout-dependent key with a scan code that matched nothing above is
        // another physical key that happens to produce this character.
        if (nativeCodeOf(row) != kNone && key.nativeScanCode != 0) return 0;
        return row.vk;
    }
    return 0;
}

} // namespace keybinds
