// The main window around its pages: the setup dialog and where the game's
// files are, leaving a page with unsaved edits, and commands that must also
// work while the pages are locked.
#include "app/TfrmMain.h"

#include "app/TfrmInit.h"
#include "app/TfrmReadme.h"
#include "ini/IniFile.h"
#include "maintenance/SaveHistory.h"
#include "maintenance/TIniFilesPage.h"
#include "platform/Installs.h"
#include "platform/Paths.h"
#include "ui/Prompter.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QTabWidget>

namespace app {

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string Std(const QString& s) { return s.toStdString(); }
} // namespace

// Returns false when the application is to end (first-run Cancel).
bool TfrmMain::RunSetupLoop(bool showDialog) {
    auto& settings = *ini_.SettingsIni;
    for (;;) {
        if (quitRequested_) return false;
        TfrmInit dlg(platform::FindInstalls(env_.home, env_.registry.get(), env_.nativeInstallCandidates),
                     env_.home, settings, this);
        dlg.prompter = &prompter_;
        if (dlg.exec() != QDialog::Accepted) {
            // Nothing new to load: a reload would only throw unsaved edits away.
            if (showDialog) return !(PageCtrl_->isEnabled() && AnyPageChanged());
            quitRequested_ = true;
            PageCtrl_->setEnabled(false);
            return false;
        }
        // "~", a relative path and the System folder itself are what players
        // type; the install tells where its player's files are.
        const platform::Install chosen = dlg.ChosenInstall();
        const QString dir = chosen.gameDir;
        const bool exists = !dir.isEmpty() && QFileInfo(dir).isDir();
        // The reload after OK loads every page again; No keeps the edits and the setup as it was.
        if (exists && showDialog && !MayDropEdits()) return false;
        MakeSettingsUtf8(settings.FileName());
        RememberSettings([&] {
            ini::TIniFile::Batch batch(settings);
            settings.WriteFlag("Quorlex", "Init", false);
            settings.WriteFlag("Quorlex", "AutoBackup", dlg.cbAutoBackup->isChecked());
            settings.WriteFlag("Quorlex", "OverrideToday", dlg.cbOverrideToday->isChecked());
            settings.WriteFlag("Quorlex", "AskBackup", dlg.cbAskBackup->isChecked());
            settings.WriteFlag("Quorlex", "CheckOnStartup", dlg.cbUpdates->isChecked());
            settings.WriteFlag("Quorlex", "ShowReadme", dlg.cbShowReadme->isChecked());
            settings.WriteFlag("Quorlex", "ShowChanges", dlg.cbShowChanges->isChecked());
            batch.finish();
        });
        ShowChangesBeforeSave = dlg.cbShowChanges->isChecked();
        AutoBackup = dlg.cbAutoBackup->isChecked();
        OverrideToday = dlg.cbOverrideToday->isChecked();
        AskBackup = dlg.cbAskBackup->isChecked();
        CheckOnStartup = dlg.cbUpdates->isChecked();
        if (exists) {
            unsavedSystemDir_ = platform::WithTrailingBackslash(chosen.playerDir);
            unsavedKind_ = platform::KindKey(chosen.kind);
            unsavedGameSystem_ = chosen.GameSystemDir();
            unsavedPrefix_ = chosen.prefix;
            RememberSettings([&] {
                ini::TIniFile::Batch batch(settings);
                settings.WriteText("UT2k4", "Dir", Std(dir));
                settings.WriteText("UT2k4", "System", Std(chosen.playerDir));
                settings.WriteText("UT2k4", "Kind", Std(unsavedKind_));
                settings.WriteText("UT2k4", "GameSystem", Std(unsavedGameSystem_));
                settings.WriteText("UT2k4", "Prefix", Std(unsavedPrefix_));
                batch.finish();
            });
            if (dlg.cbShowReadme->isChecked()) {
                TfrmReadme readme(ProgramDir, prompter_, this);
                readme.exec();
            }
            return true;
        }
        if (platform::IsNativePlayerFolder(platform::GameFolderFromTyped(dlg.diredit->text()),
                                           env_.home))
            prompter_.Error(platform::NativePlayerFolderHint());
        else
            prompter_.Error(QStringLiteral("Directory does not exist!"));
    }
}

void TfrmMain::AdoptInstallOfOlderSettings() {
    const QString dir = Q(ini_.SettingsIni->ReadText("UT2k4", "Dir", ""));
    if (dir.isEmpty() || env_.home.home.isEmpty()) return;
    const platform::Install found = platform::InstallForFolder(
        platform::GameFolderFromTyped(dir), env_.home, platform::FindInstalls(env_.home, nullptr, env_.nativeInstallCandidates));
    if (found.kind == platform::InstallKind::Folder) return;
    // Nothing is written: the player's next OK in the setup dialog records it.
    InstallKind = platform::KindKey(found.kind);
    WinePrefix = found.prefix;
    GameSystemDir = platform::WithTrailingBackslash(found.GameSystemDir());
    SystemDir = platform::WithTrailingBackslash(found.playerDir);
}

