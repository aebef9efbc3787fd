#include "app/TfrmMain.h"

#include "app/TfrmAbout.h"
#include "app/TfrmGuide.h"
#include "app/TfrmInit.h"
#include "app/TfrmReadme.h"
#include "banner/TBannerFeedThread.h"
#include "banner/TBannerImage.h"
#include "ini/IniFile.h"
#include "instantaction/TInstantActionPage.h"
#include "keybinds/TAliasesPage.h"
#include "keybinds/TKeyBindsPage.h"
#include "keybinds/TfrmTaunts.h"
#include "maintenance/Backups.h"
#include "maintenance/DefaultReset.h"
#include "maintenance/SaveHistory.h"
#include "maintenance/TIniFilesPage.h"
#include "maintenance/TfrmIniManager.h"
#include "net/CurlStream.h"
#include "platform/FileJournal.h"
#include "platform/Files.h"
#include "platform/Network.h"
#include "platform/Paths.h"
#include "platform/Shell.h"
#include "settings/Presets.h"
#include "settings/RenderDevices.h"
#include "settings/TGeneralSettingsPage.h"
#include "settings/TUT2k4SettingsPage.h"
#include "ui/ElidedLabel.h"
#include "ui/PendingEdits.h"
#include "ui/Prompter.h"
#include "ui/TfrmProgress.h"
#include "update/TUpdateClient.h"

#include <QTimer>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QScopeGuard>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShortcut>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QVBoxLayout>
#include <cstring>
#include <map>
#include <optional>

