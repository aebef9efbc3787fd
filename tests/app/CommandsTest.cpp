// The commands of the main window that act on all pages, driven with
// scripted answers: every question is asserted by its exact text.
#include "app/TfrmAbout.h"
#include "app/TfrmGuide.h"
#include "app/TfrmInit.h"
#include "app/TfrmMain.h"
#include "ini/IniFile.h"
#include "keybinds/TAliasesPage.h"
#include "keybinds/TKeyBindsPage.h"
#include "keybinds/TfrmTaunts.h"
#include "maintenance/TIniFilesPage.h"
#include "maintenance/TfrmIniManager.h"
#include "platform/Shell.h"
#include "tests/support/Dialogs.h"
#include "tests/support/GameFolder.h"
#include "tests/support/ScriptedPrompter.h"
#include "ui/PendingEdits.h"
#include "ui/TfrmProgress.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QToolButton>
#include <QtTest>
#include <map>

using namespace testsupport;
using ui::Answer;

namespace {
const QString kAskSave = QStringLiteral("You have made some changes\nDo you want to save your changes?");
const QString kSaved = QStringLiteral("The changes have been successfully saved!");
const QString kAskRawSave = QStringLiteral("Are you sure you want to save the ini files?");
const QString kAskSwitch = QStringLiteral(
    "Some fields have changed, switching the user.ini will undo these changes\nAre you sure you want to continue?");
const QString kAskLeave =
    QStringLiteral("Do you want to save the changes you made to \"Key binds\"?");
const QString kAskUndo = QStringLiteral("Do you want to undo your changes to \"Key binds\"?");
const QString kTyped = QStringLiteral("(Command=\"say hi\",Alias=Hi)");

// Calls `onShow` when a window of type W is shown.
template <class W>
class OnShow final : public QObject {
public:
    explicit OnShow(std::function<void()> onShow) : onShow_(std::move(onShow)) { qApp->installEventFilter(this); }
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Show && qobject_cast<W*>(o)) onShow_();
        return false;
    }

private:
    std::function<void()> onShow_;
};
} // namespace // namespace

class CommandsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GameFolder> game;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<app::TfrmMain> w;

    QString userPath() const { return game->SystemDir() + QStringLiteral("User.ini"); }
    QString onDisk(const char* key) const {
        ini::TIniFile f(userPath().toStdString());
        return QString::fromStdString(f.ReadText("Engine.Input", key, "<missing>"));
    }
    QLineEdit* space() const { return w->KeyBindsPage()->Field("edtSpace"); }
    QTableWidget* aliases() const { return w->findChild<QTableWidget*>(QStringLiteral("vlEdt")); }
    QAction* action(const char* name) const { return w->findChild<QAction*>(QString::fromLatin1(name)); }
    QString setting(const char* section, const char* key) const {
        ini::TIniFile f(game->SettingsFile().toStdString());
        return QString::fromStdString(f.ReadText(section, key, "<missing>"));
    }
    ui::MessageBoxPrompter boxes; // real message boxes, for the tests that answer them by key
    void start(ui::Prompter* with = nullptr, bool expectLoaded = true) {
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = with ? with : prompter.get();
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        w = std::make_unique<app::TfrmMain>(env);
        if (expectLoaded) QVERIFY(w->StartupFinished);
    }
    void startWithMessageBoxes() {
        w.reset();
        start(&boxes);
        boxes.SetParent(w.get());
    }
    // Answers the next message box by a key, noting its text and the tab in front.
    void answerByKey(Qt::Key key, QStringList& asked, QList<int>& tabs) {
        WhenModal<QMessageBox>([&, key](QMessageBox* box) {
            asked << box->text();
            tabs << w->PageCtrl()->currentIndex();
            QTest::keyClick(box, key);
        });
    }
    // Clicks No on the next box, then answers the one after it by a key.
    void noThenKey(Qt::Key key, QStringList& asked, QList<int>& tabs) {
        WhenModal<QMessageBox>([&, key](QMessageBox* box) {
            asked << box->text();
            tabs << w->PageCtrl()->currentIndex();
            answerByKey(key, asked, tabs);
            box->button(QMessageBox::No)->click();
        });
    }
    void showActive() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }
    // Types an alias into the grid's cell editor the way a player does, and
    // leaves the editor open: no Enter, no click elsewhere.
    void typeAliasWithoutEnter() {
        w->PageCtrl()->setCurrentIndex(1);
        aliases()->setFocus();
        aliases()->setCurrentCell(0, 1);
        aliases()->edit(aliases()->currentIndex()); // F2 is the About box's key here
        auto* editor = qobject_cast<QLineEdit*>(aliases()->indexWidget(aliases()->currentIndex()));
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, kTyped);
        QVERIFY(aliases()->indexWidget(aliases()->currentIndex()));
    }
    QString onDiskAlias0() const {
        return QString::fromStdString(ini::TIniFile(userPath().toStdString()).ReadText("Engine.Input", "Aliases[0]", ""));
    }
    QPlainTextEdit* rawUser() const { return w->IniFilesPage()->reUser(); }
    void editRawUser(const QString& from, const QString& to) {
        QTextCursor c = rawUser()->document()->find(from);
        QVERIFY(!c.isNull());
        rawUser()->setTextCursor(c);
        QTest::keyClicks(rawUser(), to);
    }
    void expectNoQuestionsLeft() {
        QVERIFY2(prompter->unexpected.isEmpty(), qPrintable(prompter->unexpected.join(QStringLiteral(" | "))));
        QVERIFY(prompter->AllAnswersUsed());
    }

