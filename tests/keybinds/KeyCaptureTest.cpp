// The single-key editor as players on French, German and Russian keyboards
// use it: key events built as xcb delivers them (X keycode, keysym, text), sent
// through the real field; the window's shortcuts while the field has the focus.
#include "ini/IniFile.h"
#include "keybinds/TKeyBindsPage.h"
#include "tests/support/PageHarness.h"

#include <QAction>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtTest>

using keybinds::TKeyBindsPage;
using namespace testsupport;

namespace {

struct XKey {
    quint32 keycode;
    quint32 keysym;
    int qtKey;
    QString text;
};

} // namespace

class KeyCaptureTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TKeyBindsPage> page;

    QLineEdit* keyField() const {
        return page->findChild<QLineEdit*>(QStringLiteral("edtCharNoCheck"));
    }
    QLineEdit* commandField() const {
        return page->findChild<QLineEdit*>(QStringLiteral("edtCommandNoCheck"));
    }
    QString read(const char* key) const {
        return QString::fromStdString(
            h->handles.UserIni->ReadText("Engine.Input", key, "<missing>"));
    }

    // Press and release, as the X server reports the key of that layout.
    void press(const XKey& k, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent down(QEvent::KeyPress, k.qtKey, mods, k.keycode, k.keysym, 0, k.text);
        QKeyEvent up(QEvent::KeyRelease, k.qtKey, mods, k.keycode, k.keysym, 0, k.text);
        QApplication::sendEvent(keyField(), &down);
        QApplication::sendEvent(keyField(), &up);
    }
    void bindByKey(const XKey& k, const QString& command) {
        press(k);
        commandField()->setText(command);
        page->findChild<QPushButton*>(QStringLiteral("btnSave"))->click();
    }

