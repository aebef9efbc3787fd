#include "keybinds/KeyNames.h"
#include "tests/support/GTestQt.h"
#include "tests/support/KeyboardLayouts.h"

#include <QMap>
#include <Qt>
#include <gtest/gtest.h>
#include <utility>
#include <vector>

using keybinds::KeyNameOfVirtualKey;
using keybinds::PhysicalKey;
using keybinds::VirtualKeyOf;
using platform::KeyReading;
using testsupport::LayoutMap;
using testsupport::TableData;
constexpr auto VirtualKeys = KeyReading::VirtualKeys;
constexpr auto SdlKeySymbols = KeyReading::SdlKeySymbols;

namespace {

QString nameOf(PhysicalKey k) { return KeyNameOfVirtualKey(VirtualKeyOf(k)); }
QString nameOf(const PhysicalKey& k, KeyReading reading, const platform::KeyboardMap& map) {
    return KeyNameOfVirtualKey(keybinds::GameKeyOf(k, reading, map));
}
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
// Without the display's map only the key itself is known: a key that types
// no letter is taken at its place on a US keyboard.
TEST(KeyNamesTest, LayoutDependentKeysGoByScanCode) {
    // French keys: the key left of 1 gives a superscript two, the digit row
    // gives & and é without Shift; the physical keys still have their names.
    EXPECT_EQ(nameOf(Qt::Key_twosuperior, false, 49), QStringLiteral("Tilde"));
    EXPECT_EQ(nameOf(Qt::Key_Ampersand, false, 10), QStringLiteral("1"));
    EXPECT_EQ(nameOf(Qt::Key_Eacute, false, 11), QStringLiteral("2"));
    // German layout: the key left of 1 is a dead circumflex.
    EXPECT_EQ(nameOf(Qt::Key_Dead_Circumflex, false, 49), QStringLiteral("Tilde"));
    // A semicolon typed on another physical key is that key.
    EXPECT_EQ(nameOf(Qt::Key_Semicolon, false, 59), QStringLiteral("Comma"));
    // A comma where a US keyboard has a letter: no letter key, so not QWERTY.
    EXPECT_EQ(nameOf(Qt::Key_Comma, false, 58), QStringLiteral("Comma"));
    // Letters follow the layout, as the game's own key names do.
    EXPECT_EQ(nameOf(Qt::Key_A, false, 24), QStringLiteral("A"));
    EXPECT_EQ(nameOf(Qt::Key_Shift, false, 50), QStringLiteral("Shift"));
    EXPECT_EQ(nameOf(Qt::Key_Meta, false, 133), QString());
}
// Every key of the main block on each layout, as the game reads it under
// Wine and through SDL, against what Wine and SDL themselves gave it. The
// key is pressed alone and with Shift, and for "us,ru" in the Russian group:
// neither changes the key.
TEST(KeyNamesTest, MainBlockOnEveryLayoutAsWineAndSdlReadIt) {
    const TableData places("key_places.tsv");
    ASSERT_EQ(places.size(), 5 * 48);
    for (const QStringList& row : places.rows) {
        const auto map = LayoutMap(row[0]);
        const QStringList syms = row[2].split(QLatin1Char(' '));
        const std::uint32_t keycode = row[1].toUInt();
        for (qsizetype level = 0; level < syms.size(); ++level) {
            const PhysicalKey key{0, false, keycode, syms[level].toUInt(nullptr, 16), {}};
            SCOPED_TRACE((row[0] + QStringLiteral(" keycode ") + row[1] +
                          QStringLiteral(" symbol ") + syms[level])
                             .toStdString());
            EXPECT_EQ(keybinds::VirtualKeyOf(key, map), row[3].toInt());
            EXPECT_EQ(keybinds::SdlKeyOf(key, map), row[4].toInt()) << row[5].toStdString();
            EXPECT_EQ(nameOf(key, VirtualKeys, map), row[6]);
            EXPECT_EQ(nameOf(key, SdlKeySymbols, map), row[7]);
        }
    }
}

// A name is one key: no two keys of a layout are one key to the game.
TEST(KeyNamesTest, NoTwoKeysOfALayoutGetOneName) {
    const TableData places("key_places.tsv");
    for (const char* name : {"us", "fr", "de", "ru", "us,ru"})
        for (const auto reading : {VirtualKeys, SdlKeySymbols}) {
            const QString layout = QString::fromLatin1(name);
            const auto map = LayoutMap(layout);
            QMap<QString, QString> keyOf;
            for (const QStringList& row : places.rows) {
                if (row[0] != layout) continue;
                const PhysicalKey key{0,
                                      false,
                                      row[1].toUInt(),
                                      row[2].section(QLatin1Char(' '), 0, 0).toUInt(nullptr, 16),
                                      {}};
                const QString game = nameOf(key, reading, map);
                if (game.isEmpty()) continue;
                EXPECT_FALSE(keyOf.contains(game))
                    << name << ": " << game.toStdString() << " on keycodes "
                    << keyOf.value(game).toStdString() << " and " << row[1].toStdString();
                keyOf.insert(game, row[1]);
            }
        }
}

// Keys as xcb delivers them: X keycode, keysym, Qt key and text of the layout
// in use, read with that layout's map.
struct XKey {
    const char* what;
    std::uint32_t keycode;
    std::uint32_t keysym;
    int qtKey;
    const char16_t* text;
    const char* windows; // "" when the game has no name for it
    const char* native;
};

void expectNames(const char* layout, const std::vector<XKey>& keys) {
    const auto map = LayoutMap(QString::fromLatin1(layout));
    for (const auto& k : keys) {
        const PhysicalKey key{k.qtKey, false, k.keycode, k.keysym, QString::fromUtf16(k.text)};
        EXPECT_EQ(nameOf(key, VirtualKeys, map), QString::fromLatin1(k.windows)) << k.what;
        EXPECT_EQ(nameOf(key, SdlKeySymbols, map), QString::fromLatin1(k.native)) << k.what;
    }
}

TEST(KeyNamesTest, FrenchAzerty) {
    expectNames(
        "fr",
        {
            {"the key labelled M (US ; place)", 47, 0x6d, Qt::Key_M, u"m", "M", "M"},
            {"Shift+M", 47, 0x4d, Qt::Key_M, u"M", "M", "M"},
            {"the key labelled A (US Q place)", 24, 0x61, Qt::Key_A, u"a", "A", "A"},
            {"the comma key (US M place)", 58, 0x2c, Qt::Key_Comma, u",", "Comma", "Comma"},
            {"; (US comma place)", 59, 0x3b, Qt::Key_Semicolon, u";", "Period", "Semicolon"},
            {"Shift+& gives 1", 10, 0x31, Qt::Key_1, u"1", "1", ""},
            {"dead ^ right of P", 34, 0xfe52, Qt::Key_Dead_Circumflex, u"", "RightBracket", ""},
            {"AltGr", 108, 0xfe03, Qt::Key_AltGr, u"", "Alt", ""},
            {"< between Shift and W", 94, 0x3c, Qt::Key_Less, u"<", "", ""},
            {"Super", 133, 0xffeb, Qt::Key_Meta, u"", "", ""},
        });
}

TEST(KeyNamesTest, GermanQwertz) {
    expectNames(
        "de",
        {
            {"Z (US Y place)", 29, 0x7a, Qt::Key_Z, u"z", "Z", "Z"},
            {"dead ^ left of 1", 49, 0xfe52, Qt::Key_Dead_Circumflex, u"", "Tilde", ""},
            {"dead \u00b4 left of Backspace", 21, 0xfe51, Qt::Key_Dead_Acute, u"", "Equals", ""},
            {"Shift+dead \u00b4 is dead `", 21, 0xfe50, Qt::Key_Dead_Grave, u"", "Equals", ""},
            {"- (US / place)", 61, 0x2d, Qt::Key_Minus, u"-", "Slash", "Minus"},
        });
}

TEST(KeyNamesTest, RussianLettersTakeTheLatinKeyOfTheirPlace) {
    expectNames(
        "ru",
        {
            {"\u0439 (US Q place)", 24, 0x6ca, 0x419, u"\u0439", "Q", ""},
            {"\u0436 (US ; place)", 47, 0x6d6, 0x416, u"\u0436", "Semicolon", ""},
            // With Ctrl held Qt reports the Latin key of another layout group, the keysym stays.
            {"Ctrl+\u0439", 24, 0x6ca, Qt::Key_Q, u"\u0011", "Q", ""},
            {"Shift", 50, 0xffe1, Qt::Key_Shift, u"", "Shift", "Shift"},
        });
    // With US as the first group SDL reads its letters, whichever group types.
    expectNames("us,ru",
                {
                    {"\u0439 (US Q place)", 24, 0x6ca, 0x419, u"\u0439", "Q", "Q"},
                    {"\u044e (US . place)", 60, 0x6c0, 0x42e, u"\u044e", "Period", "Period"},
                });
}

// Keys outside the main block, through SDL: its key symbols by keysym.
TEST(KeyNamesTest, NativeGameReadsTheOtherKeysBySymbol) {
    const std::pair<PhysicalKey, const char*> keys[] = {
        {{Qt::Key_Home, true, 79, 0xff95, {}}, "Numpad7"}, // keypad 7, Num Lock off
        {{Qt::Key_7, true, 79, 0xffb7, {}}, "Numpad7"},
        {{Qt::Key_Enter, true, 104, 0xff8d, {}}, "Enter"},
        {{Qt::Key_Delete, true, 91, 0xff9f, {}}, "NumpadPeriod"},
        {{Qt::Key_Slash, true, 106, 0xffaf, {}}, "GreySlash"},
        {{Qt::Key_F1, false, 67, 0xffbe, {}}, "F1"},
        {{Qt::Key_F12, false, 96, 0xffc9, {}}, "F12"},
        {{Qt::Key_F13, false, 191, 0xffca, {}}, ""},
        {{Qt::Key_Print, false, 107, 0xff61, {}}, "PrintScrn"},
        {{Qt::Key_Delete, false, 119, 0xffff, {}}, "Delete"},
        {{Qt::Key_Control, false, 105, 0xffe4, {}}, "Ctrl"},
        {{Qt::Key_Alt, false, 108, 0xffea, {}}, "Alt"}, // US right Alt
        {{Qt::Key_CapsLock, false, 66, 0xffe5, {}}, "Capslock"},
        {{Qt::Key_ScrollLock, false, 78, 0xff14, {}}, "ScrollLock"},
        {{Qt::Key_Multi_key, false, 135, 0xff20, {}}, ""},
        // No map: the symbol itself, unshifted.
        {{Qt::Key_M, false, 47, 0x4d, QStringLiteral("M")}, "M"},
    };
    for (const auto& [key, name] : keys)
        EXPECT_EQ(nameOf(key, SdlKeySymbols, {}), QString::fromLatin1(name))
            << "keysym 0x" << std::hex << key.nativeVirtualKey;
    // The Windows build sees the keypad 7 without Num Lock as Home.
    EXPECT_EQ(nameOf({Qt::Key_Home, true, 79, 0xff95, {}}, VirtualKeys, {}),
              QStringLiteral("Home"));
}

TEST(KeyNamesTest, ThumbButtonsAreMouse4AndMouse5) {
    EXPECT_EQ(KeyNameOfVirtualKey(keybinds::VirtualKeyOfMouseButton(Qt::BackButton)),
              QStringLiteral("Mouse4"));
    EXPECT_EQ(KeyNameOfVirtualKey(keybinds::VirtualKeyOfMouseButton(Qt::ForwardButton)),
              QStringLiteral("Mouse5"));
    for (Qt::MouseButton own : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
        EXPECT_EQ(keybinds::VirtualKeyOfMouseButton(own), 0);
}

TEST(KeyNamesTest, NativeNameOfAKeyTheGameCannotName) {
    EXPECT_EQ(keybinds::NativeKeyName({Qt::Key_Less, false, 94, 0x3c, QStringLiteral("<")}), QStringLiteral("<"));
    EXPECT_EQ(keybinds::NativeKeyName({Qt::Key_Meta, false, 133, 0xffeb, {}}), QStringLiteral("Meta"));
    EXPECT_FALSE(keybinds::NativeKeyName({0, false, 200, 0, {}}).isEmpty());
    // A dead key types a combining accent, which shows as nothing on its own.
    EXPECT_EQ(keybinds::NativeKeyName(
                  {Qt::Key_Dead_Circumflex, false, 34, 0xfe52, QStringLiteral("\u0302")}),
              QStringLiteral("dead ^"));
    EXPECT_EQ(keybinds::NativeKeyName({Qt::Key_Dead_Acute, false, 21, 0xfe51, QString()}),
              QStringLiteral("dead \u00b4"));
}

#endif

} // namespace
