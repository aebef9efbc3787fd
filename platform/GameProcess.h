#pragma once
#include <QString>
#include <vector>

namespace platform {

struct RunningGame {
    qint64 pid;
    QString program; // the executable or first argument that gave it away
};

// The game (or its server, ucc) running from the game folder `gameDir`: a
// native binary inside the folder, or UT2004.exe under Wine or Proton. The
// game keeps its INI files in memory and writes them when it exits, so a
// save made meanwhile is lost. Processes of other users and our own are
// left out.
// `prefix` is the install's Wine prefix, for a process that does not name
// its own.
std::vector<RunningGame> RunningGameProcesses(const QString& gameDir, const QString& prefix = {});

// A Windows path as Wine shows it leads into `gameDir`: Z:\ is /, another
// drive is the prefix's dosdevices link (C: also its drive_c). Without a
// prefix, the folders above the program's System folder must end `gameDir`.
bool WindowsPathInFolder(const QString& windowsPath, const QString& gameDir, const QString& prefix);

// Pids of games this program started, so they are known even when their
// command line does not name the folder.
void RememberStartedGame(qint64 pid);

} // namespace platform
