#pragma once
#include "app/StartupEnvironment.h"
#include "app/TfrmReview.h"
#include "ini/IniHandles.h"
#include "ui/PageContext.h"

#include <QMainWindow>
#include <QPointer>
#include <exception>
#include <functional>
#include <memory>
#include <random>
#include <vector>

class QLabel;
class QTabWidget;

namespace keybinds {
class TKeyBindsPage;
class TAliasesPage;
} // namespace keybinds
namespace instantaction {
class TInstantActionPage;
}
namespace maintenance {
class TIniFilesPage;
class SaveHistory;
}
namespace settings {
class TGeneralSettingsPage;
class TUT2k4SettingsPage;
} // namespace settings
namespace ui {
class Prompter;
class TfrmProgress;
} // namespace ui
namespace update {
class TUpdateClient;
}
namespace banner {
class TBannerImage;
class TBannerFeedThread;
} // namespace banner
class QTimer;

namespace app {

inline constexpr const char* kVersion = "2.0";

// The main window: composes the pages, owns the shared INI handles and the
// start-up state, and runs the commands that act on all pages.
class TfrmMain final : public QMainWindow, public ui::StartupState {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmMain)
public:
    explicit TfrmMain(StartupEnvironment env, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Shared start-up state (SystemDir, ViewportManager and PagesLoaded come
    // from StartupState, which the pages see).
    bool AutoBackup = true;
    bool CheckOnStartup = true;
    bool ManualUpdateCheck = false;
    bool ShowChangesBeforeSave = false;

    ini::TIniFile* SettingsIni() const { return ini_.SettingsIni.get(); }
    ini::TIniFile* Ut2004Ini() const { return ini_.Ut2004Ini.get(); }
    ini::TIniFile* UserIni() const { return ini_.UserIni.get(); }
    // The first-run setup was cancelled: the program ends without showing.
    bool QuitRequested() const { return quitRequested_; }
    // Exit or window close went through; the window is closing.
    bool Closed() const { return closed_; }
    QTabWidget* PageCtrl() const { return PageCtrl_; }
    keybinds::TKeyBindsPage* KeyBindsPage() const { return keyBinds_; }
    keybinds::TAliasesPage* AliasesPage() const { return aliases_; }
    settings::TGeneralSettingsPage* GeneralPage() const { return general_; }
    settings::TUT2k4SettingsPage* UT2k4Page() const { return ut2k4_; }
    instantaction::TInstantActionPage* InstantActionPage() const { return instantAction_; }
    maintenance::TIniFilesPage* IniFilesPage() const { return iniFiles_; }

    void LoadSetup(bool showDialog);
    // Also counts edited raw text. Commits open cell editors first.
    bool AnyPageChanged();
    // False when a saver failed and told the user; raises what a saver lets through.
    // Every page's saver in turn. Asks first while the game runs, unless the
    // command around it has asked; false when nothing or not all was saved.
    bool SaveAllPages();
    // The one way a command writes the player's pair: edits in the controls
    // are committed, the running game asked about, a history entry made, and
    // every write `writes` makes is held in memory and then put in place in
    // one crash-safe step for both files. When a write fails or the step
    // does not go through, nothing is written and the pages keep counting
    // their edits as unsaved. False then (the reason has been shown) or when
    // the player declined.
    bool WriteGameFiles(const QString& command, const std::function<bool()>& writes);
    // Whole files in place of the player's, on the same terms.
    bool ReplaceGameFiles(const ui::PageContext::FileReplacement& replacement);
    // Exit's and the close box's save: the pages and the edited raw text,
    // one entry of the history.
    bool SaveBeforeExit();
    // Before the program ends: asks about unsaved edits (Yes saves, No drops
    // them); false on Cancel or a save that did not happen.
    bool MayEndWithEdits();
    void ReloadAllPages();
    // Every key a save would write now, from the savers' own dry run.
    std::vector<ReviewRow> PendingReview() const;
    maintenance::SaveHistory& History() const { return *history_; }

    // The general error report: a stop box with the message.
    void ReportError(const std::exception& e);
    // Runs a command; whatever it throws ends there and is reported.
    void Guarded(const std::function<void()>& command);

public slots:
    void Save1Click();
    void Review1Click();
    void Undolastsave1Click();
    void Redolastundo1Click();
    void Savehistory1Click();
    void Reload1Click();
    void Exit1Click();
    void UT2k4Dir1Click();
    void Openfiles1Click();
    void SaveINIfilesAS1Click();
    void Quorlex2k4help1Click();
    void Showreadmetxt1Click();
    void Abouty1Click();
    void auntlist1Click();
    void BackupINIs1Click();
    void Backupmanager1Click();
    void ResettodefaultClick();
    void Highquality1Click();
    void Lowquality1Click();
    void Checkforupdates1Click();
    void BannerImage1Click();
    void timerBannerTimer();

public:
    // Components of the window.
    update::TUpdateClient* UpdateClient1 = nullptr;
    banner::TBannerImage* BannerImage1 = nullptr;
    QTimer* timerBanner = nullptr;
    QString BannerClickLink() const { return clickLink_; }
    ui::TfrmProgress* ProgressWindow() const;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    struct TrackedPage {
        QWidget* tab;
        std::function<bool()> changed;
        std::function<bool()> save;
        std::function<bool()> load;
    };

    void FormCreate();
    // What the player typed into a control that has not taken it yet.
    void CommitEdits();
    void BuildMenuAndToolBar();
    void LoadAllPagesAtStartup();
    // False leaves LoadSetup: the end was requested, or Options changed
    // nothing and the pages keep what they show.
    bool RunSetupLoop(bool showDialog);
    static void MakeSettingsUtf8(const std::string& path);
    // Runs writes to the settings file; a read-only file is told about once.
    void RememberSettings(const std::function<void()>& writes);
    QString unsavedSystemDir_;
    // The rest of the install chosen, kept for this run when the settings
    // file cannot be written: kind, the game's System folder, prefix.
    QString unsavedKind_, unsavedGameSystem_, unsavedPrefix_;
    // A settings file of an older version names the game folder only: its
    // install is told by the folder, so a native game's player files in the
    // home are the ones edited, as the game reads them.
    void AdoptInstallOfOlderSettings();
    // The build and kind of install in words, in the header.
    QLabel* lblBuild_ = nullptr;
    bool settingsReadOnlyTold_ = false;
    bool LocateGameFiles();
    void SetSplashPosition(int pos);
    void LetEventsRun();
    // A tab change is taken back until the questions about the page being
    // left are answered; then it happens, or the player stays.
    void PageCtrlCurrentChanged(int index);
    // The questions about the page being left; false keeps the player there.
    bool PageCtrlPageChanging(int leaving);
    // Asks before a command that reloads every page drops unsaved edits.
    bool MaySwitchUserIni();
    // Load's question; true when nothing unsaved is lost or the player agrees.
    bool MayDropEdits();
    // The backup commands need only the game's folder, not loaded pages.
    bool GameFolderKnown();
    // After the backup manager replaced the files: the pages show them, and
    // locked pages get their load again.
    void ReloadAfterRestore();
    void ReleaseIniHandles();
    void SwitchUserIni(const QString& chosenPath);
    QString CurrentUserIniDir() const;

    // Pages of later versions join these; until then they do nothing.
    void StartUpdate();
    void ConfigureUpdateClient();
    void UpdateClient1Status(const QString& statusstr, int statuscode, int errcode);
    void UpdateClient1FileProgress(const QString& filename, int pos, int size);
    void UpdateClient1AppRestart(bool& allow);
    // The message at the end of an update run: updated, or failed and why.
    void UpdateRunEnded(update::TUpdateClient* client);
    void BackupIniFiles(bool reportSuccess);
    void ApplyQualityPreset(bool high);
    void SaveCommand(bool review);
    // False when the game runs from this folder and the player would rather
    // not write files it overwrites when it exits. A restore is asked about
    // in its own words.
    bool MayReplaceGameFiles(bool restoring = false);
    bool saving_ = false;
    bool inStep_ = false; // WriteGameFiles runs: writes join its step
    bool RunSavers();
    // Shows the changes with Save and Cancel; true for Save.
    bool RunReview(const std::vector<ReviewRow>& rows);
    // The files a command may replace: the current user INI and UT2004.ini.
    QStringList GameFiles() const;
    void ShowEntryChanges(const QString& id);
    // An update run that replaces a game file keeps its earlier bytes too.
    void KeepBeforeUpdate(const QString& path);
    void KeepUpdateInHistory();
    std::vector<std::pair<QString, QByteArray>> beforeUpdate_;
    // `command`: the history's name of the put-back (empty: Undo "...").
    void PutBackEntry(const QString& id, bool latest, const QString& command = {});

    StartupEnvironment env_;
    ui::Prompter& prompter_;
    ini::IniHandles ini_;
    ui::PageContext ctx_;
    QPointer<ui::TfrmProgress> splash_;
    QTabWidget* PageCtrl_ = nullptr;
    keybinds::TKeyBindsPage* keyBinds_ = nullptr;
    keybinds::TAliasesPage* aliases_ = nullptr;
    settings::TGeneralSettingsPage* general_ = nullptr;
    settings::TUT2k4SettingsPage* ut2k4_ = nullptr;
    instantaction::TInstantActionPage* instantAction_ = nullptr;
    maintenance::TIniFilesPage* iniFiles_ = nullptr;
    QWidget* tabIniFiles_ = nullptr;
    std::vector<TrackedPage> tracked_;
    QLabel* lblDir_ = nullptr;
    QLabel* lblCurrUserIni_ = nullptr;
    QLabel* lblCurrUt2004ini_ = nullptr;
    int currentTab_ = 0;
    bool quitRequested_ = false;
    bool exiting_ = false;
    bool closed_ = false;
    void StartBannerFeed();
    bool Online() const;
    QPointer<banner::TBannerFeedThread> feed_;
    bool feedStarted_ = false;
    QString clickLink_;
    std::mt19937 random_;
    std::unique_ptr<maintenance::SaveHistory> history_;
    bool shownOnce_ = false;
};

} // namespace app
