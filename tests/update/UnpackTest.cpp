#include "update/updater/Unpack.h"
#include "update/updater/Updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sys/stat.h>
#include <thread>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

struct Scratch {
    fs::path dir;
    fs::path oldCwd = fs::current_path();
    explicit Scratch(const fs::path& base = fs::temp_directory_path()) {
        std::random_device random;
        do
            dir = base / ("qunpack." + std::to_string(random()));
        while (!fs::create_directory(dir));
        fs::permissions(dir, fs::perms::owner_all);
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
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// gcab from Debian builds the cabinets from the files below src/; the
// cabinet lands in the scratch folder.
bool gcab(const Scratch& s, const std::string& flags, const std::string& cab,
          const std::string& files) {
    return std::system(("cd '" + s.dir.string() + "/src' && gcab " + flags + " ../" + cab + " " +
                        files + " >/dev/null 2>&1")
                           .c_str()) == 0;
}

// Cabinets built byte by byte, for what gcab will not write: many folders,
// members sharing bytes, broken blocks. Blocks are stored (type 0) or
// MSZIP blocks holding one stored deflate block.
struct CabFolder {
    std::uint16_t type = 0; // 0 none, 1 MSZIP
    std::string data;
};
struct CabMember {
    std::string name;
    std::uint16_t folder;
    std::uint32_t offset, length;
};
void le16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void le32(std::string& s, std::uint32_t v) {
    le16(s, v & 0xFFFF);
    le16(s, v >> 16);
}
std::string buildCab(const std::vector<CabFolder>& folders, const std::vector<CabMember>& members) {
    std::string files;
    for (const auto& m : members) {
        le32(files, m.length);
        le32(files, m.offset);
        le16(files, m.folder);
        le16(files, (24u << 9) | (5u << 5) | 21u); // 21 May 2004
        le16(files, 18u << 11);
        le16(files, 0x20);
        files += m.name;
        files += '\0';
    }
    const std::size_t headerSize = 36 + 8 * folders.size();
    std::size_t dataAt = headerSize + files.size();
    std::string folderTable, blocks;
    for (const auto& f : folders) {
        std::string b;
        std::size_t count = 0;
        for (std::size_t at = 0; at < f.data.size() || count == 0; at += 32768, ++count) {
            const std::string chunk = f.data.substr(at, 32768);
            std::string payload = chunk;
            if (f.type == 1) {
                payload = "CK\x01";
                le16(payload, static_cast<unsigned>(chunk.size()));
                le16(payload, static_cast<unsigned>(~chunk.size() & 0xFFFF));
                payload += chunk;
            }
            le32(b, 0); // no checksum
            le16(b, static_cast<unsigned>(payload.size()));
            le16(b, static_cast<unsigned>(chunk.size()));
            b += payload;
            if (f.data.empty()) break;
        }
        le32(folderTable, static_cast<std::uint32_t>(dataAt + blocks.size()));
        le16(folderTable, static_cast<unsigned>(count ? count : 1));
        le16(folderTable, f.type);
        blocks += b;
    }
    std::string cab = "MSCF";
    le32(cab, 0);
    le32(cab, static_cast<std::uint32_t>(dataAt + blocks.size()));
    le32(cab, 0);
    le32(cab, static_cast<std::uint32_t>(headerSize));
    le32(cab, 0);
    cab += '\x03';
    cab += '\x01';
    le16(cab, static_cast<unsigned>(folders.size()));
    le16(cab, static_cast<unsigned>(members.size()));
    le16(cab, 0);
    le16(cab, 0x1234);
    le16(cab, 0);
    return cab + folderTable + files + blocks;
}

// Everything in a folder, temporary files included.
std::vector<std::string> listing(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        names.push_back(fs::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SzddTest, OurCompressorRoundTripsThroughLibmspack) {
    Scratch s;
    std::mt19937 rng(7);
    std::vector<std::vector<unsigned char>> inputs = {
        {}, {'a'}, std::vector<unsigned char>(50000, 'z')};
    std::vector<unsigned char> text;
    for (int i = 0; i < 20000; ++i)
        text.push_back(static_cast<unsigned char>("the quick brown fox "[i % 20]));
    inputs.push_back(text);
    std::vector<unsigned char> noise(30000);
    for (auto& b : noise)
        b = static_cast<unsigned char>(rng());
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
    put(s.p("letters.tx_"), std::string("SZDD\x88\xF0\x27\x34"
                                        "Ax\0\0\0\0",
                                        14));
    EXPECT_FALSE(unpack::IsSzdd(s.p("letters.tx_")));
    put(s.p("short.tx_"), "SZDD\x88\xF0\x27");
    EXPECT_FALSE(unpack::IsSzdd(s.p("short.tx_")));
    putBytes(s.p("a.tx_"), unpack::CompressSzdd({'h', 'i'}, 't'));
#ifndef _WIN32 // POSIX symbolic links
    put(s.p("victim"), "keep me");
    fs::create_symlink(s.p("victim"), s.p("a.txt"));
    EXPECT_EQ(unpack::ExpandSzdd(s.p("a.tx_")), "");
    EXPECT_EQ(get(s.p("victim")), "keep me");
#endif
}

TEST(CabinetTest, NestedFoldersAndDates) {
#ifdef _WIN32
    GTEST_SKIP() << "its cabinets come from Debian's gcab, a host program";
#else
    Scratch s;
    put(s.p("src/a.txt"), "hello");
    put(s.p("src/sub/deeper/b.txt"), "deep");
    ASSERT_EQ(std::system(("touch -d '2003-04-05 06:07:08' '" + s.p("src/a.txt") + "'").c_str()),
              0);
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
#endif
}

TEST(CabinetTest, CorruptAndClimbingCabinetsFail) {
#ifdef _WIN32
    GTEST_SKIP() << "its cabinets come from Debian's gcab, a host program";
#else
    Scratch s;
    put(s.p("junk.cab"), "MSCF but nothing else");
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("junk.cab"), s.p("out")));
    put(s.p("src/aa/evil.txt"), "evil");
    ASSERT_TRUE(gcab(s, "-c", "pack.cab", "aa/evil.txt"));
    std::string bytes = get(s.p("pack.cab"));
    const auto at = bytes.find("aa\\evil.txt") != std::string::npos ? bytes.find("aa\\evil.txt")
                                                                    : bytes.find("aa/evil.txt");
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
#endif
}

TEST(UpdaterTest, ProcessFileRules) {
#ifdef _WIN32
    GTEST_SKIP()
        << "its cabinets come from Debian's gcab, a host program, and it checks POSIX modes";
#else
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
#endif
}

TEST(UpdaterTest, CommandLinesAndWaiting) {
#ifdef _WIN32
    GTEST_SKIP() << "runs POSIX commands and a forked child";
#else
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
#endif
}

} // namespace

