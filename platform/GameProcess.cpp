#include "platform/GameProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#ifdef Q_OS_LINUX
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#include <tlhelp32.h>
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

#ifdef Q_OS_LINUX
// The process's own Wine prefix, when its environment names one.
QString PrefixOf(const QString& proc) {
    QFile variables(proc + QStringLiteral("/environ"));
    if (!variables.open(QIODevice::ReadOnly)) return {};
    for (const QByteArray& pair : variables.read(256 * 1024).split('\0'))
        if (pair.startsWith("WINEPREFIX=")) return QString::fromLocal8Bit(pair.mid(11));
    return {};
}
#endif

} // namespace

bool WindowsPathInFolder(const QString& windowsPath, const QString& gameDir,
                         const QString& prefix) {
    static const QRegularExpression drive(QStringLiteral("^([A-Za-z]):\\\\(.*)$"));
    const auto m = drive.match(windowsPath);
    if (!m.hasMatch() || gameDir.isEmpty()) return false;
    const QChar letter = m.captured(1).at(0).toLower();
    const QString rest = m.captured(2).replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QString canonical = QFileInfo(gameDir).canonicalFilePath();
    const QString folder = canonical.isEmpty() ? QDir::cleanPath(gameDir) : canonical;
    QString root;
    if (letter == QLatin1Char('z')) {
        root = QStringLiteral("/");
    } else if (!prefix.isEmpty()) {
        root = QFileInfo(prefix + QStringLiteral("/dosdevices/") + letter + QLatin1Char(':'))
                   .canonicalFilePath();
        if (root.isEmpty() && letter == QLatin1Char('c'))
            root = QFileInfo(prefix + QStringLiteral("/drive_c")).canonicalFilePath();
        if (root.isEmpty()) return false;
    } else {
        // Without the prefix the drive cannot be followed: the folders above
        // the program's System folder must end the game folder's path.
        const QString game = QFileInfo(QFileInfo(rest).path()).path();
        if (game.isEmpty() || game == QStringLiteral(".")) return false;
        // A folder inside a prefix's drive_c is all of C:'s path.
        const auto inDriveC = folder.lastIndexOf(QStringLiteral("/drive_c/"));
        if (letter == QLatin1Char('c') && inDriveC >= 0)
            return folder.mid(inDriveC + 9).compare(game, Qt::CaseInsensitive) == 0;
        return folder.endsWith(QLatin1Char('/') + game, Qt::CaseInsensitive);
    }
    const QFileInfo mapped(root + QLatin1Char('/') + rest);
    const QString path = mapped.canonicalFilePath().isEmpty()
                             ? QDir::cleanPath(mapped.absoluteFilePath())
                             : mapped.canonicalFilePath();
    return Inside(path, folder);
}

void RememberStartedGame(qint64 pid) { StartedGames().insert(pid); }

std::vector<RunningGame> RunningGameProcesses(const QString& gameDir, const QString& prefix) {
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
            // Wine and Proton show the Windows path of the program they run;
            // it is this game only when the path leads into its folder.
            const QString own = PrefixOf(proc);
            if (first.section(QLatin1Char('\\'), -1)
                        .compare(QStringLiteral("UT2004.exe"), Qt::CaseInsensitive) == 0 &&
                WindowsPathInFolder(first, gameDir, own.isEmpty() ? prefix : own))
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
#elif defined(Q_OS_WIN)
    (void)prefix;
    // The full path of each process's program, as Windows names it; a
    // process of another user cannot be opened and is not ours to count.
    const QString folder = QDir::cleanPath(QFileInfo(gameDir).absoluteFilePath());
    const DWORD self = GetCurrentProcessId();
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        const DWORD pid = entry.th32ProcessID;
        if (pid == self || pid == 0) continue;
        if (StartedGames().contains(pid)) {
            found.push_back({pid, QStringLiteral("(started from Instant Action)")});
            continue;
        }
        if (!IsGameProgramName(QString::fromWCharArray(entry.szExeFile))) continue;
        const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
        if (!process) continue;
        wchar_t image[32768];
        DWORD size = sizeof image / sizeof image[0];
        if (QueryFullProcessImageNameW(process, 0, image, &size)) {
            const QString exe = QDir::fromNativeSeparators(QString::fromWCharArray(image, int(size)));
            if (QFileInfo(exe).absolutePath().startsWith(folder + QLatin1Char('/'), Qt::CaseInsensitive))
                found.push_back({pid, QDir::toNativeSeparators(exe)});
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    // Games this program started and that have ended are forgotten.
    for (auto it = StartedGames().begin(); it != StartedGames().end();) {
        const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(*it));
        const bool alive = process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
        if (process) CloseHandle(process);
        it = alive ? std::next(it) : StartedGames().erase(it);
    }
#else
    (void)gameDir;
    (void)prefix;
#endif
    return found;
}

} // namespace platform
