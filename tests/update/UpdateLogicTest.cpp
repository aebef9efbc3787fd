#include "update/UpdateLogic.h"
#include "tests/support/GTestQt.h"
#include "tests/support/PeBuilder.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace update;

namespace {

QString write(const QTemporaryDir& dir, const char* name, const QByteArray& bytes) {
    const QString path = dir.filePath(QLatin1String(name));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

struct VersionCase {
    const char* text;
    std::int32_t ms, ls;
};

class ParseVersionTest : public ::testing::TestWithParam<VersionCase> {};

TEST_P(ParseVersionTest, Parses) {
    const auto& c = GetParam();
    const auto v = ParseVersionString(QLatin1String(c.text));
    EXPECT_EQ(v.ms, c.ms);
    EXPECT_EQ(v.ls, c.ls);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseVersionTest,
    ::testing::Values(VersionCase{"1.2.0.15", 65538, 15}, VersionCase{"1,2,0,15", 65538, 15},
                      VersionCase{"1.10.0.0", 65546, 0}, VersionCase{"65536.1.2.3", 1, 131075},
                      VersionCase{"1.2.0", -1, -1}, VersionCase{"1.2.0.1.5", -1, -1},
                      VersionCase{"abc", -1, -1}, VersionCase{"1.2.x.4", -1, -1},
                      VersionCase{"", -1, -1}, VersionCase{"1..0.0", -1, -1}));

TEST(VersionTest, TextAndComparisonByNumbers) {
    EXPECT_EQ(VersionText({-1, -1}), QStringLiteral("65535.65535.65535.65535"));
    const auto newer = ParseVersionString(QStringLiteral("1.10.0.0"));
    const auto older = ParseVersionString(QStringLiteral("1.9.0.0"));
    EXPECT_GT(newer.ms, older.ms);
}

TEST(VersionTest, ReadsPeVersionResourcesAndOurElfNote) {
    QTemporaryDir dir;
    EXPECT_EQ(
        GetFileVersionNumber(write(dir, "v.exe", testsupport::BuildPe(0x00010002, 0x00030004))).ms,
        0x00010002);
    EXPECT_EQ(
        GetFileVersionNumber(write(dir, "v.exe", testsupport::BuildPe(0x00010002, 0x00030004))).ls,
        0x00030004);
    EXPECT_EQ(GetFileVersionNumber(write(dir, "n.exe", testsupport::BuildPe(1, 2, false))).ms, -1);
    EXPECT_EQ(GetFileVersionNumber(write(dir, "t.txt", "just text")).ms, -1);
    EXPECT_EQ(GetFileVersionNumber(dir.filePath(QStringLiteral("missing"))).ms, -1);
    // Truncated and corrupted PE files are no version, never a crash.
    QByteArray pe = testsupport::BuildPe(5, 6);
    for (int n = 0; n < pe.size(); n += 13)
        (void)GetFileVersionNumber(write(dir, "cut.exe", pe.left(n)));
    const auto ours = GetFileVersionNumber(QStringLiteral(QUORLEX_PROGRAM));
    EXPECT_EQ(VersionText(ours), QStringLiteral("2.0.0.0"));
}

void putLe(QByteArray& b, int at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A 64-bit little-endian ELF header whose section table is at `shoff`.
QByteArray elf64(std::uint64_t shoff, int size = 64) {
    QByteArray b(size, '\0');
    b.replace(0, 7,
              QByteArray("\x7F"
                         "ELF\x02\x01\x01"));
    putLe(b, 0x28, shoff, 8);
    putLe(b, 0x3A, 64, 2); // e_shentsize
    putLe(b, 0x3C, 1, 2);  // e_shnum
    return b;
}

// Offsets chosen so that offset + length wraps past the top of the 64-bit
// range: such a sum once passed the bounds check and the read went wild.
TEST(VersionTest, CraftedElfOffsetsAreNoVersionNotACrash) {
    for (const std::uint64_t shoff :
         {0x7FFFFFFFFFFFFFF9ull, 0x7FFFFFFFFFFFFFC1ull, 0xFFFFFFFFFFFFFFF0ull})
        EXPECT_EQ(VersionFromBytes(elf64(shoff)).ms, -1) << shoff;
    // A real section header of type note, its data offset near the top.
    for (const std::uint64_t off :
         {0x7FFFFFFFFFFFFFF8ull, 0x7FFFFFFFFFFFFFF5ull, 0xFFFFFFFFFFFFFFF0ull}) {
        QByteArray b = elf64(64, 128);
        putLe(b, 64 + 4, 7, 4);
        putLe(b, 64 + 24, off, 8);
        putLe(b, 64 + 32, 0x10, 8);
        EXPECT_EQ(VersionFromBytes(b).ms, -1) << off;
    }
    QTemporaryDir dir;
    EXPECT_EQ(GetFileVersionNumber(write(dir, "crafted", elf64(0x7FFFFFFFFFFFFFF9ull))).ms, -1);
}

TEST(ChecksumTest, ByteSumAndTheSitesCrc) {
    QTemporaryDir dir;
    const QString abc = write(dir, "abc", "abc");
    EXPECT_EQ(FileByteSum(abc), 293);
    EXPECT_EQ(static_cast<std::uint32_t>(FileCRC(abc)), 0x6C8D9D41u);
    EXPECT_EQ(FileByteSum(dir.filePath(QStringLiteral("none"))), -1);
    EXPECT_EQ(FileCRC(dir.filePath(QStringLiteral("none"))), 0);
    // Across block borders the running value carries on.
    QByteArray big(10000, 'x');
    const QString bigPath = write(dir, "big", big);
    std::uint32_t c = ~CrcOfBytes({reinterpret_cast<const unsigned char*>(big.constData()), 10000});
    EXPECT_EQ(static_cast<std::uint32_t>(FileCRC(bigPath)), c);
    EXPECT_EQ(FileByteSum(bigPath), static_cast<std::int32_t>(0xFFFFFFFFu + 10000u * 'x'));
}

TEST(DateTimeTest, PatternsAndSeparators) {
    const QChar slash = QLatin1Char('/'), colon = QLatin1Char(':');
    const QString dmy = QStringLiteral("dd/mm/yyyy"), hn = QStringLiteral("hh:nn");
    EXPECT_EQ(
        ParseDateTime(QStringLiteral("21/05/2004"), QStringLiteral("18:02"), dmy, slash, hn, colon),
        QDateTime(QDate(2004, 5, 21), QTime(18, 2)));
    EXPECT_EQ(ParseDateTime(QStringLiteral("05-21-04"), QString(), QStringLiteral("mm-dd-yy"),
                            QLatin1Char('-'), hn, colon),
              QDateTime(QDate(2004, 5, 21), QTime(0, 0)));
    EXPECT_EQ(
        ParseDateTime(QStringLiteral("31/02/2004"), QStringLiteral("12:00"), dmy, slash, hn, colon),
        QDateTime(QDate(1980, 1, 1), QTime(12, 0)));
    EXPECT_EQ(
        ParseDateTime(QStringLiteral("21/05/2004"), QStringLiteral("25:99"), dmy, slash, hn, colon),
        QDateTime(QDate(2004, 5, 21), QTime(0, 0)));
    EXPECT_EQ(ParseDateTime(QStringLiteral("garbage"), QString(), dmy, slash, hn, colon),
              QDateTime(QDate(1980, 1, 1), QTime(0, 0)));
}

TEST(StatusTableTest, NumbersTextsAndCodes) {
    EXPECT_EQ(StatusTable().front().id, 909);
    EXPECT_EQ(StatusTable().back().id, 955);
    EXPECT_STREQ(FindStatus(916)->text, "Http status : %s");
    EXPECT_EQ(FindStatus(916)->statuscode, 6);
    EXPECT_EQ(FindStatus(927)->errcode, 4);
    EXPECT_STREQ(FindStatus(954)->text, "");
    EXPECT_EQ(FindStatus(908), nullptr);
    EXPECT_EQ(FindStatus(956), nullptr);
}

} // namespace
