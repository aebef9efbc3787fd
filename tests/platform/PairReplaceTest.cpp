#include "platform/FileJournal.h"
#include "platform/Files.h"
#include "platform/OsFolder.h"
#include "tests/support/GTestQt.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <random>
#include <signal.h>
#include <sys/stat.h>
#include <thread>
#ifdef _WIN32
#include <QProcessEnvironment>
#include <io.h>
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using Snapshot = std::map<QString, QByteArray>; // every file of the folder, by name
using Pairs = std::vector<std::pair<QString, QString>>;

constexpr int kCrashed = 86;

void Write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

QByteArray ReadAllOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
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

// One thing a child process does to the folder. Written as data, so that
// the child can be a fork here and the test program started again where
// there is no fork.
struct Job {
    enum Kind { kReplace, kExchange, kRecover, kIdle } kind;
    Pairs pairs;
    QString dir;

    void Run() const {
        switch (kind) {
        case kReplace:
            platform::ReplaceFiles(pairs);
            break;
        case kExchange:
            platform::ExchangeFiles(pairs);
            break;
        case kRecover:
            platform::RecoverInterruptedReplacements(dir);
            break;
        case kIdle:
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            break;
        }
    }
    QStringList Fields() const {
        QStringList f{QString::number(kind), dir};
        for (const auto& [from, to] : pairs)
            f << from << to;
        return f;
    }
    static Job From(const QStringList& f) {
        Job j{Kind(f.value(0).toInt()), {}, f.value(1)};
        for (int i = 2; i + 1 < f.size(); i += 2)
            j.pairs.emplace_back(f[i], f[i + 1]);
        return j;
    }
};
using Jobs = std::vector<Job>;
Jobs Replacing(const Pairs& p) {
    return {{Job::kReplace, p, {}}};
}
Jobs Exchanging(const Pairs& p) {
    return {{Job::kExchange, p, {}}};
}
Jobs Recovering(const QString& dir) {
    return {{Job::kRecover, {}, dir}};
}

struct ChildOptions {
    int crashAt = 0;   // ends itself right after this step (0: never)
    bool loop = false; // does the jobs over and over until it is killed
    QString
        sabotage; // a folder whose second staged copy vanishes once its old version is set aside
};

// The second target's staged copy vanishes once its old version is set
// aside: its rename fails after the first target is already new.
void Sabotage(const QString& dir) {
    QDir d(dir);
    if (d.entryList({QStringLiteral("UT2004.ini.quorlex-*.old")}).isEmpty()) return;
    for (const QString& n : d.entryList({QStringLiteral("UT2004.ini.quorlex-*.new")}))
        d.remove(n);
}

[[noreturn]] void EndNow(int code) {
#ifdef _WIN32
    ::TerminateProcess(::GetCurrentProcess(), UINT(code));
#endif
    ::_exit(code);
}

[[noreturn]] void BeTheChild(const Jobs& jobs, const ChildOptions& o) {
    platform::journal::SetStepHookForTesting([o](int step) {
        if (!o.sabotage.isEmpty()) Sabotage(o.sabotage);
        if (step == o.crashAt) EndNow(kCrashed);
    });
#ifdef _WIN32
    std::fputs("working\n", stdout); // the parent's clock starts now
    std::fflush(stdout);
#endif
    do
        for (const Job& j : jobs)
            j.Run();
    while (o.loop);
    EndNow(0);
}

