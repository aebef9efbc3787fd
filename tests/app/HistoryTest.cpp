// Review before saving, the history of earlier versions, and undo, through
// the main window on the demo and on real players' files.
#include "app/StartupEnvironment.h"
#include "app/TfrmMain.h"
#include "app/TfrmReview.h"
#include "ini/IniFile.h"
#include "update/TUpdateClient.h"
#include "maintenance/IniDiff.h"
#include "maintenance/SaveHistory.h"
#include "maintenance/TfrmIniManager.h"
#include "keybinds/TKeyBindsPage.h"
#include "settings/TGeneralSettingsPage.h"
#include "settings/TUT2k4SettingsPage.h"
#include "ui/GameDefaults.h"
#include "tests/support/Dialogs.h"
#include "tests/support/GameFolder.h"
#include "tests/support/ScriptedPrompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSlider>
#include <QSpinBox>
#include <QTabBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>
#include <sys/stat.h>

using namespace testsupport;
using ui::Answer;

class HistoryTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GameFolder> game;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<QTemporaryDir> historyDir;
    std::unique_ptr<app::TfrmMain> w;
    QString historyFolder; // empty: the temporary folder itself

    QString userPath() const { return game->SystemDir() + QStringLiteral("User.ini"); }
    QString mainPath() const { return game->SystemDir() + QStringLiteral("UT2004.ini"); }

    void start(const QString& userIni = {}, const QString& mainIni = {}) {
        game = std::make_unique<GameFolder>();
        prompter = std::make_unique<ScriptedPrompter>();
        historyDir = std::make_unique<QTemporaryDir>();
        if (!userIni.isEmpty()) WriteAll(userPath(), ReadAll(RealWorldDir() + QLatin1Char('/') + userIni));
        if (!mainIni.isEmpty()) WriteAll(mainPath(), ReadAll(RealWorldDir() + QLatin1Char('/') + mainIni));
        game->WriteSettings();
        restart();
    }
    void restart() {
        w.reset();
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter.get();
        env.historyDir = historyFolder.isEmpty() ? historyDir->path() : historyFolder;
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        w = std::make_unique<app::TfrmMain>(env);
    }
    template <class T>
    T* c(const char* name) const {
        auto* found = w->findChild<T*>(QString::fromLatin1(name));
        if (!found) qFatal("no control %s", name);
        return found;
    }
    void save() {
        prompter->Clear();
        w->Save1Click();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("The changes have been successfully saved!")});
    }
    // One edit on each page that has keys.
    void editEveryPage() {
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Jump | Fire"));
        c<QTableWidget>("vlEdt")->item(3, 1)->setText(QStringLiteral("(Command=\"say hi\",Alias=\"hi\")"));
        c<QSlider>("tbVOF")->setValue(c<QSlider>("tbVOF")->value() == 100 ? 101 : 100);
        c<QCheckBox>("cbEAX")->toggle();
        auto* rule = c<QSpinBox>("ctfMaxTeamSize");
        rule->setValue(rule->value() + 1);
    }

    void answerYes() {
        prompter->Clear();
        prompter->Answer(Answer::Yes);
    }

