#include "keybinds/KeyNames.h"
#include "tests/support/GTestQt.h"

#include <Qt>
#include <gtest/gtest.h>
#include <utility>

using keybinds::KeyNameOfVirtualKey;
using keybinds::PhysicalKey;
using keybinds::VirtualKeyOf;

namespace {

QString nameOf(PhysicalKey k) { return KeyNameOfVirtualKey(VirtualKeyOf(k)); }

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
    EXPECT_EQ(nameOf({Qt::Key_7, false, 0}), QStringLiteral("7"));
    EXPECT_EQ(nameOf({Qt::Key_7, true, 0}), QStringLiteral("Numpad7"));
    EXPECT_EQ(nameOf({Qt::Key_Asterisk, true, 0}), QStringLiteral("GreyStar"));
    EXPECT_EQ(nameOf({Qt::Key_Enter, true, 0}), QStringLiteral("Enter"));
    EXPECT_EQ(nameOf({Qt::Key_Minus, true, 0}), QStringLiteral("GreyMinus"));
    EXPECT_EQ(nameOf({Qt::Key_Minus, false, 0}), QStringLiteral("Minus"));
    // Num Lock off: the keypad 8 reports as Up.
    EXPECT_EQ(nameOf({Qt::Key_Up, true, 0}), QStringLiteral("Up"));
}

// Every key of the numeric pad (Num Lock on) by the name the game gives it.
TEST(KeyNamesTest, EveryKeypadKey) {
    const std::pair<int, const char*> pad[] = {
        {Qt::Key_0, "Numpad0"},      {Qt::Key_1, "Numpad1"},        {Qt::Key_2, "Numpad2"},       {Qt::Key_3, "Numpad3"},
        {Qt::Key_4, "Numpad4"},      {Qt::Key_5, "Numpad5"},        {Qt::Key_6, "Numpad6"},       {Qt::Key_7, "Numpad7"},
        {Qt::Key_8, "Numpad8"},      {Qt::Key_9, "Numpad9"},        {Qt::Key_Asterisk, "GreyStar"}, {Qt::Key_Plus, "GreyPlus"},
        {Qt::Key_Minus, "GreyMinus"}, {Qt::Key_Period, "NumpadPeriod"}, {Qt::Key_Comma, "NumpadPeriod"},
        {Qt::Key_Slash, "GreySlash"}, {Qt::Key_Enter, "Enter"}};
    for (const auto& [key, name] : pad) EXPECT_EQ(nameOf({key, true, 0}), QString::fromLatin1(name)) << name;
}

#ifndef Q_OS_WIN
TEST(KeyNamesTest, LayoutDependentKeysGoByScanCode) {
    // French layout: the key left of 1 gives a superscript two, the digit row
    // gives & and é without Shift; the physical keys still have their names.
    EXPECT_EQ(nameOf({Qt::Key_twosuperior, false, 49}), QStringLiteral("Tilde"));
    EXPECT_EQ(nameOf({Qt::Key_Ampersand, false, 10}), QStringLiteral("1"));
    EXPECT_EQ(nameOf({Qt::Key_Eacute, false, 11}), QStringLiteral("2"));
    // German layout: the key left of 1 is a dead circumflex.
    EXPECT_EQ(nameOf({Qt::Key_Dead_Circumflex, false, 49}), QStringLiteral("Tilde"));
    // A semicolon typed on another physical key (French: the comma key) is that key.
    EXPECT_EQ(nameOf({Qt::Key_Semicolon, false, 59}), QStringLiteral("Comma"));
    // Letters follow the layout, as the game's own key names do.
    EXPECT_EQ(nameOf({Qt::Key_A, false, 24}), QStringLiteral("A"));
    EXPECT_EQ(nameOf({Qt::Key_Shift, false, 50}), QStringLiteral("Shift"));
    EXPECT_EQ(nameOf({Qt::Key_Meta, false, 133}), QString());
}
#endif

} // namespace