#ifdef _WIN32
// Windows has no fork: the child is this program again, told what to do by
// its environment, and it does it before any test runs.
const char* const kChildJobs = "QUORLEX_CHILD_JOBS";
class ChildEntry : public ::testing::Environment {
    void SetUp() override {
        if (!qEnvironmentVariableIsSet(kChildJobs)) return;
        Jobs jobs;
        for (const QString& line :
             qEnvironmentVariable(kChildJobs).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            jobs.push_back(Job::From(line.split(QLatin1Char('\t'))));
        ChildOptions o;
        o.crashAt = qEnvironmentVariableIntValue("QUORLEX_CHILD_CRASH_AT");
        o.loop = qEnvironmentVariableIsSet("QUORLEX_CHILD_LOOP");
        o.sabotage = qEnvironmentVariable("QUORLEX_CHILD_SABOTAGE");
        BeTheChild(jobs, o);
    }
};
[[maybe_unused]] const auto* const kChildEntry =
    ::testing::AddGlobalTestEnvironment(new ChildEntry);
#endif

// A child process doing `jobs`.
class Child {
public:
    Child(const Jobs& jobs, const ChildOptions& o = {}) {
#ifdef _WIN32
        QStringList lines;
        for (const Job& j : jobs)
            lines << j.Fields().join(QLatin1Char('\t'));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChildJobs),
                   lines.join(QLatin1Char('\n')) + QLatin1Char('\n'));
        env.insert(QStringLiteral("QUORLEX_CHILD_CRASH_AT"), QString::number(o.crashAt));
        if (o.loop) env.insert(QStringLiteral("QUORLEX_CHILD_LOOP"), QStringLiteral("1"));
        if (!o.sabotage.isEmpty()) env.insert(QStringLiteral("QUORLEX_CHILD_SABOTAGE"), o.sabotage);
        process_.setProcessEnvironment(env);
        // Any one test, so that the program gets as far as its child entry.
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        process_.start(SelfPath(), {QStringLiteral("--gtest_filter=%1.%2")
                                        .arg(QString::fromLatin1(test->test_suite_name()),
                                             QString::fromLatin1(test->name()))});
        EXPECT_TRUE(process_.waitForStarted(30000));
        pid_ = process_.processId();
        for (QByteArray seen;
             process_.state() == QProcess::Running && !seen.contains("working");) {
            process_.waitForReadyRead(100);
            seen += process_.readAllStandardOutput();
        }
#else
        pid_ = ::fork();
        if (pid_ == 0) BeTheChild(jobs, o);
#endif
    }
    ~Child() {
        Kill();
    }
    qint64 Pid() const {
        return pid_;
    }
    // Waits for the end: true when the child ended itself after its step.
    bool Crashed() {
#ifdef _WIN32
        process_.waitForFinished(-1);
        done_ = true;
        return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == kCrashed;
#else
        int status = 0;
        ::waitpid(pid_t(pid_), &status, 0);
        done_ = true;
        return WIFEXITED(status) && WEXITSTATUS(status) == kCrashed;
#endif
    }
    // Ends it at once, wherever it is.
    void Kill() {
        if (done_) return;
        done_ = true;
#ifdef _WIN32
        process_.kill();
        process_.waitForFinished(-1);
#else
        ::kill(pid_t(pid_), SIGKILL);
        ::waitpid(pid_t(pid_), nullptr, 0);
#endif
    }

private:
#ifdef _WIN32
    static QString SelfPath() {
        wchar_t buffer[32768];
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer, DWORD(std::size(buffer)));
        return QString::fromWCharArray(buffer, int(n));
    }
    QProcess process_;
#endif
    qint64 pid_ = -1;
    bool done_ = false;
};

// The number of a process that has ended.
qint64 EndedPid() {
    Child ended({});
    ended.Crashed();
    return ended.Pid();
}

