#include "platform/GameLauncher.h"

#include "platform/GameProcess.h"
#include "platform/Installs.h"

#include <QDir>
#include <QProcessEnvironment>

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace platform {

namespace {
// The native Linux release ships these in System/.
const char* const kNativeBinaries[] = {"ut2004-bin-linux-amd64", "ut2004-bin"};
} // namespace

QString FindProgramOnPath(const QString& name) { return QStandardPaths::findExecutable(name); }

GameLaunch BuildGameLaunch(const QString& systemDir, const QString& parameters,
                           const std::function<QString(const QString&)>& findProgram) {
    GameLaunch l;
    l.workingDirectory = systemDir;
    l.arguments = {parameters};
    const QString exe = systemDir + QStringLiteral("UT2004.exe");
    const bool hasExe = QFileInfo(exe).isFile();
#ifdef Q_OS_WIN
    if (hasExe)
        l.program = exe;
    else
        l.problem = QStringLiteral("UT2004.exe was not found in ") + systemDir;
    return l;
#else
    for (const char* native : kNativeBinaries) {
        const QFileInfo bin(systemDir + QLatin1String(native));
        if (bin.isFile() && bin.isExecutable()) {
            l.program = bin.filePath();
            return l;
        }
    }
    if (hasExe) {
        const QString wine = findProgram(QStringLiteral("wine"));
        if (!wine.isEmpty()) {
            l.program = wine;
            l.arguments = {exe, parameters};
            return l;
        }
        l.problem = QStringLiteral("UT2004.exe needs wine to run here, and wine is not installed.");
        return l;
    }
    l.problem = QStringLiteral("Neither UT2004.exe nor the Linux game program was found in ") + systemDir;
    return l;
#endif
}

namespace {

GameLaunch NativeLaunch(const Install& install, const QString& parameters, bool arm64) {
    GameLaunch l;
    const QString system = install.GameSystemDir() + QLatin1Char('/');
    l.workingDirectory = system;
    l.arguments = {parameters};
    // The installer's launcher sets up the game's libraries; without it the
    // binary that fits this machine.
    const QFileInfo launcher(install.gameDir + QStringLiteral("/ut2004"));
    if (launcher.isFile() && launcher.isExecutable()) {
        l.program = launcher.filePath();
        return l;
    }
    const QStringList bins = QDir(system).entryList({QStringLiteral("ut2004-bin*")}, QDir::Files | QDir::Executable, QDir::Name);
    const QString mine = arm64 ? QStringLiteral("arm64") : QStringLiteral("amd64");
    QString pick;
    for (const QString& b : bins)
        if (pick.isEmpty() || b.contains(mine)) pick = b;
    if (!pick.isEmpty()) {
        l.program = system + pick;
        return l;
    }
    l.problem = QStringLiteral("The Linux game program (ut2004-bin) was not found in ") + system;
    return l;
}

} // namespace

GameLaunch BuildGameLaunch(const Install& install, const QString& parameters,
                           const std::function<QString(const QString&)>& findProgram, bool arm64) {
    const QString system = install.GameSystemDir() + QLatin1Char('/');
    const QString exe = system + QStringLiteral("UT2004.exe");
    GameLaunch l;
    l.workingDirectory = system;
    switch (install.kind) {
    case InstallKind::Folder: return BuildGameLaunch(system, parameters, findProgram);
    case InstallKind::Native: return NativeLaunch(install, parameters, arm64);
    case InstallKind::Steam:
        // Steam sets up Proton and its prefix; the parameters reach the game.
        l.program = findProgram(QStringLiteral("steam"));
#ifdef Q_OS_WIN
        // Steam for Windows is not on the PATH; its registry names its folder.
        if (l.program.isEmpty()) {
            const QString steam =
                HomeEnvironment::FromProcess().steamPath + QStringLiteral("/steam.exe");
            if (QFileInfo(steam).isFile()) l.program = steam;
        }
#endif
        l.arguments = {QStringLiteral("-applaunch"), QStringLiteral("13230"), parameters};
        // What starts may be the Steam client itself, running long after the
        // game; the game under Proton is found by its command line instead.
        l.becomesGame = false;
        if (l.program.isEmpty())
            l.problem = QStringLiteral("This copy of UT2004 starts through Steam, and the steam program was not found.");
        return l;
    case InstallKind::Wine:
    case InstallKind::Lutris:
        if (!QFileInfo(exe).isFile()) {
            l.problem = QStringLiteral("UT2004.exe was not found in ") + system;
            return l;
        }
        l.program = install.wine.isEmpty() ? findProgram(QStringLiteral("wine")) : install.wine;
        l.arguments = {exe, parameters};
        if (!install.prefix.isEmpty()) l.environment = {QStringLiteral("WINEPREFIX=") + install.prefix};
        if (l.program.isEmpty())
            l.problem = QStringLiteral("UT2004.exe needs wine to run here, and wine is not installed.");
        return l;
    case InstallKind::Windows:
        l.arguments = {parameters};
        if (QFileInfo(exe).isFile())
            l.program = exe;
        else
            l.problem = QStringLiteral("UT2004.exe was not found in ") + system;
        return l;
    }
    return l;
}

bool StartGame(const GameLaunch& launch, QString* problem) {
    if (launch.program.isEmpty()) {
        if (problem) *problem = launch.problem;
        return false;
    }
    qint64 pid = 0;
    QProcess process;
    process.setProgram(launch.program);
    process.setArguments(launch.arguments);
    process.setWorkingDirectory(launch.workingDirectory);
    if (!launch.environment.isEmpty()) {
        auto env = QProcessEnvironment::systemEnvironment();
        for (const QString& pair : launch.environment) {
            const auto eq = pair.indexOf(QLatin1Char('='));
            env.insert(pair.left(eq), pair.mid(eq + 1));
        }
        process.setProcessEnvironment(env);
    }
    if (process.startDetached(&pid)) {
        if (launch.becomesGame) RememberStartedGame(pid);
        return true;
    }
    if (problem) *problem = QStringLiteral("Could not start ") + launch.program;
    return false;
}

} // namespace platform
