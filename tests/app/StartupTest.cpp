#include "app/TfrmInit.h"
#include "app/TfrmMain.h"
#include "app/TfrmReadme.h"
#include "banner/TBannerImage.h"
#include "ini/IniFile.h"
#include "keybinds/TKeyBindsPage.h"
#include "platform/FileJournal.h"
#include "platform/Installs.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/support/Dialogs.h"
#include "tests/support/GameFolder.h"
#include "tests/support/ScriptedPrompter.h"
#include "ui/ElidedLabel.h"
#include "ui/Prompter.h"
#include "ui/TfrmProgress.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>
#include <map>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace testsupport;

namespace {

class FakeRegistry final : public platform::Registry {
public:
    std::map<QString, QString> folders; // key -> Folder value
    std::optional<QString> ReadMachineString(const QString& key, const QString&) const override {
        auto it = folders.find(key);
        if (it == folders.end()) return std::nullopt;
        return it->second;
    }
};

const QString kFullKey = QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004");
const QString kDemoKey = QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004-Demo");

} // namespace

class StartupTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GameFolder> game;
    std::shared_ptr<FakeRegistry> registry;
    ScriptedPrompter prompter;

    app::StartupEnvironment env() {
        app::StartupEnvironment e;
        e.programDir = game->ProgramDir();
        e.settingsDir = game->ProgramDir();
        e.registry = registry;
        e.prompter = &prompter;
        e.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf"); // nothing listens there
        e.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        return e;
    }
    QString settingsText() { return QString::fromLatin1(ReadAll(game->SettingsFile())); }
    QString setting(const char* section, const char* key) {
        ini::TIniFile f(game->SettingsFile().toStdString());
        return QString::fromStdString(f.ReadText(section, key, "<missing>"));
    }
    static QString label(app::TfrmMain& w, const char* name) {
        return w.findChild<QLabel*>(QString::fromLatin1(name))->text();
    }
    static QString field(app::TfrmMain& w, const char* name) {
        return w.KeyBindsPage()->Field(name)->text();
    }

