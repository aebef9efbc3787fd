#include "app/TfrmMain.h"

#include "app/TfrmInit.h"
#include "app/TfrmReadme.h"
#include "ini/IniFile.h"
#include "keybinds/TKeyBindsPage.h"
#include "platform/Paths.h"
#include "ui/Prompter.h"
#include "ui/TfrmProgress.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>

namespace app {

namespace {

std::string Std(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

struct TabInfo {
    const char* name;
    const char* caption;
};
constexpr TabInfo kTabs[] = {
    {"tabMain", "Key binds"},          {"tabAliases", "Aliases"},
    {"tabGeneral", "General Settings"}, {"tabUT2k4", "UT2004 Settings"},
    {"tabFrontEnd", "Instant Action"},  {"tabIniFiles", "Inifiles"},
};

} // namespace

TfrmMain::TfrmMain(StartupEnvironment env, QWidget* parent)
    : QMainWindow(parent), env_(std::move(env)), prompter_(*env_.prompter) {
    setObjectName(QStringLiteral("frmMain"));
    setMinimumSize(805, 598);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* top = new QWidget(central);
    top->setObjectName(QStringLiteral("pnlTop"));
    auto* labels = new QVBoxLayout(top);
    labels->setContentsMargins(4, 0, 4, 0);
    labels->setSpacing(0);
    lblDir_ = new QLabel(QStringLiteral("UT2k4 Dir:"), top);
    lblDir_->setObjectName(QStringLiteral("lblDir"));
    lblCurrUserIni_ = new QLabel(QStringLiteral("Current User.Ini:"), top);
    lblCurrUserIni_->setObjectName(QStringLiteral("lblCurrUserIni"));
    lblCurrUt2004ini_ = new QLabel(QStringLiteral("Current UT2004.Ini:"), top);
    lblCurrUt2004ini_->setObjectName(QStringLiteral("lblCurrUt2004ini"));
    for (QLabel* l : {lblDir_, lblCurrUserIni_, lblCurrUt2004ini_}) labels->addWidget(l);
    layout->addWidget(top);

    PageCtrl_ = new QTabWidget(central);
    PageCtrl_->setObjectName(QStringLiteral("PageCtrl"));
    keyBinds_ = new keybinds::TKeyBindsPage(prompter_, PageCtrl_);
    for (const auto& tab : kTabs) {
        QWidget* page = tab.name == kTabs[0].name ? static_cast<QWidget*>(keyBinds_) : new QWidget(PageCtrl_);
        page->setObjectName(QString::fromLatin1(tab.name));
        PageCtrl_->addTab(page, QString::fromLatin1(tab.caption));
    }
    PageCtrl_->setEnabled(false);
    layout->addWidget(PageCtrl_, 1);
    setCentralWidget(central);
    BuildMenuAndToolBar();
    connect(PageCtrl_, &QTabWidget::currentChanged, this, [this](int index) {
        const int leaving = currentTab_;
        currentTab_ = index;
        Guarded([&] { PageCtrlPageChanging(leaving); });
    });

    if (auto* screen = QGuiApplication::primaryScreen())
        resize(QSize(1180, 760).boundedTo(screen->availableSize()));
    FormCreate();
}

TfrmMain::~TfrmMain() {
    try {
        ReleaseIniHandles();
    } catch (...) {
    }
}

void TfrmMain::BuildMenuAndToolBar() {
    auto icon = [this](const char* theme, QStyle::StandardPixmap fallback) {
        return QIcon::fromTheme(QString::fromLatin1(theme), style()->standardIcon(fallback));
    };
    auto* exitAct = new QAction(icon("application-exit", QStyle::SP_DialogCloseButton),
                                QStringLiteral("&Exit Quorlex2004"), this);
    exitAct->setObjectName(QStringLiteral("Exit1"));
    exitAct->setShortcut(QKeySequence(Qt::ALT | Qt::Key_F4));
    exitAct->setToolTip(QStringLiteral("Exit Quorlex 2004"));
    connect(exitAct, &QAction::triggered, this, [this] { Guarded([this] { Exit1Click(); }); });

    auto* reloadAct = new QAction(icon("view-refresh", QStyle::SP_BrowserReload),
                                  QStringLiteral("&Load"), this);
    reloadAct->setObjectName(QStringLiteral("Reload1"));
    reloadAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    reloadAct->setToolTip(QStringLiteral("Reload the settings"));
    connect(reloadAct, &QAction::triggered, this, [this] { Guarded([this] { Reload1Click(); }); });

    auto* saveAct = new QAction(icon("document-save", QStyle::SP_DialogSaveButton),
                                QStringLiteral("&Save Changes"), this);
    saveAct->setObjectName(QStringLiteral("Save1"));
    saveAct->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    saveAct->setToolTip(QStringLiteral("Save your settings"));
    connect(saveAct, &QAction::triggered, this, [this] { Guarded([this] { Save1Click(); }); });

    auto* optionsAct = new QAction(icon("preferences-system", QStyle::SP_FileDialogDetailedView),
                                   QStringLiteral("Options"), this);
    optionsAct->setObjectName(QStringLiteral("UT2k4Dir1"));
    optionsAct->setToolTip(QStringLiteral("Re-run the setup"));
    connect(optionsAct, &QAction::triggered, this, [this] { Guarded([this] { UT2k4Dir1Click(); }); });

    auto* readmeAct = new QAction(QStringLiteral("Show Readme.txt"), this);
    readmeAct->setObjectName(QStringLiteral("Showreadmetxt1"));
    readmeAct->setShortcut(QKeySequence(Qt::Key_F1));
    connect(readmeAct, &QAction::triggered, this, [this] { Guarded([this] { Showreadmetxt1Click(); }); });

    auto* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(reloadAct);
    file->addAction(saveAct);
    file->addSeparator();
    file->addAction(exitAct);
    auto* prog = menuBar()->addMenu(QStringLiteral("&Quorlex 2004"));
    prog->addAction(optionsAct);
    auto* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(readmeAct);
    for (auto* m : {file, prog, help}) m->setToolTipsVisible(true);

    auto* bar = addToolBar(QStringLiteral("Commands"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->addAction(exitAct);
    bar->addAction(reloadAct);
    bar->addAction(saveAct);
    bar->addSeparator();
    bar->addAction(optionsAct);
}

void TfrmMain::ReportError(const std::exception& e) { prompter_.Stop(Q(e.what())); }

void TfrmMain::Guarded(const std::function<void()>& command) {
    try {
        command();
    } catch (const std::exception& e) {
        ReportError(e);
    } catch (...) {
        prompter_.Stop(QStringLiteral("Unknown error"));
    }
}

void TfrmMain::LetEventsRun() { QCoreApplication::processEvents(); }

void TfrmMain::SetSplashPosition(int pos) {
    if (splash_) splash_->SetPosition(pos);
}

void TfrmMain::FormCreate() {
    splash_ = new ui::TfrmProgress(this);
    splash_->SetText(QStringLiteral("Loading...."));
    splash_->SetMaximum(5);
    splash_->SetPosition(0);
    splash_->show();
    LetEventsRun();
    StartupFinished = false;
    ManualUpdateCheck = false;
    setWindowTitle(QStringLiteral("Quorlex 2004 v%1 - by Mervane").arg(QString::fromLatin1(kVersion)));
    PageCtrl_->setCurrentIndex(0);
    SetSplashPosition(1);
    Guarded([this] { LoadSetup(false); });
    if (quitRequested_) {
        // Cancelled first-run setup: nothing to work on, so end at once.
        delete splash_;
        return;
    }
    SetSplashPosition(4);
    if (StartupFinished && CheckOnStartup) StartUpdate();
    LetEventsRun();
    if (StartupFinished && AutoBackup) BackupIniFiles(false);
    SetSplashPosition(5);
}

void TfrmMain::showEvent(QShowEvent* e) {
    if (splash_) delete splash_;
    QMainWindow::showEvent(e);
}

void TfrmMain::LoadSetup(bool showDialog) {
    ProgramDir = env_.programDir;
    settingsIni_ = std::make_unique<ini::TIniFile>(Std(env_.settingsDir + QStringLiteral("Quorlex2004.ini")));
    auto& settings = *settingsIni_;
    AutoBackup = settings.ReadFlag("Quorlex", "AutoBackup", true);
    CheckOnStartup = settings.ReadFlag("Quorlex", "CheckOnStartup", true);
    AskBackup = settings.ReadFlag("Quorlex", "AskBackup", false);
    OverrideToday = settings.ReadFlag("Quorlex", "OverrideToday", false);
    const bool init = settings.ReadFlag("Quorlex", "Init", true);

    if (showDialog || init) {
        if (!RunSetupLoop(showDialog)) return;
    }
    for (;;) {
        SystemDir = platform::WithTrailingBackslash(Q(settings.ReadText("UT2k4", "System", "")));
        if (!SystemDir.isEmpty()) break;
        if (!RunSetupLoop(showDialog)) return;
    }
    if (!LocateGameFiles()) return;
    LoadAllPagesAtStartup();
}

// Returns false when the application is to end (first-run Cancel).
bool TfrmMain::RunSetupLoop(bool showDialog) {
    auto& settings = *settingsIni_;
    for (;;) {
        if (quitRequested_) return false;
        TfrmInit dlg(env_.registry.get(), env_.nativeInstallCandidates, settings, this);
        if (dlg.exec() != QDialog::Accepted) {
            if (showDialog) return true;
            quitRequested_ = true;
            PageCtrl_->setEnabled(false);
            return false;
        }
        {
            ini::TIniFile::Batch batch(settings);
            settings.WriteFlag("Quorlex", "Init", false);
            settings.WriteFlag("Quorlex", "AutoBackup", dlg.cbAutoBackup->isChecked());
            settings.WriteFlag("Quorlex", "OverrideToday", dlg.cbOverrideToday->isChecked());
            settings.WriteFlag("Quorlex", "AskBackup", dlg.cbAskBackup->isChecked());
            settings.WriteFlag("Quorlex", "CheckOnStartup", dlg.cbUpdates->isChecked());
            settings.WriteFlag("Quorlex", "ShowReadme", dlg.cbShowReadme->isChecked());
            batch.finish();
        }
        AutoBackup = dlg.cbAutoBackup->isChecked();
        OverrideToday = dlg.cbOverrideToday->isChecked();
        AskBackup = dlg.cbAskBackup->isChecked();
        CheckOnStartup = dlg.cbUpdates->isChecked();
        const QString dir = dlg.diredit->text();
        if (!dir.isEmpty() && QFileInfo(dir).isDir()) {
            ini::TIniFile::Batch batch(settings);
            settings.WriteText("UT2k4", "Dir", Std(dir));
            settings.WriteText("UT2k4", "System",
                               Std(platform::WithTrailingBackslash(dir) + QStringLiteral("System")));
            batch.finish();
            if (dlg.cbShowReadme->isChecked()) {
                TfrmReadme readme(ProgramDir, prompter_, this);
                readme.exec();
            }
            return true;
        }
        prompter_.Error(QStringLiteral("Directory does not exist!"));
    }
}

bool TfrmMain::LocateGameFiles() {
    auto& settings = *settingsIni_;
    const QString recorded = Q(settings.ReadText("UT2k4", "CurrentUserIni", "User.ini"));
    QString userPath;
    if (!recorded.isEmpty() && QFileInfo(SystemDir + recorded).isFile())
        userPath = SystemDir + recorded;
    else if (QFileInfo(SystemDir + QStringLiteral("User.ini")).isFile())
        userPath = SystemDir + QStringLiteral("User.ini");
    else {
        prompter_.Error(QStringLiteral("User.ini not found in: ") + SystemDir);
        PageCtrl_->setEnabled(false);
        return false;
    }
    ut2004Ini_ = std::make_unique<ini::TIniFile>(Std(SystemDir + QStringLiteral("UT2004.ini")));
    userIni_ = std::make_unique<ini::TIniFile>(Std(userPath));
    ViewportManager = Q(ut2004Ini_->ReadText("Engine.Engine", "ViewportManager", "WinDrv.WindowsClient"));
    lblDir_->setText(QStringLiteral("UT2004 dir: ") + Q(settings.ReadText("UT2k4", "Dir", "")));
    lblCurrUserIni_->setText(QStringLiteral("Current User.Ini: ") + userPath);
    CurrentUserIniName = platform::FileNamePart(userPath);
    settings.WriteText("UT2k4", "CurrentUserIni", Std(CurrentUserIniName));
    lblCurrUt2004ini_->setText(QStringLiteral("Current UT2004.Ini: ") + Q(ut2004Ini_->FileName()));
    return true;
}

void TfrmMain::LoadAllPagesAtStartup() {
    // The page area stays disabled until every loader has run: after an
    // uncaught loader error, the later pages still hold their initial
    // contents, and a save must not write those over the player's files.
    PageCtrl_->setEnabled(false);
    try {
        SetSplashPosition(2);
        keyBinds_->LoadKeyBinds(*userIni_);
        LetEventsRun();
        LoadAliases();
        LetEventsRun();
        SetSplashPosition(3);
        LoadGeneralSettings();
        LetEventsRun();
        LoadGameTypeRules();
        LetEventsRun();
        LoadRawIniText();
        LetEventsRun();
        SetSplashPosition(4);
        LoadUT2k4Settings();
        LetEventsRun();
    } catch (const std::exception& e) {
        ReportError(e);
        prompter_.Error(QStringLiteral(
            "The settings could not be loaded completely, so the pages stay locked and nothing "
            "will be written to your files.\nCorrect the problem, then choose Options to load "
            "them again."));
        return;
    }
    PagesLoaded = true;
    PageCtrl_->setEnabled(true);
    StartupFinished = true;
}

bool TfrmMain::AnyPageChanged() const { return keyBinds_->KeyBindsChanged(); }

bool TfrmMain::SaveAllPages() {
    bool ok = keyBinds_->SaveKeyBinds(*userIni_);
    SetSplashPosition(1);
    LetEventsRun();
    ok = SaveAliases() && ok;
    SetSplashPosition(2);
    LetEventsRun();
    ok = SaveGeneralSettings() && ok;
    SetSplashPosition(3);
    LetEventsRun();
    ok = SaveGameTypeRules() && ok;
    SetSplashPosition(4);
    LetEventsRun();
    ok = SaveUT2k4Settings() && ok;
    return ok;
}

void TfrmMain::ReloadAllPages() {
    keyBinds_->LoadKeyBinds(*userIni_);
    LoadAliases();
    LoadRawIniText();
    LoadGeneralSettings();
    LoadGameTypeRules();
    LoadUT2k4Settings();
}

void TfrmMain::Save1Click() {
    if (!PageCtrl_->isEnabled()) return;
    splash_ = new ui::TfrmProgress(this);
    splash_->SetText(QStringLiteral("Saving...."));
    splash_->show();
    splash_->SetMaximum(5);
    splash_->SetPosition(0);
    LetEventsRun();
    bool ok = false;
    try {
        ok = SaveAllPages();
    } catch (...) {
        delete splash_;
        throw; // reported by the general error report, never as a success
    }
    delete splash_;
    // A saver that failed has shown its error; claiming success then would lie.
    if (ok) prompter_.Information(QStringLiteral("The changes has been succesfully saved!"));
}

void TfrmMain::Reload1Click() {
    if (!PageCtrl_->isEnabled()) return;
    if (AnyPageChanged() &&
        !prompter_.Confirm(QStringLiteral("Some fields have changed, Loading will undo these "
                                          "changes\nAre you sure you want to Load?")))
        return;
    ReloadAllPages();
    prompter_.Information(QStringLiteral("The settings have been reloaded"));
}

void TfrmMain::Exit1Click() {
    if (PageCtrl_->isEnabled() && AnyPageChanged() &&
        prompter_.Confirm(QStringLiteral("You have made some changes\nDo you want to save your changes?"))) {
        SaveAllPages();
        if (prompter_.Ask(ui::PromptKind::Confirmation,
                          QStringLiteral("Your changes have been saved, press OK to exit"),
                          ui::Buttons::OkCancel) == ui::Answer::Cancel)
            return;
    }
    exiting_ = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* e) {
    if (!exiting_ && PageCtrl_->isEnabled() && AnyPageChanged()) {
        bool keepOpen = false;
        Guarded([&] {
            const auto answer = prompter_.Ask(
                ui::PromptKind::Confirmation,
                QStringLiteral("You have made some changes\nDo you want to save your changes?"),
                ui::Buttons::YesNoCancel);
            if (answer == ui::Answer::Cancel)
                keepOpen = true;
            else if (answer == ui::Answer::Yes)
                SaveAllPages();
        });
        if (keepOpen) {
            e->ignore();
            return;
        }
    }
    Guarded([this] { ReleaseIniHandles(); });
    e->accept();
}

void TfrmMain::ReleaseIniHandles() {
    for (auto* handle : {&ut2004Ini_, &userIni_, &settingsIni_}) {
        if (*handle) (*handle)->Flush();
        handle->reset();
    }
}

void TfrmMain::PageCtrlPageChanging(int leaving) {
    if (leaving != PageCtrl_->indexOf(keyBinds_) || !keyBinds_->KeyBindsChanged()) return;
    if (prompter_.Confirm(QStringLiteral("Do you want to save the changes u made?")))
        keyBinds_->SaveKeyBinds(*userIni_);
    else if (prompter_.Confirm(QStringLiteral("Do you want to undo changes?")))
        keyBinds_->LoadKeyBinds(*userIni_);
}

void TfrmMain::UT2k4Dir1Click() { LoadSetup(true); }

void TfrmMain::Showreadmetxt1Click() {
    TfrmReadme readme(ProgramDir, prompter_, this);
    readme.exec();
}

} // namespace app
