// Real files of players and server admins: loading and saving must keep every
// byte that no page owns.
#include "ini/Cp1252.h"
#include "ini/IniFile.h"
#include "tests/ini/IniTestUtil.h"

#include <map>
#include <set>

using ini::TIniFile;
using initest::slurp;
using initest::spit;

namespace {

// An independent line reader over the raw bytes, giving every entry that a
// keyed lookup should find: its section, key, and where its value lies.
struct Entry {
    std::string section, key; // as in the file, trimmed
    std::size_t valueStart, valueLength;
};

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\v\f");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r\v\f") - b + 1);
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<Entry> entriesOf(const std::string& bytes) {
    std::vector<Entry> out;
    std::set<std::string> sectionsSeen, keysSeen;
    std::string section;
    bool live = false;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // LF, CR LF and a lone CR end a line.
        auto nl = bytes.find_first_of("\r\n", pos);
        std::size_t end = nl == std::string::npos ? bytes.size() : nl;
        std::size_t next = nl == std::string::npos ? bytes.size() : nl + 1;
        if (nl != std::string::npos && bytes[nl] == '\r' && nl + 1 < bytes.size() &&
            bytes[nl + 1] == '\n')
            ++next;
        const std::string line = bytes.substr(pos, end - pos);
        const std::string t = trim(line);
        if (!t.empty() && t[0] == '[' && t.rfind(']') != std::string::npos) {
            // The name runs to the last ']' of the line.
            section = trim(t.substr(1, t.rfind(']') - 1));
            live = !section.empty() && sectionsSeen.insert(lower(section)).second;
            keysSeen.clear();
        } else if (live && !t.empty() && t[0] != ';' && line.find('=') != std::string::npos) {
            const auto eq = line.find('=');
            const std::string key = trim(line.substr(0, eq));
            if (keysSeen.insert(lower(key)).second)
                out.push_back({section, key, pos + eq + 1, end - pos - eq - 1});
        }
        pos = next;
    }
    return out;
}

std::string expectedRead(const std::string& raw) {
    std::string v = trim(raw);
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0]) v = v.substr(1, v.size() - 2);
    return ini::cp1252ToUtf8(v.substr(0, 2047));
}

std::string u(const std::string& bytes) { return ini::cp1252ToUtf8(bytes); }

class RealWorldTest : public ::testing::TestWithParam<std::string> {
protected:
    initest::TempDir dir;
};

TEST_P(RealWorldTest, ReadsWritesAndRoundTripsByteForByte) {
    const std::string original = slurp(std::string(QUORLEX_REALWORLD_DIR) + "/" + GetParam());
    ASSERT_FALSE(original.empty());
    const std::string path = dir.file("copy.ini");
    spit(path, original);
    const auto entries = entriesOf(original);
    ASSERT_FALSE(entries.empty());
    TIniFile ini(path);

    for (const auto& e : entries)
        ASSERT_EQ(ini.ReadText(u(e.section), u(e.key), "<none>"),
                  expectedRead(original.substr(e.valueStart, e.valueLength)))
            << e.section << " / " << e.key;

    {
        // Every entry's own value text written back: not one byte changes.
        TIniFile::Batch batch(ini);
        for (const auto& e : entries)
            ini.WriteText(u(e.section), u(e.key), u(original.substr(e.valueStart, e.valueLength)));
        batch.finish();
    }
    ASSERT_TRUE(slurp(path) == original) << "round trip changed the file";

    // A new value changes only that value's bytes.
    for (std::size_t i = 0; i < entries.size(); i += 7) {
        const auto& e = entries[i];
        ini.WriteText(u(e.section), u(e.key), "Quorlex");
        std::string expected = original;
        expected.replace(e.valueStart, e.valueLength, "Quorlex");
        ASSERT_TRUE(slurp(path) == expected) << e.section << " / " << e.key;
        ini.WriteText(u(e.section), u(e.key), u(original.substr(e.valueStart, e.valueLength)));
    }
    EXPECT_TRUE(slurp(path) == original);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RealWorldTest,
    ::testing::Values("8avian-ut2k4_config/UT2004.ini", "8avian-ut2k4_config/User.ini",
                      "GameServerManagers-Game-Server-Configs/UT2004.ini.orig",
                      "GrantSorenson-LumpysInvasionServer/UT2004.ini",
                      "GrantSorenson-LumpysInvasionServer/User.ini",
                      "GrantSorenson-LumpysInvasionServer/XGame.int",
                      "GrantSorenson-LumpysInvasionServer/XMaps.int",
                      "GrantSorenson-LumpysInvasionServer/xplayersL1.upl",
                      "HeffersonMan-UT2004/DefUser.ini", "HeffersonMan-UT2004/Default.ini",
                      "HeffersonMan-UT2004/UT2004.ini", "madeinua-ut2004-server-config/UT2004.ini",
                      "scvnc-netwarlan-server-configs/UT2004.ini", "timseriakov-dotfiles/UT2004.ini",
                      "timseriakov-dotfiles/User.ini"),
    [](const auto& info) {
        std::string n = info.param;
        for (auto& c : n)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
    });

} // namespace