namespace {

TEST(CabinetTest, HandBuiltCabinetsExtract) {
    Scratch s;
    put(s.p("src/x"), "");
    const std::string text = "hello cabinet";
    put(s.p("plain.cab"), buildCab({{0, text}, {1, "zipped"}},
                                   {{"a.txt", 0, 0, 5}, {"b.txt", 0, 6, 7}, {"c.txt", 1, 0, 6}}));
    std::string error;
    ASSERT_TRUE(unpack::ExtractCabinet(s.p("plain.cab"), s.p("out"), &error)) << error;
    EXPECT_EQ(get(s.p("out/a.txt")), "hello");
    EXPECT_EQ(get(s.p("out/b.txt")), "cabinet");
    EXPECT_EQ(get(s.p("out/c.txt")), "zipped");
}

} // namespace

namespace {

// A compressed file cut short in transfer: 3400 bytes declared, the stream
// ends early. The old file of that name must survive, nothing may be left.
TEST(SzddTest, TruncatedFileIsRefusedAndTheOldFileStays) {
    Scratch s;
    std::mt19937 rng(3);
    std::vector<unsigned char> data(3400);
    for (auto& b : data)
        b = static_cast<unsigned char>('a' + rng() % 26);
    auto packed = unpack::CompressSzdd(data, 't');
    packed.resize(14 + 737);
    putBytes(s.p("notes.tx_"), packed);
    put(s.p("notes.txt"), "the old notes");
    std::string error;
    EXPECT_EQ(unpack::ExpandSzdd(s.p("notes.tx_"), &error), "");
    EXPECT_NE(error.find("truncated"), std::string::npos) << error;
    EXPECT_EQ(get(s.p("notes.txt")), "the old notes");
    EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"notes.tx_", "notes.txt"}));
}

