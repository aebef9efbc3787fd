#include "app/TfrmInit.h"
#include "app/TfrmMain.h"
#include "app/TfrmReadme.h"
#include "ini/IniFile.h"
#include "keybinds/TKeyBindsPage.h"
#include "platform/FileJournal.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "tests/support/Dialogs.h"
#include "tests/support/GameFolder.h"
#include "tests/support/ScriptedPrompter.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>
#include <sys/wait.h>
#include <unistd.h>
#include <map>

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
            QCOMPARE(d->diredit->text(), game->GameDir());
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
        QCOMPARE(label(w, "lblDir"), QStringLiteral("UT2004 dir: ") + game->GameDir());
        QCOMPARE(label(w, "lblCurrUserIni"), QStringLiteral("Current User.Ini: ") + game->SystemDir() + QStringLiteral("User.ini"));
        QCOMPARE(label(w, "lblCurrUt2004ini"), QStringLiteral("Current UT2004.Ini: ") + game->SystemDir() + QStringLiteral("UT2004.ini"));
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
                QCOMPARE(again->diredit->text(), QStringLiteral("/proposed")); // a fresh dialog
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

    void nativeInstallIsProposedWhenTheRegistryIsEmpty() {
        auto e = env();
        e.nativeInstallCandidates = {QStringLiteral("/no/such/ut2004"), game->GameDir()};
        QString proposed;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            proposed = d->diredit->text();
            d->CancelBtn->click();
        });
        app::TfrmMain w(e);
        QCOMPARE(proposed, game->GameDir());
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
        QCOMPARE(label(w, "lblCurrUserIni"), QStringLiteral("Current User.Ini: ") + game->SystemDir() + QStringLiteral("Clan.ini"));
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Duck"));
    }

    void viewportManagerComesFromUt2004Ini() {
        game->WriteSettings();
        ini::TIniFile ut((game->SystemDir() + QStringLiteral("UT2004.ini")).toStdString());
        ut.WriteText("Engine.Engine", "ViewportManager", "SDLDrv.SDLClient");
        app::TfrmMain w(env());
        QCOMPARE(w.ViewportManager, QStringLiteral("SDLDrv.SDLClient"));
    }

    void optionsThenCancelChangesNoSettingButReloadsEveryPage() {
        game->WriteSettings();
        app::TfrmMain w(env());
        const QByteArray before = ReadAll(game->SettingsFile());
        w.KeyBindsPage()->Field("edtSpace")->setText(QStringLiteral("unsaved"));
        WhenModal<app::TfrmInit>([](app::TfrmInit* d) { d->CancelBtn->click(); });
        w.UT2k4Dir1Click();
        QVERIFY(!w.QuitRequested());
        QCOMPARE(ReadAll(game->SettingsFile()), before);
        QCOMPARE(field(w, "edtSpace"), QStringLiteral("Jump"));
        QVERIFY(!w.KeyBindsPage()->KeyBindsChanged());
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
            QCOMPARE(d->diredit->text(), game->GameDir()); // not a fresh proposal
            d->btnBrowse->click();
            QCOMPARE(d->diredit->text(), other);
            d->CancelBtn->click();
        });
        w.UT2k4Dir1Click();
    }
};

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
