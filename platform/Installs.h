#pragma once
#include <QString>
#include <QStringList>
#include <vector>

namespace platform {

class Registry;

// Everything the look-ups take from the user's session. The program fills it
// from its own process; tests hand in a home folder they built.
struct HomeEnvironment {
    QString home;
    QString xdgDataHome;     // empty: home/.local/share
    QString winePrefix;      // $WINEPREFIX; empty when not set
    QString path;            // $PATH
    QString cpuArchitecture; // as QSysInfo names it: "x86_64", "arm64", ...
    QString steamPath;       // Windows: HKCU\Software\Valve\Steam\SteamPath; empty elsewhere

    static HomeEnvironment FromProcess();
    QString DataHome() const;
    bool Arm64() const;
};

enum class InstallKind { Folder, Windows, Wine, Lutris, Steam, Native };

// One installed copy of the game and where it keeps what.
struct Install {
    InstallKind kind = InstallKind::Folder;
    QString label;     // where it was found, for the player
    QString gameDir;   // no trailing separator
    QString playerDir; // folder of User.ini and UT2004.ini, no trailing separator
    QString systemName = QStringLiteral("System"); // the game's own system folder
    QString prefix;                                // Wine prefix (Wine, Lutris, Steam's Proton)
    QString wine; // the wine it runs under when not the one on the PATH (a Lutris runner)

    QString GameSystemDir() const { return gameDir + QLatin1Char('/') + systemName; }
};

// "native", "steam", ... as kept in the settings file; "" for Folder.
QString KindKey(InstallKind kind);
InstallKind KindFromKey(const QString& key);
// "native Linux", "under Proton (Steam)", ... ; "" for Folder.
QString KindInWords(InstallKind kind);

// Every install found, first the one to propose: the machine's registry
// (Windows; both views), Steam libraries, native Linux folders (the
// `usualFolders`, the 3374 installer's default and a `ut2004` launcher on
// PATH), Wine prefixes, Lutris prefixes. A folder found twice is listed once.
std::vector<Install> FindInstalls(const HomeEnvironment& env, const Registry* machineRegistry,
                                  const QStringList& usualFolders);

// The install a typed or browsed game folder belongs to: a found one when
// it is the same folder, else what the folder itself shows.
Install InstallForFolder(const QString& gameDir, const HomeEnvironment& env,
                         const std::vector<Install>& known);

// The wine of the Lutris runner that the game config with this prefix
// names (its custom path or a runner version installed under Lutris's data
// folder); empty when none is named, it is the system's, or it is missing.
QString LutrisWine(const HomeEnvironment& env, const QString& prefix);

// The folder holds a game: a System (or SystemARM64) folder with its files.
bool IsGameFolder(const QString& dir);
// ~/.ut2004 or its System folder: the native game's folder of the player's
// files, which looks like a game folder but is none. InstallForFolder takes
// it for the native install found, or for no install.
bool IsNativePlayerFolder(const QString& dir, const HomeEnvironment& env);
// What the player is told when he chose such a folder as the game's.
QString NativePlayerFolderHint();

// How the game of an install reads the keyboard: the Windows build (on
// Windows, or under Wine, Proton or Lutris) by the virtual keys the layout
// gives, the native Linux build by key symbols through SDL 1.2. A folder of
// unknown origin holds the Windows build, as only a native one is told apart.
enum class KeyReading { VirtualKeys, SdlKeySymbols };
KeyReading KeyReadingOf(InstallKind kind);

// The build the files show: UT2004.ini's [FirstRun] FirstRun, e.g. 3369.
QString BuildInWords(int build, InstallKind kind);

// `path` with the home folder written as "~".
QString WithTilde(const QString& path, const QString& home);

} // namespace platform
