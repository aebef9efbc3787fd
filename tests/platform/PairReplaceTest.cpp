#include "platform/FileJournal.h"
#include "platform/Files.h"
#include "tests/support/GTestQt.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <random>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Snapshot = std::map<QString, QByteArray>; // every file of the folder, by name
using Pairs = std::vector<std::pair<QString, QString>>;

constexpr int kCrashed = 86;

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

Snapshot Take(const QString& dir) {
    Snapshot s;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        QFile f(dir + QLatin1Char('/') + name);
        s[name] = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }
    return s;
}

std::string Describe(const Snapshot& s) {
    std::string out;
    for (const auto& [name, bytes] : s)
        out += "  " + name.toStdString() + " = \"" + bytes.left(40).toStdString() + "\"\n";
    return out;
}

// Runs `op` in a child process that ends itself right after step `crashAt`
// (0: never). True when the child reached that step, false when it finished.
bool RunUntilStep(int crashAt, const std::function<void()>& op) {
    const pid_t child = ::fork();
    if (child == 0) {
        platform::journal::SetStepHookForTesting([crashAt](int step) {
            if (step == crashAt) ::_exit(kCrashed);
        });
        op();
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == kCrashed;
}

// The player's files: a System folder with the INI pair, a dated pair, the
// .BAK pair and the game's default files, each with its own bytes.
class PairReplaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.isValid());
        dir = tmp.path() + QStringLiteral("/System");
        ASSERT_TRUE(QDir().mkpath(dir));
        Write(path("User.ini"), "[Engine.Input]\r\nF=Use\r\n");
        Write(path("UT2004.ini"), "[Engine.Engine]\r\nRenderDevice=D3DDrv.D3DRenderDevice\r\n");
        Write(path("User_8-12-2004.INI"), "[Engine.Input]\r\nF=Fire\r\n");
        Write(path("UT2004_8-12-2004.INI"), "[Engine.Engine]\r\nRenderDevice=OpenGLDrv\r\n");
        Write(path("User.BAK"), "[Engine.Input]\r\nSpace=Jump\r\n");
        Write(path("UT2004.BAK"), "[Engine.Engine]\r\nRenderDevice=SDLDrv\r\n");
        Write(path("DefUser.ini"), "[Engine.Input]\r\nAliases[0]=(Command=\"Jump\")\r\n");
        Write(path("Default.ini"), "[Engine.Engine]\r\nRenderDevice=WinDrv\r\n");
    }
    void TearDown() override { platform::journal::SetStepHookForTesting({}); }

    QString path(const char* name) const { return dir + QLatin1Char('/') + QLatin1String(name); }
    Pairs pairs(std::initializer_list<std::pair<const char*, const char*>> names) const {
        Pairs out;
        for (const auto& [from, to] : names)
            out.emplace_back(path(from), path(to));
        return out;
    }
    // The folder after a complete replacement: each target holds what its
    // source held before, nothing else changed, nothing added.
    Snapshot Replaced(const Snapshot& before, const Pairs& sourceToTarget) const {
        Snapshot after = before;
        for (const auto& [source, target] : sourceToTarget)
            after[QFileInfo(target).fileName()] = before.at(QFileInfo(source).fileName());
        return after;
    }

    struct Figures {
        int crashPoints = 0, recoveryCrashPoints = 0, held = 0, runs = 0;
    };

    // Ends the operation after each of its steps in turn, and the recovery
    // after each of its own steps, then recovers for good: the folder must
    // be exactly as before or exactly as after, nothing lost, nothing left.
    Figures CrashEverywhere(const std::function<void()>& op, const Snapshot& after) {
        const Snapshot before = Take(dir);
        Figures fig;
        for (int n = 1;; ++n) {
            const bool crashed = RunUntilStep(n, op);
            const Snapshot crashedState = Take(dir);
            if (!crashed) {
                EXPECT_EQ(crashedState, after) << "finished operation\n" << Describe(crashedState);
                break;
            }
            ++fig.crashPoints;
            // A second crash, now while recovering, then the recovery that finishes.
            for (int m = 1;; ++m) {
                restore(crashedState);
                const bool recoveryCrashed =
                    RunUntilStep(m, [this] { platform::RecoverInterruptedReplacements(dir); });
                if (recoveryCrashed) ++fig.recoveryCrashPoints;
                platform::RecoverInterruptedReplacements(dir);
                const Snapshot result = Take(dir);
                ++fig.runs;
                const bool ok = result == before || result == after;
                fig.held += ok;
                EXPECT_TRUE(ok) << "crash after step " << n
                                << (recoveryCrashed ? ", recovery crashed after step " : "")
                                << (recoveryCrashed ? std::to_string(m) : std::string()) << ":\n"
                                << Describe(result) << "expected before:\n"
                                << Describe(before) << "or after:\n"
                                << Describe(after);
                if (!recoveryCrashed) break;
            }
            restore(before);
        }
        std::cout << "[ figures  ] " << fig.crashPoints << " crash points in the operation, "
                  << fig.recoveryCrashPoints << " in recoveries; all or nothing held in "
                  << fig.held << " of " << fig.runs << " runs\n";
        EXPECT_GT(fig.crashPoints, 0);
        return fig;
    }

    // Puts the folder back to a snapshot taken earlier, temporary files included.
    void restore(const Snapshot& s) {
        for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System))
            if (!s.count(name)) QFile::remove(dir + QLatin1Char('/') + name);
        for (const auto& [name, bytes] : s) {
            QFile::remove(dir + QLatin1Char('/') + name);
            Write(dir + QLatin1Char('/') + name, bytes);
        }
    }

    QTemporaryDir tmp;
    QString dir;
};

