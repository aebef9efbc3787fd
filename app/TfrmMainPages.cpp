// The main window around its pages: leaving a page with unsaved edits, and
// commands that must also work while the pages are locked.
#include "app/TfrmMain.h"

#include "maintenance/TIniFilesPage.h"
#include "ui/Prompter.h"

#include <QFileInfo>
#include <QSignalBlocker>
#include <QTabWidget>

namespace app {

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
        const auto save = prompter_.Ask(ui::PromptKind::Confirmation,
                                        QStringLiteral("Do you want to save the changes u made?"),
                                        ui::Buttons::YesNoCancel);
        if (save == ui::Answer::Cancel) return false;
        // A save that failed has said why; the edits stay in front of the player.
        if (save == ui::Answer::Yes) return page.save();
        const auto undo = prompter_.AskDefault(ui::PromptKind::Confirmation,
                                               QStringLiteral("Do you want to undo changes?"),
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
