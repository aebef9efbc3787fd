#include "ini/IniFile.h"
#include "tests/ini/IniTestUtil.h"

#include <gtest/gtest.h>

namespace {

using initest::slurp;
using initest::spit;

// Our own settings file must hold any folder name: a Cyrillic or CJK path
// stored through Windows-1252 came back as "????" and the game was lost.
TEST(Utf8FileTest, OldFilesKeepTheirMeaningAndAnyNameFits) {
    initest::TempDir dir;
    const std::string path = dir.path() + "/Quorlex2004.ini";
    spit(path, "[UT2k4]\r\nDir=C:\\Spiele\\Caf\xe9\r\n");
    ini::MakeUtf8File(path);
    EXPECT_EQ(slurp(path), "\xEF\xBB\xBF[UT2k4]\r\nDir=C:\\Spiele\\Caf\xC3\xA9\r\n");
    {
        ini::TIniFile f(path);
        EXPECT_EQ(f.ReadText("UT2k4", "Dir", ""), "C:\\Spiele\\Caf\xC3\xA9");
        f.WriteText("UT2k4", "System", "/home/\xD0\xB8\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBA/\xE6\xB8\xB8\xE6\x88\x8F/System");
    }
    ini::TIniFile again(path);
    EXPECT_EQ(again.ReadText("UT2k4", "System", ""), "/home/\xD0\xB8\xD0\xB3\xD1\x80\xD0\xBE\xD0\xBA/\xE6\xB8\xB8\xE6\x88\x8F/System");
    // A second start changes nothing.
    const std::string bytes = slurp(path);
    ini::MakeUtf8File(path);
    EXPECT_EQ(slurp(path), bytes);
    // A first start begins a UTF-8 file.
    const std::string fresh = dir.path() + "/new.ini";
    ini::MakeUtf8File(fresh);
    EXPECT_EQ(slurp(fresh), "\xEF\xBB\xBF");
}

// A file without the mark whose bytes are already UTF-8 keeps them: only
// the mark is added. Bytes that are not UTF-8 are Windows-1252.
TEST(Utf8FileTest, UnmarkedUtf8IsKeptAndOnlyMarked) {
    initest::TempDir dir;
    const std::string path = dir.path() + "/Quorlex2004.ini";
    const struct {
        const char* name;
        std::string bytes, after;
    } cases[] = {
        {"utf8 accents", "[UT2k4]\r\nDir=/home/jos\xC3\xA9/Caf\xC3\xA9\r\n",
         "[UT2k4]\r\nDir=/home/jos\xC3\xA9/Caf\xC3\xA9\r\n"},
        {"utf8 cyrillic and cjk", "Dir=/home/\xD0\xB8\xD0\xB3/\xE6\xB8\xB8\r\n", "Dir=/home/\xD0\xB8\xD0\xB3/\xE6\xB8\xB8\r\n"},
        {"utf8 four bytes", "Dir=\xF0\x9F\x8E\xAE\r\n", "Dir=\xF0\x9F\x8E\xAE\r\n"},
        {"ascii", "[UT2k4]\nDir=/opt/ut2004\n", "[UT2k4]\nDir=/opt/ut2004\n"},
        {"cp1252 at the end", "Dir=Caf\xC3", "Dir=Caf\xC3\x83"},
        {"cp1252 lone lead", "Dir=\xE9t\xE9\r\n", "Dir=\xC3\xA9t\xC3\xA9\r\n"},
        {"overlong slash", "Dir=\xC0\xAF", "Dir=\xC3\x80\xC2\xAF"},
        {"surrogate", "Dir=\xED\xA0\x80", "Dir=\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
    };
    for (const auto& c : cases) {
        spit(path, c.bytes);
        ini::MakeUtf8File(path);
        EXPECT_EQ(slurp(path), "\xEF\xBB\xBF" + c.after) << c.name;
    }
}

} // namespace