TEST_F(PairReplaceTest, RestoringADatedPairIsAllOrNothingAtEveryCrash) {
    const Pairs p =
        pairs({{"User_8-12-2004.INI", "User.ini"}, {"UT2004_8-12-2004.INI", "UT2004.ini"}});
    const Figures fig = CrashEverywhere([&] { platform::ReplaceFiles(p); }, Replaced(Take(dir), p));
    EXPECT_EQ(fig.held, fig.runs);
}

TEST_F(PairReplaceTest, ResetToDefaultsIsAllOrNothingAtEveryCrash) {
    const Pairs p = pairs({{"DefUser.ini", "User.ini"}, {"Default.ini", "UT2004.ini"}});
    CrashEverywhere([&] { platform::ReplaceFiles(p); }, Replaced(Take(dir), p));
}

TEST_F(PairReplaceTest, AFreshBakPairIsAllOrNothingAtEveryCrash) {
    // The first restore makes the .BAK pair where there was none: undoing
    // means no .BAK file at all, never one of them.
    QFile::remove(path("User.BAK"));
    QFile::remove(path("UT2004.BAK"));
    const Pairs p = pairs({{"User.ini", "User.BAK"}, {"UT2004.ini", "UT2004.BAK"}});
    CrashEverywhere([&] { platform::ReplaceFiles(p); }, Replaced(Take(dir), p));
}

TEST_F(PairReplaceTest, ExchangingTheBakPairsKeepsEveryVersionAtEveryCrash) {
    // Before or after the swap, all four versions are in the folder.
    const Snapshot before = Take(dir);
    Snapshot swapped = before;
    std::swap(swapped[QStringLiteral("User.ini")], swapped[QStringLiteral("User.BAK")]);
    std::swap(swapped[QStringLiteral("UT2004.ini")], swapped[QStringLiteral("UT2004.BAK")]);
    const Pairs p = pairs({{"User.BAK", "User.ini"}, {"UT2004.BAK", "UT2004.ini"}});
    CrashEverywhere([&] { platform::ExchangeFiles(p); }, swapped);
}

TEST_F(PairReplaceTest, ExchangingOnePairKeepsBothVersionsAtEveryCrash) {
    Snapshot swapped = Take(dir);
    std::swap(swapped[QStringLiteral("User.ini")], swapped[QStringLiteral("User.BAK")]);
    CrashEverywhere([&] { platform::ExchangeFiles(path("User.BAK"), path("User.ini")); }, swapped);
}

