#include "keybinds/KeyNames.h"
#include "tests/support/GTestQt.h"

#include <Qt>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using keybinds::KeyNameOfVirtualKey;
using keybinds::PhysicalKey;
using keybinds::VirtualKeyOf;

namespace {

QString nameOf(PhysicalKey k) { return KeyNameOfVirtualKey(VirtualKeyOf(k)); }
// A key as the toolkit gives it without a keysym or text.
QString nameOf(int qtKey, bool keypad, std::uint32_t scanCode) { return nameOf(PhysicalKey{qtKey, keypad, scanCode, 0, {}}); }

TEST(KeyNamesTest, VirtualKeyTable) {
    EXPECT_EQ(KeyNameOfVirtualKey('Q'), QStringLiteral("Q"));
    EXPECT_EQ(KeyNameOfVirtualKey('7'), QStringLiteral("7"));
    EXPECT_EQ(KeyNameOfVirtualKey(20), QStringLiteral("Capslock"));
    EXPECT_EQ(KeyNameOfVirtualKey(101), QStringLiteral("Numpad5"));
    EXPECT_EQ(KeyNameOfVirtualKey(112), QStringLiteral("F1"));
    EXPECT_EQ(KeyNameOfVirtualKey(123), QStringLiteral("F12"));
    EXPECT_EQ(KeyNameOfVirtualKey(220), QStringLiteral("Backslash"));
    EXPECT_EQ(KeyNameOfVirtualKey(192), QStringLiteral("Tilde"));
    EXPECT_EQ(KeyNameOfVirtualKey(91), QString()) << "the Windows logo key has no name";
    EXPECT_EQ(KeyNameOfVirtualKey(0), QString());
    EXPECT_EQ(KeyNameOfVirtualKey(124), QString()) << "F13";
}

TEST(KeyNamesTest, KeypadAndMainRowDigitsDiffer) {
    EXPECT_EQ(nameOf(Qt::Key_7, false, 0), QStringLiteral("7"));
    EXPECT_EQ(nameOf(Qt::Key_7, true, 0), QStringLiteral("Numpad7"));
    EXPECT_EQ(nameOf(Qt::Key_Asterisk, true, 0), QStringLiteral("GreyStar"));
    EXPECT_EQ(nameOf(Qt::Key_Enter, true, 0), QStringLiteral("Enter"));
    EXPECT_EQ(nameOf(Qt::Key_Minus, true, 0), QStringLiteral("GreyMinus"));
    EXPECT_EQ(nameOf(Qt::Key_Minus, false, 0), QStringLiteral("Minus"));
    // Num Lock off: the keypad 8 reports as Up.
    EXPECT_EQ(nameOf(Qt::Key_Up, true, 0), QStringLiteral("Up"));
}

// Every key of the numeric pad (Num Lock on) by the name the game gives it.
TEST(KeyNamesTest, EveryKeypadKey) {
    const std::pair<int, const char*> pad[] = {
        {Qt::Key_0, "Numpad0"},      {Qt::Key_1, "Numpad1"},        {Qt::Key_2, "Numpad2"},       {Qt::Key_3, "Numpad3"},
        {Qt::Key_4, "Numpad4"},      {Qt::Key_5, "Numpad5"},        {Qt::Key_6, "Numpad6"},       {Qt::Key_7, "Numpad7"},
        {Qt::Key_8, "Numpad8"},      {Qt::Key_9, "Numpad9"},        {Qt::Key_Asterisk, "GreyStar"}, {Qt::Key_Plus, "GreyPlus"},
        {Qt::Key_Minus, "GreyMinus"}, {Qt::Key_Period, "NumpadPeriod"}, {Qt::Key_Comma, "NumpadPeriod"},
        {Qt::Key_Slash, "GreySlash"}, {Qt::Key_Enter, "Enter"}};
    for (const auto& [key, name] : pad) EXPECT_EQ(nameOf(key, true, 0), QString::fromLatin1(name)) << name;
}

#ifndef Q_OS_WIN
TEST(KeyNamesTest, LayoutDependentKeysGoByScanCode) {
    // French layout: the key left of 1 gives a superscript two, the digit row
    // gives & and é without Shift; the physical keys still have their names.
    EXPECT_EQ(nameOf(Qt::Key_twosuperior, false, 49), QStringLiteral("Tilde"));
    EXPECT_EQ(nameOf(Qt::Key_Ampersand, false, 10), QStringLiteral("1"));
    EXPECT_EQ(nameOf(Qt::Key_Eacute, false, 11), QStringLiteral("2"));
    // German layout: the key left of 1 is a dead circumflex.
    EXPECT_EQ(nameOf(Qt::Key_Dead_Circumflex, false, 49), QStringLiteral("Tilde"));
    // A semicolon typed on another physical key (French: the comma key) is that key.
    EXPECT_EQ(nameOf(Qt::Key_Semicolon, false, 59), QStringLiteral("Comma"));
    // Letters follow the layout, as the game's own key names do.
    EXPECT_EQ(nameOf(Qt::Key_A, false, 24), QStringLiteral("A"));
    EXPECT_EQ(nameOf(Qt::Key_Shift, false, 50), QStringLiteral("Shift"));
    EXPECT_EQ(nameOf(Qt::Key_Meta, false, 133), QString());
}
// Keys as xcb delivers them: X keycode, keysym, Qt key and text of the layout
// in use. Expected names: what a player with that keyboard reads on the key,
// as the game's virtual keys name it.
struct XKey {
    const char* what;
    std::uint32_t keycode;
    std::uint32_t keysym;
    int qtKey;
    const char16_t* text;
    const char* name; // "" when the game has no name for it
};

void expectNames(const std::vector<XKey>& keys) {
    for (const auto& k : keys) {
        const PhysicalKey key{k.qtKey, false, k.keycode, k.keysym, QString::fromUtf16(k.text)};
        EXPECT_EQ(nameOf(key), QString::fromLatin1(k.name)) << k.what;
    }
}

TEST(KeyNamesTest, FrenchAzerty) {
    expectNames({
        {"the key labelled M (US ; place)", 47, 0x6d, Qt::Key_M, u"m", "M"},
        {"Shift+M", 47, 0x4d, Qt::Key_M, u"M", "M"},
        {"the key labelled A (US Q place)", 24, 0x61, Qt::Key_A, u"a", "A"},
        {"the key labelled Q (US A place)", 38, 0x71, Qt::Key_Q, u"q", "Q"},
        {"the key labelled W (US Z place)", 52, 0x77, Qt::Key_W, u"w", "W"},
        {"the comma key (US M place)", 58, 0x2c, Qt::Key_Comma, u",", "Comma"},
        {"; (US comma place)", 59, 0x3b, Qt::Key_Semicolon, u";", "Comma"},
        {": (US period place)", 60, 0x3a, Qt::Key_Colon, u":", "Period"},
        {"! (US slash place)", 61, 0x21, Qt::Key_Exclam, u"!", "Slash"},
        {"& on the 1 key", 10, 0x26, Qt::Key_Ampersand, u"&", "1"},
        {"Shift+& gives 1", 10, 0x31, Qt::Key_1, u"1", "1"},
        {"\u00e9 on the 2 key", 11, 0xe9, Qt::Key_Eacute, u"\u00e9", "2"},
        {"\u00e0 on the 0 key", 19, 0xe0, Qt::Key_Agrave, u"\u00e0", "0"},
        {"\u00b2 left of 1", 49, 0xb2, Qt::Key_twosuperior, u"\u00b2", "Tilde"},
        {"\u00f9 (US ' place)", 48, 0xf9, Qt::Key_Ugrave, u"\u00f9", "SingleQuote"},
        {"dead ^ (US [ place)", 34, 0xfe52, Qt::Key_Dead_Circumflex, u"", "LeftBracket"},
        {"AltGr", 108, 0xfe03, Qt::Key_AltGr, u"", "Alt"},
        {"< between Shift and W", 94, 0x3c, Qt::Key_Less, u"<", ""},
        {"Super", 133, 0xffeb, Qt::Key_Meta, u"", ""},
    });
}

TEST(KeyNamesTest, GermanQwertz) {
    expectNames({
        {"Z (US Y place)", 29, 0x7a, Qt::Key_Z, u"z", "Z"},
        {"Y (US Z place)", 52, 0x79, Qt::Key_Y, u"y", "Y"},
        {"\u00fc (US [ place)", 34, 0xfc, Qt::Key_Udiaeresis, u"\u00fc", "LeftBracket"},
        {"\u00f6 (US ; place)", 47, 0xf6, Qt::Key_Odiaeresis, u"\u00f6", "Semicolon"},
        {"\u00df (US - place)", 20, 0xdf, Qt::Key_ssharp, u"\u00df", "Minus"},
        {"# (US \\ place)", 51, 0x23, Qt::Key_NumberSign, u"#", "Backslash"},
        {"dead ^ left of 1", 49, 0xfe52, Qt::Key_Dead_Circumflex, u"", "Tilde"},
        {"- (US / place)", 61, 0x2d, Qt::Key_Minus, u"-", "Slash"},
        {"digit 3", 12, 0x33, Qt::Key_3, u"3", "3"},
    });
}

TEST(KeyNamesTest, RussianLettersTakeTheLatinKeyOfTheirPlace) {
    expectNames({
        {"\u0439 (US Q place)", 24, 0x6ca, 0x419, u"\u0439", "Q"},
        {"\u0444 (US A place)", 38, 0x6c6, 0x424, u"\u0444", "A"},
        {"\u044f (US Z place)", 52, 0x6d1, 0x42f, u"\u044f", "Z"},
        {"\u044c (US M place)", 58, 0x6d8, 0x42c, u"\u044c", "M"},
        {"\u0436 (US ; place)", 47, 0x6d6, 0x416, u"\u0436", "Semicolon"},
        {"\u0431 (US , place)", 59, 0x6c2, 0x411, u"\u0431", "Comma"},
        {"\u0451 left of 1", 49, 0x6a3, 0x401, u"\u0451", "Tilde"},
        {". (US / place)", 61, 0x2e, Qt::Key_Period, u".", "Slash"},
        {"digit 1", 10, 0x31, Qt::Key_1, u"1", "1"},
        // With Ctrl held Qt reports the Latin key of another layout group, the keysym stays.
        {"Ctrl+\u0439", 24, 0x6ca, Qt::Key_Q, u"\u0011", "Q"},
        {"Shift", 50, 0xffe1, Qt::Key_Shift, u"", "Shift"},
    });
}

TEST(KeyNamesTest, NativeNameOfAKeyTheGameCannotName) {
    EXPECT_EQ(keybinds::NativeKeyName({Qt::Key_Less, false, 94, 0x3c, QStringLiteral("<")}), QStringLiteral("<"));
    EXPECT_EQ(keybinds::NativeKeyName({Qt::Key_Meta, false, 133, 0xffeb, {}}), QStringLiteral("Meta"));
    EXPECT_FALSE(keybinds::NativeKeyName({0, false, 200, 0, {}}).isEmpty());
}

#endif

} // namespace