private slots:
    void init() {
        game = std::make_unique<GameFolder>();
        game->WriteSettings();
        prompter = std::make_unique<ScriptedPrompter>();
        start();
    }
    void cleanup() {
        w.reset();
        platform::SetShellOpenHookForTesting({});
    }

    void menuAndToolBarAreComplete() {
        for (const char* name : {"Reload1", "Save1", "Openfiles1", "SaveINIfilesAS1", "Exit1", "UT2k4Dir1",
                                 "Quorlex2k4help1", "Showreadmetxt1", "Abouty1", "BackupINIfiles1", "Backupmanager1",
                                 "Resettodefault", "Highquality1", "Lowquality1", "cxButton4", "cxButton5", "cxButton9",
                                 "Checkforupdates1", "cxButton7"}) {
            QVERIFY2(action(name), name);
            QVERIFY2(action(name)->isEnabled(), name);
        }
        QCOMPARE(action("Save1")->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
        QCOMPARE(action("Save1")->toolTip(), QStringLiteral("Save your settings"));
        QCOMPARE(action("UT2k4Dir1")->text(), QStringLiteral("Options"));
        QVERIFY(action("UT2k4Dir1")->shortcut().isEmpty());
        // A key shown beside an item is the one that runs it, never another command's.
        for (auto* menu : w->menuBar()->findChildren<QMenu*>())
            for (QAction* a : menu->actions()) {
                QVERIFY2(!a->text().contains(QLatin1Char('\t')), qPrintable(a->text()));
                if (a->shortcut().isEmpty()) continue;
                for (QAction* other : w->findChildren<QAction*>())
                    QVERIFY2(other == a || other->shortcut() != a->shortcut(),
                             qPrintable(a->text()));
            }
        QVERIFY(!action("Tauntlist1")->isVisible());
        QVERIFY(!action("cxButton6")->isVisible());
        QCOMPARE(action("cxButton7")->toolTip(), QStringLiteral("Check for updates"));
    }

    void noEditsExitAndCloseAskNothing() {
        w->Exit1Click();
        QVERIFY(w->Closed());
        QVERIFY(prompter->prompts.isEmpty());
        w.reset();
        start();
        QVERIFY(w->close());
        QVERIFY(prompter->prompts.isEmpty());
    }

    void exitYesSavesThenOkCancel() {
        space()->setText(QStringLiteral("Jump | Taunt"));
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::Cancel);
        w->Exit1Click();
        QCOMPARE(prompter->Texts(), (QStringList{kAskSave, QStringLiteral("Your changes have been saved, press OK to exit")}));
        QCOMPARE(prompter->prompts[1].buttons, ui::Buttons::OkCancel);
        QVERIFY(!w->Closed());
        QCOMPARE(onDisk("Space"), QStringLiteral("Jump | Taunt"));
        prompter->Clear();
        w->Exit1Click(); // nothing unsaved any more
        QVERIFY(w->Closed());
        QVERIFY(prompter->prompts.isEmpty());
        expectNoQuestionsLeft();
    }

    void exitNoLeavesTheFileAlone() {
        space()->setText(QStringLiteral("changed"));
        prompter->Answer(Answer::No);
        w->Exit1Click();
        QVERIFY(w->Closed());
        QCOMPARE(onDisk("Space"), QStringLiteral("Jump"));
    }

    void closeAsksYesNoCancel() {
        aliases()->item(0, 1)->setText(QStringLiteral("(Command=\"x\",Alias=X)"));
        prompter->Answer(Answer::Cancel);
        QVERIFY(!w->close());
        QCOMPARE(prompter->prompts[0].buttons, ui::Buttons::YesNoCancel);
        prompter->Answer(Answer::Yes);
        QVERIFY(w->close());
        QVERIFY(ReadAll(userPath()).contains("Aliases[0]=(Command=\"x\",Alias=X)\r\n"));
        expectNoQuestionsLeft();
    }

    void failedSaveOnCloseKeepsTheWindow() {
        space()->setText(QStringLiteral("changed"));
        QFile::setPermissions(userPath(), QFile::ReadOwner);
        prompter->Answer(Answer::Yes);
        QVERIFY(!w->close());
        QCOMPARE(
            prompter->Texts(),
            (QStringList{kAskSave, QStringLiteral("Error occurred:Unable to write to ") +
                                       userPath() + QStringLiteral(" (the file is read-only)")}));
        QCOMPARE(space()->text(), QStringLiteral("changed"));
    }

    void reloadAsksOnlyWhenSomethingChanged() {
        w->Reload1Click();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("The settings have been reloaded")});
        prompter->Clear();
        space()->setText(QStringLiteral("changed"));
        prompter->Answer(Answer::No);
        w->Reload1Click();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("Some fields have changed, Loading will undo these changes\nAre you sure you want to Load?")});
        QCOMPARE(space()->text(), QStringLiteral("changed"));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        w->Reload1Click();
        QCOMPARE(space()->text(), QStringLiteral("Jump"));
        QCOMPARE(prompter->Texts().last(), QStringLiteral("The settings have been reloaded"));
    }

    void leavingAliasesWithNoThenYesReloadsThem() {
        w->PageCtrl()->setCurrentIndex(1);
        const QString before = aliases()->item(2, 1)->text();
        aliases()->item(2, 1)->setText(QStringLiteral("edited"));
        prompter->Answer(Answer::No);
        prompter->Answer(Answer::Yes);
        w->PageCtrl()->setCurrentIndex(2);
        QCOMPARE(aliases()->item(2, 1)->text(), before);
        QVERIFY(!w->AnyPageChanged());
        expectNoQuestionsLeft();
    }

    void leavingKeyBindsWithYesSavesThem() {
        space()->setText(QStringLiteral("Duck"));
        prompter->Answer(Answer::Yes);
        w->PageCtrl()->setCurrentIndex(3);
        QCOMPARE(prompter->Texts(), QStringList{kAskLeave});
        QCOMPARE(onDisk("Space"), QStringLiteral("Duck"));
    }

    void keptEditIsAskedAboutAtExit() {
        space()->setText(QStringLiteral("kept"));
        prompter->Answer(Answer::No);
        prompter->Answer(Answer::No);
        w->PageCtrl()->setCurrentIndex(4);
        w->PageCtrl()->setCurrentIndex(0);
        QCOMPARE(space()->text(), QStringLiteral("kept"));
        prompter->Clear();
        prompter->Answer(Answer::No);
        w->Exit1Click();
        QCOMPARE(prompter->Texts(), QStringList{kAskSave});
    }

    void ctrlSSavesAndNeverOpensTheSetup() {
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        space()->setText(QStringLiteral("Fire"));
        bool setupOpened = false;
        WhenModal<app::TfrmInit>([&](app::TfrmInit* d) {
            setupOpened = true;
            d->reject();
        });
        QTest::keyClick(w.get(), Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE(prompter->Texts(), QStringList{kSaved});
        QCOMPARE(onDisk("Space"), QStringLiteral("Fire"));
        QTest::qWait(20);
        QVERIFY(!setupOpened);
        // The hidden taunt list still answers its short cut, once per press.
        // (The offscreen platform hands activation to the save's splash.)
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::keyClick(w.get(), Qt::Key_T, Qt::ControlModifier);
        QTest::keyClick(w.get(), Qt::Key_T, Qt::ControlModifier);
        QTRY_COMPARE(w->findChildren<keybinds::TfrmTaunts*>().size(), 2);
        QVERIFY(w->findChildren<keybinds::TfrmTaunts*>()[0]->isVisible());
    }

    void openCustomUserIniSwitchesEveryPage() {
        const QString clan = game->SystemDir() + QStringLiteral("Clan.ini");
        QFile::copy(userPath(), clan);
        ini::TIniFile(clan.toStdString()).WriteText("Engine.Input", "Space", "Duck");
        prompter->AnswerFile(clan);
        w->Openfiles1Click();
        QCOMPARE(prompter->Texts(), (QStringList{QStringLiteral("Select the User.ini, or a User.ini with a different filename"),
                                                 QStringLiteral("Your current ini has now changed into: ") + clan}));
        QCOMPARE(prompter->prompts[0].kind, ui::PromptKind::Message);
        QCOMPARE(prompter->fileDialogs[0].filter, QStringLiteral("Ini files|*.ini"));
        QCOMPARE(prompter->fileDialogs[0].directory, game->SystemDir());
        QVERIFY(prompter->fileDialogs[0].mustExist);
        QCOMPARE(space()->text(), QStringLiteral("Duck"));
        QCOMPARE(w->CurrentUserIniName, QStringLiteral("Clan.ini"));
        QCOMPARE(setting("UT2k4", "CurrentUserIni"), QStringLiteral("Clan.ini"));
        QCOMPARE(w->findChild<QLabel*>(QStringLiteral("lblCurrUserIni"))->text(), QStringLiteral("Current User.Ini: ") + QDir::toNativeSeparators(clan));
        // The choice survives a restart.
        w.reset();
        start();
        QCOMPARE(w->CurrentUserIniName, QStringLiteral("Clan.ini"));
    }

    void customUserIniOutsideSystemFallsBackToUserIni() {
        const QString outside = game->GameDir() + QStringLiteral("/Other.ini");
        QFile::copy(userPath(), outside);
        prompter->AnswerFile(outside);
        w->Openfiles1Click();
        QCOMPARE(prompter->Texts().last(), QStringLiteral("Your current ini has now changed into: ") + outside);
        QCOMPARE(w->CurrentUserIniName, QStringLiteral("User.ini"));
        QCOMPARE(setting("UT2k4", "CurrentUserIni"), QStringLiteral("User.ini"));
    }

    void openCancelledChangesNothing() {
        prompter->AnswerFile(QString());
        w->Openfiles1Click();
        QCOMPARE(prompter->prompts.size(), 1);
        QCOMPARE(w->CurrentUserIniName, QStringLiteral("User.ini"));
    }

    void saveAsCopiesTheFileOnDiskAndSwitchesToIt() {
        space()->setText(QStringLiteral("unsaved"));
        const QString copy = game->SystemDir() + QStringLiteral("Copy.ini");
        prompter->AnswerFile(copy);
        // Unsaved edits are not part of the copy, and the switch reloads every
        // page: the player is asked first, with No for a reflex Enter.
        prompter->Answer(Answer::Yes);
        w->SaveINIfilesAS1Click();
        QCOMPARE(prompter->Texts(), QStringList{kAskSwitch});
        QCOMPARE(prompter->prompts[0].defaultAnswer, std::optional<Answer>(Answer::No));
        QCOMPARE(prompter->fileDialogs[0].defaultExtension, QStringLiteral("ini"));
        QCOMPARE(ReadAll(copy), ReadAll(userPath()));
        QCOMPARE(w->CurrentUserIniName, QStringLiteral("Copy.ini"));
        QCOMPARE(space()->text(), QStringLiteral("Jump"));
    }

    void lowQualityPresetChangesOnlyTheControls() {
        const QByteArray before = ReadAll(game->SystemDir() + QStringLiteral("UT2004.ini"));
        auto* weather = w->findChild<QCheckBox*>(QStringLiteral("cbWeatherEffects"));
        weather->setChecked(false);
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::No); // no backup: the preset comes all the same
        w->Lowquality1Click();
        QCOMPARE(prompter->Texts()[1], QStringLiteral("Do you want to make a backup now?"));
        QVERIFY(w->findChild<QRadioButton*>(QStringLiteral("rbOpenGL"))->isChecked());
        QVERIFY(!w->findChild<QGroupBox*>(QStringLiteral("groupOpenGL"))->isHidden());
        QVERIFY(w->findChild<QGroupBox*>(QStringLiteral("groupDirect3d"))->isHidden());
        QCOMPARE(w->findChild<QComboBox*>(QStringLiteral("pickworld"))->currentText(), QStringLiteral("Low"));
        QCOMPARE(w->findChild<QComboBox*>(QStringLiteral("pickScreenmode"))->currentText(), QStringLiteral("640x480"));
        QVERIFY(!weather->isChecked());
        QCOMPARE(ReadAll(game->SystemDir() + QStringLiteral("UT2004.ini")), before);
        QVERIFY(w->AnyPageChanged());
        prompter->Clear();
        prompter->Answer(Answer::No);
        w->Highquality1Click();
        QCOMPARE(w->findChild<QComboBox*>(QStringLiteral("pickworld"))->currentText(), QStringLiteral("Low"));
        expectNoQuestionsLeft();
    }

    void resetToDefaultsReloadsEveryPage() {
        ini::TIniFile(game->SystemDir().toStdString() + "DefUser.ini").WriteText("Engine.Input", "Space", "DefaultJump");
        space()->setText(QStringLiteral("unsaved"));
        // The edit it would drop is asked about; No keeps it and the files.
        const QByteArray before = ReadAll(game->SystemDir() + QStringLiteral("User.ini"));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::No);
        w->ResettodefaultClick();
        QCOMPARE(
            prompter->Texts().last(),
            QStringLiteral(
                "Some fields have changed and are not saved.\nResetting to the defaults will undo "
                "these changes. Are you sure you want to continue?"));
        QCOMPARE(space()->text(), QStringLiteral("unsaved"));
        QCOMPARE(ReadAll(game->SystemDir() + QStringLiteral("User.ini")), before);
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::Yes);
        w->ResettodefaultClick();
        QCOMPARE(space()->text(), QStringLiteral("DefaultJump"));
        QVERIFY(!w->AnyPageChanged());
        QVERIFY(QFile::exists(game->SystemDir() + QStringLiteral("User.BAK")));
    }

    void savingOnTheInifilesTabEndsWithTheRawSave() {
        w->PageCtrl()->setCurrentIndex(5);
        editRawUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        prompter->Answer(Answer::No); // the raw page's own question
        w->Save1Click();
        QCOMPARE(prompter->Texts(), (QStringList{kAskRawSave, kSaved}));
        QCOMPARE(onDisk("Space"), QStringLiteral("Jump"));
        // Answering No kept the edit in the editor, still unsaved.
        QVERIFY(rawUser()->toPlainText().contains(QStringLiteral("Space=Duck")));
        QVERIFY(w->AnyPageChanged());
    }

    // The raw page's own Save keeps what the other pages hold unsaved.
    void rawSaveButtonKeepsUnsavedPageEdits() {
        space()->setText(QStringLiteral("Crouch"));
        prompter->Answer(Answer::No); // leaving the page: neither saved
        prompter->Answer(Answer::No); // nor undone
        w->PageCtrl()->setCurrentIndex(5);
        editRawUser(QStringLiteral("Enter=InGameChat"), QStringLiteral("Enter=Talk"));
        prompter->Answer(Answer::Yes);
        w->findChild<QPushButton*>(QStringLiteral("btnSaveInis"))->click();
        QCOMPARE(onDisk("Space"), QStringLiteral("Crouch"));
        QCOMPARE(onDisk("Enter"), QStringLiteral("Talk"));
        QCOMPARE(space()->text(), QStringLiteral("Crouch"));
        QVERIFY(!w->AnyPageChanged());
        expectNoQuestionsLeft();
    }

    // Every way of saving reaches an alias still in its open cell editor.
    void typedAliasIsSavedByEverySave_data() {
        QTest::addColumn<QString>("how");
        for (const char* how : {"tool button", "Ctrl+S", "menu"}) QTest::newRow(how) << QString::fromLatin1(how);
    }
    void typedAliasIsSavedByEverySave() {
        QFETCH(QString, how);
        showActive();
        typeAliasWithoutEnter();
        // A desktop leaves the editor its focus while the splash shows; the
        // offscreen platform activates the splash and so closes the editor
        // itself. What counts is that the typed text is in before the savers.
        QString atSplash;
        OnShow<ui::TfrmProgress> watch([&] { atSplash = aliases()->item(0, 1)->text(); });
        if (how == QStringLiteral("tool button"))
            QTest::mouseClick(w->findChild<QToolButton*>(QStringLiteral("cxButton3")), Qt::LeftButton);
        else if (how == QStringLiteral("Ctrl+S"))
            QTest::keyClick(aliases()->indexWidget(aliases()->currentIndex()), Qt::Key_S, Qt::ControlModifier);
        else
            action("Save1")->trigger();
        QTRY_COMPARE(prompter->Texts(), QStringList{kSaved});
        QCOMPARE(atSplash, kTyped);
        QCOMPARE(onDiskAlias0(), kTyped);
        QCOMPARE(aliases()->item(0, 1)->text(), kTyped);
        QVERIFY(!w->AnyPageChanged());
        // The player goes on in the grid (the save's splash may have taken
        // activation from the window, so its focus child is what counts).
        QCOMPARE(w->focusWidget(), static_cast<QWidget*>(aliases()));
    }

    void typedAliasMakesExitAndCloseAsk() {
        showActive();
        typeAliasWithoutEnter();
        prompter->Answer(Answer::No);
        action("Exit1")->trigger();
        QCOMPARE(prompter->Texts(), QStringList{kAskSave});
        QVERIFY(w->Closed());
        QVERIFY(onDiskAlias0() != kTyped);

        w.reset();
        prompter->Clear();
        start();
        showActive();
        typeAliasWithoutEnter();
        prompter->Answer(Answer::Yes);
        QVERIFY(w->close());
        QCOMPARE(prompter->Texts(), QStringList{kAskSave});
        QCOMPARE(onDiskAlias0(), kTyped);
        expectNoQuestionsLeft();
    }

    void typedSpinBoxValueIsTaken() {
        QWidget window;
        auto* spin = new QSpinBox(&window);
        spin->setRange(0, 100);
        spin->setKeyboardTracking(false);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        spin->setFocus();
        QTest::keyClick(spin, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(spin, QStringLiteral("42"));
        QCOMPARE(spin->value(), 0);
        ui::CommitPendingEdits(&window);
        QCOMPARE(spin->value(), 42);
        QVERIFY(spin->hasFocus());
    }

    void inifilesTabSaveKeepsThePageEdits() {
        space()->setText(QStringLiteral("Jump | Fire"));
        prompter->Answer(Answer::No); // leaving the tab: not saved now,
        prompter->Answer(Answer::No); // and not undone
        w->PageCtrl()->setCurrentIndex(5);
        prompter->Clear();
        w->Save1Click();
        // The raw text was not edited: nothing of it is written or asked about.
        QCOMPARE(prompter->Texts(), QStringList{kSaved});
        QCOMPARE(onDisk("Space"), QStringLiteral("Jump | Fire"));
        QVERIFY(rawUser()->toPlainText().contains(QStringLiteral("Space=Jump | Fire")));
        expectNoQuestionsLeft();
    }

    void inifilesTabSaveKeepsTheRawEdit() {
        w->PageCtrl()->setCurrentIndex(5);
        editRawUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        prompter->Answer(Answer::Yes);
        w->Save1Click();
        QCOMPARE(prompter->Texts(), (QStringList{kAskRawSave, kSaved}));
        QCOMPARE(onDisk("Space"), QStringLiteral("Duck"));
        QCOMPARE(space()->text(), QStringLiteral("Duck"));
        QVERIFY(!w->AnyPageChanged());
        expectNoQuestionsLeft();
    }

    void inifilesTabSaveKeepsBothEditsOfOneFile() {
        const QByteArray before = ReadAll(userPath());
        aliases()->item(0, 1)->setText(kTyped);
        w->PageCtrl()->setCurrentIndex(5); // the aliases tab was not the one left
        editRawUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        prompter->Answer(Answer::Yes);
        w->Save1Click();
        QCOMPARE(prompter->Texts(), (QStringList{kAskRawSave, kSaved}));
        QCOMPARE(onDisk("Space"), QStringLiteral("Duck"));
        QCOMPARE(onDiskAlias0(), kTyped);
        // Still CR LF throughout, as the file was.
        QVERIFY(before.count('\n') == before.count("\r\n"));
        QCOMPARE(ReadAll(userPath()).count('\n'), ReadAll(userPath()).count("\r\n"));
        expectNoQuestionsLeft();
    }

    void rawEditSurvivesTabSwitchesAndExitAsks() {
        w->PageCtrl()->setCurrentIndex(5);
        editRawUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        // The raw text is asked about like the other pages; No and No keep it.
        prompter->Answer(Answer::No);
        prompter->Answer(Answer::No);
        w->PageCtrl()->setCurrentIndex(0);
        QCOMPARE(prompter->Texts(),
                 (QStringList{
                     QStringLiteral("Do you want to save the changes you made to \"Inifiles\"?"),
                     QStringLiteral("Do you want to undo your changes to \"Inifiles\"?")}));
        QCOMPARE(w->PageCtrl()->currentIndex(), 0);
        w->PageCtrl()->setCurrentIndex(5);
        QVERIFY(rawUser()->toPlainText().contains(QStringLiteral("Space=Duck")));
        prompter->Clear();
        prompter->Answer(Answer::Yes);
        prompter->Answer(Answer::Ok);
        w->Exit1Click();
        QCOMPARE(prompter->Texts(), (QStringList{kAskSave, QStringLiteral("Your changes have been saved, press OK to exit")}));
        QVERIFY(w->Closed());
        QCOMPARE(onDisk("Space"), QStringLiteral("Duck"));
        expectNoQuestionsLeft();
    }

    void leaveQuestionsComeBeforeTheSwitchAndEscapeStays() {
        startWithMessageBoxes();
        space()->setText(QStringLiteral("changed"));
        QStringList asked;
        QList<int> tabs;
        answerByKey(Qt::Key_Escape, asked, tabs);
        w->PageCtrl()->setCurrentIndex(3);
        QCOMPARE(asked, QStringList{kAskLeave});
        QCOMPARE(w->PageCtrl()->currentIndex(), 0);
        noThenKey(Qt::Key_Escape, asked, tabs);
        w->PageCtrl()->setCurrentIndex(3);
        QCOMPARE(asked, (QStringList{kAskLeave, kAskLeave, kAskUndo}));
        QCOMPARE(w->PageCtrl()->currentIndex(), 0);
        QCOMPARE(space()->text(), QStringLiteral("changed"));
        // A reflex Enter on the undo question keeps the edit, and the switch goes on.
        noThenKey(Qt::Key_Return, asked, tabs);
        w->PageCtrl()->setCurrentIndex(3);
        QCOMPARE(asked.size(), 5);
        QCOMPARE(w->PageCtrl()->currentIndex(), 3);
        // Every question was asked with the page being left in front.
        QCOMPARE(tabs, QList<int>(5, 0));
        QCOMPARE(space()->text(), QStringLiteral("changed"));
        QCOMPARE(onDisk("Space"), QStringLiteral("Jump"));
    }

    void clickingATabAsksFirst() {
        startWithMessageBoxes();
        showActive();
        space()->setText(QStringLiteral("changed"));
        QStringList asked;
        QList<int> tabs;
        QTabBar* bar = w->PageCtrl()->tabBar();
        answerByKey(Qt::Key_Escape, asked, tabs);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(4).center());
        QCOMPARE(asked, QStringList{kAskLeave});
        QCOMPARE(tabs, QList<int>{0});
        QCOMPARE(w->PageCtrl()->currentIndex(), 0);
        QCOMPARE(bar->currentIndex(), 0);
        QVERIFY(w->KeyBindsPage()->isVisible());
        noThenKey(Qt::Key_Return, asked, tabs);
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(4).center());
        QCOMPARE(w->PageCtrl()->currentIndex(), 4);
        QCOMPARE(space()->text(), QStringLiteral("changed"));
    }

    void reflexEnterKeepsTheEditsOnReloadAndSwitch() {
        startWithMessageBoxes();
        space()->setText(QStringLiteral("changed"));
        QStringList asked;
        QList<int> tabs;
        answerByKey(Qt::Key_Return, asked, tabs);
        w->Reload1Click();
        QCOMPARE(asked, QStringList{QStringLiteral("Some fields have changed, Loading will undo these changes\nAre you sure you want to Load?")});
        QCOMPARE(space()->text(), QStringLiteral("changed"));
        answerByKey(Qt::Key_Return, asked, tabs);
        w->Openfiles1Click();
        QCOMPARE(asked.last(), kAskSwitch);
        QCOMPARE(space()->text(), QStringLiteral("changed"));
        // At Exit, Enter saves: the edits are written, not dropped.
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            asked << box->text();
            answerByKey(Qt::Key_Return, asked, tabs);
            QTest::keyClick(box, Qt::Key_Return);
        });
        w->Exit1Click();
        QCOMPARE(asked.mid(2), (QStringList{kAskSave, QStringLiteral("Your changes have been saved, press OK to exit")}));
        QVERIFY(w->Closed());
        QCOMPARE(onDisk("Space"), QStringLiteral("changed"));
    }

    void splashGoesWhenTheRawSaveFails() {
        showActive(); // which takes the start-up splash away
        w->PageCtrl()->setCurrentIndex(5);
        editRawUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        // A folder where the file was: the raw save cannot read it back.
        QVERIFY(QFile::remove(userPath()));
        QVERIFY(QDir().mkdir(userPath()));
        prompter->Answer(Answer::Yes); // "Are you sure you want to save the ini files?"
        action("Save1")->trigger();
        QVERIFY(!prompter->Texts().contains(kSaved));
        QVERIFY(prompter->prompts.last().kind == ui::PromptKind::Stop);
        QVERIFY(!w->ProgressWindow());
        for (QWidget* top : QApplication::topLevelWidgets())
            QVERIFY(!(qobject_cast<ui::TfrmProgress*>(top) && top->isVisible()));
        QDir().rmdir(userPath());
    }

    void failedSaveAsCopySaysSoAndKeepsTheFile() {
        const QString into = game->SystemDir() + QStringLiteral("no such folder/Copy.ini");
        prompter->AnswerFile(into);
        w->SaveINIfilesAS1Click();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("Could not copy ") + userPath() + QStringLiteral("\nto ") + into +
                                                QStringLiteral("\nThe current user.ini stays in use.")});
        QCOMPARE(w->CurrentUserIniName, QStringLiteral("User.ini"));
        QCOMPARE(setting("UT2k4", "CurrentUserIni"), QStringLiteral("User.ini"));
    }

    void backupCommandsWorkWhileThePagesAreLocked() {
        w.reset();
        const QString sys = game->SystemDir();
        // A start without User.ini locks the pages; an old pair in lower case waits.
        WriteAll(sys + QStringLiteral("user_2-2-2003.ini"), ReadAll(userPath()));
        WriteAll(sys + QStringLiteral("ut2004_2-2-2003.ini"), ReadAll(sys + QStringLiteral("UT2004.ini")));
        QVERIFY(QFile::remove(userPath()));
        start(nullptr, false);
        QVERIFY(!w->PageCtrl()->isEnabled());
        prompter->Clear();
        action("BackupINIfiles1")->trigger();
        QCOMPARE(prompter->Texts().size(), 1);
        QVERIFY(prompter->Texts()[0].startsWith(
            QStringLiteral("The following INI files have been backed up")));
        prompter->Clear();
        bool opened = false;
        WhenModal<maintenance::TfrmIniManager>([&](maintenance::TfrmIniManager* m) {
            opened = true;
            const auto found = m->treelist->findItems(QStringLiteral("2-2-2003"), Qt::MatchExactly);
            QCOMPARE(found.size(), 1);
            m->treelist->setCurrentItem(found.first());
            prompter->Answer(Answer::Yes); // restore that day
            prompter->Answer(Answer::Yes); // the current pair cannot be kept: go on
            m->btnRestore->click();
            m->accept();
        });
        action("Backupmanager1")->trigger();
        QVERIFY(opened);
        QCOMPARE(prompter->Texts().last(), QStringLiteral("The settings are restored\nYour previous settings are now in the User.BAK and UT2004.BAK files"));
        // The restored files got the load the start could not do.
        QVERIFY(w->PageCtrl()->isEnabled());
        QCOMPARE(space()->text(), QStringLiteral("Jump"));
        expectNoQuestionsLeft();
    }

    // Each question that throws edits away offers No for a reflex Enter.
    void discardingQuestionsDefaultToNo() {
        space()->setText(QStringLiteral("changed"));
        prompter->Answer(Answer::No);
        w->Reload1Click();
        prompter->Answer(Answer::No);
        w->Openfiles1Click();
        prompter->Answer(Answer::No); // not saved
        prompter->Answer(Answer::No); // nor undone
        w->PageCtrl()->setCurrentIndex(5);
        QCOMPARE(w->PageCtrl()->currentIndex(), 5);
        editRawUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        prompter->Answer(Answer::No);
        w->IniFilesPage()->btnReloadInisClick();
        QCOMPARE(prompter->prompts.size(), 5);
        for (const auto& p : prompter->prompts)
            if (p.text != kAskLeave) QVERIFY2(p.defaultAnswer == std::optional<Answer>(Answer::No), qPrintable(p.text));
        QVERIFY(rawUser()->toPlainText().contains(QStringLiteral("Space=Duck")));
        QCOMPARE(space()->text(), QStringLiteral("changed"));
        expectNoQuestionsLeft();
    }

    void statsWarningOnlyWhenFocusMovesToAnotherControl() {
        showActive();
        w->PageCtrl()->setCurrentIndex(2);
        auto* user = w->findChild<QLineEdit*>(QStringLiteral("edtStatsUser"));
        user->setFocus();
        QTRY_VERIFY(user->hasFocus());
        QTest::keyClicks(user, QStringLiteral("abc"));
        auto* file = w->findChild<QMenu*>(QStringLiteral("File1"));
        file->popup(w->mapToGlobal(QPoint(10, 10)));
        QTRY_VERIFY(file->isVisible());
        file->close();
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        other.close();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTRY_VERIFY(user->hasFocus());
        QVERIFY(prompter->prompts.isEmpty());
        QTest::keyClick(user, Qt::Key_Tab);
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("The username must be at least 4 characters long")});
    }

    void helpAndAbout() {
        // Without the guide beside the program, Help says where it looked.
        w->Quorlex2k4help1Click();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("Cannot open the user's guide:\n") +
                             game->ProgramDir() + QStringLiteral("guide/UserGuide.md")});
        QStringList opened;
        platform::SetShellOpenHookForTesting([&](const QString& t) { opened << t; });
        // The guide the build puts beside the program: the README's, pictures and all.
        const QDir built(QStringLiteral(QUORLEX_GUIDE_DIR));
        QDir().mkpath(game->ProgramDir() + QStringLiteral("guide/screenshots"));
        QVERIFY(QFile::copy(built.filePath(QStringLiteral("UserGuide.md")),
                            game->ProgramDir() + QStringLiteral("guide/UserGuide.md")));
        for (const QString& name :
             QDir(built.filePath(QStringLiteral("screenshots"))).entryList(QDir::Files))
            QVERIFY(QFile::copy(built.filePath(QStringLiteral("screenshots/") + name),
                                game->ProgramDir() + QStringLiteral("guide/screenshots/") + name));
        QString guideText, guideTitle;
        QSize picture;
        int scrolledDown = -1, sideways = -10000;
        WhenModal<app::TfrmGuide>([&](app::TfrmGuide* g) {
            guideTitle = g->windowTitle();
            guideText = g->browser->toPlainText();
            // It opens at the top, and its pictures need no sideways scrolling.
            scrolledDown = g->browser->verticalScrollBar()->value();
            // The widest row of pictures, alone or side by side in a table.
            std::map<std::pair<QTextTable*, int>, qreal> rows;
            QTextDocument* doc = g->browser->document();
            for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
                const QTextCursor at(block);
                QTextTable* table = at.currentTable();
                const int row = table ? table->cellAt(at).row() : block.blockNumber();
                for (auto it = block.begin(); !it.atEnd(); ++it)
                    if (it.fragment().charFormat().isImageFormat())
                        rows[{table, row}] += it.fragment().charFormat().toImageFormat().width();
            }
            for (const auto& [where, width] : rows)
                sideways = std::max(sideways, int(width) - g->browser->viewport()->width());
            const QVariant image = g->browser->document()->resource(
                QTextDocument::ImageResource, QUrl(QStringLiteral("screenshots/1-tabMain.jpg")));
            picture = image.value<QImage>().size();
            emit g->browser->anchorClicked(QUrl(QStringLiteral("https://www.quorlex2004.org/")));
            g->btnClose->click();
        });
        prompter->Clear();
        w->Quorlex2k4help1Click();
        QVERIFY(prompter->prompts.isEmpty());
        QCOMPARE(guideTitle, QStringLiteral("Quorlex 2004 help"));
        QVERIFY(guideText.contains(QStringLiteral("Key binds you can read.")));
        QVERIFY(!guideText.contains(QStringLiteral("Building by hand"))); // the player's part only
        QVERIFY(picture.isValid());
        QCOMPARE(scrolledDown, 0);
        QVERIFY2(sideways <= 0, qPrintable(QString::number(sideways)));
        QCOMPARE(opened, QStringList{QStringLiteral("https://www.quorlex2004.org/")});
        opened.clear();
        QString version;
        WhenModal<app::TfrmAbout>([&](app::TfrmAbout* a) {
            version = a->lblVersion->text();
            QCOMPARE(a->windowTitle(), QStringLiteral("About - Quorlex 2004"));
            for (QLabel* l : {a->Label3, a->Label5, a->Label7})
                QTest::mouseClick(l, Qt::LeftButton);
            a->accept();
        });
        w->Abouty1Click();
        QCOMPARE(version, QStringLiteral("Quorlex 2004 v2.0"));
        QCOMPARE(opened.size(), 3);
        QVERIFY(opened[0].startsWith(QStringLiteral("https://")));
        QVERIFY(opened[1].startsWith(QStringLiteral("mailto:")));
        QVERIFY(opened[2].startsWith(QStringLiteral("irc://")));
    }
};

QTEST_MAIN(CommandsTest)
#include "CommandsTest.moc"
