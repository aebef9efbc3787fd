#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/support/GTestQt.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using platform::WineRegistry;

namespace {

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class WineRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(prefix.isValid());
        QDir().mkpath(prefix.path() + QStringLiteral("/drive_c/UT2004"));
        QDir().mkpath(prefix.path() + QStringLiteral("/dosdevices"));
        QFile::link(QStringLiteral("../drive_c"), prefix.path() + QStringLiteral("/dosdevices/c:"));
    }
    QTemporaryDir prefix;
    const QString full = QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004");
    const QString demo = QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004-Demo");
};

TEST_F(WineRegistryTest, FindsFolderAndMapsTheDriveIntoThePrefix) {
#ifdef _WIN32
    GTEST_SKIP() << "a Wine prefix as the Linux program reads it; Windows' own registry is read by the API";
#endif
    write(prefix.path() + QStringLiteral("/system.reg"),
          "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n"
          "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UT2004-Demo] 1700000000\n"
          "\"Folder\"=\"C:\\\\UT2004Demo\"\n\n"
          "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UT2004] 1700000000\n"
          "#time=1d9\n\"Version\"=\"3369\"\n\"Folder\"=\"C:\\\\UT2004\\\\\"\n");
    WineRegistry reg(prefix.path());
    const QString drive = QDir(prefix.path() + QStringLiteral("/drive_c")).canonicalPath();
    EXPECT_EQ(reg.ReadMachineString(full, QStringLiteral("Folder")), drive + QStringLiteral("/UT2004"));
    EXPECT_EQ(reg.ReadMachineString(demo, QStringLiteral("Folder")), drive + QStringLiteral("/UT2004Demo"));
    EXPECT_EQ(reg.ReadMachineString(full, QStringLiteral("Missing")), QString());
    EXPECT_FALSE(reg.ReadMachineString(QStringLiteral("SOFTWARE\\Nothing"), QStringLiteral("Folder")));
}

TEST_F(WineRegistryTest, ThirtyTwoBitKeysOfA64BitPrefix) {
    write(prefix.path() + QStringLiteral("/system.reg"),
          "[Software\\\\Wow6432Node\\\\Unreal Technology\\\\Installed Apps\\\\UT2004] 1\n"
          "\"Folder\"=\"D:\\\\Games\\\\UT2004\"\n");
    WineRegistry reg(prefix.path());
    // No D: drive in the prefix: the Windows path is all we can offer.
    EXPECT_EQ(reg.ReadMachineString(full, QStringLiteral("Folder")), QStringLiteral("D:\\Games\\UT2004"));
}

TEST_F(WineRegistryTest, NoPrefixFindsNothing) {
    WineRegistry reg(prefix.path() + QStringLiteral("/none"));
    EXPECT_FALSE(reg.ReadMachineString(full, QStringLiteral("Folder")));
}

TEST(PathsTest, WithTrailingBackslash) {
    EXPECT_EQ(platform::WithTrailingBackslash(QString()), QString());
    EXPECT_EQ(platform::WithTrailingBackslash(QStringLiteral("/games/ut")), QStringLiteral("/games/ut/"));
    EXPECT_EQ(platform::WithTrailingBackslash(QStringLiteral("/games/ut/")), QStringLiteral("/games/ut/"));
}

} // namespace
