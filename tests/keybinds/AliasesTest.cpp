#include "keybinds/TAliasesPage.h"
#include "keybinds/TfrmTaunts.h"
#include "tests/support/PageHarness.h"
#include "ui/PendingEdits.h"

#include <QFile>
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>

using keybinds::TAliasesPage;
using namespace testsupport;

namespace {
const QString kEmpty = QStringLiteral("(Command=\"\",Alias=\"None\")");
}

class AliasesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TAliasesPage> page;

    QTableWidget* grid() const { return page->findChild<QTableWidget*>(QStringLiteral("vlEdt")); }
    void setRow(int row, const QString& value) { grid()->item(row, 1)->setText(value); }
    QString row(int r) const { return grid()->item(r, 1)->text(); }
    void loadFrom(const QByteArray& bytes) {
        WriteAll(h->UserIniPath(), bytes);
        QVERIFY(page->LoadAliases());
    }

private slots:
    void init() {
        h = std::make_unique<PageHarness>();
        page = std::make_unique<TAliasesPage>(h->ctx);
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    void gridHas51FixedNames() {
        QCOMPARE(grid()->rowCount(), 51);
        QCOMPARE(grid()->item(50, 0)->text(), QStringLiteral("Aliases[50]"));
        QVERIFY(!(grid()->item(3, 0)->flags() & Qt::ItemIsEditable));
        QVERIFY(grid()->item(3, 1)->flags() & Qt::ItemIsEditable);
        QCOMPARE(grid()->horizontalHeaderItem(0)->text(), QStringLiteral("Alias"));
        QCOMPARE(grid()->horizontalHeaderItem(1)->text(), QStringLiteral("Value"));
    }

    void missingEntriesShowTheEmptySlotAndSaveAddsOnlyEdited() {
        const QByteArray before = "[Engine.Input]\r\nSpace=Jump\r\n\r\n[Other]\r\nx=1\r\n";
        loadFrom(before);
        for (int r = 0; r < 46; ++r) QCOMPARE(row(r), kEmpty);
        QCOMPARE(row(46), QString());
        page->SaveAliases();
        QCOMPARE(ReadAll(h->UserIniPath()), before); // slots the player left alone are not added
        setRow(45, QStringLiteral("(Command=\"say gg\",Alias=\"gg\")"));
        page->SaveAliases();
        QCOMPARE(ReadAll(h->UserIniPath()),
                 QByteArray("[Engine.Input]\r\nSpace=Jump\r\nAliases[45]=(Command=\"say gg\",Alias=\"gg\")\r\n\r\n"
                            "[Other]\r\nx=1\r\n"));
    }

    void slotsPast45AreNeverTouched() {
        loadFrom("[Engine.Input]\r\nAliases[0]=\r\nAliases[46]=(Command=\"kept\",Alias=Kept)\r\n");
        QCOMPARE(row(0), QString()); // an empty value stays empty, not the empty-slot text
        QCOMPARE(row(46), QString());
        setRow(47, QStringLiteral("typed"));
        QVERIFY(!page->AliasesChanged());
        page->SaveAliases();
        const QByteArray after = ReadAll(h->UserIniPath());
        QVERIFY(after.startsWith("[Engine.Input]\r\nAliases[0]=\r\nAliases[46]=(Command=\"kept\",Alias=Kept)\r\n"));
        QVERIFY(!after.contains("typed"));
    }

    void changeTestIsExact() {
        QVERIFY(page->LoadAliases());
        const QString before = row(3);
        setRow(3, before + QStringLiteral(" "));
        QVERIFY(page->AliasesChanged());
        setRow(3, before);
        QVERIFY(!page->AliasesChanged());
        setRow(0, row(0).toUpper());
        QVERIFY(page->AliasesChanged());
    }

    void demoAliasesRoundTrip() {
        QVERIFY(page->LoadAliases());
        QCOMPARE(row(0), QStringLiteral("(Command=\"Button bUp | Axis aUp Speed=+300.0\",Alias=Jump)"));
        setRow(1, QStringLiteral("(Command=\"Duck\",Alias=Crouch)"));
        page->SaveAliases();
        QVERIFY(!page->AliasesChanged());
        QVERIFY(ReadAll(h->UserIniPath()).contains("\r\nAliases[1]=(Command=\"Duck\",Alias=Crouch)\r\n"));
    }

    void failedSaveRaisesAndKeepsThePageChanged() {
        QVERIFY(page->LoadAliases());
        setRow(2, QStringLiteral("x"));
        QFile::setPermissions(h->UserIniPath(), QFile::ReadOwner);
        bool raised = false;
        try {
            page->SaveAliases();
        } catch (const std::exception& e) {
            raised = true;
            QCOMPARE(QString::fromStdString(e.what()), QStringLiteral("Unable to write to ") + h->UserIniPath() + QStringLiteral(" (the file is read-only)"));
        }
        QVERIFY(raised);
        QVERIFY(page->AliasesChanged());
        QVERIFY(h->prompter.prompts.isEmpty());
    }

    // Text still in the cell editor counts once the window commits it.
    void textInAnOpenCellEditorIsCommitted() {
        QVERIFY(page->LoadAliases());
        grid()->setCurrentCell(3, 1);
        grid()->edit(grid()->currentIndex());
        auto* editor = qobject_cast<QLineEdit*>(grid()->indexWidget(grid()->currentIndex()));
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("typed"));
        QVERIFY(!page->AliasesChanged());
        ui::CommitPendingEdits(page.get());
        QVERIFY(page->AliasesChanged());
        QVERIFY(!grid()->indexWidget(grid()->currentIndex()));
        page->SaveAliases();
        QVERIFY(h->User("Engine.Input", "Aliases[3]").endsWith(QStringLiteral("typed")));
    }

    void tauntListHas171LinesInOrder() {
        const QStringList lines = keybinds::TauntReferenceLines();
        QCOMPARE(lines.size(), 171);
        QCOMPARE(lines[0], QStringLiteral("Copy paste the Taunt Code into the editfield of the key you want to bind!"));
        QCOMPARE(lines[5], QStringLiteral("speech Ack 0"));
        QCOMPARE(lines[11], QStringLiteral("speech Ack 0 = \"Affirmative\" "));
        QVERIFY(lines.contains(QStringLiteral("speech Other 9 = \"I'm in position %l\" ")));
        QVERIFY(lines.contains(QStringLiteral("speech OtherAbbrev 12 = \"Enemy Flag carrier here\" ")));
        QVERIFY(lines.contains(QStringLiteral("MercFemaleVoice ")));
        QCOMPARE(lines.indexOf(QStringLiteral("Animated Taunts:")), 144);
        QCOMPARE(lines[152], QStringLiteral("taunt specific_1"));
        QCOMPARE(lines.last(), QStringLiteral("adrenaline with 87 health and 50 shield left"));
        int ackLines = 0, tauntLines = 0;
        for (const auto& l : lines) {
            if (!l.contains(QStringLiteral(" = "))) continue;
            ackLines += l.startsWith(QStringLiteral("speech Ack ")) ? 1 : 0;
            tauntLines += l.startsWith(QStringLiteral("speech Taunt ")) ? 1 : 0;
        }
        QCOMPARE(ackLines, 4);
        QCOMPARE(tauntLines, 27 + 7 + 8 + 10 + 7);
    }
};

QTEST_MAIN(AliasesTest)
#include "AliasesTest.moc"
