#include "app/TfrmMain.h"
#include "ini/IniFile.h"
#include "keybinds/KeyTable.h"
#include "keybinds/TKeyBindsPage.h"
#include "tests/support/PageHarness.h"

#include <QFile>
#include <QKeyEvent>
#include <QPushButton>
#include <QGroupBox>
#include <QLineEdit>
#include <QSet>
#include <QTabWidget>
#include <QToolButton>
#include <QtTest>

using keybinds::TKeyBindsPage;
using namespace testsupport;

const QString kReadOnly = QStringLiteral(" (the file is read-only)");

class KeyBindsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    GameFolder* game = nullptr;
    ScriptedPrompter* prompter = nullptr;
    std::unique_ptr<TKeyBindsPage> page;

    QString userPath() const { return h->UserIniPath(); }
    ini::TIniFile& userIni() const { return *h->handles.UserIni; }
    QLineEdit* f(const char* name) const { return page->Field(name); }
    QString read(const char* key) const {
        return QString::fromStdString(userIni().ReadText("Engine.Input", key, "<missing>"));
    }
    void loadFrom(const QByteArray& userIniBytes) {
        WriteAll(userPath(), userIniBytes);
        QVERIFY(page->LoadKeyBinds());
    }

private slots:
    void init() {
        h = std::make_unique<PageHarness>();
        game = &h->game;
        prompter = &h->prompter;
        page = std::make_unique<TKeyBindsPage>(h->ctx);
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    // The 130 keys of the game's table and the two thumb buttons.
    void tableHas132BoundRowsWithUniqueFields() {
        int bound = 0;
        QSet<QString> names, keys;
        for (const auto& row : keybinds::KeyRows()) {
            QVERIFY2(f(row.field), row.field);
            names.insert(QString::fromLatin1(row.field));
            if (row.key) {
                ++bound;
                keys.insert(QString::fromLatin1(row.key).toLower());
            }
        }
        QCOMPARE(bound, 132);
        QCOMPARE(keys.size(), 132);
        QCOMPARE(names.size(), 134);
        QCOMPARE(page->findChild<QToolButton*>(QStringLiteral("SpeedButton5"))->toolTip(),
                 QStringLiteral("Clear all the Other keys"));
    }

    void loadFillsFieldsAndMissingKeysEmptyThem() {
        f("edtJoySlider1")->setText(QStringLiteral("kept"));
        f("edtJoyV")->setText(QStringLiteral("stale"));
        loadFrom("[Engine.Input]\r\nspace=\"Jump\"\r\nLeftMouse=Fire\r\nMouseWheelUp=PrevWeapon\r\n");
        QCOMPARE(f("edtSpace")->text(), QStringLiteral("Jump"));
        QCOMPARE(f("edtLeftMouse")->text(), QStringLiteral("Fire"));
        QCOMPARE(f("edtMWheelUp")->text(), QStringLiteral("PrevWeapon"));
        QCOMPARE(f("edtJoyV")->text(), QString());
        QCOMPARE(f("edtJoySlider1")->text(), QStringLiteral("kept")); // sliders are never read
        QVERIFY(!page->KeyBindsChanged());
    }

    void unchangedSaveOfTheDemoFileKeepsEveryByte() {
        const QByteArray before = ReadAll(userPath());
        QVERIFY(page->LoadKeyBinds());
        QVERIFY(page->SaveKeyBinds());
        QCOMPARE(ReadAll(userPath()), before);
    }

    void saveWritesEditedRowsOnly() {
        loadFrom("[Engine.Input]\r\nSpace=\"Jump\"\r\nBackSpace=\r\n\r\n[Other]\r\nx=1\r\n");
        f("edtBackSpace")->setText(QStringLiteral("Suicide"));
        f("edtJoySlider1")->setText(QStringLiteral("not written"));
        f("edtJoyV")->setText(QStringLiteral("Jump"));
        QVERIFY(page->SaveKeyBinds());
        // The quoted Space stays as the player wrote it; a new key goes after the section's last line.
        QCOMPARE(ReadAll(userPath()), QByteArray("[Engine.Input]\r\nSpace=\"Jump\"\r\nBackSpace=Suicide\r\nJoyV=Jump\r\n"
                                                 "\r\n[Other]\r\nx=1\r\n"));
        QVERIFY(!page->KeyBindsChanged());
        f("edtJoyV")->setText(QString());
        QVERIFY(page->SaveKeyBinds());
        QVERIFY(ReadAll(userPath()).contains("\r\nJoyV=\r\n")); // an emptied field empties its key
    }

    void changeTrackingCoversTheTableAndSlidersButNotTheOwnKeyFields() {
        QVERIFY(page->LoadKeyBinds());
        f("edtSpace")->setText(QStringLiteral("jump"));
        QVERIFY2(page->KeyBindsChanged(), "letter case counts");
        f("edtSpace")->setText(QStringLiteral("Jump"));
        QVERIFY(!page->KeyBindsChanged());
        page->findChild<QLineEdit*>(QStringLiteral("edtCharNoCheck"))->setText(QStringLiteral("Q"));
        page->findChild<QLineEdit*>(QStringLiteral("edtCommandNoCheck"))->setText(QStringLiteral("cmd"));
        QVERIFY(!page->KeyBindsChanged());
        f("edtJoySlider2")->setText(QStringLiteral("x"));
        QVERIFY(page->KeyBindsChanged());
    }

    void clearingAGroupAsksFirst() {
        QVERIFY(page->LoadKeyBinds());
        prompter->Answer(ui::Answer::No);
        page->SpeedButton5Click();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral(
                     "This will empty all fields of \"Other keys\". Are you sure?")});
        QCOMPARE(prompter->prompts[0].buttons, ui::Buttons::YesNo);
        QCOMPARE(f("edtSpace")->text(), QStringLiteral("Jump"));

        prompter->Answer(ui::Answer::Yes);
        page->findChild<QToolButton*>(QStringLiteral("SpeedButton5"))->click();
        int empty = 0;
        for (const auto& row : keybinds::KeyRows())
            if (row.group == 4) empty += f(row.field)->text().isEmpty() ? 1 : 0;
        QCOMPARE(empty, 46); // 44, and the thumb buttons Mouse4 and Mouse5
        QCOMPARE(f("edtA")->text(), QStringLiteral("StrafeLeft")); // other groups untouched
        QCOMPARE(read("Space"), QStringLiteral("Jump")); // nothing written yet
        QVERIFY(page->KeyBindsChanged());
        QVERIFY(page->SaveKeyBinds());
        QCOMPARE(read("Space"), QString());
        QCOMPARE(read("MouseWheelDown"), QString());
    }

    // With a search on, the group's button empties only the rows the search shows.
    void clearingAGroupDuringASearchKeepsTheHiddenRows() {
        QVERIFY(page->LoadKeyBinds());
        page->findChild<QLineEdit*>(QStringLiteral("edtSearchNoCheck"))->setText(QStringLiteral("weapon"));
        prompter->Answer(ui::Answer::Yes);
        page->SpeedButton1Click(); // Alpha keys
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("This will empty the 2 fields of \"Alpha keys\" that "
                                            "the search shows. Are you sure?")});
        QCOMPARE(prompter->prompts[0].defaultAnswer, std::optional<ui::Answer>(ui::Answer::No));
        QCOMPARE(f("edtG")->text(), QString()); // ThrowWeapon, shown
        QCOMPARE(f("edtQ")->text(), QString()); // SwitchToBestWeapon, shown
        QCOMPARE(f("edtA")->text(), QStringLiteral("StrafeLeft")); // hidden by the search
        QCOMPARE(f("edtSpace")->text(), QStringLiteral("Jump"));
        QVERIFY(page->SaveKeyBinds());
        QCOMPARE(read("Q"), QString());
        QCOMPARE(read("A"), QStringLiteral("StrafeLeft"));
    }

    void clearingTheJoystickGroupEmptiesTheSliders() {
        f("edtJoySlider1")->setText(QStringLiteral("s"));
        prompter->Answer(ui::Answer::Yes);
        page->SpeedButton6Click();
        QCOMPARE(f("edtJoySlider1")->text(), QString());
    }

    void failedSaveReportsAndKeepsThePageChanged() {
        QVERIFY(page->LoadKeyBinds());
        f("edtSpace")->setText(QStringLiteral("Duck"));
        QFile::setPermissions(userPath(), QFile::ReadOwner);
        QVERIFY(!page->SaveKeyBinds());
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("Error occurred:Unable to write to ") + userPath() +
                             kReadOnly});
        QCOMPARE(prompter->prompts[0].kind, ui::PromptKind::Error);
        QVERIFY(page->KeyBindsChanged());
        QCOMPARE(read("Space"), QStringLiteral("Jump"));
    }

    // ---- "Define own key" ----

    QLineEdit* keyField() const { return page->findChild<QLineEdit*>(QStringLiteral("edtCharNoCheck")); }
    QLineEdit* commandField() const { return page->findChild<QLineEdit*>(QStringLiteral("edtCommandNoCheck")); }
    void release(int qtKey, Qt::KeyboardModifiers mods = Qt::NoModifier, quint32 scanCode = 0) {
        QKeyEvent press(QEvent::KeyPress, qtKey, mods, scanCode, 0, 0);
        QKeyEvent up(QEvent::KeyRelease, qtKey, mods, scanCode, 0, 0);
        QApplication::sendEvent(keyField(), &press);
        QApplication::sendEvent(keyField(), &up);
    }

    void pressedKeysAreNamedAndShowTheirCommand() {
        QVERIFY(page->LoadKeyBinds());
        QCOMPARE(keyField()->text(), QStringLiteral(".."));
        QTest::keyClick(keyField(), Qt::Key_Q);
        QCOMPARE(keyField()->text(), QStringLiteral("Q"));
        QCOMPARE(commandField()->text(), QStringLiteral("SwitchToBestWeapon"));
        h->handles.UserIni->WriteText("Engine.Input", "NumPad5", "Taunt gesture_cheer");
        QTest::keyClick(keyField(), Qt::Key_5, Qt::KeypadModifier);
        QCOMPARE(keyField()->text(), QStringLiteral("Numpad5"));
        QCOMPARE(commandField()->text(), QStringLiteral("Taunt gesture_cheer"));
        QTest::keyClick(keyField(), Qt::Key_7);
        QCOMPARE(keyField()->text(), QStringLiteral("7"));
        QCOMPARE(commandField()->text(), QStringLiteral("SwitchWeapon 7"));
        // A key without a name keeps the key but refreshes the command.
        commandField()->setText(QStringLiteral("typed"));
        QTest::keyClick(keyField(), Qt::Key_Meta);
        QCOMPARE(keyField()->text(), QStringLiteral("7"));
        QCOMPARE(commandField()->text(), QStringLiteral("SwitchWeapon 7"));
#ifndef Q_OS_WIN
        // The French key left of 1, with no keyboard map to tell the layout
        // (offscreen): taken at its place on a US keyboard.
        release(Qt::Key_twosuperior, Qt::NoModifier, 49);
        QCOMPARE(keyField()->text(), QStringLiteral("Tilde"));
        QCOMPARE(commandField()->text(), QStringLiteral("ConsoleToggle"));
#endif
        QVERIFY(h->reported.isEmpty());
    }

    void typedCharactersNeverReachTheKeyField() {
        QTest::keyClicks(keyField(), QStringLiteral("hello"));
        QCOMPARE(keyField()->text(), QStringLiteral("O"));
        QVERIFY(!page->KeyBindsChanged());
    }

    void tabMovesTheFocusOn() {
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        page->activateWindow();
        keyField()->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(page.get()));
        QTest::keyClick(keyField(), Qt::Key_Tab);
        QVERIFY(!keyField()->hasFocus());
        QCOMPARE(keyField()->text(), QStringLiteral(".."));
    }

    void saveBeforeAnyKeyWarns() {
        page->btnSaveClick();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("You have to select a letter first")});
        QCOMPARE(prompter->prompts[0].kind, ui::PromptKind::Warning);
    }

    void savingAKeyWritesAtOnceAndRefreshesTheTable() {
        QVERIFY(page->LoadKeyBinds());
        QTest::keyClick(keyField(), Qt::Key_CapsLock);
        QCOMPARE(keyField()->text(), QStringLiteral("Capslock"));
        commandField()->setText(QStringLiteral("Walking"));
        page->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
        QVERIFY(prompter->prompts.isEmpty());
        // The demo file has CapsLock: its entry is replaced in place.
        QVERIFY(ReadAll(userPath()).contains("\r\nCapsLock=Walking\r\n"));
        QCOMPARE(f("edtCapsLock")->text(), QStringLiteral("Walking"));
        QVERIFY(!page->KeyBindsChanged());
    }

    void savingAKeyTheFileLacksAddsItInThisSpelling() {
        loadFrom("[Engine.Input]\r\nSpace=Jump\r\n\r\n[Next]\r\n");
        QTest::keyClick(keyField(), Qt::Key_CapsLock);
        commandField()->setText(QString());
        page->btnSaveClick();
        QCOMPARE(ReadAll(userPath()), QByteArray("[Engine.Input]\r\nSpace=Jump\r\nCapslock=\r\n\r\n[Next]\r\n"));
    }

    void savingAKeyWithOtherEditsPendingWarnsAndKeepsThem() {
        QVERIFY(page->LoadKeyBinds());
        f("edtA")->setText(QStringLiteral("pending"));
        QTest::keyClick(keyField(), Qt::Key_Space);
        commandField()->setText(QStringLiteral("Jump | Fire"));
        page->btnSaveClick();
        QCOMPARE(prompter->Texts(), QStringList{QStringLiteral("There have been some changes in the other keybinds.\nPlease Save, or Load first!")});
        // Nothing is written until the other edits are saved or loaded.
        QCOMPARE(read("Space"), QStringLiteral("Jump"));
        QCOMPARE(f("edtSpace")->text(), QStringLiteral("Jump"));
        QCOMPARE(f("edtA")->text(), QStringLiteral("pending"));
    }

    void savingAKeyToAReadOnlyFileGoesToTheGeneralReport() {
        QTest::keyClick(keyField(), Qt::Key_Q);
        QFile::setPermissions(userPath(), QFile::ReadOwner);
        page->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
        QCOMPARE(h->reported, QStringList{QStringLiteral("Unable to write to ") + userPath() + kReadOnly});
    }

    // The page inside the main window: save, leave the tab, exit.
    void mainWindowSaveAndLeaveTheTab() {
        game->WriteSettings();
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter;
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        app::TfrmMain w(env);
        QVERIFY(w.StartupFinished);
        auto* space = w.KeyBindsPage()->Field("edtSpace");
        space->setText(QStringLiteral("Jump | Fire"));
        // Leaving with No, No keeps the edit unsaved.
        prompter->Answer(ui::Answer::No);
        prompter->Answer(ui::Answer::No);
        w.PageCtrl()->setCurrentIndex(4);
        QCOMPARE(prompter->Texts(),
                 (QStringList{
                     QStringLiteral("Do you want to save the changes you made to \"Key binds\"?"),
                     QStringLiteral("Do you want to undo your changes to \"Key binds\"?")}));
        w.PageCtrl()->setCurrentIndex(0);
        QCOMPARE(space->text(), QStringLiteral("Jump | Fire"));
        QVERIFY(w.AnyPageChanged());
        prompter->Clear();
        w.Save1Click();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("The changes have been successfully saved!")});
        QCOMPARE(read("Space"), QStringLiteral("Jump | Fire"));
        QVERIFY(!w.AnyPageChanged());
        // Nothing changed: Exit asks nothing.
        prompter->Clear();
        w.Exit1Click();
        QVERIFY(prompter->prompts.isEmpty());
    }

    // F3 is the window's help; in the key field it is a key to bind.
    void mainWindowShortcutsWaitWhileTheKeyFieldHasTheFocus() {
        game->WriteSettings();
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter;
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        app::TfrmMain w(env);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        auto* key = Find<QLineEdit>(&w, "edtCharNoCheck");
        key->setFocus();
        QTRY_VERIFY(key->hasFocus());
        prompter->Clear();
        QTest::keyClick(key, Qt::Key_F3);
        QCOMPARE(key->text(), QStringLiteral("F3"));
        QVERIFY2(prompter->prompts.isEmpty(), qPrintable(prompter->Texts().join(QLatin1Char('|'))));
        auto* space = Find<QLineEdit>(&w, "edtSpace");
        space->setFocus();
        QTRY_VERIFY(space->hasFocus());
        QTest::keyClick(space, Qt::Key_F3);
        // This program folder has no guide: the help says where it looked.
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("Cannot open the user's guide:\n") +
                             game->ProgramDir() + QStringLiteral("guide/UserGuide.md")});
    }

    void mainWindowSaveFailureIsNotCalledASuccess() {
        game->WriteSettings();
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter;
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        app::TfrmMain w(env);
        QFile::setPermissions(userPath(), QFile::ReadOwner);
        Find<QLineEdit>(&w, "edtSpace")->setText(QStringLiteral("Duck"));
        w.Save1Click();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("Error occurred:Unable to write to ") + userPath() +
                             kReadOnly});
    }
};

QTEST_MAIN(KeyBindsTest)
#include "KeyBindsTest.moc"
