#include "platform/GameLauncher.h"

#include "platform/GameProcess.h"

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

bool StartGame(const GameLaunch& launch, QString* problem) {
    if (launch.program.isEmpty()) {
        if (problem) *problem = launch.problem;
        return false;
    }
    qint64 pid = 0;
    if (QProcess::startDetached(launch.program, launch.arguments, launch.workingDirectory, &pid)) {
        RememberStartedGame(pid);
        return true;
    }
    if (problem) *problem = QStringLiteral("Could not start ") + launch.program;
    return false;
}

} // namespace platform