TEST(SzddTest, ExpandedNamesReplaceTheLastCharacter) {
    EXPECT_EQ(unpack::ExpandedSzddName("/a/upd.ex_", 'e'), "/a/upd.exe");
    EXPECT_EQ(unpack::ExpandedSzddName("readme.txt", 'x'), "readme.txx");
    EXPECT_EQ(unpack::ExpandedSzddName("prog.exe", 'e'), "") << "the source's own name";
    EXPECT_EQ(unpack::ExpandedSzddName("a.tx_", '/'), "");
    EXPECT_EQ(unpack::ExpandedSzddName("a.tx_", '\0'), "");
    EXPECT_EQ(unpack::ExpandedSzddName("/a/._", '.'), "");

    Scratch s;
    // A name without "_" keeps its own file: no "name.out", nothing deleted.
    putBytes(s.p("prog.exe"), unpack::CompressSzdd({'n', 'e', 'w'}, 'e'));
    const std::string before = get(s.p("prog.exe"));
    std::string error;
    EXPECT_EQ(unpack::ExpandSzdd(s.p("prog.exe"), &error), "");
    EXPECT_EQ(get(s.p("prog.exe")), before);
    putBytes(s.p("readme.txt"), unpack::CompressSzdd({'o', 'k'}, 'x'));
    EXPECT_EQ(unpack::ExpandSzdd(s.p("readme.txt")), s.p("readme.txx"));
    EXPECT_EQ(get(s.p("readme.txx")), "ok");
    EXPECT_EQ(listing(s.dir), (std::vector<std::string>{"prog.exe", "readme.txt", "readme.txx"}));
}

TEST(SzddTest, ReplacementKeepsTheOldModeAndANewFileGets0644) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX modes";
#else
    Scratch s;
    ::umask(022);
    putBytes(s.p("run.s_"), unpack::CompressSzdd({'#', '!'}, 'h'));
    put(s.p("run.sh"), "old");
    ::chmod(s.p("run.sh").c_str(), 0750);
    ASSERT_EQ(unpack::ExpandSzdd(s.p("run.s_")), s.p("run.sh"));
    struct stat st {};
    ::stat(s.p("run.sh").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0750u);
    putBytes(s.p("new.tx_"), unpack::CompressSzdd({'n'}, 't'));
    ASSERT_EQ(unpack::ExpandSzdd(s.p("new.tx_")), s.p("new.txt"));
    ::stat(s.p("new.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
#endif
}

// Two members over the same bytes: the way a 58 KB cabinet wrote 671 MB.
TEST(CabinetTest, OverlappingMembersAreRefusedBeforeAnythingIsWritten) {
    Scratch s;
    const std::string data(4000, 'q');
    put(s.p("two.cab"), buildCab({{0, data}}, {{"a", 0, 0, 3000}, {"b", 0, 2999, 1000}}));
    std::string error;
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("two.cab"), s.p("out"), &error));
    EXPECT_NE(error.find("overlapping"), std::string::npos) << error;
    std::vector<CabMember> many;
    for (int i = 0; i < 2000; ++i)
        many.push_back({"m" + std::to_string(i), 0, 0, 4000});
    put(s.p("many.cab"), buildCab({{0, data}}, many));
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("many.cab"), s.p("out")));
    EXPECT_FALSE(fs::exists(s.p("out/a")));
    EXPECT_FALSE(fs::exists(s.p("out/m0")));
    // Touching ranges and members of different folders do not overlap.
    put(s.p("fine.cab"), buildCab({{0, data}, {0, data}},
                                  {{"a", 0, 0, 3000}, {"b", 0, 3000, 1000}, {"c", 1, 0, 4000}}));
    EXPECT_TRUE(unpack::ExtractCabinet(s.p("fine.cab"), s.p("out"), &error)) << error;
}

