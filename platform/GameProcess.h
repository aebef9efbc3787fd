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
std::vector<RunningGame> RunningGameProcesses(const QString& gameDir);

// Pids of games this program started, so they are known even when their
// command line does not name the folder.
void RememberStartedGame(qint64 pid);

} // namespace platform
