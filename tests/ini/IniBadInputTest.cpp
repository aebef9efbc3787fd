// Files the game, other tools or accidents leave behind: nothing may crash,
// and a write keeps every byte it does not own. Also the failing writes.
#include "ini/IniFile.h"
#include "tests/ini/IniTestUtil.h"

#include <ctime>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using ini::EIniFileException;
using ini::TIniFile;
using initest::slurp;
using initest::spit;

namespace {

struct BadFile {
    const char* name;
    std::string bytes;
    std::string expectedAfter; // after WriteText("Engine.Input", "Space", "Jump")
};

std::string garbage(std::size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

class BadInputTest : public ::testing::TestWithParam<BadFile> {
protected:
    initest::TempDir dir;
};

TEST_P(BadInputTest, ReadsDoNotCrashAndAWriteChangesOnlyItsValue) {
    const auto& c = GetParam();
    const std::string path = dir.file("bad.ini");
    spit(path, c.bytes);
    TIniFile ini(path);
    (void)ini.ReadText("Engine.Input", "Space", "");
    (void)ini.ReadSectionNames();
    (void)ini.ReadNumber("Engine.Input", "Space", 0);
    ini.WriteText("Engine.Input", "Space", "Jump");
    const std::string after = slurp(path);
    if (!c.expectedAfter.empty()) {
        EXPECT_EQ(after, c.expectedAfter);
    }
    EXPECT_EQ(ini.ReadText("Engine.Input", "Space", ""), "Jump");
    // Writing it back to what it was restores the very same bytes.
    if (c.bytes.find("Space=Duck") != std::string::npos) {
        ini.WriteText("Engine.Input", "Space", "Duck");
        EXPECT_EQ(slurp(path), c.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadInputTest,
    ::testing::Values(
        BadFile{"LfOnly", "[Engine.Input]\nSpace=Duck\nA=B\n", "[Engine.Input]\nSpace=Jump\nA=B\n"},
        BadFile{"Mixed", "[X]\r\na=1\n[Engine.Input]\nSpace=Duck\r\nA=B\n",
                "[X]\r\na=1\n[Engine.Input]\nSpace=Jump\r\nA=B\n"},
        BadFile{"NoFinalNewline", "[Engine.Input]\r\nA=B", "[Engine.Input]\r\nA=B\r\nSpace=Jump"},
        BadFile{"NoFinalNewlineReplace", "[Engine.Input]\r\nSpace=Duck", "[Engine.Input]\r\nSpace=Jump"},
        BadFile{"NulBytes", std::string("[Engine.Input]\r\nA=\0\0x\r\nSpace=Duck\r\n\0\r\n", 33),
                std::string("[Engine.Input]\r\nA=\0\0x\r\nSpace=Jump\r\n\0\r\n", 33)},
        BadFile{"ByteOrderMark", "\xEF\xBB\xBF[Engine.Input]\r\nSpace=Duck\r\n",
                "\xEF\xBB\xBF[Engine.Input]\r\nSpace=Jump\r\n"},
        BadFile{"EscAndHighBytes", "[Engine.\x1B\xFF]\r\nk=\x1B\x81\r\n[Engine.Input]\r\nSpace=Duck\r\n",
                "[Engine.\x1B\xFF]\r\nk=\x1B\x81\r\n[Engine.Input]\r\nSpace=Jump\r\n"},
        BadFile{"LoneCarriageReturns", "[Engine.Input]\rSpace=Duck\r\n", "[Engine.Input]\rSpace=Jump\r\n"},
        BadFile{"CarriageReturnsOnly", "[X]\ra=1\r[Engine.Input]\rSpace=Duck\rA=B",
                "[X]\ra=1\r[Engine.Input]\rSpace=Jump\rA=B"},
        BadFile{"HeaderWithoutBracket", "[Engine.Input\r\nSpace=Old\r\n",
                "[Engine.Input\r\nSpace=Old\r\n\r\n[Engine.Input]\r\nSpace=Jump\r\n"},
        BadFile{"Garbage", garbage(100000, 1), ""},
        BadFile{"GarbageWithSection", garbage(5000, 2) + "\n[Engine.Input]\nSpace=Duck\n" + garbage(5000, 3), ""},
        BadFile{"MegabyteLine",
                "[Engine.Input]\r\nLong=" + std::string(1 << 20, 'x') + "\r\nSpace=Duck\r\n",
                "[Engine.Input]\r\nLong=" + std::string(1 << 20, 'x') + "\r\nSpace=Jump\r\n"},
        BadFile{"Empty", "", "[Engine.Input]\r\nSpace=Jump\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BadInputTest, FiftyMegabyteFileKeepsEveryOtherByte) {
    initest::TempDir dir;
    const std::string path = dir.file("huge.ini");
    std::string bytes;
    bytes.reserve(52u << 20);
    bytes += "[Engine.Input]\r\nSpace=Duck\r\n";
    for (int i = 0; bytes.size() < (50u << 20); ++i)
        bytes += "[Sec" + std::to_string(i) + "]\r\nKey=" + std::string(200, 'v') + "\r\n";
    spit(path, bytes);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadText("Sec1000", "Key", ""), std::string(200, 'v'));
    ini.WriteText("Engine.Input", "Space", "Jump");
    std::string expected = bytes;
    expected.replace(expected.find("Duck"), 4, "Jump");
    EXPECT_TRUE(slurp(path) == expected);
}

// ---- writes that cannot be made ----

class FailingWriteTest : public ::testing::Test {
protected:
    void TearDown() override { TIniFile::SetFaultHookForTesting({}); }
    initest::TempDir dir;
    const std::string original = "[Engine.Input]\r\nSpace=Duck\r\n";
    std::string path = dir.file("User.ini");

    void expectRefused(TIniFile& ini) {
        try {
            ini.WriteText("Engine.Input", "Space", "Jump");
            FAIL() << "write succeeded";
        } catch (const EIniFileException& e) {
            // The path, then the cause where one is known.
            EXPECT_EQ(std::string(e.what()).rfind("Unable to write to " + path, 0), 0u) << e.what();
        }
        EXPECT_EQ(slurp(path), original);
        EXPECT_EQ(ini.ReadText("Engine.Input", "Space", ""), "Duck") << "the handle forgot the edit";
    }
};

TEST_F(FailingWriteTest, ReadOnlyFileIsRefusedEvenForRoot) {
    spit(path, original);
    ::chmod(path.c_str(), 0444);
    TIniFile ini(path);
    expectRefused(ini);
}

TEST_F(FailingWriteTest, ReadOnlyFileIsRefusedAtTheFirstWriteOfABatch) {
    spit(path, original);
    ::chmod(path.c_str(), 0444);
    TIniFile ini(path);
    TIniFile::Batch batch(ini);
    EXPECT_THROW(ini.WriteText("Engine.Input", "Space", "Jump"), EIniFileException);
    EXPECT_NO_THROW(batch.finish());
    EXPECT_EQ(slurp(path), original);
}

TEST_F(FailingWriteTest, EveryFailingStepLeavesTheOldFileAndNoTemporary) {
    for (const char* step : {"create", "write", "sync", "rename"}) {
        SCOPED_TRACE(step);
        spit(path, original);
        TIniFile::SetFaultHookForTesting([step](std::string_view s, const std::string&) { return s != step; });
        TIniFile ini(path);
        expectRefused(ini);
        EXPECT_EQ(dir.entries(), 1u);
    }
}

#ifdef _WIN32
TEST_F(FailingWriteTest, ReadOnlyFolderIsRefused) {
    GTEST_SKIP() << "a folder's read-only attribute does not stop writes on Windows";
}
#else
TEST_F(FailingWriteTest, ReadOnlyFolderIsRefused) {
    spit(path, original);
    if (::geteuid() == 0) {
        // Root may create files in any folder; stand in with the seam.
        TIniFile::SetFaultHookForTesting([](std::string_view s, const std::string&) { return s != "create"; });
    } else {
        ::chmod(dir.path().c_str(), 0555);
    }
    TIniFile ini(path);
    expectRefused(ini);
}
#endif

#ifdef _WIN32
TEST_F(FailingWriteTest, FullDiskLeavesTheOldFile) {
    GTEST_SKIP() << "mounts a small tmpfs, which needs Linux and root";
}
#else
TEST_F(FailingWriteTest, FullDiskLeavesTheOldFile) {
    const std::string mnt = dir.file("tmpfs");
    std::filesystem::create_directory(mnt);
    if (::geteuid() != 0 || ::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "needs root and mount; the seam test covers a failing write";
    path = mnt + "/User.ini";
    spit(path, original);
    {
        TIniFile ini(path);
        // Far more than the 64 KiB the disk holds.
        try {
            ini.WriteText("Engine.Input", "Space", std::string(200000, 'j'));
            ADD_FAILURE() << "write succeeded";
        } catch (const EIniFileException&) {
        }
        EXPECT_EQ(slurp(path), original);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(mnt), {}), 1);
    }
    ::umount(mnt.c_str());
}
#endif

TEST_F(FailingWriteTest, UnreadableFileIsNeverOverwritten) {
    // A folder where the file should be: reading it fails, so a write would
    // replace it with almost nothing.
    std::filesystem::create_directory(path);
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadText("Engine.Input", "Space", "d"), "d");
    EXPECT_THROW(ini.WriteText("Engine.Input", "Space", "Jump"), EIniFileException);
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(BadNameTest, NamesThatWouldNotReadBackAreRefusedAndTheFileStaysAsItWas) {
    initest::TempDir dir;
    const std::string path = dir.file("User.ini");
    const std::string original = "[A]\r\nk=1\r\n[VCTF-Dinora][.OLVCTFManualGunPawn]\r\nx=1\r\n";
    spit(path, original);
    TIniFile ini(path);
    const std::pair<const char*, const char*> bad[] = {
        {"A\r\n[Evil]", "k"}, {"New\nSection", "k"}, {"New]Section", "k"}, {"[New", "k"},
        {"", "k"},            {"  ", "k"},           {"A", "k=v"},          {"A", "k\r\nx=2"},
        {"A", "k\rx"},        {"A", "[Evil]"},       {"A", ";k"},           {"A", " [x"},
    };
    for (const auto& [section, key] : bad) {
        SCOPED_TRACE(std::string(section) + " / " + key);
        EXPECT_THROW(ini.WriteText(section, key, "v"), std::invalid_argument);
    }
    EXPECT_EQ(slurp(path), original);
    EXPECT_EQ(dir.entries(), 1u);
    // A section that already stands in the file with brackets in its name is
    // written like any other.
    ini.WriteText("VCTF-Dinora][.OLVCTFManualGunPawn", "x", "2");
    EXPECT_EQ(slurp(path), "[A]\r\nk=1\r\n[VCTF-Dinora][.OLVCTFManualGunPawn]\r\nx=2\r\n");
}

#ifdef _WIN32
TEST(StaleTemporaryTest, ASaveRemovesOnlyTheLeftoversOfKilledSaves) {
    GTEST_SKIP() << "plants files of an ended child, which needs fork";
}
#else
TEST(StaleTemporaryTest, ASaveRemovesOnlyTheLeftoversOfKilledSaves) {
    initest::TempDir dir;
    const std::string path = dir.file("User.ini");
    spit(path, "[A]\r\nk=1\r\n");
    // A PID that is surely gone: a child that has ended.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ASSERT_GT(child, 0);
    ::waitpid(child, nullptr, 0);
    const std::string gone = std::to_string(child), self = std::to_string(::getpid());
    auto plant = [&](const std::string& name, bool anHourAgo) {
        spit(dir.file(name), "[A]\r\nk=");
        if (!anHourAgo) return;
        const timespec then{std::time(nullptr) - 3600, 0};
        const timespec times[2] = {then, then};
        ::utimensat(AT_FDCWD, dir.file(name).c_str(), times, 0);
    };
    const std::vector<std::string> stale = {
        ".User.ini.qxtmp." + gone + ".Ab12Cd",
        // Our own PID, but written before this process began: a reused PID.
        ".UT2004.ini.qxtmp." + self + ".x9Y8z7",
    };
    const std::vector<std::string> kept = {
        ".User.ini.qxtmp." + self + ".Qw3Er4", // this process may be writing it now
        ".User.ini.qxtmp." + gone + ".Ab12C",  // look-alikes of other shapes
        "User.ini.qxtmp." + gone + ".Ab12Cd",
        ".User.ini." + gone + ".Ab12Cd",
        ".User.ini.qxtmp." + gone + ".Ab12Cd.bak",
        ".User.ini.qxtmp.x" + gone + ".Ab12Cd",
        "User.ini.bak",
    };
    for (const auto& n : stale) plant(n, true);
    plant(kept[0], false);
    for (std::size_t i = 1; i < kept.size(); ++i) plant(kept[i], true);
    const std::string lookAlikeFolder = dir.file(".User.ini.qxtmp." + gone + ".Dir123");
    std::filesystem::create_directory(lookAlikeFolder);

    TIniFile ini(path);
    ini.WriteText("A", "k", "2");
    EXPECT_EQ(slurp(path), "[A]\r\nk=2\r\n");
    for (const auto& n : stale) EXPECT_FALSE(std::filesystem::exists(dir.file(n))) << n;
    for (const auto& n : kept) EXPECT_TRUE(std::filesystem::exists(dir.file(n))) << n;
    EXPECT_TRUE(std::filesystem::is_directory(lookAlikeFolder));
    EXPECT_EQ(dir.entries(), 1 + kept.size() + 1) << "and no temporary of this save is left";
}
#endif

} // namespace