TEST(CabinetTest, TotalOutputIsCapped) {
    Scratch s;
    put(s.p("three.cab"),
        buildCab({{0, std::string(3000, 'z')}},
                 {{"a", 0, 0, 1000}, {"b", 0, 1000, 1000}, {"c", 0, 2000, 1000}}));
    unpack::Limits limits;
    limits.maxOutput = 2999;
    std::string error;
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("three.cab"), s.p("out"), &error, limits));
    EXPECT_FALSE(fs::exists(s.p("out/a")));
    limits.maxOutput = 3000;
    EXPECT_TRUE(unpack::ExtractCabinet(s.p("three.cab"), s.p("out"), &error, limits)) << error;
    EXPECT_EQ(get(s.p("out/c")), std::string(1000, 'z'));
}

// Each MSZIP folder gets a fresh decompressor; the memory cap must count
// what is in use, or a valid cabinet of some 6,700 folders fails.
TEST(CabinetTest, SevenThousandFoldersExtract) {
    // In memory where there is such a folder: 7,000 flushes to disk take long.
    Scratch s(fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path());
    std::vector<CabFolder> folders;
    std::vector<CabMember> members;
    for (int i = 0; i < 7000; ++i) {
        folders.push_back({1, std::to_string(i)});
        members.push_back({"f/" + std::to_string(i), static_cast<std::uint16_t>(i), 0,
                           static_cast<std::uint32_t>(std::to_string(i).size())});
    }
    put(s.p("wide.cab"), buildCab(folders, members));
    std::string error;
    ASSERT_TRUE(unpack::ExtractCabinet(s.p("wide.cab"), s.p("out"), &error)) << error;
    EXPECT_EQ(get(s.p("out/f/0")), "0");
    EXPECT_EQ(get(s.p("out/f/6999")), "6999");
}

// The cap still holds: an LZX folder asks for a 2 MiB window at once.
TEST(CabinetTest, MemoryCapRefusesALargeWindow) {
    Scratch s;
    put(s.p("lzx.cab"), buildCab({{0x1503, std::string(64, '\0')}}, {{"a", 0, 0, 64}}));
    unpack::Limits limits;
    limits.maxMemory = 1 << 20;
    std::string error;
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("lzx.cab"), s.p("out"), &error, limits));
    EXPECT_NE(error.find("memory limit"), std::string::npos) << error;
    EXPECT_FALSE(
        unpack::ExtractCabinet(s.p("lzx.cab"), s.p("out"), &error)); // the data is no LZX stream
    EXPECT_EQ(error.find("memory limit"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(s.p("out/a")));
}

// A broken second member: the first is not written either, an existing file
// keeps its bytes and mode, and no temporary file is left.
TEST(CabinetTest, AFailedExtractionChangesNothing) {
    Scratch s;
    put(s.p("out/a.txt"), "old a");
#ifndef _WIN32
    ::chmod(s.p("out/a.txt").c_str(), 0700);
#endif
    std::string cab =
        buildCab({{0, "new a"}, {1, "new b"}}, {{"a.txt", 0, 0, 5}, {"b.txt", 1, 0, 5}});
    cab[cab.rfind("CK")] = 'X';
    put(s.p("bad.cab"), cab);
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("bad.cab"), s.p("out")));
    EXPECT_EQ(listing(s.p("out")), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(get(s.p("out/a.txt")), "old a");
    put(s.p("good.cab"), buildCab({{0, "new a"}}, {{"a.txt", 0, 0, 5}}));
    EXPECT_TRUE(unpack::ExtractCabinet(s.p("good.cab"), s.p("out")));
    EXPECT_EQ(get(s.p("out/a.txt")), "new a");
#ifndef _WIN32
    struct stat st {};
    ::stat(s.p("out/a.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
#endif
}

// A folder planted as a link would carry members out of the destination.
TEST(CabinetTest, LinkedFoldersAndLinkedTargetsAreRefused) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX symbolic links";
#else
    Scratch s;
    fs::create_directories(s.p("out"));
    fs::create_directories(s.p("elsewhere"));
    fs::create_directory_symlink(s.p("elsewhere"), s.p("out/sub"));
    put(s.p("sub.cab"), buildCab({{0, "evil"}}, {{"sub\\x.txt", 0, 0, 4}}));
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("sub.cab"), s.p("out")));
    EXPECT_FALSE(fs::exists(s.p("elsewhere/x.txt")));
    put(s.p("victim"), "keep");
    fs::create_symlink(s.p("victim"), s.p("out/v.txt"));
    put(s.p("v.cab"), buildCab({{0, "evil"}}, {{"v.txt", 0, 0, 4}}));
    EXPECT_FALSE(unpack::ExtractCabinet(s.p("v.cab"), s.p("out")));
    EXPECT_EQ(get(s.p("victim")), "keep");
