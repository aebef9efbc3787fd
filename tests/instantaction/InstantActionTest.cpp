#include "ini/IniFile.h"
#include "instantaction/TInstantActionPage.h"
#include "instantaction/TfrmDirEdit.h"
#include "tests/support/Dialogs.h"
#include "tests/support/PageHarness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtTest>

using instantaction::TInstantActionPage;
using namespace testsupport;

class InstantActionTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TInstantActionPage> page;

    template <class T>
    T* c(const char* name) const {
        return Find<T>(page.get(), name);
    }
    QString mainPath() const { return h->MainIniPath(); }
    QString main(const char* section, const char* key) const { return h->Main(section, key); }
    QStringList maps() const {
        QStringList out;
        for (int i = 0; i < c<QListWidget>("lbMaps")->count(); ++i) out << c<QListWidget>("lbMaps")->item(i)->text();
        return out;
    }
    QString selectedMap() const {
        auto items = c<QListWidget>("lbMaps")->selectedItems();
        return items.isEmpty() ? QString() : items[0]->text();
    }
    void selectMutators(const QStringList& names) {
        auto* list = c<QListWidget>("lbMutators");
        for (int i = 0; i < list->count(); ++i) list->item(i)->setSelected(names.contains(list->item(i)->text()));
    }

private slots:
    void init() {
        h = std::make_unique<PageHarness>();
        QFile::copy(SourceDir() + QStringLiteral("/demo/previews/Quarry.jpg"), h->game.ProgramDir() + QStringLiteral("Quarry.jpg"));
        page = std::make_unique<TInstantActionPage>(h->ctx);
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    // The tab's room at the window's minimum size and at its default size.
    void everyRuleControlKeepsItsHeightAtEverySize_data() {
        QTest::addColumn<QSize>("size");
        QTest::newRow("805x598 window") << QSize(780, 400);
        QTest::newRow("1180x760 window") << QSize(1160, 560);
    }
    void everyRuleControlKeepsItsHeightAtEverySize() {
        QFETCH(QSize, size);
        // A tab of that size, which the page cannot make larger, as the
        // main window's own minimum size does not grow with the page.
        QWidget tab;
        tab.setFixedSize(size);
        (new QVBoxLayout(&tab))->addWidget(page.get());
        const auto release = qScopeGuard([&] { page->setParent(nullptr); });
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        auto* stack = c<QStackedWidget>("stackRules");
        for (int g = 0; g < stack->count(); ++g) {
            c<QComboBox>("pickGameType")->setCurrentIndex(g);
            QCoreApplication::processEvents();
            QWidget* group = stack->currentWidget();
            int controls = 0;
            for (QWidget* w : group->findChildren<QWidget*>()) {
                if (!qobject_cast<QSpinBox*>(w) && !qobject_cast<QCheckBox*>(w)) continue;
                ++controls;
                const QString what = group->objectName() + QLatin1Char('.') + w->objectName();
                QVERIFY2(w->height() >= w->minimumSizeHint().height(), qPrintable(what));
                QVERIFY2(group->rect().contains(w->geometry()), qPrintable(what));
            }
            QVERIFY(controls >= 5);
        }
    }

    void emptyFileShowsDefaultsAndDeathmatch() {
        WriteAll(mainPath(), "");
        page->LoadGameTypeRules();
        QCOMPARE(c<QComboBox>("pickGameType")->currentText(), QStringLiteral("Deathmatch"));
        QCOMPARE(maps(), (QStringList{QStringLiteral("DM-Foundry"), QStringLiteral("DM-Quarry")}));
        QCOMPARE(c<QSpinBox>("dmScoreLimit")->value(), 15);
        QCOMPARE(c<QSpinBox>("onsGoalScore")->value(), 1);
        QCOMPARE(c<QSpinBox>("spinASSSpawnProtTime")->value(), 3);
        QCOMPARE(c<QSpinBox>("tdmMaxTeamSize")->value(), 16);
        QVERIFY(c<QCheckBox>("onsAllowTrans")->isChecked());
        QVERIFY(!c<QCheckBox>("dmUseTrans")->isChecked());
        QCOMPARE(c<QComboBox>("pickDiff")->currentText(), QStringLiteral("Novice"));
        QVERIFY(!c<QCheckBox>("cbTrans")->isChecked()); // as Deathmatch's own rule
        QCOMPARE(c<QSpinBox>("spinBotCount")->minimum(), INT_MIN);
        QCOMPARE(
            c<QLineEdit>("edtCmdLn")->text(),
            QStringLiteral(
                "DM-Foundry.ut2?game=XGame.xDeathMatch?NumBots=0?Translocator=False?Difficulty=0"));
        QVERIFY(h->prompter.prompts.isEmpty());
    }

    void lastGameTypeMatchesInAnyCase_data() {
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QString>("selected");
        QTest::newRow("ctf") << QByteArray("xgame.xctfgame") << QStringLiteral("Capture the flag");
        QTest::newRow("dom") << QByteArray("XGame.xDoubleDom") << QStringLiteral("Double domination");
        QTest::newRow("as") << QByteArray("UT2k4Assault.ASGameInfo") << QStringLiteral("Assault");
        QTest::newRow("unknown keeps") << QByteArray("Foo.Bar") << QStringLiteral("Deathmatch");
    }

    void lastGameTypeMatchesInAnyCase() {
        QFETCH(QByteArray, value);
        QFETCH(QString, selected);
        WriteAll(mainPath(), "[xInterface.Tab_InstantActionMain]\r\nLastGameType=" + value + "\r\n");
        page->LoadGameTypeRules();
        QCOMPARE(c<QComboBox>("pickGameType")->currentText(), selected);
        QCOMPARE(c<QStackedWidget>("stackRules")->currentIndex(), c<QComboBox>("pickGameType")->currentIndex());
    }

    void rulesOfAllTypesSurviveSaveAndReload() {
        WriteAll(mainPath(), "[XGame.xTeamGame]\r\nFriendlyFireScale=0.5\r\n[Onslaught.ONSOnslaughtGame]\r\n"
                             "SpawnProtectionTime=2.000000\r\nFriendlyFireScale=0.333333 ; a third\r\n");
        page->LoadGameTypeRules();
        QCOMPARE(c<QSpinBox>("tdmFriendlyFire")->value(), 50); // a fraction, shown in percent
        QCOMPARE(c<QSpinBox>("onsFriendlyFire")->value(), 33);
        QCOMPARE(c<QSpinBox>("onsSpawnprotection")->value(), 2); // a whole number the game wrote with decimals
        page->SaveGameTypeRules();
        QCOMPARE(main("Onslaught.ONSOnslaughtGame", "FriendlyFireScale"), QStringLiteral("0.333333 ; a third"));
        QCOMPARE(main("Onslaught.ONSOnslaughtGame", "SpawnProtectionTime"), QStringLiteral("2.000000"));
        QCOMPARE(main("XGame.xCTFGame", "MaxTeamSize"), QStringLiteral("<missing>")); // untouched: not added
        c<QSpinBox>("tdmFriendlyFire")->setValue(25);
        c<QSpinBox>("onsSpawnprotection")->setValue(4);
        c<QSpinBox>("ctfMaxTeamSize")->setValue(-3);
        c<QCheckBox>("cbASSAllowTaunts")->setChecked(false);
        c<QCheckBox>("tdmPlayersReady")->setChecked(true);
        c<QSpinBox>("ddTimeToScore")->setValue(42);
        c<QComboBox>("pickGameType")->setCurrentIndex(5);
        c<QComboBox>("pickDiff")->setCurrentIndex(4);
        c<QSpinBox>("spinBotCount")->setValue(6);
        page->SaveGameTypeRules();
        QCOMPARE(main("XGame.xCTFGame", "MaxTeamSize"), QStringLiteral("-3"));
        QCOMPARE(main("UT2k4Assault.ASGameInfo", "bAllowTaunts"), QStringLiteral("False"));
        QCOMPARE(main("XGame.xTeamGame", "bPlayersMustBeReady"), QStringLiteral("True"));
        QCOMPARE(main("XGame.xTeamGame", "FriendlyFireScale"), QStringLiteral("0.250000"));
        QCOMPARE(main("Onslaught.ONSOnslaughtGame", "SpawnProtectionTime"), QStringLiteral("4"));
        QCOMPARE(main("Onslaught.ONSOnslaughtGame", "FriendlyFireScale"), QStringLiteral("0.333333 ; a third"));
        QCOMPARE(main("Onslaught.ONSOnslaughtGame", "bRandSetupAfterReset"), QStringLiteral("<missing>"));
        QCOMPARE(main("xInterface.Tab_InstantActionMain", "LastGameType"), QStringLiteral("XGame.xBombingRun"));
        QCOMPARE(main("xInterface.Tab_InstantActionMain", "LastBotSkill"), QStringLiteral("5"));
        QCOMPARE(main("xInterface.Tab_InstantActionMain", "LastBotCount"), QStringLiteral("6"));
        QCOMPARE(main("xInterface.Tab_InstantActionMain", "LastMap"), QStringLiteral("BR-Canyon"));
        QCOMPARE(main("XGame.xDeathMatch", "MaxTeamSize"), QStringLiteral("<missing>")); // DM has no such rule

        page.reset();
        page = std::make_unique<TInstantActionPage>(h->ctx);
        page->LoadGameTypeRules();
        QCOMPARE(c<QComboBox>("pickGameType")->currentText(), QStringLiteral("Bombing run"));
        QCOMPARE(c<QSpinBox>("ctfMaxTeamSize")->value(), -3);
        QVERIFY(!c<QCheckBox>("cbASSAllowTaunts")->isChecked());
        QCOMPARE(c<QComboBox>("pickDiff")->currentText(), QStringLiteral("Adept"));
        QCOMPARE(c<QSpinBox>("ddTimeToScore")->value(), 42);
    }

    void botSkillPositions() {
        WriteAll(mainPath(), "[xInterface.Tab_InstantActionMain]\r\nLastBotSkill=8\r\n");
        page->LoadGameTypeRules();
        QCOMPARE(c<QComboBox>("pickDiff")->currentText(), QStringLiteral("Godlike"));
        QVERIFY(c<QLineEdit>("edtCmdLn")->text().endsWith(QStringLiteral("?Difficulty=7")));
    }

    void onslaughtHidesTheTranslocatorBoxButKeepsItsPart() {
        page->LoadGameTypeRules();
        c<QComboBox>("pickGameType")->setCurrentIndex(3);
        QVERIFY(c<QCheckBox>("cbTrans")->isHidden());
        c<QCheckBox>("onsAllowTrans")->setChecked(false);
        QCOMPARE(c<QLineEdit>("edtCmdLn")->text(),
                 QStringLiteral("ONS-Plains.ut2?game=Onslaught.ONSOnslaughtGame?NumBots=8?Translocator=False?Difficulty=3"));
        c<QComboBox>("pickGameType")->setCurrentIndex(0);
        QVERIFY(!c<QCheckBox>("cbTrans")->isHidden());
    }

    // "Use translocator" of the group General and the game type's own rule
    // box are one setting: they follow each other, and the file agrees.
    void bothTranslocatorBoxesAreOneSetting() {
        page->LoadGameTypeRules(); // demo: CTF allows it, LastTranslocator=True
        auto* general = c<QCheckBox>("cbTrans");
        auto* ctf = c<QCheckBox>("ctfUseTrans");
        QVERIFY(general->isChecked() && ctf->isChecked());
        general->click();
        QVERIFY(!ctf->isChecked());
        QVERIFY(c<QLineEdit>("edtCmdLn")->text().contains(QStringLiteral("?Translocator=False")));
        ctf->click();
        QVERIFY(general->isChecked());
        ctf->click();
        QVERIFY(!c<QCheckBox>("dmUseTrans")->isChecked());
        c<QCheckBox>("dmUseTrans")
            ->setChecked(true); // another type's box leaves the general one alone
        QVERIFY(!general->isChecked());
        // Another game type: the general box shows that type's rule.
        c<QCheckBox>("dmUseTrans")->setChecked(false);
        c<QComboBox>("pickGameType")->setCurrentIndex(5); // Bombing run has no such rule
        QVERIFY(!general->isChecked());
        general->click();
        c<QComboBox>("pickGameType")->setCurrentIndex(2);
        QVERIFY(!general->isChecked()); // CTF's rule, unchanged by the click on Bombing run
        general->click();
        page->SaveGameTypeRules();
        QCOMPARE(main("XGame.xCTFGame", "bAllowTrans"), QStringLiteral("True"));
        QCOMPARE(main("xInterface.Tab_InstantActionBaseRules", "LastTranslocator"),
                 QStringLiteral("True"));

        // Keys that disagree load as the game type's rule, and an untouched page writes nothing.
        WriteAll(mainPath(),
                 "[xInterface.Tab_InstantActionMain]\r\nLastGameType=XGame.xDeathMatch\r\n"
                 "[xInterface.Tab_InstantActionBaseRules]\r\nLastTranslocator=True\r\n");
        page->LoadGameTypeRules();
        QVERIFY(!general->isChecked() && !c<QCheckBox>("dmUseTrans")->isChecked());
        QVERIFY(page->PendingChanges().empty());
        general->click();
        page->SaveGameTypeRules();
        QCOMPARE(main("XGame.xDeathMatch", "bAllowTrans"), QStringLiteral("True"));
        QCOMPARE(main("xInterface.Tab_InstantActionBaseRules", "LastTranslocator"),
                 QStringLiteral("True"));
    }

    void lastMapIsRestoredIgnoringCase() {
        page->LoadGameTypeRules(); // demo: CTF, LastMap CTF-Lagoon
        QCOMPARE(selectedMap(), QStringLiteral("CTF-Lagoon"));
        ini::TIniFile(mainPath().toStdString()).WriteText("xInterface.Tab_InstantActionMain", "LastMap", "ctf-spire");
        page->LoadGameTypeRules();
        QCOMPARE(selectedMap(), QStringLiteral("CTF-Spire"));
        ini::TIniFile(mainPath().toStdString()).WriteText("xInterface.Tab_InstantActionMain", "LastMap", "CTF-Gone");
        page->LoadGameTypeRules();
        QCOMPARE(selectedMap(), QStringLiteral("CTF-Lagoon")); // the first map
    }

    void noMapSelectedKeepsLastMap() {
        page->LoadGameTypeRules();
        c<QListWidget>("lbMaps")->clearSelection();
        page->SaveGameTypeRules();
        QCOMPARE(main("xInterface.Tab_InstantActionMain", "LastMap"), QStringLiteral("CTF-Lagoon"));
    }

    void mutatorsAreListedOnceAndMakeTheCommandLine() {
        page->LoadGameTypeRules();
        page->LoadGameTypeRules();
        auto* list = c<QListWidget>("lbMutators");
        QCOMPARE(list->count(), 5);
        selectMutators({QStringLiteral("LowGrav"), QStringLiteral("BigHead")});
        QVERIFY(c<QLineEdit>("edtCmdLn")->text().endsWith(QStringLiteral("?Mutator=XGame.MutBigHead,XGame.MutLowGrav")));
        c<QSpinBox>("spinBotCount")->setValue(3);
        QVERIFY(!c<QLineEdit>("edtCmdLn")->text().contains(QStringLiteral("NumBots=3"))); // before StartupFinished
        h->state.StartupFinished = true;
        c<QSpinBox>("spinBotCount")->setValue(4);
        QVERIFY(c<QLineEdit>("edtCmdLn")->text().contains(QStringLiteral("?NumBots=4?")));
        page->SpeedButton7Click();
        QVERIFY(c<QLineEdit>("edtCmdLn")->text().endsWith(QStringLiteral("?Difficulty=3")));
    }

    void previewFollowsTheMapAndABrokenOneIsReported() {
        page->LoadGameTypeRules();
        c<QComboBox>("pickGameType")->setCurrentIndex(0);
        c<QListWidget>("lbMaps")->setCurrentRow(1); // DM-Quarry
        auto* img = c<QLabel>("imgMap");
        QCOMPARE(img->pixmap().size(), QSize(236, 103));
        c<QListWidget>("lbMaps")->setCurrentRow(0); // DM-Foundry: no picture
        QVERIFY(img->pixmap().isNull());
        WriteAll(h->game.ProgramDir() + QStringLiteral("Foundry.jpg"), "not a picture");
        c<QListWidget>("lbMaps")->setCurrentRow(1);
        c<QListWidget>("lbMaps")->setCurrentRow(0);
        QCOMPARE(h->prompter.prompts.size(), 1);
        QVERIFY(h->prompter.Texts()[0].startsWith(QStringLiteral("Cannot show the map preview ") + h->game.ProgramDir() +
                                                  QStringLiteral("Foundry.jpg")));
    }

    void noMapsWarnsWithTheSearchedPath() {
        QDir(h->game.GameDir() + QStringLiteral("/Maps")).removeRecursively();
        bool asked = false;
        WhenModal<instantaction::TfrmDirEdit>([&](instantaction::TfrmDirEdit* d) {
            asked = true;
            QCOMPARE(d->edtPath->text(), h->game.GameDir() + QStringLiteral("/Maps"));
            d->reject();
        });
        page->LoadGameTypeRules();
        QVERIFY(asked);
        QCOMPARE(h->prompter.Texts().first(),
                 QStringLiteral("Error loading maps (No maps found).\nSearched at: ") + h->game.GameDir() + QStringLiteral("/Maps"));
        QVERIFY(maps().isEmpty());
        QVERIFY(c<QLineEdit>("edtCmdLn")->text().startsWith(QStringLiteral("?game=XGame.xCTFGame")));
    }

    void anotherMapsFolderCanBeGiven() {
        const QString other = h->game.GameDir() + QStringLiteral("/OtherMaps");
        QDir().rename(h->game.GameDir() + QStringLiteral("/Maps"), other);
        WhenModal<instantaction::TfrmDirEdit>([&](instantaction::TfrmDirEdit* d) {
            h->prompter.AnswerFile(other);
            d->findChild<QPushButton*>(QStringLiteral("btnBrowse"))->click();
            d->accept();
        });
        page->LoadGameTypeRules();
        QCOMPARE(page->MapsDir(), other);
        QCOMPARE(selectedMap(), QStringLiteral("CTF-Lagoon"));
        QVERIFY(h->prompter.prompts.isEmpty());
    }

    void mapDescription() {
        page->LoadGameTypeRules();
        c<QComboBox>("pickGameType")->setCurrentIndex(0);
        c<QListWidget>("lbMaps")->setCurrentRow(1);
        page->SpeedButton8Click();
        QCOMPARE(h->prompter.Texts().last(),
                 QStringLiteral("A dusty open pit where the mining crews used to fight for overtime.\r\nWatch the ledges."));
        c<QListWidget>("lbMaps")->clearSelection();
        page->SpeedButton8Click();
        QCOMPARE(h->prompter.Texts().last(), QStringLiteral("Cannot find information about this map"));
    }

    void startUsesTheControlsNotTheTypedText() {
        page->LoadGameTypeRules();
        c<QLineEdit>("edtCmdLn")->setText(QStringLiteral("typed"));
        platform::GameLaunch seen;
        page->SetStarterForTesting([&](const platform::GameLaunch& l, QString*) {
            seen = l;
            return true;
        });
        WriteAll(h->game.SystemDir() + QStringLiteral("UT2004.exe"), "MZ");
        c<QPushButton>("Button1")->click();
        QVERIFY(seen.arguments.last().startsWith(QStringLiteral("CTF-Lagoon.ut2?game=XGame.xCTFGame")));
        QCOMPARE(seen.workingDirectory, h->game.SystemDir());
        page->SetStarterForTesting([](const platform::GameLaunch&, QString* why) {
            *why = QStringLiteral("because");
            return false;
        });
        page->Button1Click();
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("UT2004 could not be started.\nbecause")});
    }

    // The game reads the rules from UT2004.ini: a rule changed on the page
    // is saved before the start, or the start does not happen.
    void startSavesChangedRulesFirst() {
        page->LoadGameTypeRules();
        const QByteArray before = ReadAll(h->MainIniPath());
        auto* rule = c<QSpinBox>("ctfMaxTeamSize");
        rule->setValue(rule->value() + 1);
        int starts = 0;
        QByteArray atStart;
        page->SetStarterForTesting([&](const platform::GameLaunch&, QString*) {
            ++starts;
            atStart = ReadAll(h->MainIniPath());
            return true;
        });
        WriteAll(h->game.SystemDir() + QStringLiteral("UT2004.exe"), "MZ");
        h->prompter.Answer(ui::Answer::Cancel);
        page->Button1Click();
        QCOMPARE(starts, 0);
        h->prompter.Answer(ui::Answer::Yes);
        page->Button1Click();
        QCOMPARE(starts, 1);
        QVERIFY(atStart != before);
        QVERIFY(page->PendingChanges().empty());
    }
};

QTEST_MAIN(InstantActionTest)
#include "InstantActionTest.moc"
