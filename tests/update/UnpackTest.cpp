#include "update/updater/Unpack.h"
#include "update/updater/Updater.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct Scratch {
    fs::path dir;
    fs::path oldCwd = fs::current_path();
    Scratch() {
        std::string tmpl = (fs::temp_directory_path() / "qunpack.XXXXXX").string();
        dir = ::mkdtemp(tmpl.data());
    }
    ~Scratch() {
        fs::current_path(oldCwd);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string p(const std::string& name) const { return (dir / name).string(); }
};

void put(const std::string& path, const std::string& bytes) {
    if (fs::path(path).has_parent_path()) fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}
std::string get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}
void putBytes(const std::string& path, const std::vector<unsigned char>& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// gcab from Debian builds the cabinets from the files below src/; the
// cabinet lands in the scratch folder.
bool gcab(const Scratch& s, const std::string& flags, const std::string& cab, const std::string& files) {
    return std::system(("cd '" + s.dir.string() + "/src' && gcab " + flags + " ../" + cab + " " + files + " >/dev/null 2>&1").c_str()) == 0;
}

TEST(SzddTest, OurCompressorRoundTripsThroughLibmspack) {
    Scratch s;
    std::mt19937 rng(7);
    std::vector<std::vector<unsigned char>> inputs = {{}, {'a'}, std::vector<unsigned char>(50000, 'z')};
    std::vector<unsigned char> text;
    for (int i = 0; i < 20000; ++i) text.push_back(static_cast<unsigned char>("the quick brown fox "[i % 20]));
    inputs.push_back(text);
    std::vector<unsigned char> noise(30000);
    for (auto& b : noise) b = static_cast<unsigned char>(rng());
    inputs.push_back(noise);
    for (const auto& in : inputs) {
        const auto packed = unpack::CompressSzdd(in, 'e');
        putBytes(s.p("upd.ex_"), packed);
        ASSERT_TRUE(unpack::IsSzdd(s.p("upd.ex_")));
        EXPECT_EQ(unpack::ExpandSzdd(s.p("upd.ex_")), s.p("upd.exe"));
        EXPECT_EQ(get(s.p("upd.exe")), std::string(in.begin(), in.end()));
        if (in.size() == 50000) {
            EXPECT_LT(packed.size(), 10000u) << "repeats are matched";
        }
    }
}

TEST(SzddTest, OutputStopsAtTheDeclaredLength) {
    Scratch s;
    auto packed = unpack::CompressSzdd(std::vector<unsigned char>(5000, 'x'), 't');
    packed[10] = 100; // declare 100 bytes only
    packed[11] = packed[12] = packed[13] = 0;
    putBytes(s.p("big.tx_"), packed);
    ASSERT_EQ(unpack::ExpandSzdd(s.p("big.tx_")), s.p("big.txt"));
    EXPECT_EQ(get(s.p("big.txt")).size(), 100u);
}

TEST(SzddTest, NotSzddAndLinksAreRefused) {
    Scratch s;
    put(s.p("plain.tx_"), "not compressed");
    EXPECT_EQ(unpack::ExpandSzdd(s.p("plain.tx_")), "");
    EXPECT_EQ(get(s.p("plain.tx_")), "not compressed");
    // All eight bytes of the signature count, not only the letters.
    put(s.p("letters.tx_"), std::string("SZDD\x88\xF0\x27\x34" "Ax\0\0\0\0", 14));
    EXPECT_FALSE(unpack::IsSzdd(s.p("letters.tx_")));
    put(s.p("short.tx_"), "SZDD\x88\xF0\x27");
    EXPECT_FALSE(unpack::IsSzdd(s.p("short.tx_")));
    putBytes(s.p("a.tx_"), unpack::CompressSzdd({'h', 'i'}, 't'));
    put(s.p("victim"), "keep me");
    fs::create_symlink(s.p("victim"), s.p("a.txt"));
    EXPECT_EQ(unpack::ExpandSzdd(s.p("a.tx_")), "");
    EXPECT_EQ(get(s.p("victim")), "keep me");
}

TEST(CabinetTest, NestedFoldersAndDates) {
    Scratch s;
    put(s.p("src/a.txt"), "hello");
    put(s.p("src/sub/deeper/b.txt"), "deep");
    ASSERT_EQ(std::system(("touch -d '2003-04-05 06:07:08' '" + s.p("src/a.txt") + "'").c_str()), 0);
    ASSERT_TRUE(gcab(s, "-c -z", "pack.cab", "a.txt sub/deeper/b.txt"));
    std::string error;
    ASSERT_TRUE(unpack::ExtractCabinet(s.p("pack.cab"), s.p("out"), &error)) << error;
    EXPECT_EQ(get(s.p("out/a.txt")), "hello");
    EXPECT_EQ(get(s.p("out/sub/deeper/b.txt")), "deep");
    struct stat st {};
    ASSERT_EQ(::stat(s.p("out/a.txt").c_str(), &st), 0);
    std::tm tm{};
    const std::time_t when = st.st_mtime;
    localtime_r(&when, &tm);
    EXPECT_EQ(tm.tm_year + 1900, 2003);
    EXPECT_EQ(tm.tm_mon + 1, 4);
    EXPECT_EQ(tm.tm_mday, 5);
}

TEST(CabinetTest, CorruptAndClimbingCabinetsFail) {
    Scratch s;
    put(s.p("junk.cab"), "MSCF but nothing else");
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("junk.cab"), s.p("out")));
    put(s.p("src/aa/evil.txt"), "evil");
    ASSERT_TRUE(gcab(s, "-c", "pack.cab", "aa/evil.txt"));
    std::string bytes = get(s.p("pack.cab"));
    const auto at = bytes.find("aa\\evil.txt") != std::string::npos ? bytes.find("aa\\evil.txt") : bytes.find("aa/evil.txt");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 2, "..");
    put(s.p("climb.cab"), bytes);
    std::string error;
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("climb.cab"), s.p("out/inner"), &error));
    EXPECT_NE(error.find("refused"), std::string::npos);
    EXPECT_FALSE(fs::exists(s.p("out/evil.txt")));
    EXPECT_FALSE(unpack::SafeMemberName("/etc/passwd"));
    EXPECT_FALSE(unpack::SafeMemberName("C:\\x"));
    EXPECT_FALSE(unpack::SafeMemberName("a/../b"));
    EXPECT_FALSE(unpack::SafeMemberName(std::string("a\x01")));
    EXPECT_TRUE(unpack::SafeMemberName("a\\b.txt"));
}