#endif
}

} // namespace

namespace {

std::vector<char*> argvOf(std::vector<std::string>& args) {
    std::vector<char*> v;
    for (auto& a : args)
        v.push_back(a.data());
    v.push_back(nullptr);
    return v;
}

TEST(UpdaterTest, ArgumentListKeepsBlanksAndRefusesPathsAsComponents) {
    std::vector<std::string> args = {"upd", "42", "/opt/My App/app", "app_NEW", "pack.cab",
                                     "--",  "-x", "two words"};
    auto v = argvOf(args);
    const auto a = updater::ParseArguments(static_cast<int>(args.size()), v.data());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->pid, 42);
    EXPECT_EQ(a->program, "/opt/My App/app");
    EXPECT_EQ(a->components, (std::vector<std::string>{"app_NEW", "pack.cab"}));
    EXPECT_EQ(a->programArguments, (std::vector<std::string>{"-x", "two words"}));
    for (const std::string bad :
         {"../app_NEW", "/etc/passwd", "sub/app_NEW", "..", "a\nb", "", "x..y"}) {
        std::vector<std::string> b = {"upd", "42", "null", "ok.tx_", bad};
        auto bv = argvOf(b);
        std::string error;
        EXPECT_FALSE(updater::ParseArguments(5, bv.data(), &error)) << bad;
        EXPECT_NE(error.find("plain file name"), std::string::npos) << error;
    }
    EXPECT_TRUE(updater::PlainComponentName("upd.ex_"));
    EXPECT_TRUE(updater::PlainComponentName("name with blank.txt"));
}

