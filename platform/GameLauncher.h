#pragma once
#include <QString>
#include <QStringList>
#include <functional>

namespace platform {

// How the game is started from its System folder with the instant-action
// parameters: on Windows UT2004.exe itself; elsewhere UT2004.exe through
// wine, or the native Linux binary when that is what the folder holds.
struct GameLaunch {
    QString program;  // empty: nothing can be started, see `problem`
    QStringList arguments;
    QString workingDirectory;
    QString problem; // for the user, when nothing can be started
    QStringList environment; // NAME=value set for the game only
    // The started process is the game (wine and a launcher script become it
    // or wait for it), not a client that hands the start on and stays.
    bool becomesGame = true;
};

struct Install;

// `findProgram` looks a program up on the PATH (empty when not found).
GameLaunch BuildGameLaunch(const QString& systemDir, const QString& parameters,
                           const std::function<QString(const QString&)>& findProgram);

// How the install itself starts the game: native Linux its own launcher or
// binary, Steam through `steam -applaunch 13230`, Wine and Lutris through
// wine in their prefix, Windows the executable. A folder of unknown kind is
// started as the one above.
GameLaunch BuildGameLaunch(const Install& install, const QString& parameters,
                           const std::function<QString(const QString&)>& findProgram, bool arm64 = false);

// Starts it detached; false with the reason when the start failed.
bool StartGame(const GameLaunch& launch, QString* problem);

// The real PATH lookup.
QString FindProgramOnPath(const QString& name);

} // namespace platform