TEST(UpdaterTest, ProcessFileRules) {
    Scratch s;
    fs::current_path(s.dir);
    put("app.exe", "old");
    put("app.exe_NEW", "new");
    ::chmod("app.exe", 0755);
    ::chmod("app.exe_NEW", 0600);
    EXPECT_TRUE(updater::ProcessFile("app.exe_NEW"));
    EXPECT_EQ(get("app.exe"), "new");
    struct stat st {};
    ::stat("app.exe", &st);
    EXPECT_EQ(st.st_mode & 0777, 0755u) << "the program stays runnable";
    EXPECT_FALSE(fs::exists("app.exe_NEW"));
    // A missing new file loses nothing.
    EXPECT_FALSE(updater::ProcessFile("app.exe_NEW"));
    EXPECT_EQ(get("app.exe"), "new");
    putBytes("readme.tx_", unpack::CompressSzdd({'o', 'k'}, 't'));
    EXPECT_TRUE(updater::ProcessFile("readme.tx_"));
    EXPECT_EQ(get("readme.txt"), "ok");
    EXPECT_TRUE(fs::exists("readme.tx_"));
    put("src/c.txt", "from cab");
    ASSERT_TRUE(gcab(s, "-c", "pack.cab", "c.txt"));
    EXPECT_TRUE(updater::ProcessFile("pack.cab"));
    EXPECT_EQ(get("c.txt"), "from cab");
    EXPECT_FALSE(fs::exists("pack.cab"));
    put("data.PAT", "patch");
    updater::ProcessFile("data.PAT"); // no patch utility here: the patch goes all the same
    EXPECT_FALSE(fs::exists("data.PAT"));
}

TEST(UpdaterTest, CommandLinesAndWaiting) {
    EXPECT_EQ(updater::SplitCommandLine("\"/opt/My App/app\" -x  y"),
              (std::vector<std::string>{"/opt/My App/app", "-x", "y"}));
    EXPECT_TRUE(updater::RunAndWait("true"));
    EXPECT_FALSE(updater::RunAndWait("false"));
    EXPECT_FALSE(updater::RunAndWait("/no/such/program"));
    const pid_t child = ::fork();
    if (child == 0) {
        ::usleep(300000);
        ::_exit(0);
    }
    const auto start = std::chrono::steady_clock::now();
    updater::WaitForProcess(child);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    char a0[] = "upd", a1[] = "notanumber";
    char* argv[] = {a0, a1, nullptr};
    EXPECT_EQ(updater::Run(2, argv), 1);
}

} // namespace
