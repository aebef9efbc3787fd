#pragma once
#include <QString>
#include <functional>

namespace ini {
struct IniHandles;
}

namespace ui {

class Prompter;

// The start-up state pages read; the main window owns and fills it.
struct StartupState {
    QString ProgramDir; // the executable's folder (map previews), trailing separator
    QString SystemDir;  // with trailing separator
    QString CurrentUserIniName;
    // The game's own System folder (defaults, *.int, *.upl), trailing
    // separator. It differs from SystemDir where the game keeps the player's
    // files per user (native Linux: ~/.ut2004/System); empty means the same.
    QString GameSystemDir;
    QString InstallKind; // "native", "steam", "wine", "lutris", "windows"; empty: unknown
    QString WinePrefix;  // the prefix a Wine, Lutris or Proton install runs in
    int GameBuild = 0;   // [FirstRun] FirstRun of UT2004.ini; 0 when unknown
    QString GameSystem() const { return GameSystemDir.isEmpty() ? SystemDir : GameSystemDir; }
    QString ViewportManager = QStringLiteral("WinDrv.WindowsClient");
    bool PagesLoaded = false;
    bool StartupFinished = false;
    bool AskBackup = false;     // ask before every backup
    bool OverrideToday = false; // ask before replacing today's backup
};

// What a page gets from the main window: the prompter, the shared INI
// handles and start-up state, and the general error report for commands
// that do not catch.
struct PageContext {
    Prompter& prompter;
    ini::IniHandles& ini;
    const StartupState& state;
    std::function<void(const std::function<void()>&)> guarded;
    // The window's one way to write the player's files: the running-game
    // guard, the history, one crash-safe step. Unset (a page on its own),
    // the writes are made as they come.
    std::function<bool(const QString& command, const std::function<bool()>& writes)> writeFiles =
        {};
};

} // namespace ui
