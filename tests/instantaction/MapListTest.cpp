#include "instantaction/GameTypes.h"
#include "imaging/JpegImage.h"
#include "instantaction/MapList.h"
#include "platform/GameLauncher.h"
#include "tests/support/GTestQt.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <random>

using namespace instantaction;

namespace {

void touch(const QString& path, const QByteArray& bytes = {}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

TEST(GameTypesTest, TableIsComplete) {
    ASSERT_EQ(GameTypes().size(), 7u);
    EXPECT_STREQ(GameTypes()[kOnslaught].gameClass, "Onslaught.ONSOnslaughtGame");
    EXPECT_STREQ(GameTypes()[1].mapPrefix, "DM");
    int controls = 0;
    for (const auto& rule : RuleKeys())
        for (const auto& cell : rule.cells) controls += cell.control ? 1 : 0;
    EXPECT_EQ(controls, 76);
}

TEST(MapListTest, PrefixMatchesIgnoringCaseAndSortsIgnoringCase) {
    QTemporaryDir dir;
    for (const char* f : {"DM-Alpha.ut2", "dm-Beta.ut2", "CTF-Gamma.ut2", "DM-alpha2.ut2", "DM-Zed.txt", "DMX.ut2"})
        touch(dir.filePath(QLatin1String(f)));
    QDir().mkdir(dir.filePath(QStringLiteral("DM-Folder.ut2"))); // every kind of entry counts
    EXPECT_EQ(MapEntries(dir.path(), QStringLiteral("DM")),
              (QStringList{QStringLiteral("DM-Alpha"), QStringLiteral("DM-alpha2"), QStringLiteral("dm-Beta"),
                           QStringLiteral("DM-Folder"), QStringLiteral("DMX")}));
    EXPECT_EQ(MapEntries(dir.path(), QStringLiteral("CTF")), QStringList{QStringLiteral("CTF-Gamma")});
    EXPECT_TRUE(MapEntries(dir.filePath(QStringLiteral("missing")), QStringLiteral("DM")).isEmpty());
}

TEST(MapListTest, MapsFolderSitsBesideSystem) {
    EXPECT_EQ(MapsDirOf(QStringLiteral("/games/ut2004/System/")), QStringLiteral("/games/ut2004/Maps"));
}

TEST(MapListTest, MutatorsFromSectionNames) {
    EXPECT_EQ(MutatorEntries({"Public", "MutInstaGib", "MutAlpha", "xMutFoo", "mutant", "Mutator"}),
              (QStringList{QStringLiteral("Alpha"), QStringLiteral("ator"), QStringLiteral("InstaGib"),
                           QStringLiteral("tFoo")}));
    // A file that repeats a section lists the mutator once.
    EXPECT_EQ(MutatorEntries({"MutInstaGib", "MutLowGrav", "MutInstaGib", "mutinstagib"}),
              (QStringList{QStringLiteral("InstaGib"), QStringLiteral("LowGrav")}));
}

TEST(MapListTest, CommandLine) {
    LaunchChoice c;
    c.map = QStringLiteral("DM-Alpha");
    c.gameClass = QStringLiteral("XGame.xDeathMatch");
    c.bots = QStringLiteral("4");
    c.translocator = false;
    c.difficulty = 3;
    c.mutators = {QStringLiteral("Alpha"), QStringLiteral("Beta")};
    EXPECT_EQ(BuildCommandLine(c), QStringLiteral("DM-Alpha.ut2?game=XGame.xDeathMatch?NumBots=4?Translocator=False?"
                                                  "Difficulty=3?Mutator=XGame.MutAlpha,XGame.MutBeta"));
    c.map.clear();
    c.mutators = {QStringLiteral("Alpha")};
    c.translocator = true;
    EXPECT_EQ(BuildCommandLine(c),
              QStringLiteral("?game=XGame.xDeathMatch?NumBots=4?Translocator=True?Difficulty=3?Mutator=XGame.MutAlpha"));
    c.mutators.clear();
    c.gameClass.clear();
    EXPECT_EQ(BuildCommandLine(c), QStringLiteral("?NumBots=4?Translocator=True?Difficulty=3"));
}

TEST(MapListTest, PreviewMatching) {
    const QStringList files = {QStringLiteral("Alpha.jpg"), QStringLiteral("beta.jpg"), QStringLiteral("DM.jpg")};
    EXPECT_EQ(MatchingPreviews(files, QStringLiteral("DM-Alpha")), (QStringList{QStringLiteral("Alpha.jpg"), QStringLiteral("DM.jpg")}));
    EXPECT_EQ(MatchingPreviews(files, QStringLiteral("CTF-Betamax")), QStringList{QStringLiteral("beta.jpg")});
    EXPECT_TRUE(MatchingPreviews(files, QString()).isEmpty());
}

QByteArray sampleJpeg() {
    QImage img(64, 32, QImage::Format_RGB32);
    img.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    // Qt's own writer is only the fixture here; reading goes through libjpeg.
    img.save(&buffer, "JPG");
    return bytes;
}

TEST(JpegImageTest, DecodesTheDemoPreviews) {
    QDir previews(QStringLiteral(QUORLEX_SOURCE_DIR "/demo/previews"));
    const auto files = previews.entryList({QStringLiteral("*.jpg")});
    ASSERT_FALSE(files.isEmpty());
    for (const QString& f : files) {
        QFile file(previews.filePath(f));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        QString why;
        const QImage img = imaging::DecodeJpeg(file.readAll(), &why);
        EXPECT_EQ(img.size(), QSize(236, 103)) << qPrintable(f) << qPrintable(why);
    }
}

TEST(JpegImageTest, BrokenFilesGiveAReasonNeverACrash) {
    QByteArray good = sampleJpeg();
    if (good.isEmpty()) good = QByteArray("\xFF\xD8\xFF\xE0", 4);
    QString why;
    EXPECT_TRUE(imaging::DecodeJpeg(QByteArray(), &why).isNull());
    EXPECT_FALSE(why.isEmpty());
    EXPECT_TRUE(imaging::DecodeJpeg(QByteArray("GIF89a not a jpeg"), &why).isNull());
    EXPECT_FALSE(why.isEmpty());
    // Truncated at every length, and randomly corrupted: decode or refuse, nothing else.
    for (qsizetype n = 0; n < good.size(); n += 7) (void)imaging::DecodeJpeg(good.left(n));
    std::mt19937 rng(42);
    for (int round = 0; round < 300; ++round) {
        QByteArray bad = good;
        for (int k = 0; k < 1 + round % 8; ++k)
            bad[static_cast<qsizetype>(rng() % bad.size())] = static_cast<char>(rng());
        const QImage img = imaging::DecodeJpeg(bad, &why);
        if (!img.isNull()) {
            EXPECT_LE(img.width(), 8192);
        }
    }
    // A header claiming a giant picture is refused before any allocation.
    QByteArray giant = good;
    const auto sof = giant.indexOf(QByteArray("\xFF\xC0", 2));
    if (sof >= 0) {
        giant[sof + 5] = '\x7F';
        giant[sof + 7] = '\x7F';
        EXPECT_TRUE(imaging::DecodeJpeg(giant, &why).isNull());
    }
}

#ifndef Q_OS_WIN
TEST(GameLaunchTest, WineRunsTheWindowsGame) {
    QTemporaryDir dir;
    const QString system = dir.path() + QStringLiteral("/System/");
    QDir().mkpath(system);
    touch(system + QStringLiteral("UT2004.exe"));
    auto wine = [](const QString& n) { return n == QStringLiteral("wine") ? QStringLiteral("/usr/bin/wine") : QString(); };
    const auto l = platform::BuildGameLaunch(system, QStringLiteral("DM-Alpha.ut2?NumBots=4"), wine);
    EXPECT_EQ(l.program, QStringLiteral("/usr/bin/wine"));
    EXPECT_EQ(l.arguments, (QStringList{system + QStringLiteral("UT2004.exe"), QStringLiteral("DM-Alpha.ut2?NumBots=4")}));
    EXPECT_EQ(l.workingDirectory, system);
    const auto none = platform::BuildGameLaunch(system, QStringLiteral("x"), [](const QString&) { return QString(); });
    EXPECT_TRUE(none.program.isEmpty());
    EXPECT_EQ(none.problem, QStringLiteral("UT2004.exe needs wine to run here, and wine is not installed."));
}

TEST(GameLaunchTest, NativeLinuxBinaryWins) {
    QTemporaryDir dir;
    const QString system = dir.path() + QStringLiteral("/System/");
    QDir().mkpath(system);
    touch(system + QStringLiteral("ut2004-bin"));
    QFile::setPermissions(system + QStringLiteral("ut2004-bin"), QFile::ReadOwner | QFile::ExeOwner);
    touch(system + QStringLiteral("UT2004.exe"));
    const auto l = platform::BuildGameLaunch(system, QStringLiteral("p"), [](const QString&) { return QString(); });
    EXPECT_EQ(l.program, system + QStringLiteral("ut2004-bin"));
    EXPECT_EQ(l.arguments, QStringList{QStringLiteral("p")});
}

TEST(GameLaunchTest, NothingToStartSaysWhy) {
    QTemporaryDir dir;
    const auto l = platform::BuildGameLaunch(dir.path() + QLatin1Char('/'), QStringLiteral("p"), [](const QString&) { return QString(); });
    EXPECT_TRUE(l.program.isEmpty());
    EXPECT_TRUE(l.problem.startsWith(QStringLiteral("Neither UT2004.exe nor the Linux game program was found")));
    QString problem;
    EXPECT_FALSE(platform::StartGame(l, &problem));
    EXPECT_EQ(problem, l.problem);
}
#endif

} // namespace