private slots:
    void init() {
        h = std::make_unique<PageHarness>();
        page = std::make_unique<TKeyBindsPage>(h->ctx);
        WriteAll(h->UserIniPath(), "[Engine.Input]\r\nM=ShowMenu\r\nSemicolon=\r\nComma=Say gg\r\n"
                                   "Q=Fire\r\nZ=Duck\r\nY=Talk\r\n\r\n[Next]\r\nx=1\r\n");
        QVERIFY(page->LoadKeyBinds());
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    void frenchPlayerBindsM() {
        // The key labelled M sits where a US keyboard has the semicolon.
        const XKey m{47, 0x6d, Qt::Key_M, QStringLiteral("m")};
        press(m);
        QCOMPARE(keyField()->text(), QStringLiteral("M"));
        QCOMPARE(commandField()->text(), QStringLiteral("ShowMenu"));
        bindByKey(m, QStringLiteral("SwitchToBestWeapon"));
        QCOMPARE(read("M"), QStringLiteral("SwitchToBestWeapon"));
        QCOMPARE(read("Semicolon"), QString());
        QCOMPARE(page->Field("edtM")->text(), QStringLiteral("SwitchToBestWeapon"));

        // The comma key, where a US keyboard has M.
        press({58, 0x2c, Qt::Key_Comma, QStringLiteral(",")});
        QCOMPARE(keyField()->text(), QStringLiteral("Comma"));
        QCOMPARE(commandField()->text(), QStringLiteral("Say gg"));
        // & on the 1 key, and the key left of 1.
        press({10, 0x26, Qt::Key_Ampersand, QStringLiteral("&")});
        QCOMPARE(keyField()->text(), QStringLiteral("1"));
        press({49, 0xb2, Qt::Key_twosuperior, QStringLiteral("\u00b2")});
        QCOMPARE(keyField()->text(), QStringLiteral("Tilde"));
        QVERIFY(h->prompter.prompts.isEmpty());
    }

    void germanPlayerGetsZAndYWhereTheyAreLabelled() {
        press({29, 0x7a, Qt::Key_Z, QStringLiteral("z")});
        QCOMPARE(keyField()->text(), QStringLiteral("Z"));
        QCOMPARE(commandField()->text(), QStringLiteral("Duck"));
        press({52, 0x79, Qt::Key_Y, QStringLiteral("y")});
        QCOMPARE(keyField()->text(), QStringLiteral("Y"));
        QCOMPARE(commandField()->text(), QStringLiteral("Talk"));
        press({34, 0xfc, Qt::Key_Udiaeresis, QStringLiteral("\u00fc")});
        QCOMPARE(keyField()->text(), QStringLiteral("LeftBracket"));
    }

    void russianLettersAreTheLatinKeyOfTheirPlace() {
        // The game sees the key in the place of Q as Q, whatever it types.
        press({24, 0x6ca, 0x419, QStringLiteral("\u0439")});
        QCOMPARE(keyField()->text(), QStringLiteral("Q"));
        QCOMPARE(commandField()->text(), QStringLiteral("Fire"));
        bindByKey({52, 0x6d1, 0x42f, QStringLiteral("\u044f")}, QStringLiteral("Crouch"));
        QCOMPARE(keyField()->text(), QStringLiteral("Z"));
        QCOMPARE(read("Z"), QStringLiteral("Crouch"));
        press({47, 0x6d6, 0x416, QStringLiteral("\u0436")});
        QCOMPARE(keyField()->text(), QStringLiteral("Semicolon"));
    }

    void aKeyWithoutANameIsRefusedAndNamed() {
        press({47, 0x6d, Qt::Key_M, QStringLiteral("m")});
        commandField()->setText(QStringLiteral("typed"));
        press({94, 0x3c, Qt::Key_Less, QStringLiteral("<")}); // the key between Shift and W
        QCOMPARE(keyField()->text(), QStringLiteral("M"));
        QCOMPARE(commandField()->text(), QStringLiteral("ShowMenu"));
        QCOMPARE(h->prompter.prompts.size(), 1);
        QCOMPARE(h->prompter.prompts[0].kind, ui::PromptKind::Warning);
        QCOMPARE(
            h->prompter.prompts[0].text,
            QStringLiteral("The key \"<\" has no name in the game, so it cannot be bound here.\n"
                           "The key field keeps M."));
        QVERIFY2(h->prompter.prompts[0].text.contains(QStringLiteral("\"<\"")),
                 qPrintable(h->prompter.prompts[0].text));
        // Nothing was written under a name the game does not know.
        const QByteArray before = ReadAll(h->UserIniPath());
        page->btnSaveClick();
        QCOMPARE(read("M"), QStringLiteral("ShowMenu"));
        QVERIFY(!ReadAll(h->UserIniPath()).contains("<"));
        QVERIFY(ReadAll(h->UserIniPath()).size() <= before.size());
    }

    // F1-F3 open the ReadMe, About and Help and Ctrl+S saves; while the key
    // field has the focus they are keys to bind, and work again after it.
    void theKeyFieldTakesKeysBeforeWindowShortcuts() {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* other = new QLineEdit(&window);
        layout->addWidget(other);
        auto* inWindow = new TKeyBindsPage(h->ctx, &window);
        layout->addWidget(inWindow);
        auto* field = inWindow->findChild<QLineEdit*>(QStringLiteral("edtCharNoCheck"));
        QStringList fired;
        for (const QKeySequence& seq :
             {QKeySequence(Qt::Key_F1), QKeySequence(Qt::Key_F2), QKeySequence(Qt::Key_F3),
              QKeySequence(Qt::CTRL | Qt::Key_S)}) {
            auto* action = new QAction(&window);
            action->setShortcut(seq);
            window.addAction(action);
            connect(action, &QAction::triggered, this, [&fired, seq] { fired << seq.toString(); });
        }
        window.resize(900, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QTest::keyClick(other, Qt::Key_F1);
        QCOMPARE(fired, QStringList{QStringLiteral("F1")}); // the shortcuts work
        fired.clear();

        field->setFocus();
        QTRY_VERIFY(field->hasFocus());
        for (Qt::Key key : {Qt::Key_F1, Qt::Key_F2, Qt::Key_F3}) {
            QTest::keyClick(field, key);
            QCOMPARE(field->text(), QKeySequence(key).toString());
        }
        QTest::keyClick(field, Qt::Key_S, Qt::ControlModifier);
        QVERIFY2(fired.isEmpty(), qPrintable(fired.join(QLatin1Char(' '))));
        // Tab still leaves the field; the shortcuts are back.
        QTest::keyClick(field, Qt::Key_Tab);
        QVERIFY(!field->hasFocus());
        other->setFocus();
        QTRY_VERIFY(other->hasFocus());
        QTest::keyClick(other, Qt::Key_F2);
        QCOMPARE(fired, QStringList{QStringLiteral("F2")});
    }

    // One real keyboard: the X server switched to the French layout, keys
    // typed through it. Runs where an X server and the tools are at hand.
    void realFrenchKeyboardUnderX() {
        if (QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs an X server (QT_QPA_PLATFORM=xcb, under xvfb-run)");
        const QString setxkbmap = QStandardPaths::findExecutable(QStringLiteral("setxkbmap"));
        const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
        if (setxkbmap.isEmpty() || xdotool.isEmpty()) QSKIP("setxkbmap or xdotool missing");
        QCOMPARE(QProcess::execute(setxkbmap, {QStringLiteral("fr")}), 0);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        page->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page.get()));
        keyField()->setFocus();
        QTRY_VERIFY(keyField()->hasFocus());
        const auto type = [&](const char* keysym) {
            QCOMPARE(
                QProcess::execute(xdotool, {QStringLiteral("key"), QString::fromLatin1(keysym)}),
                0);
        };
        type("m");
        QTRY_COMPARE(keyField()->text(), QStringLiteral("M"));
        type("comma");
        QTRY_COMPARE(keyField()->text(), QStringLiteral("Comma"));
        type("a");
        QTRY_COMPARE(keyField()->text(), QStringLiteral("A"));
        type("ampersand");
        QTRY_COMPARE(keyField()->text(), QStringLiteral("1"));
        type("F1");
        QTRY_COMPARE(keyField()->text(), QStringLiteral("F1"));
        QProcess::execute(setxkbmap, {QStringLiteral("us")});
    }
};

QTEST_MAIN(KeyCaptureTest)
#include "KeyCaptureTest.moc"
