// The key binds page as a player reads it: whole commands, the search, the
// mark on keys that share a command, the thumb buttons, and groups that
// reflow with the width.
#include "ini/IniFile.h"
#include "keybinds/KeyFlow.h"
#include "keybinds/KeyTable.h"
#include "keybinds/TKeyBindsPage.h"
#include "tests/support/PageHarness.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

using keybinds::TKeyBindsPage;
using namespace testsupport;

class KeyBindsReadTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TKeyBindsPage> page;

    QLineEdit* f(const char* name) const { return page->Field(name); }
    QLineEdit* search() const {
        return page->findChild<QLineEdit*>(QStringLiteral("edtSearchNoCheck"));
    }
    QLabel* status() const { return page->findChild<QLabel*>(QStringLiteral("lblKeyStatus")); }
    QGroupBox* group(const char* caption) const {
        for (auto* box : page->findChildren<QGroupBox*>())
            if (box->title() == QString::fromLatin1(caption)) return box;
        return nullptr;
    }
    QLabel* labelOf(const QLineEdit* field) const {
        for (auto* label : page->findChildren<QLabel*>())
            if (label->buddy() == field) return label;
        return nullptr;
    }
    void showActive(QSize size) {
        page->resize(size);
        page->show();
        QVERIFY(QTest::qWaitForWindowExposed(page.get()));
        page->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(page.get()));
    }
    void loadFrom(const QByteArray& bytes) {
        WriteAll(h->UserIniPath(), bytes);
        QVERIFY(page->LoadKeyBinds());
    }