TEST_F(PairReplaceTest, ARenameFailingPartWayPutsEveryOldVersionBackAtEveryCrash) {
    // The second target's staged copy vanishes once its old version is set
    // aside: its rename fails after the first target is already new.
    platform::journal::SetStepHookForTesting({});
    const auto sabotage = [this] {
        QDir d(dir);
        if (d.entryList({QStringLiteral("UT2004.ini.quorlex-*.old")}).isEmpty()) return;
        for (const QString& n : d.entryList({QStringLiteral("UT2004.ini.quorlex-*.new")}))
            d.remove(n);
    };
    const Pairs p =
        pairs({{"User_8-12-2004.INI", "User.ini"}, {"UT2004_8-12-2004.INI", "UT2004.ini"}});
    const Snapshot before = Take(dir);
    platform::journal::SetStepHookForTesting([&](int) { sabotage(); });
    EXPECT_FALSE(platform::ReplaceFiles(p));
    platform::journal::SetStepHookForTesting({});
    EXPECT_EQ(Take(dir), before) << Describe(Take(dir));

    // A crash at any step, before the failure or while undoing it, ends
    // whole: all new when it came before the failure, all old after it.
    const Snapshot after = Replaced(before, p);
    for (int n = 1;; ++n) {
        const pid_t child = ::fork();
        if (child == 0) {
            platform::journal::SetStepHookForTesting([&, n](int step) {
                sabotage();
                if (step == n) ::_exit(kCrashed);
            });
            platform::ReplaceFiles(p);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        const bool crashed = WIFEXITED(status) && WEXITSTATUS(status) == kCrashed;
        platform::RecoverInterruptedReplacements(dir);
        const Snapshot result = Take(dir);
        if (crashed)
            EXPECT_TRUE(result == before || result == after) << "crash after step " << n << "\n"
                                                             << Describe(result);
        else
            EXPECT_EQ(result, before) << Describe(result);
        if (!crashed) break;
        restore(before);
    }
}

TEST_F(PairReplaceTest, OneTargetIsReplacedInOneStepAndLeavesNothingBehind) {
    const Pairs p = pairs({{"User.ini", "User_9-12-2004.INI"}});
    CrashEverywhere([&] { platform::ReplaceFiles(p); }, Replaced(Take(dir), p));
}

// Only our own temporary names of ended processes are removed when the
// folder is next written; everything else stays, whatever it looks like.
TEST_F(PairReplaceTest, StaleTemporaryFilesOfEndedProcessesGoAndNothingElse) {
    const pid_t ended = ::fork();
    if (ended == 0) ::_exit(0);
    ::waitpid(ended, nullptr, 0);
    const QString dead = QString::number(ended), self = QString::number(::getpid());
    const QStringList stale = {
        QStringLiteral("User.ini.quorlex-%1-1.new").arg(dead),
        QStringLiteral("UT2004.ini.quorlex-%1-1.old").arg(dead),
        QStringLiteral("replace.quorlex-%1-1.journal").arg(dead), // torn: not a journal at all
        QStringLiteral("User.ini.quorlex-%1-77.new").arg(self),   // our number, but older than us
    };
    const QStringList kept = {
        QStringLiteral("User.ini.quorlex-%1-78.new").arg(self), // ours, in use
        QStringLiteral("User.ini.quorlex-1-1.new"),             // a live process's
        QStringLiteral("User.ini.quorlex-x-1.new"),
        QStringLiteral("User.ini.quorlex-%1-1.new.txt").arg(dead),
        QStringLiteral("User.ini.quorlex-%1.new").arg(dead),
        QStringLiteral("User.ini.new"),
        QStringLiteral("User.BAK.exchange"),
    };
    for (const QString& n : stale + kept)
        Write(dir + QLatin1Char('/') + n, "x");
    QFile f(dir + QLatin1Char('/') + stale.last());
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
    f.close();

    ASSERT_TRUE(platform::ReplaceFiles(pairs({{"User.ini", "User_9-12-2004.INI"}})));
    for (const QString& n : stale)
        EXPECT_FALSE(QFile::exists(dir + QLatin1Char('/') + n)) << n.toStdString();
    for (const QString& n : kept)
        EXPECT_TRUE(QFile::exists(dir + QLatin1Char('/') + n)) << n.toStdString();
}

// The real thing: the process killed at random moments while it swaps the
// .BAK pairs and restores dated pairs over and over.
TEST_F(PairReplaceTest, KilledAtRandomMomentsTheFilesAreAlwaysAWholePair) {
    const Snapshot start = Take(dir);
    Snapshot swapped = start;
    std::swap(swapped[QStringLiteral("User.ini")], swapped[QStringLiteral("User.BAK")]);
    std::swap(swapped[QStringLiteral("UT2004.ini")], swapped[QStringLiteral("UT2004.BAK")]);
    const Pairs exchange = pairs({{"User.BAK", "User.ini"}, {"UT2004.BAK", "UT2004.ini"}});
    const Pairs dated =
        pairs({{"User_8-12-2004.INI", "User.ini"}, {"UT2004_8-12-2004.INI", "UT2004.ini"}});
    const Pairs defaults = pairs({{"DefUser.ini", "User.ini"}, {"Default.ini", "UT2004.ini"}});
    std::mt19937 random(20041208);
    int runs = 0, held = 0;
    const auto kill = [&](const std::function<void()>& loop, const std::vector<Snapshot>& allowed) {
        for (int i = 0; i < 25; ++i) {
            restore(start);
            const pid_t child = ::fork();
            if (child == 0) {
                for (;;)
                    loop();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 8000));
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
            platform::RecoverInterruptedReplacements(dir);
            const Snapshot result = Take(dir);
            const bool ok = std::find(allowed.begin(), allowed.end(), result) != allowed.end();
            ++runs;
            held += ok;
            EXPECT_TRUE(ok) << Describe(result);
        }
    };
    kill([&] { platform::ExchangeFiles(exchange); }, {start, swapped});
    kill(
        [&] {
            platform::ReplaceFiles(dated);
            platform::ReplaceFiles(defaults);
        },
        {start, Replaced(start, dated), Replaced(start, defaults)});
    std::cout << "[ figures  ] killed " << runs << " times, whole pairs in " << held << "\n";
}

} // namespace