// Runs `jobs` in a child process that ends itself right after step
// `crashAt` (0: never). True when the child reached that step, false when
// it finished.
bool RunUntilStep(int crashAt, const Jobs& jobs) {
    ChildOptions o;
    o.crashAt = crashAt;
    return Child(jobs, o).Crashed();
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
    Figures CrashEverywhere(const Jobs& op, const Snapshot& after) {
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
                const bool recoveryCrashed = RunUntilStep(m, Recovering(dir));
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
    const Figures fig = CrashEverywhere(Replacing(p), Replaced(Take(dir), p));
    EXPECT_EQ(fig.held, fig.runs);
}

TEST_F(PairReplaceTest, ResetToDefaultsIsAllOrNothingAtEveryCrash) {
    const Pairs p = pairs({{"DefUser.ini", "User.ini"}, {"Default.ini", "UT2004.ini"}});
    CrashEverywhere(Replacing(p), Replaced(Take(dir), p));
}

TEST_F(PairReplaceTest, AFreshBakPairIsAllOrNothingAtEveryCrash) {
    // The first restore makes the .BAK pair where there was none: undoing
    // means no .BAK file at all, never one of them.
    QFile::remove(path("User.BAK"));
    QFile::remove(path("UT2004.BAK"));
    const Pairs p = pairs({{"User.ini", "User.BAK"}, {"UT2004.ini", "UT2004.BAK"}});
    CrashEverywhere(Replacing(p), Replaced(Take(dir), p));
}

TEST_F(PairReplaceTest, ExchangingTheBakPairsKeepsEveryVersionAtEveryCrash) {
    // Before or after the swap, all four versions are in the folder.
    const Snapshot before = Take(dir);
    Snapshot swapped = before;
    std::swap(swapped[QStringLiteral("User.ini")], swapped[QStringLiteral("User.BAK")]);
    std::swap(swapped[QStringLiteral("UT2004.ini")], swapped[QStringLiteral("UT2004.BAK")]);
    const Pairs p = pairs({{"User.BAK", "User.ini"}, {"UT2004.BAK", "UT2004.ini"}});
    CrashEverywhere(Exchanging(p), swapped);
}

TEST_F(PairReplaceTest, ExchangingOnePairKeepsBothVersionsAtEveryCrash) {
    Snapshot swapped = Take(dir);
    std::swap(swapped[QStringLiteral("User.ini")], swapped[QStringLiteral("User.BAK")]);
    CrashEverywhere(Exchanging({{path("User.BAK"), path("User.ini")}}), swapped);
}

TEST_F(PairReplaceTest, ARenameFailingPartWayPutsEveryOldVersionBackAtEveryCrash) {
    // The second target's staged copy vanishes once its old version is set
    // aside: its rename fails after the first target is already new.
    const Pairs p =
        pairs({{"User_8-12-2004.INI", "User.ini"}, {"UT2004_8-12-2004.INI", "UT2004.ini"}});
    const Snapshot before = Take(dir);
    platform::journal::SetStepHookForTesting([&](int) { Sabotage(dir); });
    EXPECT_FALSE(platform::ReplaceFiles(p));
    platform::journal::SetStepHookForTesting({});
    EXPECT_EQ(Take(dir), before) << Describe(Take(dir));

    // A crash at any step, before the failure or while undoing it, ends
    // whole: all new when it came before the failure, all old after it.
    const Snapshot after = Replaced(before, p);
    for (int n = 1;; ++n) {
        ChildOptions o;
        o.crashAt = n;
        o.sabotage = dir;
        const bool crashed = Child(Replacing(p), o).Crashed();
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
    CrashEverywhere(Replacing(p), Replaced(Take(dir), p));
}

// Only our own temporary names of ended processes are removed when the
// folder is next written; everything else stays, whatever it looks like.
TEST_F(PairReplaceTest, StaleTemporaryFilesOfEndedProcessesGoAndNothingElse) {
    Child live({{Job::kIdle, {}, {}}}, {0, true, {}});
    const QString dead = QString::number(EndedPid()),
                  self = QString::number(platform::os::CurrentPid());
    const QStringList stale = {
        QStringLiteral("User.ini.quorlex-%1-1.new").arg(dead),
        QStringLiteral("UT2004.ini.quorlex-%1-1.old").arg(dead),
        QStringLiteral("replace.quorlex-%1-1.journal").arg(dead), // torn: not a journal at all
        QStringLiteral("User.ini.quorlex-%1-77.new").arg(self),   // our number, but older than us
    };
    const QStringList kept = {
        QStringLiteral("User.ini.quorlex-%1-78.new").arg(self),      // ours, in use
        QStringLiteral("User.ini.quorlex-%1-1.new").arg(live.Pid()), // a live process's
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
    const auto kill = [&](const Jobs& loop, const std::vector<Snapshot>& allowed) {
        for (int i = 0; i < 25; ++i) {
            restore(start);
            Child child(loop, {0, true, {}});
            std::this_thread::sleep_for(std::chrono::microseconds(500 + random() % 8000));
            child.Kill();
            platform::RecoverInterruptedReplacements(dir);
            const Snapshot result = Take(dir);
            const bool ok = std::find(allowed.begin(), allowed.end(), result) != allowed.end();
            ++runs;
            held += ok;
            EXPECT_TRUE(ok) << Describe(result);
        }
    };
    kill(Exchanging(exchange), {start, swapped});
    kill({{Job::kReplace, dated, {}}, {Job::kReplace, defaults, {}}},
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
        if (!RunUntilStep(crashAt, Exchanging({{path("User.ini"), path("User.BAK")},
                                               {path("UT2004.ini"), path("UT2004.BAK")}})))
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

// ---- modes ----

#ifndef _WIN32 // Windows keeps files private by access lists, which the profile's folder gives
mode_t ModeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A copy is never more open than what it copies, nor is any file on the way:
// a private pair gives private copies, a shared pair shared ones.
TEST_F(PairReplaceTest, CopiesAreNeverMoreOpenThanTheirSources) {
    const mode_t mask = ::umask(022);
    struct Case {
        const char* name;
        mode_t source;
        int target; // -1: none yet
        mode_t expected;
    };
    const std::vector<Case> cases = {
        {"private, new", 0600, -1, 0600},
        {"shared, new", 0644, -1, 0644},
        {"group only, new", 0640, -1, 0640},
        {"read-only default, new", 0444, -1, 0644},
        {"writable by all, new: as the umask makes new files", 0666, -1, 0644},
        {"private over shared", 0600, 0644, 0600},
        {"shared over private", 0644, 0600, 0600},
        {"group-writable over group-writable", 0664, 0664, 0664},
        {"over read-only", 0644, 0444, 0644},
    };
    for (const Case& c : cases)
        for (const bool pair : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (pair ? ", a pair" : ", one file"));
            for (const char* name : {"User.ini", "UT2004.ini"})
                ASSERT_EQ(::chmod(QFile::encodeName(path(name)).constData(), c.source), 0);
            for (const char* name : {"User.BAK", "UT2004.BAK"}) {
                QFile::remove(path(name));
                if (c.target < 0) continue;
                Write(path(name), "older");
                ASSERT_EQ(::chmod(QFile::encodeName(path(name)).constData(), mode_t(c.target)), 0);
            }
            const Pairs p = pair ? pairs({{"User.ini", "User.BAK"}, {"UT2004.ini", "UT2004.BAK"}})
                                 : pairs({{"User.ini", "User.BAK"}});
            int checked = 0;
            platform::journal::SetStepHookForTesting([&](int) {
                for (const QString& n : QDir(dir).entryList(QDir::Files | QDir::Hidden)) {
                    const mode_t m = ModeOf(dir + QLatin1Char('/') + n);
                    if (n.endsWith(QStringLiteral(".new"))) {
                        EXPECT_EQ(m & ~c.expected, 0u) << n.toStdString() << " " << std::oct << m;
                        if (pair) {
                            EXPECT_EQ(m & 022, 0u) << n.toStdString() << " " << std::oct << m;
                        }
                        ++checked;
                    } else if (n.endsWith(QStringLiteral(".journal"))) {
                        EXPECT_EQ(m, 0600u) << n.toStdString();
                    }
                }
            });
            ASSERT_TRUE(platform::ReplaceFiles(p));
            platform::journal::SetStepHookForTesting({});
            EXPECT_GT(checked, 0);
            for (const auto& [source, target] : p) {
                EXPECT_EQ(ModeOf(target), c.expected) << std::oct << ModeOf(target);
                EXPECT_EQ(ReadAllOf(target), ReadAllOf(source));
            }
        }
    ::umask(mask);
}
#endif

// ---- journals that are not the player's to act on ----

namespace {

QByteArray Sha1Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}
QByteArray Sealed(const QByteArray& text) {
    return text + "end " + Sha1Hex(text) + '\n';
}
QByteArray Row(bool hadTarget, const QByteArray& content) {
    return QByteArray(hadTarget ? "1" : "0") + '\t' + QByteArray::number(content.size()) + '\t' +
           Sha1Hex(content);
}
QByteArray Pct(const QString& s) {
    return s.toUtf8().toPercentEncoding();
}
// A journal as earlier builds wrote it: whole paths.
QByteArray JournalV1(bool hadTarget, const QByteArray& content, const QString& target,
                     const QString& staged, const QString& old) {
    return Sealed("quorlex replace 1\n" + Row(hadTarget, content) + '\t' + Pct(target) + '\t' +
                  Pct(staged) + '\t' + Pct(old) + '\n');
}
// A journal as this build writes it: names of its folder.
QByteArray JournalV2(bool hadTarget, const QByteArray& content, const QString& name) {
    return Sealed("quorlex replace 2\n" + Row(hadTarget, content) + '\t' + Pct(name) + '\n');
}

QString Tag(const QString& pid, int n) {
    return QStringLiteral(".quorlex-%1-%2").arg(pid).arg(n);
}

// What a name in a folder is: a file's bytes, or "-> " and a link's target.
using Entries = std::map<QString, QByteArray>;
Entries Look(const QString& dir) {
    Entries out;
    for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System |
                                                   QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QFileInfo info(dir + QLatin1Char('/') + name);
        QFile f(info.filePath());
        out[name] = info.isSymLink()              ? "-> " + info.symLinkTarget().toUtf8()
                    : info.isDir()                ? QByteArray("<dir>")
                    : f.open(QIODevice::ReadOnly) ? f.readAll()
                                                  : QByteArray("<unreadable>");
    }
    return out;
}

} // namespace

// Journals of the player's own that name anything but plain files of their
// folder, or that others could have written, or whose staged copies are not
// plain files of his, are left exactly as they are, and reported.
TEST_F(PairReplaceTest, JournalsThatAreNotThePlayersAloneAreLeftAlone) {
    const QString outside = tmp.path() + QStringLiteral("/outside.txt");
    const QString dead = QString::number(EndedPid());
    const QString journal = QStringLiteral("replace") + Tag(dead, 1) + QStringLiteral(".journal");
    const QString staged = QStringLiteral("User.ini") + Tag(dead, 1) + QStringLiteral(".new");
    const QByteArray outsideBytes = "the player's own file\n";
    struct Case {
        const char* name;
        QByteArray journal;
        mode_t journalMode = 0600;
        std::function<void()> plant = [] {};
    };
    const std::vector<Case> cases = {
        {"a whole path outside the folder",
         JournalV1(false, "x", outside, path("x") + Tag(dead, 1) + QStringLiteral(".new"),
                   path("x") + Tag(dead, 1) + QStringLiteral(".old"))},
        {"a staged copy outside the folder",
         JournalV1(true, outsideBytes, path("User.ini"), outside,
                   path("User.ini") + Tag(dead, 1) + QStringLiteral(".old"))},
        {"the parent folder's file", JournalV2(false, "x", QStringLiteral("../outside.txt"))},
        {"a file below the folder", JournalV2(false, "x", QStringLiteral("Sub/User.ini")), 0600,
         [&] { Write(path("Sub/User.ini"), "below"); }},
        {"the folder itself", JournalV2(false, "x", QStringLiteral(".."))},
        {"writable by the group", JournalV2(false, "x", QStringLiteral("User.ini")), 0620},
        {"writable by everyone", JournalV2(false, "x", QStringLiteral("User.ini")), 0606},
        {"a staged copy that is a link", JournalV2(true, outsideBytes, QStringLiteral("User.ini")),
         0600, [&] { ASSERT_TRUE(QFile::link(outside, dir + QLatin1Char('/') + staged)); }},
        {"a staged copy writable by others",
         JournalV2(true, "[Engine.Input]\r\nF=Suicide\r\n", QStringLiteral("User.ini")), 0600,
         [&] {
             Write(dir + QLatin1Char('/') + staged, "[Engine.Input]\r\nF=Suicide\r\n");
             ::chmod(QFile::encodeName(dir + QLatin1Char('/') + staged).constData(), 0666);
         }},
        {"a journal that is a link",
         {},
         0600,
         [&] {
             Write(tmp.path() + QStringLiteral("/elsewhere.journal"),
                   JournalV2(false, "x", QStringLiteral("User.ini")));
             ASSERT_TRUE(QFile::link(tmp.path() + QStringLiteral("/elsewhere.journal"),
                                     dir + QLatin1Char('/') + journal));
         }},
    };
    QDir().mkpath(path("Sub"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
#ifdef _WIN32
        // POSIX modes and symbolic links; Qt's links on Windows are shortcut files.
        if (c.journalMode != 0600 || std::string(c.name).find("link") != std::string::npos ||
            std::string(c.name).find("writable") != std::string::npos)
            continue;
#endif
        Write(outside, outsideBytes);
        c.plant();
        if (!c.journal.isEmpty()) {
            Write(dir + QLatin1Char('/') + journal, c.journal);
#ifndef _WIN32
            ::chmod(QFile::encodeName(dir + QLatin1Char('/') + journal).constData(), c.journalMode);
#endif
        }
        const Entries before = Look(dir);
        const QStringList left = platform::RecoverInterruptedReplacements(dir);
        EXPECT_EQ(Look(dir), before);
        EXPECT_EQ(ReadAllOf(outside), outsideBytes);
        EXPECT_EQ(left, QStringList{journal});
        for (const QString& name : {journal, staged})
            QFile::remove(dir + QLatin1Char('/') + name);
        QFile::remove(path("Sub/User.ini"));
    }
}

// The boundary: a journal an earlier build left, naming whole paths of this
// folder, is still finished.
TEST_F(PairReplaceTest, AnEarlierBuildsJournalOfThisFolderIsStillFinished) {
    const QString dead = QString::number(EndedPid());
    const QByteArray next = "[Engine.Input]\r\nF=Jump\r\n";
    const QString staged = path("User.ini") + Tag(dead, 1) + QStringLiteral(".new");
    const QString old = path("User.ini") + Tag(dead, 1) + QStringLiteral(".old");
    Write(staged, next);
    ASSERT_TRUE(QFile::rename(path("User.ini"), old));
    Write(dir + QStringLiteral("/replace") + Tag(dead, 1) + QStringLiteral(".journal"),
          JournalV1(true, next, path("User.ini"), staged, old));
    Snapshot after = Take(dir);
    after.erase(QFileInfo(staged).fileName());
    after.erase(QFileInfo(old).fileName());
    after.erase(QStringLiteral("replace") + Tag(dead, 1) + QStringLiteral(".journal"));
    after[QStringLiteral("User.ini")] = next;
    EXPECT_EQ(platform::RecoverInterruptedReplacements(dir), QStringList());
    EXPECT_EQ(Take(dir), after) << Describe(Take(dir));
}

// ---- another user plants files in a folder anyone can write ----

#ifndef _WIN32 // a second POSIX user, switched to with setpriv
namespace {

bool IsRoot() {
    return ::geteuid() == 0;
}
bool RunProgram(const QString& program, const QStringList& args) {
    return QProcess::execute(program, args) == 0;
}
bool ScratchUser(const QString& name) {
    if (QProcess::execute(QStringLiteral("id"), {QStringLiteral("-u"), name}) == 0) return true;
    return RunProgram(QStringLiteral("useradd"),
                      {QStringLiteral("-M"), QStringLiteral("-r"), QStringLiteral("-s"),
                       QStringLiteral("/usr/sbin/nologin"), name});
}
QStringList As(const QString& user) {
    return {QStringLiteral("--reuid=") + user, QStringLiteral("--regid=") + user,
            QStringLiteral("--clear-groups"), QStringLiteral("--")};
}

const QByteArray kPrecious = "the player's file\n";
const QByteArray kBashrc = "alias ll='ls -l'\n";
const QByteArray kUser = "[Engine.Input]\r\nF=Use\r\n";
const QByteArray kMain = "[Engine.Engine]\r\nRenderDevice=OpenGLDrv.OpenGLRenderDevice\r\n";

} // namespace

// The planter leaves journals, staged copies and links in a shared System
// folder; the player only starts recovery there. Nothing of his outside the
// folder changes, his files in it stay as they were, the planted files stay
// where they are, and his own interrupted change is still finished.
TEST(PlantedJournals, NothingOfThePlayerOutsideTheFolderChanges) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to make and switch to scratch users (setpriv); CI runs as root";
    const QString planter = QStringLiteral("quorlex-planter"),
                  player = QStringLiteral("quorlex-player");
    ASSERT_TRUE(ScratchUser(planter) && ScratchUser(player));
    QTemporaryDir tmp;
    ASSERT_EQ(::chmod(QFile::encodeName(tmp.path()).constData(), 0755), 0);
    const QString dir = tmp.path() + QStringLiteral("/System");
    const QString home = tmp.path() + QStringLiteral("/home");
    const QString stock = tmp.path() + QStringLiteral("/stock");
    for (const QString& d : {dir, home, stock})
        ASSERT_TRUE(QDir().mkpath(d));
    Write(home + QStringLiteral("/precious.txt"), kPrecious);
    Write(home + QStringLiteral("/.bashrc"), kBashrc);
    Write(dir + QStringLiteral("/User.ini"), kUser);
    Write(dir + QStringLiteral("/UT2004.ini"), kMain);
    ASSERT_TRUE(RunProgram(QStringLiteral("chown"),
                           {QStringLiteral("-R"), player + QLatin1Char(':') + player, home, dir}));
    ASSERT_EQ(::chmod(QFile::encodeName(home).constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(dir).constData(), 0777), 0); // a shared install

    const QString dead = QString::number(EndedPid());
    const auto in = [&](const QString& name) { return dir + QLatin1Char('/') + name; };
    const auto journal = [&](int n) {
        return QStringLiteral("replace") + Tag(dead, n) + QStringLiteral(".journal");
    };
    // As an earlier build read them: remove a file it made, or move its copy in place.
    Write(stock + QLatin1Char('/') + journal(1),
          JournalV1(false, "x", home + QStringLiteral("/precious.txt"),
                    in(QStringLiteral("gone") + Tag(dead, 1) + QStringLiteral(".new")),
                    in(QStringLiteral("gone") + Tag(dead, 1) + QStringLiteral(".old"))));
    Write(stock + QStringLiteral("/evil") + Tag(dead, 2) + QStringLiteral(".new"), "evil\n");
    Write(stock + QLatin1Char('/') + journal(2),
          JournalV1(true, "evil\n", home + QStringLiteral("/.bashrc"),
                    in(QStringLiteral("evil") + Tag(dead, 2) + QStringLiteral(".new")),
                    in(QStringLiteral("evil") + Tag(dead, 2) + QStringLiteral(".old"))));
    // As this build reads them: his own copy of User.ini.
    Write(stock + QStringLiteral("/User.ini") + Tag(dead, 3) + QStringLiteral(".new"),
          "F=Suicide\n");
    Write(stock + QLatin1Char('/') + journal(3),
          JournalV2(true, "F=Suicide\n", QStringLiteral("User.ini")));
    Write(stock + QStringLiteral("/UT2004.ini") + Tag(dead, 4) + QStringLiteral(".old"), "his\n");
    ASSERT_TRUE(
        QFile::link(home + QStringLiteral("/precious.txt"),
                    stock + QStringLiteral("/User.ini") + Tag(dead, 5) + QStringLiteral(".new")));
    ASSERT_TRUE(QFile::link(in(journal(2)), stock + QLatin1Char('/') + journal(6)));
    // Staged copies for journals the player's side writes as his own.
    Write(stock + QStringLiteral("/User.ini") + Tag(dead, 13) + QStringLiteral(".new"),
          "F=Suicide\n");
    ASSERT_TRUE(
        QFile::link(home + QStringLiteral("/.bashrc"), stock + QStringLiteral("/UT2004.ini") +
                                                           Tag(dead, 14) + QStringLiteral(".new")));
    ASSERT_TRUE(RunProgram(QStringLiteral("setpriv"),
                           As(planter) + QStringList{QStringLiteral("cp"), QStringLiteral("-PR"),
                                                     stock + QStringLiteral("/."), dir}));
    const Entries planted = Look(stock);
    for (const auto& [name, what] : planted) {
        struct stat st {};
        ASSERT_EQ(::lstat(QFile::encodeName(in(name)).constData(), &st), 0) << name.toStdString();
        ASSERT_NE(st.st_uid, 0u) << name.toStdString(); // the planter's, not root's
    }

    QProcess side;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUORLEX_PLAYER_FOLDER"), dir);
    env.insert(QStringLiteral("QUORLEX_PLANTED_PID"), dead);
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("TMPDIR"), home);
    side.setProcessEnvironment(env);
    side.setProcessChannelMode(QProcess::MergedChannels);
    side.start(QStringLiteral("setpriv"),
               As(player) +
                   QStringList{QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget(),
                               QStringLiteral("--gtest_filter=PlantedJournals.PlayerSide")});
    ASSERT_TRUE(side.waitForFinished(60000));
    const QByteArray out = side.readAll();
    EXPECT_TRUE(side.exitCode() == 0 && out.contains("[  PASSED  ] 1 test")) << out.toStdString();

    EXPECT_EQ(Look(home), (Entries{{QStringLiteral(".bashrc"), kBashrc},
                                   {QStringLiteral("precious.txt"), kPrecious}}));
    const Entries now = Look(dir);
    EXPECT_EQ(now.at(QStringLiteral("User.ini")), kUser);
    EXPECT_EQ(now.at(QStringLiteral("UT2004.ini")), kMain);
    for (const auto& [name, what] : planted)
        EXPECT_EQ(now.count(name) ? now.at(name) : QByteArray("<gone>"), what)
            << name.toStdString();
    // The player's own interrupted change is complete: a fresh .BAK pair.
    EXPECT_EQ(now.at(QStringLiteral("User.BAK")), kUser);
    EXPECT_EQ(now.at(QStringLiteral("UT2004.BAK")), kMain);
}

// The player's side of the test above, run as the player; skipped otherwise.
TEST(PlantedJournals, PlayerSide) {
    const QString dir = qEnvironmentVariable("QUORLEX_PLAYER_FOLDER");
    if (dir.isEmpty())
        GTEST_SKIP() << "the player's side of NothingOfThePlayerOutsideTheFolderChanges";
    ASSERT_NE(::geteuid(), 0u) << "setpriv left the process as root";
    const QString dead = qEnvironmentVariable("QUORLEX_PLANTED_PID");
    const QString home = qEnvironmentVariable("HOME");
    const auto in = [&](const QString& name) { return dir + QLatin1Char('/') + name; };
    const auto journal = [&](int n) {
        return QStringLiteral("replace") + Tag(dead, n) + QStringLiteral(".journal");
    };

    // His own change, cut off when the first copy is in place and the second is not.
    const pid_t child = ::fork();
    if (child == 0) {
        platform::journal::SetStepHookForTesting([&](int) {
            if (QFile::exists(in(QStringLiteral("User.BAK"))) &&
                !QFile::exists(in(QStringLiteral("UT2004.BAK"))))
                ::_exit(kCrashed);
        });
        platform::ReplaceFiles(
            {{in(QStringLiteral("User.ini")), in(QStringLiteral("User.BAK"))},
             {in(QStringLiteral("UT2004.ini")), in(QStringLiteral("UT2004.BAK"))}});
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kCrashed);

    // Journals of his own naming what is not his to act on.
    Write(in(journal(11)),
          JournalV1(false, "x", home + QStringLiteral("/precious.txt"),
                    in(QStringLiteral("x") + Tag(dead, 11) + QStringLiteral(".new")),
                    in(QStringLiteral("x") + Tag(dead, 11) + QStringLiteral(".old"))));
    Write(in(journal(12)), JournalV2(false, "x", QStringLiteral("../home/.bashrc")));
    Write(in(journal(13)), JournalV2(true, "F=Suicide\n", QStringLiteral("User.ini")));
    Write(in(journal(14)), JournalV2(true, kBashrc, QStringLiteral("UT2004.ini")));

    QStringList left = platform::RecoverInterruptedReplacements(dir);
    left.sort();
    QStringList expected;
    for (int n : {1, 2, 3, 6, 11, 12, 13, 14})
        expected << journal(n);
    expected.sort();
    EXPECT_EQ(left, expected);
    EXPECT_EQ(ReadAllOf(in(QStringLiteral("User.BAK"))), kUser);
    EXPECT_EQ(ReadAllOf(in(QStringLiteral("UT2004.BAK"))), kMain);
    EXPECT_FALSE(QFileInfo(in(QStringLiteral("UT2004.ini"))).isSymLink());
}
#endif