bool TfrmMain::LocateGameFiles() {
    auto& settings = *ini_.SettingsIni;
    const QString recorded = Q(settings.ReadText("UT2k4", "CurrentUserIni", "User.ini"));
    QString userPath;
    if (!recorded.isEmpty() && QFileInfo(SystemDir + recorded).isFile())
        userPath = SystemDir + recorded;
    else if (QFileInfo(SystemDir + QStringLiteral("User.ini")).isFile())
        userPath = SystemDir + QStringLiteral("User.ini");
    else {
        QString text = QStringLiteral("User.ini not found in: ") + SystemDir;
        if (InstallKind == platform::KindKey(platform::InstallKind::Native))
            text += QStringLiteral("\nThe game creates its settings files there on its first start: start UT2004 "
                                   "once, then start Quorlex 2004 again.");
        prompter_.Error(text);
        PageCtrl_->setEnabled(false);
        return false;
    }
    ini_.Ut2004Ini = std::make_unique<ini::TIniFile>(Std(SystemDir + QStringLiteral("UT2004.ini")));
    ini_.UserIni = std::make_unique<ini::TIniFile>(Std(userPath));
    const bool native = InstallKind == platform::KindKey(platform::InstallKind::Native);
    // The native build draws through SDL, whose viewport keeps the screen keys.
    ViewportManager = Q(ini_.Ut2004Ini->ReadText("Engine.Engine", "ViewportManager",
                                                 native ? "SDLDrv.SDLClient" : "WinDrv.WindowsClient"));
    GameBuild = QString::fromStdString(ini_.Ut2004Ini->ReadText("FirstRun", "FirstRun", "")).trimmed().toInt();
    lblBuild_->setText(platform::BuildInWords(GameBuild, platform::KindFromKey(InstallKind)));
    // Shown with the system's own separators (C:\UT2004\System on Windows).
    const QString dir = QDir::toNativeSeparators(Q(settings.ReadText("UT2k4", "Dir", "")));
    lblDir_->setText(QStringLiteral("UT2004 dir: ") + dir);
    lblDir_->setToolTip(dir);
    const QString shownUser = QDir::toNativeSeparators(userPath);
    lblCurrUserIni_->setText(QStringLiteral("Current User.Ini: ") + shownUser);
    lblCurrUserIni_->setToolTip(shownUser);
    CurrentUserIniName = platform::FileNamePart(userPath);
    RememberSettings([&] { settings.WriteText("UT2k4", "CurrentUserIni", Std(CurrentUserIniName)); });
    const QString shownEngine = QDir::toNativeSeparators(Q(ini_.Ut2004Ini->FileName()));
    lblCurrUt2004ini_->setText(QStringLiteral("Current UT2004.Ini: ") + shownEngine);
    lblCurrUt2004ini_->setToolTip(shownEngine);
    return true;
}


void TfrmMain::PageCtrlCurrentChanged(int index) {
    const int leaving = currentTab_;
    if (index == leaving || leaving < 0 || leaving >= PageCtrl_->count() ||
        !PageCtrl_->isEnabled()) {
        currentTab_ = index;
        return;
    }
    {
        // The player is asked about the page he sees, and stays on it when he
        // wants to: the tab widget has already switched, so switch back first.
        const QSignalBlocker quiet(PageCtrl_);
        PageCtrl_->setCurrentIndex(leaving);
    }
    bool leave = false;
    Guarded([&] { leave = PageCtrlPageChanging(leaving); });
    if (!leave) return;
    {
        const QSignalBlocker quiet(PageCtrl_);
        PageCtrl_->setCurrentIndex(index);
    }
    currentTab_ = index;
    if (PageCtrl_->currentWidget() == tabIniFiles_) Guarded([this] { iniFiles_->Refill(false); });
}

bool TfrmMain::PageCtrlPageChanging(int leaving) {
    CommitEdits();
    QWidget* left = PageCtrl_->widget(leaving);
    std::vector<TrackedPage> pages = tracked_;
    // The raw text is asked about like the other pages. Its own save button
    // saves the other pages first, so the reload after it drops no edits.
    pages.push_back({tabIniFiles_, [this] { return iniFiles_->RawTextChanged(); },
                     [this] {
                         iniFiles_->btnSaveInisClick();
                         return !iniFiles_->RawTextChanged();
                     },
                     [this] {
                         iniFiles_->LoadRawIniText();
                         return true;
                     }});
    for (const auto& page : pages) {
        if (page.tab != left || !page.changed()) continue;
        // Cancel, which Escape gives, keeps the player on the page with his edits.
        const QString caption = PageCtrl_->tabText(leaving);
        const auto save = prompter_.Ask(
            ui::PromptKind::Confirmation,
            QStringLiteral("Do you want to save the changes you made to \"%1\"?").arg(caption),
            ui::Buttons::YesNoCancel);
        if (save == ui::Answer::Cancel) return false;
        // A save that failed has said why; the edits stay in front of the player.
        if (save == ui::Answer::Yes) {
            // The page's own save replaces the game's files as Save does.
            return WriteGameFiles(QStringLiteral("Save"), page.save);
        }
        const auto undo = prompter_.AskDefault(
            ui::PromptKind::Confirmation,
            QStringLiteral("Do you want to undo your changes to \"%1\"?").arg(caption),
            ui::Buttons::YesNoCancel, ui::Answer::No);
        if (undo == ui::Answer::Cancel) return false;
        if (undo == ui::Answer::Yes) page.load();
        return true;
    }
    return true;
}

bool TfrmMain::MaySwitchUserIni() {
    return !AnyPageChanged() ||
           prompter_.Confirm(
               QStringLiteral("Some fields have changed, switching the user.ini will undo these "
                              "changes\nAre you sure you want to continue?"),
               ui::Answer::No);
}

bool TfrmMain::GameFolderKnown() {
    if (!SystemDir.isEmpty() && QFileInfo(SystemDir).isDir()) return true;
    prompter_.Warning(
        QStringLiteral("The UT2004 folder has not been set up yet, so there are no INI files to "
                       "backup.\nChoose Options to set it up."));
    return false;
}

void TfrmMain::ReloadAfterRestore() {
    if (PageCtrl_->isEnabled()) {
        ReloadAllPages();
        return;
    }
    // The start could not load the files; the restored ones get that load
    // now, which unlocks the pages when it succeeds.
    if (ini_.SettingsIni && LocateGameFiles()) LoadAllPagesAtStartup();
}

} // namespace app