private slots:
    void init() {
        game = std::make_unique<GameFolder>();
        QVERIFY(game->IsValid());
        registry = std::make_shared<FakeRegistry>();
        prompter = ScriptedPrompter();
    }

    void firstRunProposesTheFullGameAndRecordsTheChoices() {
        registry->folders[kDemoKey] = QStringLiteral("/nowhere/demo");
        registry->folders[kFullKey] = game->GameDir();
        bool sawDialog = false, sawReadme = false;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            sawDialog = true;
            QCOMPARE(d->windowTitle(), QStringLiteral("Quorlex 2004 setup"));
            QCOMPARE(d->diredit->text(), QDir::toNativeSeparators(game->GameDir()));
            QVERIFY(d->cbAutoBackup->isChecked());
            QVERIFY(!d->cbAskBackup->isChecked());
            QVERIFY(!d->cbOverrideToday->isChecked());
            QVERIFY(d->cbUpdates->isChecked());
            QVERIFY(d->cbShowReadme->isChecked());
            WhenModal<app::TfrmReadme>([&](app::TfrmReadme* r) {
                sawReadme = true;
                QVERIFY(r->readmeMemo->toPlainText().contains(QStringLiteral("Quorlex 2004")));
                r->btnOk->click();
            });
            d->OKBtn->click();
        });
        app::TfrmMain w(env());
        QVERIFY(sawDialog);
        QVERIFY(sawReadme);
        QVERIFY(prompter.prompts.isEmpty());
        QVERIFY(w.StartupFinished);
        QVERIFY(w.PagesLoaded);
        QVERIFY(w.PageCtrl()->isEnabled());
        QCOMPARE(w.windowTitle(), QStringLiteral("Quorlex 2004 v2.0 - by Mervane"));
        QCOMPARE(setting("Quorlex", "Init"), QStringLiteral("False"));
        for (const char* key : {"AutoBackup", "CheckOnStartup", "ShowReadme"})
            QCOMPARE(setting("Quorlex", key), QStringLiteral("True"));
        for (const char* key : {"AskBackup", "OverrideToday"})
            QCOMPARE(setting("Quorlex", key), QStringLiteral("False"));
        QCOMPARE(setting("UT2k4", "Dir"), game->GameDir());
        QCOMPARE(setting("UT2k4", "System"), game->GameDir() + QStringLiteral("/System"));
        QCOMPARE(setting("UT2k4", "CurrentUserIni"), QStringLiteral("User.ini"));
        QCOMPARE(w.SystemDir, game->SystemDir());
        QCOMPARE(label(w, "lblDir"), QStringLiteral("UT2004 dir: ") + QDir::toNativeSeparators(game->GameDir()));
        QCOMPARE(label(w, "lblCurrUserIni"), QStringLiteral("Current User.Ini: ") + QDir::toNativeSeparators(game->SystemDir() + QStringLiteral("User.ini")));
        QCOMPARE(label(w, "lblCurrUt2004ini"), QStringLiteral("Current UT2004.Ini: ") + QDir::toNativeSeparators(game->SystemDir() + QStringLiteral("UT2004.ini")));
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Jump"));
        QCOMPARE(w.PageCtrl()->count(), 6);
        QCOMPARE(w.PageCtrl()->tabText(5), QStringLiteral("Inifiles"));
    }

    void cancelAtFirstRunEndsTheProgramAndWritesNothing() {
        WhenModal<app::TfrmInit>([](app::TfrmInit* d) { d->CancelBtn->click(); });
        app::TfrmMain w(env());
        QVERIFY(w.QuitRequested());
        QVERIFY(!w.PageCtrl()->isEnabled());
        QVERIFY(!w.StartupFinished);
        QVERIFY(!QFile::exists(game->SettingsFile()));
        QCOMPARE(field(w, "edtSpace"), QString());
    }

    void missingDirectoryAsksAgainAndTrailingSlashStoresOneSeparator() {
        registry->folders[kFullKey] = QStringLiteral("/proposed");
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            d->diredit->setText(game->GameDir() + QStringLiteral("/no/such/dir"));
            d->cbShowReadme->setChecked(false);
            WhenModal<app::TfrmInit>([&](app::TfrmInit* again) {
                QCOMPARE(again->diredit->text(), QDir::toNativeSeparators(QStringLiteral("/proposed"))); // a fresh dialog
                again->diredit->setText(game->GameDir() + QStringLiteral("/"));
                again->OKBtn->click();
            });
            d->OKBtn->click();
        });
        app::TfrmMain w(env());
        QCOMPARE(prompter.Texts(), QStringList{QStringLiteral("Directory does not exist!")});
        QCOMPARE(prompter.prompts[0].kind, ui::PromptKind::Error);
        QCOMPARE(setting("UT2k4", "Dir"), game->GameDir()); // stored clean and absolute
        QCOMPARE(setting("UT2k4", "System"), game->GameDir() + QStringLiteral("/System"));
        QVERIFY(w.StartupFinished);
    }

    // The native game's folder of the player's files looks like a game
    // folder; the setup refuses it and says which folder it wants.
    void thePlayersFolderOfTheNativeGameIsRefusedAsTheGameFolder() {
        auto e = env();
        e.home.home = game->HomeDir();
        const QString players = game->HomeDir() + QStringLiteral("/.ut2004");
        WriteAll(players + QStringLiteral("/System/User.ini"), "[Engine.Input]\r\nSpace=Jump\r\n");
        WriteAll(players + QStringLiteral("/System/UT2004.ini"), "[FirstRun]\r\nFirstRun=3374\r\n");
        QString note;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            d->diredit->setText(players + QStringLiteral("/System"));
            note = d->lblInstallNote->text();
            d->cbShowReadme->setChecked(false);
            WhenModal<app::TfrmInit>([&](app::TfrmInit* again) { again->CancelBtn->click(); });
            d->OKBtn->click();
        });
        app::TfrmMain w(e);
        QCOMPARE(prompter.Texts(), QStringList{platform::NativePlayerFolderHint()});
        QVERIFY(prompter.Texts()[0].startsWith(QStringLiteral("This is the folder where the native Linux UT2004 keeps your settings")));
        QCOMPARE(note, platform::NativePlayerFolderHint());
        QVERIFY(!setting("UT2k4", "Dir").contains(QStringLiteral(".ut2004")));
    }

    void nativeInstallIsProposedWhenTheRegistryIsEmpty() {
        auto e = env();
        e.nativeInstallCandidates = {QStringLiteral("/no/such/ut2004"), game->GameDir()};
        QString proposed;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            proposed = d->diredit->text();
            d->CancelBtn->click();
        });
        app::TfrmMain w(e);
        QCOMPARE(proposed, QDir::toNativeSeparators(game->GameDir()));
    }

    void initFalseWithoutSystemShowsTheDialog() {
        WriteAll(game->SettingsFile(), "[Quorlex]\r\nInit=False\r\n");
        bool shown = false;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            shown = true;
            d->CancelBtn->click();
        });
        app::TfrmMain w(env());
        QVERIFY(shown);
        QVERIFY(w.QuitRequested());
    }

    void recordedSettingsSkipTheDialog() {
        game->WriteSettings();
        app::TfrmMain w(env());
        QVERIFY(prompter.prompts.isEmpty());
        QVERIFY(w.StartupFinished);
        QVERIFY(!w.AutoBackup);
        QVERIFY(!w.CheckOnStartup);
        QCOMPARE(w.ViewportManager, QStringLiteral("WinDrv.WindowsClient"));
        QCOMPARE(field(w, "edtLeftMouse"), QStringLiteral("Fire"));
    }

    // A crash in the middle of replacing both files (a restore, the reset)
    // is finished or undone before the start reads them: never one of each.
    void interruptedPairIsSettledBeforeTheFilesAreRead() {
#ifdef _WIN32
        QSKIP("crashes a forked child at each step; Windows needs a harness of its own");
#else
        game->WriteSettings();
        const QString user = game->SystemDir() + QStringLiteral("User.ini");
        const QString main = game->SystemDir() + QStringLiteral("UT2004.ini");
        const QByteArray oldUser = ReadAll(user), oldMain = ReadAll(main);
        const QByteArray newUser = oldUser + "\r\n[Crash]\r\nNew=1\r\n", newMain = oldMain + "\r\n[Crash]\r\nNew=1\r\n";
        const QString srcUser = game->ProgramDir() + QStringLiteral("newUser.ini");
        const QString srcMain = game->ProgramDir() + QStringLiteral("newMain.ini");
        WriteAll(srcUser, newUser);
        WriteAll(srcMain, newMain);
        int sawOld = 0, sawNew = 0;
        for (int crashAt = 1; crashAt <= 12; ++crashAt) {
            WriteAll(user, oldUser);
            WriteAll(main, oldMain);
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                platform::journal::SetStepHookForTesting([crashAt](int step) {
                    if (step == crashAt) ::_exit(0);
                });
                platform::journal::Replace({{srcUser, user}, {srcMain, main}});
                ::_exit(0);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            prompter.Clear();
            {
                app::TfrmMain w(env());
                QVERIFY2(prompter.prompts.isEmpty(), qPrintable(prompter.Texts().join(QLatin1Char('|'))));
                QVERIFY(w.StartupFinished);
            }
            const QByteArray u = ReadAll(user), m = ReadAll(main);
            QVERIFY2((u == oldUser && m == oldMain) || (u == newUser && m == newMain), qPrintable(QString::number(crashAt)));
            (u == oldUser ? sawOld : sawNew)++;
            for (const QString& name : QDir(game->SystemDir()).entryList(QDir::Files | QDir::Hidden))
                QVERIFY2(!platform::journal::IsTemporaryName(name), qPrintable(name));
        }
        QVERIFY(sawOld > 0 && sawNew > 0); // the crash points cover both outcomes
#endif
    }

    // A journal that someone else could have written (a shared install) is
    // not acted on: the start says so once, and everything stays as it is.
    void journalOthersCouldWriteIsReportedAndLeftAlone() {
#ifdef _WIN32
        QSKIP("needs the number of an ended process (fork) and POSIX modes");
#else
        game->WriteSettings();
        const pid_t ended = ::fork();
        if (ended == 0) ::_exit(0);
        ::waitpid(ended, nullptr, 0);
        const QString name = QStringLiteral("replace.quorlex-%1-1.journal").arg(ended);
        const QString journal = game->SystemDir() + name;
        WriteAll(journal, "quorlex replace 2\n");
        QVERIFY(QFile::setPermissions(journal, QFile::Permissions(0x6666)));
        const QByteArray user = ReadAll(game->SystemDir() + QStringLiteral("User.ini"));
        app::TfrmMain w(env());
        QCOMPARE(
            prompter.Texts(),
            QStringList{
                QStringLiteral("These files in ") + game->SystemDir() +
                QStringLiteral(
                    " look like an unfinished save, but they are not yours alone (someone else can "
                    "write them, or they name files outside this folder), so they were left as "
                    "they "
                    "are:\n") +
                name +
                QStringLiteral(
                    "\nIf you did not put them there, someone who can write to this folder did.")});
        QVERIFY(w.StartupFinished);
        QCOMPARE(ReadAll(journal), QByteArray("quorlex replace 2\n"));
        QCOMPARE(ReadAll(game->SystemDir() + QStringLiteral("User.ini")), user);
#endif
    }

    void missingUserIniLeavesThePagesLocked() {
        game->WriteSettings();
        QFile::remove(game->SystemDir() + QStringLiteral("User.ini"));
        app::TfrmMain w(env());
        QCOMPARE(prompter.Texts(), QStringList{QStringLiteral("User.ini not found in: ") + game->SystemDir()});
        QVERIFY(!w.PageCtrl()->isEnabled());
        QVERIFY(!w.StartupFinished);
        QCOMPARE(label(w, "lblCurrUserIni"), QStringLiteral("Current User.Ini:"));
        // Save while locked does nothing at all.
        w.Save1Click();
        QCOMPARE(prompter.prompts.size(), 1);
    }

    void recordedCustomUserIniThatVanishedFallsBackToUserIni() {
        game->WriteSettings("CurrentUserIni=Gone.ini\r\n");
        app::TfrmMain w(env());
        QCOMPARE(w.CurrentUserIniName, QStringLiteral("User.ini"));
        QCOMPARE(setting("UT2k4", "CurrentUserIni"), QStringLiteral("User.ini"));
        QVERIFY(w.StartupFinished);
    }

    void recordedCustomUserIniIsUsed() {
        QFile::copy(game->SystemDir() + QStringLiteral("User.ini"), game->SystemDir() + QStringLiteral("Clan.ini"));
        ini::TIniFile clan((game->SystemDir() + QStringLiteral("Clan.ini")).toStdString());
        clan.WriteText("Engine.Input", "Space", "Duck");
        game->WriteSettings("CurrentUserIni=Clan.ini\r\n");
        app::TfrmMain w(env());
        QCOMPARE(w.CurrentUserIniName, QStringLiteral("Clan.ini"));
        QCOMPARE(label(w, "lblCurrUserIni"), QStringLiteral("Current User.Ini: ") + QDir::toNativeSeparators(game->SystemDir() + QStringLiteral("Clan.ini")));
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Duck"));
    }

    // A long path gives up its middle at the window's smallest width instead
    // of widening the window or running under the banner.
    void longPathsInTheHeaderLoseTheirMiddle() {
        const QString name = QString(120, QLatin1Char('x')) + QStringLiteral(".ini");
        QFile::copy(game->SystemDir() + QStringLiteral("User.ini"), game->SystemDir() + name);
        game->WriteSettings("CurrentUserIni=" + name.toUtf8() + "\r\n");
        app::TfrmMain w(env());
        w.resize(w.minimumSize());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.size(), w.minimumSize());
        auto* user =
            qobject_cast<ui::ElidedLabel*>(w.findChild<QLabel*>(QStringLiteral("lblCurrUserIni")));
        QVERIFY(user);
        QCOMPARE(user->text(), QStringLiteral("Current User.Ini: ") + game->SystemDir() + name);
        QCOMPARE(user->toolTip(), game->SystemDir() + name);
        QVERIFY2(user->ShownText().contains(QChar(0x2026)), qPrintable(user->ShownText()));
        QVERIFY(user->ShownText().startsWith(QStringLiteral("Current User.Ini: ")));
        QVERIFY(user->ShownText().endsWith(QStringLiteral("xx.ini")));
        const int bannerLeft = w.BannerImage1->mapTo(&w, QPoint(0, 0)).x();
        QVERIFY(user->mapTo(&w, QPoint(user->width(), 0)).x() <= bannerLeft);
        // A short path is shown whole, as are the others here.
        auto* dir = qobject_cast<ui::ElidedLabel*>(w.findChild<QLabel*>(QStringLiteral("lblDir")));
        QCOMPARE(dir->toolTip(), game->GameDir());
        QCOMPARE(dir->ShownText(), dir->text());
    }

    // At the window's smallest size the settings pages fit its width, no list
    // is cut, and Instant Action keeps its lists and its start in sight.
    void theSmallestWindowKeepsEveryPageUsable() {
        game->WriteSettings();
        app::TfrmMain w(env());
        w.resize(w.minimumSize());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto settle = [] {
            for (int i = 0; i < 3; ++i)
                QCoreApplication::processEvents();
        };
        for (const char* name : {"tabGeneral", "tabUT2k4"}) {
            QWidget* page = w.findChild<QWidget*>(QString::fromLatin1(name));
            w.PageCtrl()->setCurrentWidget(page);
            settle();
            auto* scroll = page->findChild<QScrollArea*>();
            QVERIFY2(scroll->horizontalScrollBar()->maximum() == 0, name);
            for (QComboBox* list : page->findChildren<QComboBox*>()) {
                if (!list->isVisibleTo(page)) continue;
                const QString what =
                    QString::fromLatin1(name) + QLatin1Char('.') + list->objectName();
                QVERIFY2(list->width() >= list->minimumSizeHint().width(), qPrintable(what));
                const int right = list->mapTo(scroll->viewport(), QPoint(list->width(), 0)).x();
                QVERIFY2(right <= scroll->viewport()->width(), qPrintable(what));
            }
        }
        QWidget* instant = w.findChild<QWidget*>(QStringLiteral("tabFrontEnd"));
        auto* scroll = instant->findChild<QScrollArea*>();
        auto* types = instant->findChild<QComboBox*>(QStringLiteral("pickGameType"));
        auto* start = instant->findChild<QPushButton*>(QStringLiteral("Button1"));
        for (int g = 0; g < types->count(); ++g) {
            w.PageCtrl()->setCurrentWidget(instant);
            types->setCurrentIndex(g);
            settle();
            const QRect shown(start->mapTo(scroll->viewport(), QPoint(0, 0)), start->size());
            QVERIFY2(scroll->viewport()->rect().contains(shown), qPrintable(types->currentText()));
            QCOMPARE(scroll->verticalScrollBar()->value(), 0);
            for (const char* name : {"lbMaps", "lbMutators"}) {
                auto* list = instant->findChild<QListWidget*>(QString::fromLatin1(name));
                QVERIFY2(list->width() >= list->fontMetrics().horizontalAdvance(
                                              QStringLiteral("CTF-BridgeOfFate")) +
                                              10,
                         name);
                QVERIFY2(list->viewport()->height() >= 4 * list->fontMetrics().height(), name);
            }
        }
    }

    // The splash stays on top of every window; while a dialog or a message
    // box is up it steps aside, or that would be hidden behind it.
    void theSplashNeverCoversADialog() {
        registry->folders[kFullKey] = game->GameDir();
        auto splashes = [](bool visibleOnly) {
            int n = 0;
            for (QWidget* top : QApplication::topLevelWidgets())
                if (qobject_cast<ui::TfrmProgress*>(top) && (!visibleOnly || top->isVisible())) ++n;
            return n;
        };
        int underSetup = -1, shownUnderSetup = -1, shownUnderReadme = -1;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            underSetup = splashes(false);
            shownUnderSetup = splashes(true);
            WhenModal<app::TfrmReadme>([&](app::TfrmReadme* r) {
                shownUnderReadme = splashes(true);
                r->btnOk->click();
            });
            d->cbUpdates->setChecked(false); // nothing to check here
            d->OKBtn->click();
        });
        {
            app::TfrmMain w(env());
            QVERIFY(w.StartupFinished);
        }
        QCOMPARE(underSetup, 1);
        QCOMPARE(shownUnderSetup, 0);
        QCOMPARE(shownUnderReadme, 0);
        // A message box, and the splash is back when it closes.
        ui::TfrmProgress splash;
        splash.show();
        QVERIFY(splash.isVisible());
        bool hiddenUnderBox = false;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            hiddenUnderBox = !splash.isVisible();
            box->accept();
        });
        ui::MessageBoxPrompter real;
        real.Information(QStringLiteral("A question at start-up"));
        QVERIFY(hiddenUnderBox);
        QVERIFY(splash.isVisible());
    }

    void viewportManagerComesFromUt2004Ini() {
        game->WriteSettings();
        ini::TIniFile ut((game->SystemDir() + QStringLiteral("UT2004.ini")).toStdString());
        ut.WriteText("Engine.Engine", "ViewportManager", "SDLDrv.SDLClient");
        app::TfrmMain w(env());
        QCOMPARE(w.ViewportManager, QStringLiteral("SDLDrv.SDLClient"));
    }

    // Options' Cancel changes no setting; it reloads the pages only when that
    // drops no unsaved edit.
    void optionsThenCancelChangesNoSettingAndKeepsTheEdits() {
        game->WriteSettings();
        app::TfrmMain w(env());
        const QByteArray before = ReadAll(game->SettingsFile());
        w.KeyBindsPage()->Field("edtSpace")->setText(QStringLiteral("unsaved"));
        prompter.Clear();
        WhenModal<app::TfrmInit>([](app::TfrmInit* d) { d->CancelBtn->click(); });
        w.UT2k4Dir1Click();
        QVERIFY(!w.QuitRequested());
        QCOMPARE(ReadAll(game->SettingsFile()), before);
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("unsaved"));
        QVERIFY(w.KeyBindsPage()->KeyBindsChanged());
        QVERIFY(prompter.prompts.isEmpty());
        // Without edits it reloads the pages from the files, as before.
        w.KeyBindsPage()->Field("edtSpace")->setText(QStringLiteral("Jump"));
        WriteAll(game->SystemDir() + QStringLiteral("User.ini"), "[Engine.Input]\r\nSpace=Fire\r\n");
        WhenModal<app::TfrmInit>([](app::TfrmInit* d) { d->CancelBtn->click(); });
        w.UT2k4Dir1Click();
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Fire"));
    }

    // Options' OK reloads every page: unsaved edits are asked about as Load
    // asks, and No keeps them and the setup as it was.
    void optionsThenOkAsksBeforeDroppingEdits() {
        game->WriteSettings();
        app::TfrmMain w(env());
        const QByteArray before = ReadAll(game->SettingsFile());
        const QString load =
            QStringLiteral("Some fields have changed, Loading will undo these changes\nAre you sure you want to Load?");
        w.KeyBindsPage()->Field("edtSpace")->setText(QStringLiteral("unsaved"));
        auto ok = [](app::TfrmInit* d) {
            d->cbShowReadme->setChecked(false);
            d->cbAutoBackup->setChecked(!d->cbAutoBackup->isChecked());
            d->OKBtn->click();
        };
        prompter.Clear();
        prompter.Answer(ui::Answer::No);
        WhenModal<app::TfrmInit>(ok);
        w.UT2k4Dir1Click();
        QCOMPARE(prompter.Texts(), QStringList{load});
        QCOMPARE(prompter.prompts[0].defaultAnswer, std::optional<ui::Answer>(ui::Answer::No));
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("unsaved"));
        QCOMPARE(ReadAll(game->SettingsFile()), before);

        prompter.Clear();
        prompter.Answer(ui::Answer::Yes);
        WhenModal<app::TfrmInit>(ok);
        w.UT2k4Dir1Click();
        QCOMPARE(prompter.Texts(), QStringList{load});
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Jump"));
        QVERIFY(ReadAll(game->SettingsFile()) != before);
    }

    void missingReadmeWarnsAndStillOpens() {
        QFile::remove(game->ProgramDir() + QStringLiteral("ReadMe.txt"));
        game->WriteSettings();
        app::TfrmMain w(env());
        bool opened = false;
        WhenModal<app::TfrmReadme>([&](app::TfrmReadme* r) {
            opened = true;
            QVERIFY(r->readmeMemo->toPlainText().isEmpty());
            r->btnOk->click();
        });
        w.Showreadmetxt1Click();
        QVERIFY(opened);
        QCOMPARE(prompter.Texts(), QStringList{QStringLiteral("Cannot open ReadMe.txt")});
        QCOMPARE(prompter.prompts[0].kind, ui::PromptKind::Warning);
    }

    // A read-only settings file is read all the same: the start goes on with
    // the folder chosen, and the player hears once that options will not last.
    void readOnlySettingsFileDoesNotBlockTheStart() {
        WriteAll(game->SettingsFile(), "[Quorlex]\r\n");
        QFile::setPermissions(game->SettingsFile(), QFile::ReadOwner);
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            d->diredit->setText(game->GameDir() + QStringLiteral("/System")); // the System folder, typed by mistake
            d->cbShowReadme->setChecked(false);
            d->OKBtn->click();
        });
        app::TfrmMain w(env());
        QCOMPARE(prompter.Texts().size(), 1);
        QVERIFY(prompter.Texts()[0].startsWith(QStringLiteral("Quorlex2004.ini cannot be written:")));
        QCOMPARE(prompter.prompts[0].kind, ui::PromptKind::Warning);
        QVERIFY(w.PageCtrl()->isEnabled());
        QCOMPARE(w.SystemDir, game->SystemDir());
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Jump"));
        QCOMPARE(ReadAll(game->SettingsFile()), QByteArray("[Quorlex]\r\n"));
    }

    void typedFoldersBecomeTheGameFolder() {
        const QString home = QDir::homePath();
        QCOMPARE(platform::GameFolderFromTyped(QStringLiteral(" ~ ")), home);
        QCOMPARE(platform::GameFolderFromTyped(QStringLiteral("~/Games/UT2004/")), home + QStringLiteral("/Games/UT2004"));
        QCOMPARE(platform::GameFolderFromTyped(game->SystemDir()), game->GameDir());
        QCOMPARE(platform::GameFolderFromTyped(game->GameDir() + QStringLiteral("/../UT2004")), game->GameDir());
        const QString here = QDir::currentPath();
        QVERIFY(QDir::setCurrent(game->GameDir() + QStringLiteral("/..")));
        QCOMPARE(platform::GameFolderFromTyped(QStringLiteral("UT2004")), game->GameDir());
        QDir::setCurrent(here);
        QCOMPARE(platform::GameFolderFromTyped(QString()), QString());
    }

    void optionsShowTheFolderInUseAndBrowseFillsIt() {
        game->WriteSettings();
        app::TfrmMain w(env());
        prompter.Clear();
        const QString other = game->ProgramDir();
        prompter.AnswerFile(other);
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            QCOMPARE(d->diredit->text(), QDir::toNativeSeparators(game->GameDir())); // not a fresh proposal
            d->btnBrowse->click();
            QCOMPARE(d->diredit->text(), QDir::toNativeSeparators(other));
            d->CancelBtn->click();
        });
        w.UT2k4Dir1Click();
    }

    app::StartupEnvironment nativeEnv() {
        auto e = env();
        e.home.home = game->HomeDir();
        e.home.cpuArchitecture = QStringLiteral("x86_64");
        e.nativeInstallCandidates = {game->GameDir()};
        return e;
    }

    // The native game reads the player's files in ~/.ut2004/System; the game
    // folder holds only what ships with the game.
    void nativeInstallReadsAndWritesThePlayersFilesInTheHome() {
        game->MakeNative();
        ini::TIniFile((game->PlayerSystemDir() + QStringLiteral("UT2004.ini")).toStdString())
            .WriteText("Engine.Engine", "RenderDevice", "OpenGLDrv.OpenGLRenderDevice");
        WriteAll(game->HomeDir() + QStringLiteral("/.ut2004/Maps/DM-Downloaded.ut2"), "map");
        QStringList items;
        QString note;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            for (int i = 0; i < d->pickInstall->count(); ++i) items << d->pickInstall->itemText(i);
            QCOMPARE(d->diredit->text(), QDir::toNativeSeparators(game->GameDir()));
            note = d->lblInstallNote->text();
            d->cbShowReadme->setChecked(false);
            d->OKBtn->click();
        });
        app::TfrmMain w(nativeEnv());
        QCOMPARE(items, QStringList{QStringLiteral("Native Linux: ") + game->GameDir()});
        QCOMPARE(note, QStringLiteral("Native Linux: your settings are in ~/.ut2004/System."));
        QCOMPARE(setting("UT2k4", "Dir"), game->GameDir());
        QCOMPARE(setting("UT2k4", "System"), game->HomeDir() + QStringLiteral("/.ut2004/System"));
        QCOMPARE(setting("UT2k4", "Kind"), QStringLiteral("native"));
        QCOMPARE(setting("UT2k4", "GameSystem"), game->GameDir() + QStringLiteral("/System"));
        QCOMPARE(w.SystemDir, game->PlayerSystemDir());
        QCOMPARE(label(w, "lblBuild"), QStringLiteral("UT2004 3369, native Linux"));
        QCOMPARE(label(w, "lblCurrUserIni"), QStringLiteral("Current User.Ini: ") + QDir::toNativeSeparators(game->PlayerSystemDir() + QStringLiteral("User.ini")));
        QCOMPARE(label(w, "lblCurrUt2004ini"), QStringLiteral("Current UT2004.Ini: ") + QDir::toNativeSeparators(game->PlayerSystemDir() + QStringLiteral("UT2004.ini")));
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Jump"));
        QVERIFY(prompter.prompts.isEmpty());
        // The characters come from the game folder's player lists.
        QVERIFY(w.findChild<QComboBox*>(QStringLiteral("dropChar"))->count() > 0);

        // Maps of the game folder and the player's downloads, one list.
        w.findChild<QComboBox*>(QStringLiteral("pickGameType"))->setCurrentIndex(1);
        QStringList maps;
        auto* lbMaps = w.findChild<QListWidget*>(QStringLiteral("lbMaps"));
        for (int i = 0; i < lbMaps->count(); ++i) maps << lbMaps->item(i)->text();
        QCOMPARE(maps, (QStringList{QStringLiteral("DM-Downloaded"), QStringLiteral("DM-Foundry"), QStringLiteral("DM-Quarry")}));

        // The presets' questions say what changes, and speak of no Direct3D
        // on a build that has none.
        using Command = void (app::TfrmMain::*)();
        for (Command preset : {&app::TfrmMain::Highquality1Click, &app::TfrmMain::Lowquality1Click}) {
            prompter.Clear();
            prompter.Answer(ui::Answer::No);
            (w.*preset)();
            QCOMPARE(prompter.Texts().size(), 1);
            const QString question = prompter.Texts()[0];
            QVERIFY2(question.contains(QStringLiteral("\nWhat changes:\n- ")), qPrintable(question));
            QVERIFY2(!question.contains(QStringLiteral("Direct3D")) && !question.contains(QStringLiteral("renderer:")),
                     qPrintable(question));
            QVERIFY(question.endsWith(QStringLiteral("Do you want to continue?")));
        }
        QVERIFY(w.findChild<QRadioButton*>(QStringLiteral("rbOpenGL"))->isChecked());
        prompter.Clear();

        // Saves reach the file the game reads.
        const QByteArray defUser = ReadAll(game->SystemDir() + QStringLiteral("DefUser.ini"));
        w.KeyBindsPage()->Field("edtSpace")->setText(QStringLiteral("Duck"));
        w.Save1Click();
        QCOMPARE(QString::fromStdString(ini::TIniFile((game->PlayerSystemDir() + QStringLiteral("User.ini")).toStdString())
                                            .ReadText("Engine.Input", "Space", "")),
                 QStringLiteral("Duck"));
        QVERIFY(!QFile::exists(game->SystemDir() + QStringLiteral("User.ini")));
        QVERIFY(!QFile::exists(game->SystemDir() + QStringLiteral("UT2004.ini")));

        // The reset takes the defaults from the game folder into the player's.
        prompter.Clear();
        prompter.Answer(ui::Answer::Yes);
        w.ResettodefaultClick();
        QCOMPARE(ReadAll(game->PlayerSystemDir() + QStringLiteral("User.ini")), defUser);
        QCOMPARE(ReadAll(game->PlayerSystemDir() + QStringLiteral("UT2004.ini")), ReadAll(game->SystemDir() + QStringLiteral("Default.ini")));
        QVERIFY(QFile::exists(game->PlayerSystemDir() + QStringLiteral("User.BAK")));
        QCOMPARE(ReadAll(game->SystemDir() + QStringLiteral("DefUser.ini")), defUser);
        QVERIFY(!QFile::exists(game->SystemDir() + QStringLiteral("User.BAK")));
    }

    void nativeInstallWithoutPlayerFilesSaysTheGameMakesThem() {
        game->MakeNative();
        QDir(game->PlayerSystemDir()).removeRecursively();
        QString note;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            note = d->lblInstallNote->text();
            d->cbShowReadme->setChecked(false);
            d->OKBtn->click();
        });
        app::TfrmMain w(nativeEnv());
        QCOMPARE(note, QStringLiteral("Native Linux: your settings are in ~/.ut2004/System. The game creates them there "
                                      "on its first start: start UT2004 once first."));
        QCOMPARE(prompter.Texts(), QStringList{QStringLiteral("User.ini not found in: ") + game->PlayerSystemDir() +
                                               QStringLiteral("\nThe game creates its settings files there on its first "
                                                              "start: start UT2004 once, then start Quorlex 2004 again.")});
        QVERIFY(!w.PageCtrl()->isEnabled());
        // Nothing was put into the game folder in their place.
        QVERIFY(!QFile::exists(game->SystemDir() + QStringLiteral("User.ini")));
    }

    // Options lists what is found again and keeps the folder in use chosen.
    void optionsListsTheInstallsAndKeepsTheOneInUse() {
        game->MakeNative();
        auto e = nativeEnv();
        // A second install: a Steam copy in the same home.
        const QString steamGame = game->HomeDir() + QStringLiteral("/.local/share/Steam/steamapps/common/Unreal Tournament 2004");
        WriteAll(steamGame + QStringLiteral("/System/Default.ini"), "[FirstRun]\r\nFirstRun=3374\r\n");
        WriteAll(steamGame + QStringLiteral("/System/UT2004.exe"), "MZ");
        WriteAll(steamGame + QStringLiteral("/System/User.ini"), "[Engine.Input]\r\nSpace=Fire\r\n");
        WriteAll(steamGame + QStringLiteral("/System/UT2004.ini"), "[FirstRun]\r\nFirstRun=3374\r\n");
        game->WriteSettings("Kind=native\r\n");
        // An older settings file names the game's System folder as the
        // player's; this one names the native player's folder.
        {
            ini::TIniFile s(game->SettingsFile().toStdString());
            s.WriteText("UT2k4", "System", (game->HomeDir() + QStringLiteral("/.ut2004/System")).toStdString());
            s.WriteText("UT2k4", "GameSystem", (game->GameDir() + QStringLiteral("/System")).toStdString());
        }
        app::TfrmMain w(e);
        QCOMPARE(w.SystemDir, game->PlayerSystemDir());
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Jump"));
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            QCOMPARE(d->pickInstall->count(), 2);
            QCOMPARE(d->pickInstall->itemText(0), QStringLiteral("Steam (Proton): ~/.local/share/Steam/steamapps/common/Unreal Tournament 2004"));
            QCOMPARE(d->pickInstall->currentIndex(), 1); // the one in use
            QCOMPARE(d->diredit->text(), QDir::toNativeSeparators(game->GameDir()));
            d->pickInstall->setCurrentIndex(0);
            emit d->pickInstall->activated(0);
            QCOMPARE(d->diredit->text(), steamGame);
            QCOMPARE(d->lblInstallNote->text(), QStringLiteral("Steam (Proton)."));
            d->cbShowReadme->setChecked(false);
            d->OKBtn->click();
        });
        w.UT2k4Dir1Click();
        QCOMPARE(setting("UT2k4", "Kind"), QStringLiteral("steam"));
        QCOMPARE(setting("UT2k4", "Prefix"), game->HomeDir() + QStringLiteral("/.local/share/Steam/steamapps/compatdata/13230/pfx"));
        QCOMPARE(w.SystemDir, steamGame + QStringLiteral("/System/"));
        QCOMPARE(label(w, "lblBuild"), QStringLiteral("UT2004 3374 under Proton (Steam)"));
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Fire"));
    }

    // The native game runs from its own folder while the player's files are
    // in the home: a save still asks while it runs.
    void aSaveWhileTheNativeGameRunsAsksFirst() {
#ifdef _WIN32
        QSKIP("the native Linux game's program; Windows' own game is in HistoryTest");
#endif
        game->MakeNative();
        game->WriteSettings("Kind=native\r\n");
        {
            ini::TIniFile s(game->SettingsFile().toStdString());
            s.WriteText("UT2k4", "System", (game->HomeDir() + QStringLiteral("/.ut2004/System")).toStdString());
            s.WriteText("UT2k4", "GameSystem", (game->GameDir() + QStringLiteral("/System")).toStdString());
        }
        app::TfrmMain w(nativeEnv());
        const QString standIn = game->SystemDir() + QStringLiteral("ut2004-bin-linux-amd64");
        QFile::remove(standIn);
        QVERIFY(QFile::copy(QStringLiteral("/bin/sleep"), standIn));
        QProcess running;
        running.start(standIn, {QStringLiteral("30")});
        QVERIFY(running.waitForStarted());
        const QByteArray before = ReadAll(game->PlayerSystemDir() + QStringLiteral("User.ini"));
        w.KeyBindsPage()->Field("edtSpace")->setText(QStringLiteral("Duck"));
        prompter.Clear();
        prompter.Answer(ui::Answer::No);
        w.Save1Click();
        running.kill();
        running.waitForFinished();
        QCOMPARE(prompter.Texts(),
                 QStringList{QStringLiteral("UT2004 is running. It will overwrite these settings when it exits. Save anyway?")});
        QCOMPARE(ReadAll(game->PlayerSystemDir() + QStringLiteral("User.ini")), before);
    }

    // A settings file of an older version names a native game's folder
    // only: the player's files in the home are the ones the game reads.
    void olderSettingsOfANativeGameEditThePlayersFiles() {
        game->MakeNative();
        game->WriteSettings();
        app::TfrmMain w(nativeEnv());
        QVERIFY(prompter.prompts.isEmpty());
        QCOMPARE(w.SystemDir, game->PlayerSystemDir());
        QCOMPARE(w.GameSystem(), game->SystemDir());
        QCOMPARE(label(w, "lblBuild"), QStringLiteral("UT2004 3369, native Linux"));
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Jump"));
        QCOMPARE(setting("UT2k4", "Kind"), QStringLiteral("<missing>"));
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
