#pragma once
#include <QString>
#include <QStringList>
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

    // Whole files put in place of the player's (a restore, the reset, an
    // undo) take the same way: the step runs only after the unsaved edits it
    // would throw away were asked about, the running-game guard, the refusal
    // of a read-only target and the history entry. The step is one crash-safe
    // change and reports its own failure; the caller reloads after success.
    struct FileReplacement {
        QString command; // as the history names it
        QString doing;   // "Restoring the backup": names it in the question about edits
        QStringList targets;
        QString notDone; // the line after a refusal: what did not happen
        std::function<bool()> step;
    };
    std::function<bool(const FileReplacement&)> replaceFiles = {};
    // A page on its own has no edits to ask about: the step just runs.
    bool ReplaceFiles(const FileReplacement& r) const {
        return replaceFiles ? replaceFiles(r) : r.step();
    }
};

} // namespace ui
