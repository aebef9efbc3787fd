#pragma once
#include "app/StartupEnvironment.h"

#include <QMainWindow>
#include <QPointer>
#include <exception>
#include <functional>
#include <memory>

class QLabel;
class QTabWidget;

namespace ini {
class TIniFile;
}
namespace keybinds {
class TKeyBindsPage;
}
namespace ui {
class Prompter;
class TfrmProgress;
} // namespace ui

namespace app {

inline constexpr const char* kVersion = "2.0";

// The main window: composes the pages, owns the shared INI handles and the
// start-up state, and runs the commands that act on all pages.
class TfrmMain final : public QMainWindow {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmMain)
public:
    explicit TfrmMain(StartupEnvironment env, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // Shared start-up state.
    QString ProgramDir;
    QString SystemDir;
    QString CurrentUserIniName;
    QString ViewportManager = QStringLiteral("WinDrv.WindowsClient");
    bool AutoBackup = true;
    bool CheckOnStartup = true;
    bool AskBackup = false;
    bool OverrideToday = false;
    bool PagesLoaded = false;
    bool StartupFinished = false;
    bool ManualUpdateCheck = false;

    ini::TIniFile* SettingsIni() const { return settingsIni_.get(); }
    ini::TIniFile* Ut2004Ini() const { return ut2004Ini_.get(); }
    ini::TIniFile* UserIni() const { return userIni_.get(); }
    // The first-run setup was cancelled: the program ends without showing.
    bool QuitRequested() const { return quitRequested_; }
    QTabWidget* PageCtrl() const { return PageCtrl_; }
    keybinds::TKeyBindsPage* KeyBindsPage() const { return keyBinds_; }

    void LoadSetup(bool showDialog);
    bool AnyPageChanged() const;
    // False when a saver failed (it has told the user already).
    bool SaveAllPages();
    void ReloadAllPages();

    // The general error report: a stop box with the message.
    void ReportError(const std::exception& e);
    // Runs a command; whatever it throws ends there and is reported.
    void Guarded(const std::function<void()>& command);

public slots:
    void Save1Click();
    void Reload1Click();
    void Exit1Click();
    void UT2k4Dir1Click();
    void Showreadmetxt1Click();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void FormCreate();
    void BuildMenuAndToolBar();
    void LoadAllPagesAtStartup();
    bool RunSetupLoop(bool showDialog);
    bool LocateGameFiles();
    void SetSplashPosition(int pos);
    void LetEventsRun();
    void PageCtrlPageChanging(int leaving);
    void ReleaseIniHandles();

    // Pages of later versions join these; until then they do nothing.
    void LoadAliases() {}
    void LoadGeneralSettings() {}
    void LoadGameTypeRules() {}
    void LoadRawIniText() {}
    void LoadUT2k4Settings() {}
    bool SaveAliases() { return true; }
    bool SaveGeneralSettings() { return true; }
    bool SaveGameTypeRules() { return true; }
    bool SaveUT2k4Settings() { return true; }
    void StartUpdate() {}
    void BackupIniFiles(bool /*reportSuccess*/) {}

    StartupEnvironment env_;
    ui::Prompter& prompter_;
    std::unique_ptr<ini::TIniFile> settingsIni_;
    std::unique_ptr<ini::TIniFile> ut2004Ini_;
    std::unique_ptr<ini::TIniFile> userIni_;
    QPointer<ui::TfrmProgress> splash_;
    QTabWidget* PageCtrl_ = nullptr;
    keybinds::TKeyBindsPage* keyBinds_ = nullptr;
    QLabel* lblDir_ = nullptr;
    QLabel* lblCurrUserIni_ = nullptr;
    QLabel* lblCurrUt2004ini_ = nullptr;
    int currentTab_ = 0;
    bool quitRequested_ = false;
    bool exiting_ = false;
};

} // namespace app