namespace app {

namespace {

std::string Std(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

struct TabInfo {
    const char* name;
    const char* caption;
};
constexpr TabInfo kTabs[] = {
    {"tabMain", "Key binds"},           {"tabAliases", "Aliases"},
    {"tabGeneral", "General Settings"}, {"tabUT2k4", "UT2004 Settings"},
    {"tabFrontEnd", "Instant Action"},  {"tabIniFiles", "Inifiles"},
};

using Handler = void (TfrmMain::*)();

// The menu, declared once. A null name is a separator; a null handler is a
// command of a later version, shown disabled.
struct MenuItem {
    const char* menu;
    const char* name;
    const char* caption;
    const char* shortcut; // the key that runs it, shown beside the caption
    const char* hint;
    Handler handler;
    bool visible;
};

constexpr MenuItem kMenu[] = {
    {"&File", "Reload1", "&Load", "Ctrl+O", "Reload the settings", &TfrmMain::Reload1Click, true},
    {"&File", "Save1", "&Save Changes", "Ctrl+S", "Save your settings", &TfrmMain::Save1Click,
     true},
    {"&File", "Review1", "&Review changes...", "Ctrl+R", "Show what a save would write",
     &TfrmMain::Review1Click, true},
    {"&File", "Undolastsave1", "&Undo last save", "Ctrl+Z",
     "Put the files back as they were before the last save", &TfrmMain::Undolastsave1Click, true},
    {"&File", "Redolastundo1", "R&edo last undo", "Ctrl+Shift+Z",
     "Put back what the last undo took back", &TfrmMain::Redolastundo1Click, true},
    {"&File", "Savehistory1", "Save &history...", nullptr,
     "The saves of the past, to see and to undo", &TfrmMain::Savehistory1Click, true},
    {"&File", nullptr, nullptr, nullptr, nullptr, nullptr, true},
    {"&File", "BackupINIfiles1", "&Backup INI files", "Ctrl+B", "Backup the ini files now",
     &TfrmMain::BackupINIs1Click, true},
    {"&File", "Backupmanager1", "&Backup manager", "Ctrl+M", "Open the backup manager",
     &TfrmMain::Backupmanager1Click, true},
    {"&File", nullptr, nullptr, nullptr, nullptr, nullptr, true},
    {"&File", "Openfiles1", "&Open custom user.ini..", "Ctrl+Shift+O", nullptr,
     &TfrmMain::Openfiles1Click, true},
    {"&File", "SaveINIfilesAS1", "S&ave custom user.ini as..", "Ctrl+Shift+S", nullptr,
     &TfrmMain::SaveINIfilesAS1Click, true},
    {"&File", nullptr, nullptr, nullptr, nullptr, nullptr, true},
    {"&File", "Exit1", "&Exit Quorlex 2004", "Alt+F4", "Exit Quorlex 2004", &TfrmMain::Exit1Click,
     true},
    {"&Quorlex 2004", "UT2k4Dir1", "Options", nullptr, "Re-run the setup",
     &TfrmMain::UT2k4Dir1Click, true},
    {"&Quorlex 2004", "Checkforupdates1", "&Check for updates", "Ctrl+U",
     "Check if there is a new version available", &TfrmMain::Checkforupdates1Click, true},
    {"&Quorlex 2004", nullptr, nullptr, nullptr, nullptr, nullptr, true},
    {"&Quorlex 2004", "Tauntlist1", "&Tauntlist", "Ctrl+T", "Open the list with taunts",
     &TfrmMain::auntlist1Click, false},
    {"&Quorlex 2004", nullptr, nullptr, nullptr, nullptr, nullptr, false},
    {"&Quorlex 2004", "Resettodefault", "Reset settings to &default", "Ctrl+D", nullptr,
     &TfrmMain::ResettodefaultClick, true},
    {"Predefined Settings", "Highquality1", "High quality", nullptr, nullptr,
     &TfrmMain::Highquality1Click, true},
    {"Predefined Settings", "Lowquality1", "Low quality", nullptr, nullptr,
     &TfrmMain::Lowquality1Click, true},
    {"&Help", "Quorlex2k4help1", "&Quorlex 2004 help", "F3", nullptr,
     &TfrmMain::Quorlex2k4help1Click, true},
    {"&Help", "Showreadmetxt1", "Show Readme.txt", "F1", nullptr, &TfrmMain::Showreadmetxt1Click,
     true},
    {"&Help", nullptr, nullptr, nullptr, nullptr, nullptr, true},
    {"&Help", "Abouty1", "&About", "F2", nullptr, &TfrmMain::Abouty1Click, true},
};

constexpr const char* kMenuNames[][2] = {
    {"&File", "File1"}, {"&Quorlex 2004", "Quorlex20041"}, {"Predefined Settings", "PredefinedSettings1"}, {"&Help", "Help1"}};

// The tool bar, left to right; a null name is a gap.
struct ToolButton {
    const char* name;
    const char* hint;
    const char* themeIcon;
    QStyle::StandardPixmap fallback;
    Handler handler;
    bool visible;
};

constexpr ToolButton kToolBar[] = {
    {"cxButton1", "Exit Quorlex 2004", "application-exit", QStyle::SP_DialogCloseButton, &TfrmMain::Exit1Click, true},
    {"cxButton2", "Reload the settings", "view-refresh", QStyle::SP_BrowserReload, &TfrmMain::Reload1Click, true},
    {"cxButton3", "Save your settings", "document-save", QStyle::SP_DialogSaveButton, &TfrmMain::Save1Click, true},
    {nullptr, nullptr, nullptr, QStyle::SP_CustomBase, nullptr, true},
    {"cxButton4", "Backup the ini files now", "document-save-as", QStyle::SP_DriveFDIcon, &TfrmMain::BackupINIs1Click, true},
    {"cxButton5", "Open the backup manager", "folder-open", QStyle::SP_DirOpenIcon, &TfrmMain::Backupmanager1Click, true},
    {"cxButton6", "Show taunt list", "format-justify-left", QStyle::SP_FileDialogContentsView, &TfrmMain::auntlist1Click, false},
    {"cxButton7", "Check for updates", "system-software-update", QStyle::SP_ArrowDown, &TfrmMain::Checkforupdates1Click, true},
    {"cxButton8", "Options", "preferences-system", QStyle::SP_FileDialogDetailedView, &TfrmMain::UT2k4Dir1Click, true},
    {nullptr, nullptr, nullptr, QStyle::SP_CustomBase, nullptr, true},
    {"cxButton9", "Restore default settings", "edit-undo", QStyle::SP_DialogResetButton, &TfrmMain::ResettodefaultClick, true},
};

} // namespace

TfrmMain::TfrmMain(StartupEnvironment env, QWidget* parent)
    : QMainWindow(parent),
      env_(std::move(env)),
      prompter_(*env_.prompter),
      ctx_{*env_.prompter, ini_, *this, [this](const std::function<void()>& f) { Guarded(f); }} {
    setObjectName(QStringLiteral("frmMain"));
    setMinimumSize(805, 598);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* top = new QWidget(central);
    top->setObjectName(QStringLiteral("pnlTop"));
    auto* labels = new QVBoxLayout(top);
    labels->setContentsMargins(4, 0, 4, 0);
    labels->setSpacing(0);
    // Long paths lose their middle, not the room of the banner beside them.
    lblDir_ = new ui::ElidedLabel(QStringLiteral("UT2k4 Dir:"), top);
    lblDir_->setObjectName(QStringLiteral("lblDir"));
    lblCurrUserIni_ = new ui::ElidedLabel(QStringLiteral("Current User.Ini:"), top);
    lblCurrUserIni_->setObjectName(QStringLiteral("lblCurrUserIni"));
    lblCurrUt2004ini_ = new ui::ElidedLabel(QStringLiteral("Current UT2004.Ini:"), top);
    lblCurrUt2004ini_->setObjectName(QStringLiteral("lblCurrUt2004ini"));
    lblBuild_ = new QLabel(top);
    lblBuild_->setObjectName(QStringLiteral("lblBuild"));
    for (QLabel* l : {lblDir_, lblBuild_, lblCurrUserIni_, lblCurrUt2004ini_}) labels->addWidget(l);
    auto* topRow = new QHBoxLayout;
    topRow->setContentsMargins(0, 0, 0, 0);
    topRow->addWidget(top, 1);
    BannerImage1 = new banner::TBannerImage(central);
    BannerImage1->setObjectName(QStringLiteral("BannerImage1"));
    BannerImage1->resize(358, 74);
    // A larger picture is scaled down to this, never the pages pushed aside.
    BannerImage1->SetSlot(QSize(358, 74));
    BannerImage1->setCursor(Qt::PointingHandCursor);
    BannerImage1->SetAnimate(true);
    BannerImage1->Async = true;
    BannerImage1->AutoSize = true;
    BannerImage1->CheckContentLength = false;
    BannerImage1->PicturePosition = banner::bpTopRight;
    BannerImage1->OnClick = [this](banner::TBannerImage*) { Guarded([this] { BannerImage1Click(); }); };
    topRow->addWidget(BannerImage1, 0, Qt::AlignRight | Qt::AlignTop);
    layout->addLayout(topRow);
    timerBanner = new QTimer(this);
    timerBanner->setObjectName(QStringLiteral("timerBanner"));
    timerBanner->setInterval(90000);
    connect(timerBanner, &QTimer::timeout, this, &TfrmMain::timerBannerTimer);

    PageCtrl_ = new QTabWidget(central);
    PageCtrl_->setObjectName(QStringLiteral("PageCtrl"));
    keyBinds_ = new keybinds::TKeyBindsPage(ctx_, PageCtrl_);
    aliases_ = new keybinds::TAliasesPage(ctx_, PageCtrl_);
    general_ = new settings::TGeneralSettingsPage(ctx_, PageCtrl_);
    ut2k4_ = new settings::TUT2k4SettingsPage(ctx_, PageCtrl_);
    instantAction_ = new instantaction::TInstantActionPage(ctx_, PageCtrl_);
    iniFiles_ = new maintenance::TIniFilesPage(ctx_, [this] { ReloadAllPages(); }, PageCtrl_);
    history_ = std::make_unique<maintenance::SaveHistory>(
        env_.historyDir.isEmpty() ? maintenance::SaveHistory::DefaultFolder() : env_.historyDir);
    iniFiles_->SetHistory(history_.get());
    iniFiles_->SetSavePages([this] {
        CommitEdits();
        return SaveAllPages();
    });
    ctx_.writeFiles = [this](const QString& command, const std::function<bool()>& writes) {
        return WriteGameFiles(command, writes);
    };
    iniFiles_->SetWriteFiles(ctx_.writeFiles);
    ctx_.replaceFiles = [this](const ui::PageContext::FileReplacement& r) {
        return ReplaceGameFiles(r);
    };
    QWidget* pages[] = {keyBinds_, aliases_, general_, ut2k4_, instantAction_, iniFiles_};
    int index = 0;
    for (const auto& tab : kTabs) {
        QWidget* page = pages[index++];
        if (!page) page = new QWidget(PageCtrl_);
        page->setObjectName(QString::fromLatin1(tab.name));
        PageCtrl_->addTab(page, QString::fromLatin1(tab.caption));
    }
    tabIniFiles_ = PageCtrl_->widget(5);
    tracked_ = {
        {keyBinds_, [this] { return keyBinds_->KeyBindsChanged(); },
         [this] { return keyBinds_->SaveKeyBinds(); },
         [this] { return keyBinds_->LoadKeyBinds(); }},
        {aliases_, [this] { return aliases_->AliasesChanged(); },
         [this] {
             aliases_->SaveAliases();
             return true;
         },
         [this] { return aliases_->LoadAliases(); }},
        {general_, [this] { return general_->GeneralSettingsChanged(); },
         [this] { return general_->SaveGeneralSettings(); },
         [this] { return general_->LoadGeneralSettings(); }},
        {ut2k4_, [this] { return ut2k4_->UT2k4SettingsChanged(); },
         [this] { return ut2k4_->SaveUT2k4Settings(); },
         [this] { return ut2k4_->LoadUT2k4Settings(); }},
        // Its rules and its start settings are edits like any other page's.
        {instantAction_, [this] { return !instantAction_->PendingChanges().empty(); },
         [this] {
             instantAction_->SaveGameTypeRules();
             return true;
         },
         [this] {
             instantAction_->LoadGameTypeRules();
             return true;
         }},
    };
    PageCtrl_->setEnabled(false);
    layout->addWidget(PageCtrl_, 1);
    setCentralWidget(central);
    BuildMenuAndToolBar();
    connect(PageCtrl_, &QTabWidget::currentChanged, this, &TfrmMain::PageCtrlCurrentChanged);

    if (auto* screen = QGuiApplication::primaryScreen())
        resize(QSize(1180, 760).boundedTo(screen->availableSize()));
    ConfigureUpdateClient();
    FormCreate();
}

TfrmMain::~TfrmMain() {
    // Nothing may hold the exit: running transfers end now, and the banner's
    // threads get two seconds at most.
    net::CancelAll();
    banner::StopBannerThreads(feed_.data(), BannerImage1);
    try {
        ReleaseIniHandles();
    } catch (...) {
    }
}

void TfrmMain::BuildMenuAndToolBar() {
    std::map<QString, QMenu*> menus;
    for (const auto& [caption, name] : kMenuNames) {
        auto* m = menuBar()->addMenu(QString::fromLatin1(caption));
        m->setObjectName(QString::fromLatin1(name));
        m->setToolTipsVisible(true);
        menus[QString::fromLatin1(caption)] = m;
    }
    for (const auto& item : kMenu) {
        QMenu* menu = menus[QString::fromLatin1(item.menu)];
        if (!item.name) {
            menu->addSeparator()->setVisible(item.visible);
            continue;
        }
        auto* act = menu->addAction(QString::fromLatin1(item.caption));
        act->setObjectName(QString::fromLatin1(item.name));
        // Qt drops the short cut of an invisible action, so a hidden item's
        // key is a window short cut of its own (and not also the action's,
        // which would make the key ambiguous).
        if (item.shortcut && item.visible) act->setShortcut(QKeySequence(QString::fromLatin1(item.shortcut)));
        if (item.hint) act->setToolTip(QString::fromLatin1(item.hint));
        act->setEnabled(item.handler != nullptr);
        if (item.handler) {
            const Handler h = item.handler;
            connect(act, &QAction::triggered, this, [this, h] { Guarded([this, h] { (this->*h)(); }); });
            if (!item.visible && item.shortcut) {
                auto* sc = new QShortcut(QKeySequence(QString::fromLatin1(item.shortcut)), this);
                sc->setObjectName(QString::fromLatin1(item.name) + QStringLiteral("Shortcut"));
                connect(sc, &QShortcut::activated, this, [this, h] { Guarded([this, h] { (this->*h)(); }); });
            }
        }
        act->setVisible(item.visible);
    }

    auto* bar = addToolBar(QStringLiteral("Commands"));
    bar->setObjectName(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    for (const auto& b : kToolBar) {
        if (!b.name) {
            bar->addSeparator();
            continue;
        }
        auto* act = bar->addAction(
            QIcon::fromTheme(QString::fromLatin1(b.themeIcon), style()->standardIcon(b.fallback)),
            QString::fromLatin1(b.hint));
        act->setObjectName(QString::fromLatin1(b.name));
        act->setToolTip(QString::fromLatin1(b.hint));
        act->setEnabled(b.handler != nullptr);
        act->setVisible(b.visible);
        if (QWidget* w = bar->widgetForAction(act)) w->setObjectName(QString::fromLatin1(b.name));
        if (b.handler) {
            const Handler h = b.handler;
            connect(act, &QAction::triggered, this, [this, h] { Guarded([this, h] { (this->*h)(); }); });
        }
    }
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
    random_.seed(std::random_device{}());
}

void TfrmMain::showEvent(QShowEvent* e) {
    if (splash_) delete splash_;
    QMainWindow::showEvent(e);
    if (shownOnce_) return;
    shownOnce_ = true;
    timerBanner->start();
    if (Online()) StartBannerFeed();
}

bool TfrmMain::Online() const { return env_.isOnline ? env_.isOnline() : platform::IsOnline(); }

void TfrmMain::timerBannerTimer() {
    if (Online()) StartBannerFeed();
}

void TfrmMain::StartBannerFeed() {
    // A fetch still running when the timer fires makes that tick skip:
    // two fetches would share the staging files.
    if (feed_ && feed_->isRunning()) return;
    QString url = env_.bannerUrl;
    if (ini_.SettingsIni)
        if (const QString own = Q(ini_.SettingsIni->ReadText("Quorlex", "BannerURL", "")); !own.isEmpty()) url = own;
    banner::TBannerFeedThread::Setup setup;
    setup.feedUrl = url;
    setup.dataDir = env_.settingsDir;
    setup.defaultLink = QStringLiteral("https://www.quorlex2004.org/");
    setup.random = &random_;
    setup.show = [this](const QString& link, const QString& picture) {
        clickLink_ = link;
        if (!picture.isEmpty()) BannerImage1->SetURL(picture);
    };
    clickLink_ = setup.defaultLink;
    feedStarted_ = true;
    feed_ = new banner::TBannerFeedThread(setup, this);
    connect(feed_, &QThread::finished, feed_, &QObject::deleteLater);
    feed_->start();
}

void TfrmMain::BannerImage1Click() {
    if (!feedStarted_ || clickLink_.isEmpty()) return;
    platform::ShellOpen(clickLink_);
}

void TfrmMain::LoadSetup(bool showDialog) {
    ProgramDir = env_.programDir;
    const std::string settingsPath = Std(env_.settingsDir + QStringLiteral("Quorlex2004.ini"));
    // UTF-8, so a game folder of any name is found again; an older
    // Windows-1252 file is converted once, keeping what it says.
    if (QFileInfo::exists(Q(settingsPath))) MakeSettingsUtf8(settingsPath);
    ini_.SettingsIni = std::make_unique<ini::TIniFile>(settingsPath);
    auto& settings = *ini_.SettingsIni;
    AutoBackup = settings.ReadFlag("Quorlex", "AutoBackup", true);
    CheckOnStartup = settings.ReadFlag("Quorlex", "CheckOnStartup", true);
    AskBackup = settings.ReadFlag("Quorlex", "AskBackup", false);
    OverrideToday = settings.ReadFlag("Quorlex", "OverrideToday", false);
    ShowChangesBeforeSave = settings.ReadFlag("Quorlex", "ShowChanges", false);
    const bool init = settings.ReadFlag("Quorlex", "Init", true);

    if (showDialog || init) {
        if (!RunSetupLoop(showDialog)) return;
    }
    for (;;) {
        SystemDir = platform::WithTrailingBackslash(Q(settings.ReadText("UT2k4", "System", "")));
        if (SystemDir.isEmpty()) SystemDir = unsavedSystemDir_; // chosen, but the settings file is read-only
        if (!SystemDir.isEmpty()) break;
        if (!RunSetupLoop(showDialog)) return;
    }
    const bool unsaved = settings.ReadText("UT2k4", "System", "").empty();
    InstallKind = unsaved ? unsavedKind_ : Q(settings.ReadText("UT2k4", "Kind", ""));
    GameSystemDir = platform::WithTrailingBackslash(unsaved ? unsavedGameSystem_ : Q(settings.ReadText("UT2k4", "GameSystem", "")));
    WinePrefix = unsaved ? unsavedPrefix_ : Q(settings.ReadText("UT2k4", "Prefix", ""));
    if (!unsaved && settings.ReadText("UT2k4", "Kind", "\x01") == "\x01") AdoptInstallOfOlderSettings();
    // A pair of files a crash left half replaced is finished or undone
    // before anything reads them; it may bring back a missing User.ini.
    const QStringList leftAlone = platform::RecoverInterruptedReplacements(SystemDir);
    // The temporary files of a save that was killed go too.
    if (!SystemDir.isEmpty()) ini::RemoveInterruptedSaves(SystemDir.toStdString());
    // In a folder others can write, such files may have been put there by
    // someone else: the player hears of them once, and they stay as they are.
    if (!leftAlone.isEmpty())
        prompter_.Warning(
            QStringLiteral("These files in ") + SystemDir +
            QStringLiteral(" look like an unfinished save, but they are not yours alone "
                           "(someone else can write them, or they name files outside this "
                           "folder), so they were left as they are:\n") +
            leftAlone.join(QLatin1Char('\n')) +
            QStringLiteral("\nIf you did not put them there, someone who can write to "
                           "this folder did."));
    if (!LocateGameFiles()) return;
    LoadAllPagesAtStartup();
}

void TfrmMain::MakeSettingsUtf8(const std::string& path) {
    try {
        ini::MakeUtf8File(path);
    } catch (const ini::EIniFileException&) {
        // A read-only settings file is still read as it is.
    }
}

void TfrmMain::RememberSettings(const std::function<void()>& writes) {
    try {
        writes();
    } catch (const ini::EIniFileException&) {
        // A read-only settings file is read all the same; the player hears
        // once that what he sets now lasts until the program ends.
        if (settingsReadOnlyTold_) return;
        settingsReadOnlyTold_ = true;
        prompter_.Warning(QStringLiteral("Quorlex2004.ini cannot be written:\n") + Q(ini_.SettingsIni->FileName()) +
                          QStringLiteral("\nThe program works, but changed options will not be remembered."));
    }
}

void TfrmMain::LoadAllPagesAtStartup() {
    // The page area stays disabled until every loader has run: after an
    // uncaught loader error, the later pages still hold their initial
    // contents, and a save must not write those over the player's files.
    CommitEdits();
    PageCtrl_->setEnabled(false);
    try {
        SetSplashPosition(2);
        keyBinds_->LoadKeyBinds();
        LetEventsRun();
        aliases_->LoadAliases();
        LetEventsRun();
        SetSplashPosition(3);
        general_->LoadGeneralSettings();
        LetEventsRun();
        instantAction_->LoadGameTypeRules();
        LetEventsRun();
        iniFiles_->LoadRawIniText();
        LetEventsRun();
        SetSplashPosition(4);
        ut2k4_->LoadUT2k4Settings();
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

void TfrmMain::CommitEdits() { ui::CommitPendingEdits(this); }

bool TfrmMain::AnyPageChanged() {
    CommitEdits();
    for (const auto& page : tracked_)
        if (page.changed()) return true;
    return iniFiles_->RawTextChanged();
}

bool TfrmMain::WriteGameFiles(const QString& command, const std::function<bool()>& writes) {
    CommitEdits();
    // Inside a command that already runs as one step, its writes join it.
    if (inStep_) return writes();
    if (!saving_ && !MayReplaceGameFiles()) return false;
    const QScopedValueRollback<bool> saving(saving_, true);
    const QScopedValueRollback<bool> inStep(inStep_, true);
    maintenance::HistoryScope history(history_.get(), command, GameFiles());
    // What the pages take as saved moves only once the files are in place.
    ini::SaveStep step;
    std::optional<ini::TIniFile::Hold> user, engine;
    if (ini_.UserIni) user.emplace(*ini_.UserIni);
    if (ini_.Ut2004Ini) engine.emplace(*ini_.Ut2004Ini);
    // A write that failed has told why; the holds then drop every edit, so
    // no file gets half a save.
    if (!writes()) return false;
    std::vector<std::pair<QString, QString>> pairs;
    std::vector<std::string> staged;
    const auto removeStaged = qScopeGuard([&] {
        for (const auto& path : staged)
            QFile::remove(Q(path));
    });
    try {
        for (auto* hold : {&user, &engine})
            if (*hold && (*hold)->Dirty()) {
                staged.push_back((*hold)->Stage());
                pairs.emplace_back(Q(staged.back()), Q((*hold)->Target()));
            }
    } catch (const ini::EIniFileException& e) {
        delete splash_;
        prompter_.Error(Q(e.what()));
        return false;
    }
    // Both files in one crash-safe step: a crash leaves both old or both new.
    if (!platform::journal::Replace(pairs)) {
        const int error = errno;
        QStringList names;
        for (const auto& [from, to] : pairs)
            names << to;
        delete splash_;
        prompter_.Error(QStringLiteral("Unable to write to ") +
                        names.join(QStringLiteral(" and ")) +
                        (error ? QStringLiteral(" (") +
                                     QString::fromLocal8Bit(std::strerror(error)) + QLatin1Char(')')
                               : QString()));
        return false;
    }
    for (auto* hold : {&user, &engine})
        if (*hold && (*hold)->Dirty()) (*hold)->Kept();
    step.Succeeded();
    return true;
}

bool TfrmMain::ReplaceGameFiles(const ui::PageContext::FileReplacement& r) {
    // What the player typed last counts as an edit the files would drop.
    if (PageCtrl_->isEnabled() && AnyPageChanged() &&
        !prompter_.Confirm(
            QStringLiteral("Some fields have changed and are not saved.\n%1 will undo "
                           "these changes. Are you sure you want to continue?")
                .arg(r.doing),
            ui::Answer::No))
        return false;
    if (!MayReplaceGameFiles(true)) return false;
    // A file the player made read-only (to protect his binds, say) is left
    // alone, as a save leaves it.
    for (const QString& path : r.targets)
        if (platform::IsReadOnlyFile(path)) {
            prompter_.Error(QStringLiteral("Unable to write to ") + path +
                            QStringLiteral(" (the file is read-only)\n") + r.notDone);
            return false;
        }
    // The targets too: an undo may name a user INI file the player has since left.
    QStringList kept = GameFiles();
    for (const QString& path : r.targets)
        if (!kept.contains(path)) kept << path;
    maintenance::HistoryScope history(history_.get(), r.command, kept);
    return r.step();
}

bool TfrmMain::SaveAllPages() {
    return WriteGameFiles(QStringLiteral("Save"), [this] { return RunSavers(); });
}

bool TfrmMain::RunSavers() {
    const std::function<bool()> savers[] = {
        [this] { return keyBinds_->SaveKeyBinds(); },
        [this] { aliases_->SaveAliases(); return true; },
        [this] { return general_->SaveGeneralSettings(); },
        [this] { instantAction_->SaveGameTypeRules(); return true; },
        [this] { return ut2k4_->SaveUT2k4Settings(); },
    };
    bool reported = false; // a saver has shown its own error
    int step = 0;
    for (const auto& saver : savers) {
        try {
            if (!saver()) reported = true;
        } catch (...) {
            // An error a saver lets through ends the savers. It goes on to
            // the general error report, unless the user has already been
            // told about the failing file by an earlier saver.
            if (!reported) throw;
            return false;
        }
        if (++step < 5) SetSplashPosition(step);
        LetEventsRun();
    }
    return !reported;
}

void TfrmMain::ReloadAllPages() {
    // An editor left open would write its text back over the loaded value.
    CommitEdits();
    keyBinds_->LoadKeyBinds();
    aliases_->LoadAliases();
    iniFiles_->LoadRawIniText();
    general_->LoadGeneralSettings();
    instantAction_->LoadGameTypeRules();
    ut2k4_->LoadUT2k4Settings();
}

void TfrmMain::Save1Click() { SaveCommand(ShowChangesBeforeSave); }

void TfrmMain::SaveCommand(bool review) {
    if (!PageCtrl_->isEnabled()) return;
    CommitEdits();
    const std::vector<ReviewRow> changes = PendingReview();
    if (review && !RunReview(changes)) return;
    if (!MayReplaceGameFiles()) return;
    const QScopedValueRollback<bool> saving(saving_, true);
    splash_ = new ui::TfrmProgress(this);
    splash_->SetText(QStringLiteral("Saving...."));
    splash_->show();
    splash_->SetMaximum(5);
    splash_->SetPosition(0);
    // The splash stays on top of everything: no way out of the save may leave it.
    const auto dropSplash = qScopeGuard([this] { delete splash_; });
    LetEventsRun();
    // A saver that failed has shown its error; claiming success then would lie.
    bool ok = SaveAllPages();
    // Raw text the player edited is written too, whichever page Save was
    // pressed on: after the pages, merged with what they just wrote, so
    // neither overwrites the other; untouched text is not written.
    const bool onIniFiles = PageCtrl_->currentWidget() == tabIniFiles_;
    if (ok && onIniFiles && iniFiles_->RawTextChanged()) {
        // On its own page the raw save asks as its button does.
        delete splash_;
        iniFiles_->btnSaveInisClick();
    } else if (ok && iniFiles_->RawTextChanged()) {
        delete splash_;
        ok = WriteGameFiles(QStringLiteral("Save the ini files"), [this] {
            iniFiles_->WriteEditedText();
            return true;
        });
        ReloadAllPages();
    }
    iniFiles_->Refill(!onIniFiles);
    delete splash_;
    if (ok)
        prompter_.InformationWithDetails(
            QStringLiteral("The changes have been successfully saved!"), ReviewText(changes));
}

bool TfrmMain::SaveBeforeExit() {
    // Kept like Save's, so Undo last save puts back what the exit wrote.
    if (!SaveAllPages()) return false;
    if (iniFiles_->RawTextChanged())
        return WriteGameFiles(QStringLiteral("Save the ini files"), [this] {
            iniFiles_->WriteEditedText();
            return true;
        });
    return true;
}

bool TfrmMain::MayDropEdits() {
    return !PageCtrl_->isEnabled() || !AnyPageChanged() ||
           prompter_.Confirm(QStringLiteral("Some fields have changed, Loading will undo these "
                                            "changes\nAre you sure you want to Load?"),
                             ui::Answer::No);
}

void TfrmMain::Reload1Click() {
    if (!PageCtrl_->isEnabled()) return;
    if (!MayDropEdits()) return;
    ReloadAllPages();
    prompter_.Information(QStringLiteral("The settings have been reloaded"));
}

bool TfrmMain::MayEndWithEdits() {
    if (!PageCtrl_->isEnabled() || !AnyPageChanged()) return true;
    const auto answer = prompter_.Ask(
        ui::PromptKind::Confirmation,
        QStringLiteral("You have made some changes\nDo you want to save your changes?"),
        ui::Buttons::YesNoCancel);
    if (answer == ui::Answer::Cancel) return false;
    // A failed or declined save keeps the program and the edits.
    return answer == ui::Answer::No || SaveBeforeExit();
}

void TfrmMain::Exit1Click() {
    if (PageCtrl_->isEnabled() && AnyPageChanged() &&
        prompter_.Confirm(QStringLiteral("You have made some changes\nDo you want to save your changes?"))) {
        // A failed or declined save keeps the window and the edits: nothing was saved to exit on.
        if (!SaveBeforeExit()) return;
        if (prompter_.Ask(ui::PromptKind::Confirmation,
                          QStringLiteral("Your changes have been saved, press OK to exit"),
                          ui::Buttons::OkCancel) == ui::Answer::Cancel)
            return;
    }
    exiting_ = true;
    close();
}

void TfrmMain::closeEvent(QCloseEvent* e) {
    if (!exiting_) {
        bool keepOpen = true;
        Guarded([&] { keepOpen = !MayEndWithEdits(); });
        if (keepOpen) {
            e->ignore();
            return;
        }
    }
    exiting_ = false;
    Guarded([this] { ReleaseIniHandles(); });
    closed_ = true;
    // An update run waits in its own loop: it ends now, quietly, and the
    // program with it, instead of blaming the server for the cancel.
    if (UpdateClient1 && UpdateClient1->Running()) UpdateClient1->Abort();
    net::CancelAll();
    e->accept();
}

void TfrmMain::ReleaseIniHandles() {
    for (auto* handle : {&ini_.Ut2004Ini, &ini_.UserIni, &ini_.SettingsIni}) {
        if (*handle) (*handle)->Flush();
        handle->reset();
    }
}

void TfrmMain::UT2k4Dir1Click() { LoadSetup(true); }

QString TfrmMain::CurrentUserIniDir() const {
    return ini_.UserIni ? platform::DirPart(Q(ini_.UserIni->FileName())) : SystemDir;
}

// Both custom-file commands end here: record the name, start over on it.
void TfrmMain::SwitchUserIni(const QString& chosenPath) {
    ini_.SettingsIni->WriteText("UT2k4", "CurrentUserIni", Std(platform::FileNamePart(chosenPath)));
    ini_.SettingsIni->Flush();
    ini_.SettingsIni.reset();
    LoadSetup(false);
}

void TfrmMain::Openfiles1Click() {
    if (!PageCtrl_->isEnabled() || !MaySwitchUserIni()) return;
    prompter_.Message(QStringLiteral("Select the User.ini, or a User.ini with a different filename"));
    ui::FileDialog dialog;
    dialog.directory = CurrentUserIniDir();
    dialog.filter = QStringLiteral("Ini files|*.ini");
    dialog.mustExist = true;
    const auto chosen = prompter_.OpenFile(dialog);
    if (!chosen) return;
    SwitchUserIni(*chosen);
    prompter_.Information(QStringLiteral("Your current ini has now changed into: ") + *chosen);
}

void TfrmMain::SaveINIfilesAS1Click() {
    if (!PageCtrl_->isEnabled() || !MaySwitchUserIni()) return;
    ui::FileDialog dialog;
    dialog.directory = CurrentUserIniDir();
    dialog.filter = QStringLiteral("Ini files|*.ini");
    dialog.defaultExtension = QStringLiteral("ini");
    const auto chosen = prompter_.SaveFile(dialog);
    if (!chosen) return;
    const QString source = Q(ini_.UserIni->FileName());
    // Switching to a copy that is not there would quietly fall back to User.ini.
    if (QFileInfo(*chosen).absoluteFilePath() != QFileInfo(source).absoluteFilePath() &&
        !platform::ReplaceFiles({{source, *chosen}})) {
        prompter_.Warning(QStringLiteral("Could not copy ") + source + QStringLiteral("\nto ") + *chosen +
                          QStringLiteral("\nThe current user.ini stays in use."));
        return;
    }
    SwitchUserIni(*chosen);
}

void TfrmMain::Quorlex2k4help1Click() {
    TfrmGuide guide(ProgramDir, this);
    if (!guide.Loaded()) {
        prompter_.Warning(QStringLiteral("Cannot open the user's guide:\n") +
                          TfrmGuide::GuidePath(ProgramDir));
        return;
    }
    guide.exec();
}

void TfrmMain::Showreadmetxt1Click() {
    TfrmReadme readme(ProgramDir, prompter_, this);
    readme.exec();
}

void TfrmMain::Abouty1Click() {
    TfrmAbout about(this);
    about.exec();
}

void TfrmMain::BackupIniFiles(bool reportSuccess) {
    maintenance::BackupIniFiles(ctx_, reportSuccess, AskBackup, OverrideToday);
}

// Both backup commands also work while the pages are locked: a start that
// could not load the files is when a backup is needed most.
void TfrmMain::BackupINIs1Click() {
    if (GameFolderKnown()) BackupIniFiles(true);
}

void TfrmMain::Backupmanager1Click() {
    if (!GameFolderKnown()) return;
    maintenance::TfrmIniManager manager(
        ctx_, {[this] { BackupIniFiles(true); }, [this] { ReloadAfterRestore(); }}, this);
    manager.exec();
}

void TfrmMain::ResettodefaultClick() {
    if (!PageCtrl_->isEnabled()) return;
    maintenance::ResetToDefaults(ctx_, [this] { ReloadAllPages(); });
}

void TfrmMain::ApplyQualityPreset(bool high) {
    if (!PageCtrl_->isEnabled()) return;
    const auto quality = high ? settings::Quality::High : settings::Quality::Low;
    QString question = high ? QStringLiteral("This will put your UT2004 into High Quality mode.\n")
                            : QStringLiteral("This will put your UT2004 into Low Quality mode.\n");
    question += QStringLiteral("It will change the settings to the recommended values.\n");
    // Advice about going back to Direct3D only where the build has it.
    const bool hasDirect3d = ut2k4_->DeviceOffered(settings::D3D) || ut2k4_->DeviceOffered(settings::D3D9);
    if (!high && hasDirect3d)
        question += QStringLiteral("It will switch to OpenGL mode. If the game doesn't run anymore "
                                   "try switching back to Direct3D\n");
    // The player sees what changes before anything does.
    const QStringList changes = settings::PresetChanges(*ut2k4_, quality);
    if (!changes.isEmpty()) question += QStringLiteral("What changes:\n- ") + changes.join(QStringLiteral("\n- ")) + QLatin1Char('\n');
    question += QStringLiteral("Do you want to continue?");
    if (!prompter_.Confirm(question)) return;
    // Always asked before a preset, whatever the setting says.
    maintenance::BackupIniFiles(ctx_, true, true, OverrideToday);
    settings::ApplyPreset(*ut2k4_, quality);
}

void TfrmMain::Highquality1Click() { ApplyQualityPreset(true); }

ui::TfrmProgress* TfrmMain::ProgressWindow() const { return splash_; }

void TfrmMain::Lowquality1Click() { ApplyQualityPreset(false); }

void TfrmMain::auntlist1Click() {
    auto* taunts = new keybinds::TfrmTaunts(this);
    taunts->show();
}

} // namespace app
