#include "platform/GameProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif

namespace platform {

namespace {

QSet<qint64>& StartedGames() {
    static QSet<qint64> pids;
    return pids;
}

// The game's own programs by name: the native binaries of every build, the
// Windows executable and the dedicated server.
bool IsGameProgramName(const QString& fileName) {
    const QString name = fileName.toLower();
    return name.startsWith(QStringLiteral("ut2004")) || name == QStringLiteral("ucc") ||
           name.startsWith(QStringLiteral("ucc-bin")) || name == QStringLiteral("ucc.exe");
}

bool Inside(const QString& path, const QString& folder) {
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + QLatin1Char('/')));
}

} // namespace

void RememberStartedGame(qint64 pid) { StartedGames().insert(pid); }

std::vector<RunningGame> RunningGameProcesses(const QString& gameDir) {
    std::vector<RunningGame> found;
#ifdef Q_OS_LINUX
    const QString folder = QFileInfo(gameDir).canonicalFilePath();
    const qint64 self = QCoreApplication::applicationPid();
    const uid_t uid = ::getuid();
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (!ok || pid == self) continue;
        const QString proc = QStringLiteral("/proc/") + entry;
        if (QFileInfo(proc).ownerId() != uid) continue; // another user's game writes another user's files
        if (StartedGames().contains(pid)) {
            found.push_back({pid, QStringLiteral("(started from Instant Action)")});
            continue;
        }
        const QString exe = QFileInfo(proc + QStringLiteral("/exe")).symLinkTarget();
        if (Inside(exe, folder) && IsGameProgramName(QFileInfo(exe).fileName())) {
            found.push_back({pid, exe});
            continue;
        }
        QFile cmdline(proc + QStringLiteral("/cmdline"));
        if (!cmdline.open(QIODevice::ReadOnly)) continue;
        const QByteArray raw = cmdline.read(4096);
        const QString first = QString::fromLocal8Bit(raw.left(raw.indexOf('\0')));
        if (first.isEmpty()) continue;
        if (first.contains(QLatin1Char('\\'))) {
            // Wine and Proton show the Windows path of the program they run.
            if (first.section(QLatin1Char('\\'), -1).compare(QStringLiteral("UT2004.exe"), Qt::CaseInsensitive) == 0)
                found.push_back({pid, first});
            continue;
        }
        QFileInfo arg(first);
        if (arg.isRelative()) arg = QFileInfo(QFileInfo(proc + QStringLiteral("/cwd")).symLinkTarget() + QLatin1Char('/') + first);
        const QString path = arg.canonicalFilePath().isEmpty() ? arg.absoluteFilePath() : arg.canonicalFilePath();
        if (Inside(path, folder) && IsGameProgramName(arg.fileName())) found.push_back({pid, path});
    }
    // Games this program started and that have ended are forgotten.
    for (auto it = StartedGames().begin(); it != StartedGames().end();)
        it = QFileInfo::exists(QStringLiteral("/proc/%1").arg(*it)) ? std::next(it) : StartedGames().erase(it);
#else
    (void)gameDir;
#endif
    return found;
}

} // namespace platform
