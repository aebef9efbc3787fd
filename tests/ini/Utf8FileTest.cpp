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

} // namespace