// A folder with a blank, a program that is a shell script: the old one
// writes "old", the new one "new" with its arguments. What they wrote and
// whether they reported their start decide each case.
struct SelfUpdate : Scratch {
    fs::path app = dir / "My App";
    fs::path runDir = dir / "run";
    SelfUpdate() {
        fs::create_directories(app);
        fs::create_directory(runDir);
        fs::permissions(runDir, fs::perms::owner_all);
        script("app", "echo old >> log\n");
        fs::current_path(app);
#ifndef _WIN32
        ::setenv(updater::kRunDirVariable, runDir.c_str(), 1);
#endif
    }
#ifndef _WIN32
    ~SelfUpdate() { ::unsetenv(updater::kRunDirVariable); }
#endif
    void script(const std::string& name, const std::string& body) {
        put((app / name).string(), "#!/bin/sh\ncd \"$(dirname \"$0\")\"\n" + body);
        fs::permissions(app / name, fs::perms::owner_all | fs::perms::group_read |
                                        fs::perms::group_exec | fs::perms::others_read |
                                        fs::perms::others_exec);
    }
    int run(std::chrono::milliseconds timeout, const std::vector<std::string>& programArgs = {},
            const std::string& component = "app_NEW") {
        std::vector<std::string> args = {"upd", "0", (app / "app").string(), component};
        if (!programArgs.empty()) args.push_back("--");
        args.insert(args.end(), programArgs.begin(), programArgs.end());
        auto v = argvOf(args);
        updater::Options options;
        options.startTimeout = timeout;
        return updater::Run(static_cast<int>(args.size()), v.data(), options);
    }
    // The started program runs on its own; wait for its line.
    std::string log(const std::string& expected) {
        for (int i = 0; i < 200 && get((app / "log").string()) != expected; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return get((app / "log").string());
    }
};

TEST(UpdaterTest, ReplacedProgramThatStartsDropsTheOldCopy) {
#ifdef _WIN32
    GTEST_SKIP()
        << "the stand-in programs are shell scripts; update_apply_tests swaps real .exe files";
#else
    SelfUpdate s;
    s.script("app_NEW", "echo \"new $1|$2\" >> log\ntouch \"$QUORLEX_UPDATE_STARTED\"\n");
    EXPECT_EQ(s.run(std::chrono::seconds(10), {"-x", "two words"}), 0);
    EXPECT_EQ(s.log("new -x|two words\n"), "new -x|two words\n");
    EXPECT_NE(get((s.app / "app").string()).find("new"), std::string::npos);
    EXPECT_FALSE(fs::exists(s.app / "app.old"));
    EXPECT_FALSE(fs::exists(s.app / "app_NEW"));
    EXPECT_FALSE(fs::exists(s.runDir)) << "the run's private folder is removed";
#endif
}

// Started from another folder (the game's, say), the updater still finds
// the components beside the program, and the new program gets both what
// it needs to report its start: the marker and the run folder it lies in.
TEST(UpdaterTest, WorksBesideTheProgramFromAnyFolderAndHandsOverTheRunFolder) {
#ifdef _WIN32
    GTEST_SKIP()
        << "the stand-in programs are shell scripts; update_apply_tests swaps real .exe files";
#else
    SelfUpdate s;
    fs::current_path(s.dir);
    s.script("app_NEW", "echo new >> log\n[ -d \"$QUORLEX_UPDATE_DIR\" ] && "
                        "touch \"$QUORLEX_UPDATE_STARTED\"\n");
    EXPECT_EQ(s.run(std::chrono::seconds(10)), 0);
    EXPECT_EQ(s.log("new\n"), "new\n");
    EXPECT_FALSE(fs::exists(s.app / "app.old"));
    EXPECT_FALSE(fs::exists(s.dir / "app_NEW"));
#endif
}

TEST(UpdaterTest, ReplacedProgramThatEndsAtOnceIsRolledBack) {
#ifdef _WIN32
    GTEST_SKIP()
        << "the stand-in programs are shell scripts; update_apply_tests swaps real .exe files";
#else
    SelfUpdate s;
    s.script("app_NEW", "exit 1\n");
    EXPECT_EQ(s.run(std::chrono::seconds(10)), 2);
    EXPECT_EQ(s.log("old\n"), "old\n") << "the previous program is started";
    EXPECT_NE(get((s.app / "app").string()).find("echo old"), std::string::npos);
    EXPECT_FALSE(fs::exists(s.app / "app.old"));
#endif
}

// The program may also come SZDD-compressed: app expands from ap_.
TEST(UpdaterTest, ACompressedProgramIsRolledBackToo) {
#ifdef _WIN32
    GTEST_SKIP()
        << "the stand-in programs are shell scripts; update_apply_tests swaps real .exe files";
#else
    SelfUpdate s;
    const std::string body = "#!/bin/sh\nexit 1\n";
    putBytes((s.app / "ap_").string(), unpack::CompressSzdd({body.begin(), body.end()}, 'p'));
    EXPECT_EQ(s.run(std::chrono::seconds(10), {}, "ap_"), 2);
    EXPECT_EQ(s.log("old\n"), "old\n");
    EXPECT_NE(get((s.app / "app").string()).find("echo old"), std::string::npos);
    EXPECT_TRUE(fs::exists(s.app / "ap_"));
#endif
}

TEST(UpdaterTest, ReplacedProgramThatNeverReportsIsStoppedAndRolledBack) {
#ifdef _WIN32
    GTEST_SKIP()
        << "the stand-in programs are shell scripts; update_apply_tests swaps real .exe files";
#else
    SelfUpdate s;
    s.script("app_NEW", "echo hung >> log\nexec sleep 30\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(s.run(std::chrono::milliseconds(400)), 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(s.log("hung\nold\n"), "hung\nold\n");
    EXPECT_NE(get((s.app / "app").string()).find("echo old"), std::string::npos);
#endif
}

TEST(UpdaterTest, ARefusedComponentAppliesNothingButRestarts) {
#ifdef _WIN32
    GTEST_SKIP()
        << "the stand-in programs are shell scripts; update_apply_tests swaps real .exe files";
#else
    SelfUpdate s;
    s.script("app_NEW", "echo new >> log\n");
    put((s.dir / "outside_NEW").string(), "x");
    std::vector<std::string> args = {"upd", "0", (s.app / "app").string(), "app_NEW",
                                     "../outside_NEW"};
    auto v = argvOf(args);
    EXPECT_EQ(updater::Run(5, v.data()), 1);
    EXPECT_EQ(s.log("old\n"), "old\n");
    EXPECT_TRUE(fs::exists(s.app / "app_NEW"));
    EXPECT_TRUE(fs::exists(s.dir / "outside_NEW"));
#endif
}

} // namespace