private slots:
    void init() {
        h = std::make_unique<PageHarness>();
        page = std::make_unique<TKeyBindsPage>(h->ctx);
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    void wholeCommandsInFieldsToolTipsAndStatusLine() {
        QVERIFY(page->LoadKeyBinds());
        const QFontMetrics fm(f("edtQ")->font());
        for (int width : {1800, 1400, 1180, 1000, 805}) {
            showActive({width, 460});
            QTest::qWait(20);
            for (const char* text : {"SwitchToBestWeapon", "taunt gesture_point",
                                     "ToggleBehindView", "mouseX Speed=2.0"})
                for (const auto& row : keybinds::KeyRows())
                    QVERIFY2(f(row.field)->width() >
                                 fm.horizontalAdvance(QString::fromLatin1(text)) + 8,
                             qPrintable(QStringLiteral("%1 at %2")
                                            .arg(QString::fromLatin1(row.field))
                                            .arg(width)));
        }
        QCOMPARE(f("edtB")->toolTip(), QStringLiteral("ToggleBehindView"));
        QCOMPARE(f("edtQ")->toolTip(), QStringLiteral("SwitchToBestWeapon\nAlso on: MiddleMouse"));
        // A long command shows from its start.
        QCOMPARE(f("edtMouseX")->cursorPosition(), 0);

        f("edtMouseX")->setFocus();
        QTRY_VERIFY(f("edtMouseX")->hasFocus());
        QCOMPARE(status()->text(), QStringLiteral("MouseX: Count bXAxis | Axis aMouseX Speed=2.0"));
        f("edtMouseX")->setText(QStringLiteral("Count bXAxis | Axis aMouseX Speed=3.5"));
        QCOMPARE(status()->text(), QStringLiteral("MouseX: Count bXAxis | Axis aMouseX Speed=3.5"));
        QCOMPARE(f("edtMouseX")->toolTip(),
                 QStringLiteral("Count bXAxis | Axis aMouseX Speed=3.5"));
        f("edtA")->setFocus();
        QTRY_VERIFY(!status()->text().contains(QStringLiteral("MouseX")));
    }

    void searchFiltersByKeyOrCommandAndLightsTheMatch() {
        QVERIFY(page->LoadKeyBinds());
        showActive({1180, 700});
        search()->setText(QStringLiteral("weapon"));
        QVERIFY(!f("edtQ")->isHidden()); // SwitchToBestWeapon
        QVERIFY(f("edtQ")->property("searchMatch").toBool());
        QVERIFY(!f("edt1")->isHidden()); // SwitchWeapon 1
        QVERIFY(f("edtA")->isHidden());  // StrafeLeft
        QVERIFY(labelOf(f("edtA"))->isHidden());
        QVERIFY(group("Function keys")->isHidden() ==
                !f("edtF1")->text().contains(QStringLiteral("weapon"), Qt::CaseInsensitive));

        // By key name: the label is lit, also where the label abbreviates the key.
        search()->setText(QStringLiteral("wheel"));
        QVERIFY(!f("edtMWheelUp")->isHidden());
        QVERIFY(labelOf(f("edtMWheelUp"))->property("searchMatch").toBool());
        QVERIFY(!f("edtMWheelUp")->property("searchMatch").toBool());
        QVERIFY(f("edtSpace")->isHidden());
        QVERIFY(group("Alpha keys")->isHidden());
        QVERIFY(!group("Define own key")->isHidden());

        search()->setText(QStringLiteral("numpad"));
        QVERIFY(!group("Numeric keys")->isHidden());
        QVERIFY(group("Joystick")->isHidden());

        search()->clear();
        for (const auto& row : keybinds::KeyRows()) {
            QVERIFY2(!f(row.field)->isHidden(), row.field);
            QVERIFY(!f(row.field)->property("searchMatch").toBool());
            QCOMPARE(labelOf(f(row.field))->text(), QString::fromLatin1(row.label));
        }
        QVERIFY(!page->KeyBindsChanged()); // searching is no edit
    }

    void keysSharingACommandAreMarkedWithTheOthersNamed() {
        loadFrom("[Engine.Input]\r\nQ=Fire\r\nLeftMouse=fire\r\nMouse4= Fire "
                 "\r\nSpace=Jump\r\nE=\r\nR=\r\n");
        QCOMPARE(page->SharedWith(f("edtQ")),
                 (QStringList{QStringLiteral("LeftMouse"), QStringLiteral("Mouse4")}));
        QVERIFY(f("edtQ")->property("sharedCommand").toBool());
        QVERIFY(f("edtQ")->toolTip().contains(QStringLiteral("Also on: LeftMouse, Mouse4")));
        QCOMPARE(page->SharedWith(f("edtLeftMouse")),
                 (QStringList{QStringLiteral("Q"), QStringLiteral("Mouse4")}));
        QVERIFY(!f("edtSpace")->property("sharedCommand").toBool());
        QVERIFY(page->SharedWith(f("edtE")).isEmpty()); // empty fields share nothing

        f("edtLeftMouse")->setText(QStringLiteral("AltFire"));
        f("edtMouse4")->clear();
        QVERIFY(!f("edtQ")->property("sharedCommand").toBool());
        // The game's default, which another part adds to the tip, stays.
        QCOMPARE(f("edtQ")->toolTip(),
                 QStringLiteral("Fire\nThe game's default: SwitchToBestWeapon"));
        f("edtJoySlider1")->setText(QStringLiteral("Jump")); // a slider is no key
        QVERIFY(page->SharedWith(f("edtSpace")).isEmpty());
        f("edtR")->setText(QStringLiteral("jump"));
        QCOMPARE(page->SharedWith(f("edtSpace")), QStringList{QStringLiteral("R")});
    }

    // The thumb buttons load and save like any key; a file that lacks them,
    // or holds them empty, keeps every byte through a save without edits.
    void thumbButtonsOnRealFiles() {
        for (const char* file :
             {"timseriakov-dotfiles/User.ini", "GrantSorenson-LumpysInvasionServer/User.ini"}) {
            const QByteArray original =
                ReadAll(RealWorldDir() + QLatin1Char('/') + QString::fromLatin1(file));
            QVERIFY(original.contains("\nMouse4=\r\n") || original.contains("\nMouse4=\n"));
            loadFrom(original);
            QVERIFY(page->SaveKeyBinds());
            QCOMPARE(ReadAll(h->UserIniPath()), original);
            f("edtMouse5")->setText(QStringLiteral("Taunt gesture_point"));
            QVERIFY(page->SaveKeyBinds());
            QByteArray expected = original;
            const qsizetype at = expected.indexOf("\nMouse5=") + 8;
            expected.insert(at, "Taunt gesture_point");
            QCOMPARE(ReadAll(h->UserIniPath()), expected);
        }
        loadFrom("[Engine.Input]\r\nSpace=Jump\r\n");
        QCOMPARE(f("edtMouse4")->text(), QString());
        QVERIFY(page->SaveKeyBinds());
        QCOMPARE(ReadAll(h->UserIniPath()), QByteArray("[Engine.Input]\r\nSpace=Jump\r\n"));
        f("edtMouse4")->setText(QStringLiteral("Jump"));
        QVERIFY(page->SaveKeyBinds());
        QCOMPARE(ReadAll(h->UserIniPath()),
                 QByteArray("[Engine.Input]\r\nSpace=Jump\r\nMouse4=Jump\r\n"));
    }

    // At the window's smallest and default sizes the page's share of it.
    void groupsReflowWithTheWidth() {
        QVERIFY(page->LoadKeyBinds());
        auto* flow = page->findChild<keybinds::KeyFlow*>();
        const std::pair<QSize, int> sizes[] = {{{785, 420}, 2}, {{1160, 560}, 4}, {{420, 400}, 1}};
        for (const auto& [size, lanes] : sizes) {
            showActive(size);
            QTRY_COMPARE(flow->Lanes(), lanes);
            QVector<QRect> boxes;
            for (auto* box : flow->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly)) {
                const QRect r = box->geometry();
                QVERIFY2(r.right() < flow->width(), qPrintable(box->title()));
                for (const QRect& other : boxes)
                    QVERIFY2(!r.intersects(other), qPrintable(box->title()));
                boxes << r;
                // Every field of the box shows inside it at its full height.
                for (auto* edit : box->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly)) {
                    QVERIFY(box->rect().contains(edit->geometry()));
                    QVERIFY(edit->height() >= edit->sizeHint().height());
                }
            }
            QCOMPARE(boxes.size(), 7);
            QVERIFY(flow->height() >= flow->minimumHeight());
        }
    }
};

QTEST_MAIN(KeyBindsReadTest)
#include "KeyBindsReadTest.moc"