private slots:
    void cleanup() {
        w.reset();
        prompter.reset();
        historyDir.reset();
        historyFolder.clear();
        game.reset();
    }

    // The list the review shows is what the save then writes, no more, no less.
    void reviewListsExactlyWhatTheSaveWrites_data() {
        QTest::addColumn<QString>("userIni");
        QTest::addColumn<QString>("mainIni");
        QTest::newRow("demo") << QString() << QString();
        QTest::newRow("8avian") << "8avian-ut2k4_config/User.ini" << "8avian-ut2k4_config/UT2004.ini";
        QTest::newRow("GrantSorenson") << "GrantSorenson-LumpysInvasionServer/User.ini"
                                       << "GrantSorenson-LumpysInvasionServer/UT2004.ini";
        QTest::newRow("timseriakov") << "timseriakov-dotfiles/User.ini" << "timseriakov-dotfiles/UT2004.ini";
        QTest::newRow("defaults") << "HeffersonMan-UT2004/DefUser.ini" << "HeffersonMan-UT2004/Default.ini";
        for (const char* main :
             {"GameServerManagers-Game-Server-Configs/UT2004.ini.orig", "HeffersonMan-UT2004/UT2004.ini",
              "madeinua-ut2004-server-config/UT2004.ini", "scvnc-netwarlan-server-configs/UT2004.ini"})
            QTest::newRow(main) << QString() << QString::fromLatin1(main);
    }
    void reviewListsExactlyWhatTheSaveWrites() {
        QFETCH(QString, userIni);
        QFETCH(QString, mainIni);
        start(userIni, mainIni);
        QVERIFY(w->PendingReview().empty());
        editEveryPage();
        const auto rows = w->PendingReview();
        QSet<QString> listed;
        for (const auto& r : rows) {
            listed << (r.file + QLatin1Char(' ') + r.section.toLower() + QLatin1Char(' ') + r.key.toLower());
            QVERIFY(!r.page.isEmpty() && !r.control.isEmpty());
        }
        const QByteArray user = ReadAll(userPath()), main = ReadAll(mainPath());
        save();
        QSet<QString> written;
        for (const auto& [name, before, path] :
             {std::tuple{QStringLiteral("User.ini"), user, userPath()}, std::tuple{QStringLiteral("UT2004.ini"), main, mainPath()}})
            for (const auto& change : maintenance::ChangedValues(before, ReadAll(path)))
                written << (name + QLatin1Char(' ') + change.section.toLower() + QLatin1Char(' ') + change.key.toLower());
        QCOMPARE(written, listed);
        QVERIFY(listed.size() >= 6); // both FOV keys, the bind, the alias, EAX, the rule
        for (const auto& r : rows) {
            // The text listed is the text the file now holds.
            const QString path = r.file == QStringLiteral("User.ini") ? userPath() : mainPath();
            ini::TIniFile f(path.toStdString());
            QCOMPARE(QString::fromStdString(f.ReadText(r.section.toStdString(), r.key.toStdString(), "")), r.next);
        }
    }

    void reviewDialogSavesOnlyWithSave() {
        start();
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Duck"));
        const QByteArray before = ReadAll(userPath());
        auto answer = [](const char* button, const char* shown = "Duck") {
            QTimer::singleShot(0, [button, shown] {
                auto* dialog = qobject_cast<app::TfrmReview*>(QApplication::activeModalWidget());
                QVERIFY(dialog);
                QCOMPARE(dialog->List()->topLevelItem(0)->text(0), QStringLiteral("User.ini"));
                auto* row = dialog->List()->topLevelItem(0)->child(0);
                QCOMPARE(row->text(1), QStringLiteral("Space"));
                QCOMPARE(row->text(3), QString::fromLatin1(shown));
                QCOMPARE(row->text(5), QStringLiteral("Space"));
                dialog->findChild<QPushButton*>(QString::fromLatin1(button))->click();
            });
        };
        answer("btnReviewCancel");
        w->Review1Click();
        QCOMPARE(ReadAll(userPath()), before);
        answer("btnReviewSave");
        w->Review1Click();
        ini::TIniFile f(userPath().toStdString());
        QCOMPARE(f.ReadText("Engine.Input", "Space", ""), std::string("Duck"));
        // With the option on, Save shows the same list first.
        w->ShowChangesBeforeSave = true;
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Jump"));
        answer("btnReviewCancel", "Jump");
        w->Save1Click();
        QCOMPARE(ini::TIniFile(userPath().toStdString()).ReadText("Engine.Input", "Space", ""), std::string("Duck"));
    }

    // Key -> "page / control" of every row a review or history list shows.
    static QMap<QString, QString> listedControls(const app::TfrmReview* dialog) {
        QMap<QString, QString> out;
        for (int f = 0; f < dialog->List()->topLevelItemCount(); ++f)
            for (int r = 0; r < dialog->List()->topLevelItem(f)->childCount(); ++r) {
                const auto* row = dialog->List()->topLevelItem(f)->child(r);
                out.insert(row->text(1), row->text(4) + QStringLiteral(" / ") + row->text(5));
            }
        return out;
    }

    // Both lists name a control by the words on its page, and speak in the
    // tense that fits: before a save what will change, afterwards what did.
    void reviewAndHistoryNameControlsAsThePageShowsThem() {
        start();
        editEveryPage();
        c<QRadioButton>("rbTeamBlue")->click();
        c<QComboBox>("pickDiff")->setCurrentIndex(5);
        c<QComboBox>("pickInterface")->setCurrentIndex(0);
        c<QLineEdit>("edtStatsUser")->setText(QStringLiteral("player1"));
        c<QRadioButton>(c<QRadioButton>("rbOpenGL")->isChecked() ? "rbD3D9" : "rbOpenGL")->click();
        const QMap<QString, QString> expected{
            {QStringLiteral("Space"), QStringLiteral("Key binds / Space")},
            {QStringLiteral("Aliases[3]"), QStringLiteral("Aliases / Aliases")},
            {QStringLiteral("DesiredFOV"), QStringLiteral("General Settings / Field of View")},
            {QStringLiteral("Team"), QStringLiteral("General Settings / Teamcolor")},
            {QStringLiteral("StatsUsername"), QStringLiteral("General Settings / Stats username")},
            {QStringLiteral("UseEAX"), QStringLiteral("UT2004 Settings / Use EAX")},
            {QStringLiteral("TextureDetailInterface"),
             QStringLiteral("UT2004 Settings / Texture detail interface")},
            {QStringLiteral("RenderDevice"), QStringLiteral("UT2004 Settings / Screen mode")},
            {QStringLiteral("MaxTeamSize"), QStringLiteral("Instant Action / Maxteamsize")},
            {QStringLiteral("LastBotSkill"), QStringLiteral("Instant Action / Difficulty")},
        };
        QMap<QString, QString> reviewed;
        QString reviewSummary, reviewColumn;
        WhenModal<app::TfrmReview>([&](app::TfrmReview* d) {
            reviewed = listedControls(d);
            reviewSummary = d->findChild<QLabel*>(QStringLiteral("lblReviewSummary"))->text();
            reviewColumn = d->List()->headerItem()->text(3);
            d->findChild<QPushButton*>(QStringLiteral("btnReviewSave"))->click();
        });
        prompter->Clear();
        w->Review1Click();
        QVERIFY2(reviewSummary.endsWith(QStringLiteral(" values will change:")),
                 qPrintable(reviewSummary));
        QCOMPARE(reviewColumn, QStringLiteral("Will become"));
        QMap<QString, QString> history;
        QString historySummary, historyColumn;
        QTimer::singleShot(0, [&] {
            auto* list = QApplication::activeModalWidget();
            WhenModal<app::TfrmReview>([&](app::TfrmReview* d) {
                history = listedControls(d);
                historySummary = d->findChild<QLabel*>(QStringLiteral("lblReviewSummary"))->text();
                historyColumn = d->List()->headerItem()->text(3);
                d->reject();
                list->close();
            });
            list->findChild<QPushButton*>(QStringLiteral("btnHistoryChanges"))->click();
        });
        w->Savehistory1Click();
        QVERIFY2(historySummary.endsWith(QStringLiteral(" values changed:")),
                 qPrintable(historySummary));
        QCOMPARE(historyColumn, QStringLiteral("After"));
        for (auto it = expected.begin(); it != expected.end(); ++it) {
            QCOMPARE(reviewed.value(it.key()), it.value());
            QCOMPARE(history.value(it.key()), it.value());
        }
        // No object name is left for the player to decode.
        for (const QString& shown : reviewed.values() + history.values())
            QVERIFY2(!shown.contains(QRegularExpression(
                         QStringLiteral("/ (edt|cb|rb|tb|pick|drop|spin|lb|vl)[A-Z0-9]"))),
                     qPrintable(shown));
    }

    void undoPutsBackEveryByteAfterEachCommand() {
        start(QStringLiteral("timseriakov-dotfiles/User.ini"), QStringLiteral("timseriakov-dotfiles/UT2004.ini"));
        const QByteArray user0 = ReadAll(userPath()), main0 = ReadAll(mainPath());
        editEveryPage();
        save();
        const QByteArray user1 = ReadAll(userPath()), main1 = ReadAll(mainPath());
        c<QLineEdit>("edtTab")->setText(QStringLiteral("ShowScores"));
        save();
        QVERIFY(ReadAll(userPath()) != user1);
        // Undo the second save.
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Undolastsave1Click();
        QCOMPARE(ReadAll(userPath()), user1);
        QCOMPARE(ReadAll(mainPath()), main1);
        QCOMPARE(c<QLineEdit>("edtTab")->text(), QString::fromStdString(
                                                      ini::TIniFile(userPath().toStdString()).ReadText("Engine.Input", "Tab", "")));
        // The undo is an entry of its own; the first save is put back from the history.
        const auto entries = w->History().Entries();
        QCOMPARE(entries.size(), 3u);
        QVERIFY(entries[0].command.startsWith(QStringLiteral("Undo")));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        QTimer::singleShot(0, [] {
            auto* dialog = QApplication::activeModalWidget();
            auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("tvHistory"));
            list->setCurrentItem(list->topLevelItem(2));
            dialog->findChild<QPushButton*>(QStringLiteral("btnHistoryRestore"))->click();
        });
        w->Savehistory1Click();
        QCOMPARE(ReadAll(userPath()), user0);
        QCOMPARE(ReadAll(mainPath()), main0);
    }

    // Undo speaks of one file as one: "as it was", "has been put back".
    void undoNamesTheFilesItPutsBack() {
        start();
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Duck"));
        save();
        auto when = [this] {
            return w->History().Entries().front().time.toString(
                QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        };
        QString time = when();
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Undolastsave1Click();
        QCOMPARE(
            prompter->Texts(),
            (QStringList{QStringLiteral(
                             "Put back User.ini as it was before \"Save\" of %1 (1 changed value)?")
                             .arg(time),
                         QStringLiteral("The file has been put back.")}));
        editEveryPage();
        save();
        time = when();
        const int values = int(w->History().Entries().front().changedKeys);
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Undolastsave1Click();
        QCOMPARE(prompter->Texts(),
                 (QStringList{
                     QStringLiteral(
                         "Put back User.ini and UT2004.ini as they were before \"Save\" of %1 (%2 "
                         "changed values)?")
                         .arg(time)
                         .arg(values),
                     QStringLiteral("The files have been put back.")}));
    }

    void undoAsksBeforeOverwritingAnotherProgramsChange() {
        start();
        c<QCheckBox>("cbEAX")->toggle();
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Duck"));
        const QByteArray user0 = ReadAll(userPath()), main0 = ReadAll(mainPath());
        save();
        // The game rewrites UT2004.ini meanwhile.
        QByteArray gameWrote = ReadAll(mainPath());
        gameWrote.append("\r\n[Game]\r\nWrote=1\r\n");
        WriteAll(mainPath(), gameWrote);
        prompter->Clear();
        prompter->Answer(Answer::Yes); // put back
        prompter->Answer(Answer::No);  // but not over the game's UT2004.ini
        w->Undolastsave1Click();
        QCOMPARE(prompter->Texts()[1],
                 QStringLiteral("UT2004.ini was changed by another program after \"Save\".\nPut back its earlier version all the same?"));
        QCOMPARE(ReadAll(userPath()), user0);
        QCOMPARE(ReadAll(mainPath()), gameWrote);
        Q_UNUSED(main0);
    }

    // The history holds the player's settings: it is his alone whatever the
    // game files' modes, also where an earlier build made it open to all,
    // and putting a version back keeps the file's mode.
    void historyIsPrivateAndUndoKeepsTheMode_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("private pair") << 0600;
        QTest::newRow("shared pair") << 0644;
    }
    void historyIsPrivateAndUndoKeepsTheMode() {
#ifdef _WIN32
        QSKIP("POSIX modes; Windows keeps a profile private by its access lists");
#else
        QFETCH(int, mode);
        const auto modeOf = [](const QString& path) {
            struct stat st {};
            return ::lstat(QFile::encodeName(path).constData(), &st) == 0
                       ? QString::number(st.st_mode & 07777, 8)
                       : QString();
        };
        historyDir = std::make_unique<QTemporaryDir>();
        const QString data = historyDir->path() + QStringLiteral("/share");
        historyFolder = data + QStringLiteral("/quorlex2004/history");
        QVERIFY(QDir().mkpath(historyFolder));
        QVERIFY(::chmod(QFile::encodeName(historyFolder).constData(), 0755) == 0);
        game = std::make_unique<GameFolder>();
        prompter = std::make_unique<ScriptedPrompter>();
        game->WriteSettings();
        for (const QString& file : {userPath(), mainPath()})
            QVERIFY(::chmod(QFile::encodeName(file).constData(), mode) == 0);
        restart();
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Jump | Fire"));
        c<QCheckBox>("cbEAX")->toggle();
        save();
        const auto entry = w->History().Latest();
        QVERIFY(entry);
        QCOMPARE(entry->files.size(), 2u);
        QCOMPARE(modeOf(historyFolder), QStringLiteral("700"));
        const QString entryDir = historyFolder + QLatin1Char('/') + entry->id;
        QCOMPARE(modeOf(entryDir), QStringLiteral("700"));
        const QStringList files = QDir(entryDir).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(files.size(), 5); // two files before and after, and what the entry is
        for (const QString& name : files)
            QCOMPARE(modeOf(entryDir + QLatin1Char('/') + name), QStringLiteral("600"));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Undolastsave1Click();
        QCOMPARE(ReadAll(userPath()), entry->files[0].before);
        QCOMPARE(modeOf(userPath()), QString::number(mode, 8));
        QCOMPARE(modeOf(mainPath()), QString::number(mode, 8));
#endif
    }

    void historyKeepsItsLimits() {
        QTemporaryDir dir;
        maintenance::SaveHistory history(dir.path());
        history.SetLimits(5, 3000);
        QDateTime t = QDateTime::currentDateTime();
        for (int i = 0; i < 9; ++i)
            QVERIFY(history.Add(QStringLiteral("Save %1").arg(i), {{QStringLiteral("/x/User.ini"), QByteArray(100, 'a'),
                                                                    QByteArray(100, char('b' + i))}},
                                t.addSecs(i)));
        auto entries = history.Entries();
        QCOMPARE(entries.size(), 5u);
        QCOMPARE(entries.front().command, QStringLiteral("Save 8"));
        QCOMPARE(entries.back().command, QStringLiteral("Save 4"));
        // Size: big entries push the old ones out, but the newest always stays.
        QVERIFY(history.Add(QStringLiteral("Big"), {{QStringLiteral("/x/User.ini"), QByteArray(2000, 'a'), QByteArray(2000, 'c')}},
                            t.addSecs(20)));
        entries = history.Entries();
        QCOMPARE(entries.front().command, QStringLiteral("Big"));
        QCOMPARE(entries.size(), 1u);
        QVERIFY(history.Add(QStringLiteral("Huge"), {{QStringLiteral("/x/User.ini"), QByteArray(5000, 'a'), QByteArray(5000, 'c')}},
                            t.addSecs(30)));
        QCOMPARE(history.Entries().size(), 1u);
        QCOMPARE(history.Latest()->command, QStringLiteral("Huge"));
        // A command that changed nothing leaves no entry.
        QVERIFY(history.Add(QStringLiteral("Nothing"), {{QStringLiteral("/x/User.ini"), "same", "same"}}, t.addSecs(40)));
        QCOMPARE(history.Latest()->command, QStringLiteral("Huge"));
    }

    // Unset, the limits are the stated 50 entries and 50 MB.
    void historyDefaultsAreFiftyEntriesAndFiftyMegabytes() {
        QTemporaryDir dir;
        maintenance::SaveHistory history(dir.path());
        const QDateTime t = QDateTime::currentDateTime();
        for (int i = 0; i < 51; ++i)
            QVERIFY(history.Add(QStringLiteral("Save %1").arg(i),
                                {{QStringLiteral("/x/User.ini"), "a", QByteArray::number(i)}},
                                t.addSecs(i)));
        QCOMPARE(history.Entries().size(), 50u);
        QCOMPARE(history.Entries().back().command, QStringLiteral("Save 1"));
        // 11 MB an entry: four fit in 50 MB, a fifth does not.
        const QByteArray half(5'500'000, 'a');
        for (int i = 0; i < 5; ++i)
            QVERIFY(history.Add(QStringLiteral("Big %1").arg(i),
                                {{QStringLiteral("/x/UT2004.ini"), half, half + char('0' + i)}},
                                t.addSecs(100 + i)));
        const auto entries = history.Entries();
        QCOMPARE(entries.size(), 4u);
        QCOMPARE(entries.back().command, QStringLiteral("Big 1"));
    }

    // One control back to the game's default: exactly its keys change, to
    // the default file's text.
    void aSettingGoesBackToTheGamesDefault() {
        start();
        ini::TIniFile defUser(game->SystemDir().toStdString() + "DefUser.ini");
        defUser.WriteText("Engine.Input", "Space", "Jump | Taunt");
        defUser.WriteText("Engine.PlayerController", "bNoVoiceTaunts", "True");
        defUser.WriteText("Engine.PlayerInput", "MouseSensitivity", "2.250000");
        ini::TIniFile defMain(game->SystemDir().toStdString() + "Default.ini");
        defMain.WriteText("WinDrv.WindowsClient", "FullscreenViewportX", "1280");
        defMain.WriteText("WinDrv.WindowsClient", "FullscreenViewportY", "1024");
        w->ReloadAllPages();
        auto& keys = w->KeyBindsPage()->Defaults();
        auto& general = w->GeneralPage()->Defaults();
        auto& video = w->UT2k4Page()->Defaults();
        auto* space = c<QLineEdit>("edtSpace");
        QVERIFY(space->property("differsFromDefault").toBool());
        QVERIFY(space->font().italic());
        QVERIFY(space->toolTip().contains(QStringLiteral("Jump | Taunt")));
        QVERIFY(!c<QLineEdit>("edtBackSpace")->font().italic());

        const QByteArray user = ReadAll(userPath()), main = ReadAll(mainPath());
        QVERIFY(keys.ResetToDefault(space));
        QVERIFY(general.ResetToDefault(c<QCheckBox>("cbVoiceTaunts")));
        QVERIFY(general.ResetToDefault(c<QSlider>("tbMouseSens")));
        QVERIFY(video.ResetToDefault(c<QComboBox>("pickScreenmode")));
        QCOMPARE(space->text(), QStringLiteral("Jump | Taunt"));
        QVERIFY(!space->font().italic());
        QVERIFY(!c<QCheckBox>("cbVoiceTaunts")->isChecked()); // the box shows the inverse of bNo...
        QCOMPARE(c<QSlider>("tbMouseSens")->value(), 225);
        QCOMPARE(c<QComboBox>("pickScreenmode")->currentText(), QStringLiteral("1280x1024"));
        QVERIFY(w->AnyPageChanged());
        save();
        QStringList changed;
        for (const auto& ch : maintenance::ChangedValues(user, ReadAll(userPath())))
            changed << ch.section + QLatin1Char(' ') + ch.key + QLatin1Char('=') + ch.after;
        for (const auto& ch : maintenance::ChangedValues(main, ReadAll(mainPath())))
            changed << ch.section + QLatin1Char(' ') + ch.key + QLatin1Char('=') + ch.after;
        changed.sort();
        QCOMPARE(changed, (QStringList{QStringLiteral("Engine.Input Space=Jump | Taunt"),
                                       QStringLiteral("Engine.PlayerController bNoVoiceTaunts=True"),
                                       QStringLiteral("Engine.PlayerInput MouseSensitivity=2.25"),
                                       QStringLiteral("WinDrv.WindowsClient FullscreenViewportX=1280"),
                                       QStringLiteral("WinDrv.WindowsClient FullscreenViewportY=1024")}));
        // A key the default file lacks offers nothing.
        WriteAll(game->SystemDir() + QStringLiteral("DefUser.ini"), "[Engine.Input]\r\nSpace=Jump\r\n");
        QCOMPARE(keys.DefaultsOf(space), QStringList{QStringLiteral("Jump")});
        QVERIFY(keys.DefaultsOf(c<QLineEdit>("edtJoy16")).isEmpty());
        QVERIFY(!keys.ResetToDefault(c<QLineEdit>("edtJoy16")));
    }

    // The game writes its INI files when it exits: a save while it runs asks.
    void aSaveWhileTheGameRunsAsksFirst() {
        start();
        QProcess running;
        QVERIFY(game->StartGame(running));
        const QByteArray before = ReadAll(userPath());
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Duck"));
        prompter->Clear();
        prompter->Answer(Answer::No);
        w->Save1Click();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("UT2004 is running. It will overwrite these settings when it exits. Save anyway?")});
        QCOMPARE(ReadAll(userPath()), before);
        prompter->Clear();
        prompter->Answer(Answer::No);
        w->ResettodefaultClick();
        QCOMPARE(prompter->Texts().size(), 1);
        QCOMPARE(ReadAll(userPath()), before);
        // The backup manager's restore of the .BAK pair asks the same.
        WriteAll(game->SystemDir() + QStringLiteral("User.BAK"), "[Engine.Input]\r\nSpace=Fire\r\n");
        WriteAll(game->SystemDir() + QStringLiteral("UT2004.BAK"), "[Engine.Engine]\r\n");
        prompter->Clear();
        bool opened = false;
        WhenModal<maintenance::TfrmIniManager>([&](maintenance::TfrmIniManager* m) {
            opened = true;
            prompter->Answer(Answer::Yes); // drop the unsaved edit
            prompter->Answer(Answer::No);
            m->btnBAK->click();
            m->accept();
        });
        w->Backupmanager1Click();
        QVERIFY(opened);
        QCOMPARE(prompter->Texts().size(), 2);
        QCOMPARE(prompter->Texts().last(),
                 QStringLiteral("UT2004 is running. It will overwrite these settings when it "
                                "exits. Restore anyway?"));
        QCOMPARE(ReadAll(userPath()), before);
        running.kill();
        running.waitForFinished();
        // A game of another folder is none of our business.
        save();
    }

    // Every other way to write the player's files asks too, and No leaves
    // the files alone and the edits in front of the player.
    void everySaveAndPutBackWhileTheGameRunsAsksFirst() {
        start();
        const QString running = QStringLiteral("UT2004 is running. It will overwrite these settings when it exits. ");
        const QString changes = QStringLiteral("You have made some changes\nDo you want to save your changes?");
        const QByteArray user0 = ReadAll(userPath());
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Duck"));
        save();
        const QByteArray user1 = ReadAll(userPath());
        QProcess game1;
        QVERIFY(game->StartGame(game1));
        auto askedWithDefaultNo = [&](const QString& last) {
            QVERIFY(!prompter->prompts.isEmpty());
            QCOMPARE(prompter->prompts.last().text, last);
            QCOMPARE(prompter->prompts.last().defaultAnswer, std::optional<Answer>(Answer::No));
            QVERIFY(prompter->AllAnswersUsed());
        };

        // Undo last save, and the history's put back.
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::No);
        w->Undolastsave1Click();
        askedWithDefaultNo(running + QStringLiteral("Restore anyway?"));
        QCOMPARE(ReadAll(userPath()), user1);

        // Exit's Yes, then No to the game question: no save, no exit.
        w->show();
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Fire"));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::No);
        w->Exit1Click();
        askedWithDefaultNo(running + QStringLiteral("Save anyway?"));
        QCOMPARE(prompter->Texts().first(), changes);
        QVERIFY(w->isVisible());
        QCOMPARE(ReadAll(userPath()), user1);
        QCOMPARE(c<QLineEdit>("edtSpace")->text(), QStringLiteral("Fire"));

        // The close box's Yes the same.
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::No);
        QVERIFY(!w->close());
        askedWithDefaultNo(running + QStringLiteral("Save anyway?"));
        QCOMPARE(ReadAll(userPath()), user1);

        // Leaving the tab with Yes to its save: the player stays on the page.
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::No);
        w->PageCtrl()->setCurrentIndex(1);
        askedWithDefaultNo(running + QStringLiteral("Save anyway?"));
        QCOMPARE(w->PageCtrl()->currentIndex(), 0);
        QCOMPARE(ReadAll(userPath()), user1);

        // Yes to the game question saves, and the tab's save is undone as the last save.
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::Yes);
        w->PageCtrl()->setCurrentIndex(1);
        QCOMPARE(w->PageCtrl()->currentIndex(), 1);
        QVERIFY(ReadAll(userPath()) != user1);
        QCOMPARE(w->History().Latest()->command, QStringLiteral("Save"));
        QCOMPARE(w->History().Latest()->files[0].before, user1);
        game1.kill();
        game1.waitForFinished();

        // Exit's save is kept in the history as well.
        w->PageCtrl()->setCurrentIndex(0);
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Walk"));
        const QByteArray user2 = ReadAll(userPath());
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::Cancel); // saved, but stays open
        w->Exit1Click();
        QVERIFY(prompter->AllAnswersUsed());
        QVERIFY(ReadAll(userPath()) != user2);
        QCOMPARE(w->History().Latest()->files[0].before, user2);
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Undolastsave1Click();
        QCOMPARE(ReadAll(userPath()), user2);
        QVERIFY(user0 != user1);
    }

    // An update that brings a game file keeps the file's earlier bytes, and can be undone.
    void anUpdateThatReplacesAGameFileIsKept() {
        start();
        const QByteArray user0 = ReadAll(userPath());
        auto* client = w->UpdateClient1;
        client->OnFileReplacing(client, userPath());
        WriteAll(userPath(), user0 + "\r\n[Update]\r\nNew=1\r\n");
        client->OnFileReplacing(client, mainPath() + QStringLiteral("-not-a-game-file"));
        client->OnThreadUpdateDone(client);
        const auto latest = w->History().Latest();
        QVERIFY(latest);
        QCOMPARE(latest->command, QStringLiteral("Update"));
        QCOMPARE(latest->files.size(), 1u);
        QCOMPARE(latest->files[0].before, user0);
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Undolastsave1Click();
        QCOMPARE(ReadAll(userPath()), user0);
    }

    // Ctrl+Z undoes the last save, except where a text field takes it for its own typing.
    void ctrlZOutsideTextFieldsUndoesTheSave() {
        if (QGuiApplication::platformName() == QStringLiteral("offscreen"))
            QSKIP("shortcut routing between a field and the window needs a real window system (run with QT_QPA_PLATFORM=xcb)");
        start();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        const QByteArray user0 = ReadAll(userPath());
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Duck"));
        save();
        auto* field = c<QLineEdit>("edtTab");
        field->setFocus();
        QTest::keyClicks(field, QStringLiteral("x"));
        prompter->Clear();
        QTest::keyClick(field, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(prompter->prompts.isEmpty()); // the field's own undo
        QCOMPARE(field->text(), QStringLiteral("ShowScores"));
        prompter->Answer(Answer::Yes);
        QWidget* focus = w->PageCtrl()->tabBar();
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(ReadAll(userPath()), user0);
    }

    void commandsThatReplaceFilesAreKept() {
        start();
        ini::TIniFile(game->SystemDir().toStdString() + "DefUser.ini").WriteText("Engine.Input", "Space", "DefaultJump");
        const QByteArray user0 = ReadAll(userPath());
        prompter->Answer(Answer::Yes);
        w->ResettodefaultClick();
        QVERIFY(ReadAll(userPath()) != user0);
        QCOMPARE(w->History().Latest()->command, QStringLiteral("Reset settings to default"));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Undolastsave1Click();
        QCOMPARE(ReadAll(userPath()), user0);
        QCOMPARE(c<QLineEdit>("edtSpace")->text(), QStringLiteral("Jump"));
    }

    // Undo walks back through the saves; a redo puts back what an undo took.
    void undoWalksBackAndRedoPutsBack() {
        start();
        const QByteArray before = ReadAll(userPath());
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Jump | one"));
        save();
        const QByteArray first = ReadAll(userPath());
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Jump | two"));
        save();
        for (int i = 0; i < 2; ++i) {
            answerYes();
            w->Undolastsave1Click();
        }
        QCOMPARE(ReadAll(userPath()), before);
        prompter->Clear();
        w->Undolastsave1Click();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("There is no save to undo.")});
        answerYes();
        w->Redolastundo1Click();
        QCOMPARE(ReadAll(userPath()), first);
        // A new save ends what can be redone.
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Jump | three"));
        save();
        prompter->Clear();
        w->Redolastundo1Click();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("There is no undo to redo.")});
        // The stated limits: 50 entries, the oldest going first.
        maintenance::SaveHistory h(historyDir->filePath(QStringLiteral("limits")));
        for (int i = 0; i < 51; ++i)
            h.Add(QStringLiteral("Save"), {{userPath(), QByteArray::number(i), "x"}},
                  QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addSecs(i));
        QCOMPARE(h.Entries().size(), 50u);
        QCOMPARE(h.Entries().back().files.front().before, QByteArray("1"));
    }

    // A save that does not reach both files reaches neither, and the pages
    // still count their edits: a later save writes them.
    void failedSaveWritesNothingAndKeepsTheEdits_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("read-only User.ini") << QStringLiteral("readonly");
        QTest::newRow("UT2004.ini cannot be written") << QStringLiteral("full");
    }
    void failedSaveWritesNothingAndKeepsTheEdits() {
        QFETCH(QString, fault);
        start();
        const QByteArray user = ReadAll(userPath()), engine = ReadAll(mainPath());
        editEveryPage();
        if (fault == QStringLiteral("readonly"))
            QFile::setPermissions(userPath(), QFile::ReadOwner | QFile::ReadGroup);
        else
            ini::TIniFile::SetFaultHookForTesting([this](std::string_view step, const std::string& path) {
                return !(step == "write" && QString::fromStdString(path) == mainPath());
            });
        prompter->Clear();
        w->Save1Click();
        ini::TIniFile::SetFaultHookForTesting({});
        QCOMPARE(prompter->prompts.size(), 1);
        QVERIFY2(prompter->Texts()[0].contains(QStringLiteral("Unable to write to ")), qPrintable(prompter->Texts()[0]));
        if (fault == QStringLiteral("readonly"))
            QVERIFY2(prompter->Texts()[0].contains(QStringLiteral("read-only")), qPrintable(prompter->Texts()[0]));
        QCOMPARE(ReadAll(userPath()), user);
        QCOMPARE(ReadAll(mainPath()), engine);
        QVERIFY(w->AnyPageChanged());
        QVERIFY(!w->PendingReview().empty());
        QFile::setPermissions(userPath(), QFile::ReadOwner | QFile::WriteOwner);
        save();
        QVERIFY(ReadAll(userPath()).contains("Space=Jump | Fire"));
        QVERIFY(ReadAll(mainPath()) != engine);
        QVERIFY(!w->AnyPageChanged());
        // The reset and undo refuse a read-only file too.
        QFile::setPermissions(userPath(), QFile::ReadOwner);
        const QByteArray saved = ReadAll(userPath());
        for (const auto command : {&app::TfrmMain::Undolastsave1Click, &app::TfrmMain::ResettodefaultClick}) {
            answerYes();
            (w.get()->*command)();
            QCOMPARE(ReadAll(userPath()), saved);
            QCOMPARE(prompter->Texts().filter(QStringLiteral("(the file is read-only)")).size(), 1);
        }
        // So does the backup manager's restore, which is kept in the history
        // like every other command once the file may be written again.
        WriteAll(game->SystemDir() + QStringLiteral("User.BAK"), "[Engine.Input]\r\nSpace=Bak\r\n");
        WriteAll(game->SystemDir() + QStringLiteral("UT2004.BAK"), "[Engine.Engine]\r\n");
        const auto restoreBak = [&] {
            WhenModal<maintenance::TfrmIniManager>([&](maintenance::TfrmIniManager* m) {
                m->btnBAK->click();
                m->accept();
            });
            w->Backupmanager1Click();
        };
        prompter->Clear();
        restoreBak();
        QCOMPARE(ReadAll(userPath()), saved);
        QCOMPARE(prompter->Texts().filter(QStringLiteral("(the file is read-only)")).size(), 1);
        QFile::setPermissions(userPath(), QFile::ReadOwner | QFile::WriteOwner);
        restoreBak();
        QVERIFY(ReadAll(userPath()).contains("Space=Bak"));
        QCOMPARE(w->History().Entries().front().command, QStringLiteral("Restore the .BAK files"));
        QFile::setPermissions(userPath(), QFile::ReadOwner | QFile::WriteOwner);
    }

    // Every command that writes goes the one way: Define own key's Save is
    // kept in the history and undone like a save; Instant Action's edits
    // count as edits; raw text pending on the Inifiles page is saved too.
    void everyWriteGoesTheOneWay() {
        start();
        const QByteArray before = ReadAll(userPath());
        c<QLineEdit>("edtCharNoCheck")->setText(QStringLiteral("F9"));
        c<QLineEdit>("edtCommandNoCheck")->setText(QStringLiteral("say own key"));
        c<QPushButton>("btnSave")->click();
        QVERIFY(ReadAll(userPath()).contains("F9=say own key"));
        QCOMPARE(w->History().Entries().front().command, QStringLiteral("Define own key"));
        answerYes();
        w->Undolastsave1Click();
        QCOMPARE(ReadAll(userPath()), before);
        // With another field edited nothing is written, and the player is told.
        c<QLineEdit>("edtSpace")->setText(QStringLiteral("Jump | edited"));
        prompter->Clear();
        c<QPushButton>("btnSave")->click();
        QCOMPARE(ReadAll(userPath()), before);
        QCOMPARE(prompter->prompts.size(), 1);
        w->ReloadAllPages();
        QVERIFY(!w->AnyPageChanged());
        auto* rule = c<QSpinBox>("ctfMaxTeamSize");
        rule->setValue(rule->value() + 1);
        QVERIFY(w->AnyPageChanged());
        w->ReloadAllPages();
        auto* raw = c<QPlainTextEdit>("reUser");
        raw->setPlainText(raw->toPlainText() + QStringLiteral("\n[Raw.Section]\nKey=typed"));
        save();
        QVERIFY(ReadAll(userPath()).contains("Key=typed"));
    }

    // A save killed before its files were in place leaves nothing behind
    // at the next start.
    void nextStartRemovesAKilledSavesTemporaries() {
        start();
        const QString left = game->SystemDir() + QStringLiteral(".User.ini.qxtmp.99999999.AbCdEf");
        WriteAll(left, "half a save");
        QFile f(left);
        QVERIFY(f.open(QIODevice::ReadWrite));
        f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
        f.close();
        restart();
        QVERIFY(!QFile::exists(left));
    }
};

QTEST_MAIN(HistoryTest)
#include "HistoryTest.moc"