// A copy taken from a file that an ended run was replacing (a backup of
// User.ini while a .BAK exchange was cut off) is taken after that run is
// settled, so the copy and the pair come from the same moment.
TEST_F(PairReplaceTest, ACopyFromAFolderWithAnEndedRunSeesTheSettledFiles) {
    const Snapshot before = Take(dir);
    const Pairs swap = pairs({{"User.BAK", "User.ini"}, {"User.ini", "User.BAK"}, {"UT2004.BAK", "UT2004.ini"},
                              {"UT2004.ini", "UT2004.BAK"}});
    int checked = 0;
    for (int crashAt = 1; crashAt < 40; ++crashAt) {
        for (const auto& [name, bytes] : before) Write(path(name.toUtf8().constData()), bytes);
        for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
            if (!before.count(name)) QFile::remove(dir + QLatin1Char('/') + name);
        if (!RunUntilStep(crashAt, [&] { platform::ExchangeFiles({{path("User.ini"), path("User.BAK")},
                                                                   {path("UT2004.ini"), path("UT2004.BAK")}}); }))
            break;
        const QString backup = tmp.path() + QStringLiteral("/User_backup.INI");
        QFile::remove(backup);
        ASSERT_TRUE(platform::ReplaceFiles({{path("User.ini"), backup}})) << "crash at " << crashAt;
        const Snapshot after = Take(dir);
        QFile copy(backup);
        ASSERT_TRUE(copy.open(QIODevice::ReadOnly));
        // The copy is the User.ini of the settled pair, whichever way it went.
        EXPECT_EQ(copy.readAll(), after.at(QStringLiteral("User.ini"))) << "crash at " << crashAt;
        EXPECT_TRUE(after == before || after == Replaced(before, swap)) << "crash at " << crashAt << "\n" << Describe(after);
        ++checked;
    }
    EXPECT_GT(checked, 5);
}
