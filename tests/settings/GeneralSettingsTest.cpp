#include "ini/IniFile.h"
#include "settings/SettingsControls.h"
#include "settings/TGeneralSettingsPage.h"
#include "tests/support/ControlStates.h"
#include "tests/support/PageHarness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QtTest>
#include <clocale>

using settings::TGeneralSettingsPage;
using namespace testsupport;

class GeneralSettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TGeneralSettingsPage> page;

    template <class T>
    T* c(const char* name) const {
        return Find<T>(page.get(), name);
    }
    bool checked(const char* name) const { return c<QCheckBox>(name)->isChecked(); }
    int pos(const char* name) const { return c<QSlider>(name)->value(); }
    QString label(const char* name) const { return c<QLabel>(name)->text(); }
    QString user(const char* section, const char* key) const { return h->User(section, key); }
    void withFiles(const QByteArray& userIni, const QByteArray& mainIni = "[Engine.Engine]\r\n") {
        WriteAll(h->UserIniPath(), userIni);
        WriteAll(h->MainIniPath(), mainIni);
    }

private slots:
    void initTestCase() {
        // Decimals must not care: the page runs under a "," locale here.
#ifdef _WIN32
        std::setlocale(LC_ALL, ""); // Windows' C library starts in "C" whatever the user's locale
#endif
        QCOMPARE(QLocale().decimalPoint(), QStringLiteral(","));
        QCOMPARE(QString::fromLatin1(std::localeconv()->decimal_point), QStringLiteral(","));
    }
    void init() {
        h = std::make_unique<PageHarness>();
        page = std::make_unique<TGeneralSettingsPage>(h->ctx);
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    void beforeTheFirstLoad() {
        QCOMPARE(label("lblVOF"), QStringLiteral("Field of view:"));
        QCOMPARE(label("lblBob"), QStringLiteral("Amount weaponbob"));
        QCOMPARE(pos("tbMouseSens"), 400);
        QCOMPARE(page->WeaponRowCount(), 21);
        QCOMPARE(c<QSlider>("tbVOF")->maximum(), 125);
    }

    void emptyFileLoadsTheDefaults() {
        withFiles("");
        QVERIFY(page->LoadGeneralSettings());
        for (const char* off : {"cbAutoTaunt", "cbWeaponBob", "cbUseJoystick"}) QVERIFY2(!checked(off), off);
        for (const char* on : {"cbAutoswitch", "cbDodge", "cbVoiceTaunts", "cbVoiceMsg", "cbAutoTaunts", "cbMature",
                               "cbAnnouncer", "cbMsgBeep", "cbHUD", "cbShowweaponinfo", "cbShowpersonalinfo",
                               "cbShowPoints", "cbCrosshair", "cbWeaponbar"})
            QVERIFY2(checked(on), on);
        QCOMPARE(pos("tbVOF"), 85);
        QCOMPARE(label("lblVOF"), QStringLiteral("Field of View: 85 (Default 85)"));
        QCOMPARE(pos("tbMouseSens"), 400);
        QCOMPARE(label("lblMouseSens"), QStringLiteral("Mouse sensitivity: 4.00 (Default = 3.00)"));
        QCOMPARE(pos("tbHUDScale"), 100);
        QCOMPARE(pos("tbWeaponbob"), 100);
        QCOMPARE(label("lblBob"), QStringLiteral("Weapon bob: 0.001 (Default = 0.006)"));
        QCOMPARE(c<QSlider>("tbWeaponbob")->property("thumbVisible").toBool(), false);
        QCOMPARE(c<QSlider>("tbHUDScale")->property("thumbVisible").toBool(), true);
        QVERIFY(!c<QRadioButton>("rbTeamRed")->isChecked()); // no key: the game's "no preference"
        QVERIFY(!c<QRadioButton>("rbTeamBlue")->isChecked());
        QCOMPARE(c<QLineEdit>("edtPlayername")->text(), QString());
        QCOMPARE(c<QComboBox>("dropChar")->currentIndex(), -1);
        QVERIFY(c<QComboBox>("dropChar")->count() > 0);
        QVERIFY(h->prompter.prompts.isEmpty());
    }

    void decimalsAndWholeNumbersRoundTripWithADot() {
        withFiles("[Engine.PlayerController]\r\nDefaultFOV=130\r\n[Engine.PlayerInput]\r\nMouseSensitivity=2.5\r\n"
                  "[Engine.Pawn]\r\nBob=0.006\r\nbWeaponBob=True\r\n[DefaultPlayer]\r\nTeam=2\r\nCharacter=Nobody\r\n");
        const QByteArray before = ReadAll(h->UserIniPath());
        QVERIFY(page->LoadGeneralSettings());
        QCOMPARE(pos("tbVOF"), 125);
        QCOMPARE(label("lblVOF"), QStringLiteral("Field of View: 130 (Default 85)"));
        QCOMPARE(pos("tbMouseSens"), 250);
        QCOMPARE(label("lblMouseSens"), QStringLiteral("Mouse sensitivity: 2.50 (Default = 3.00)"));
        QCOMPARE(pos("tbWeaponbob"), 600);
        QCOMPARE(c<QSlider>("tbWeaponbob")->property("thumbVisible").toBool(), true);
        QVERIFY(!c<QRadioButton>("rbTeamRed")->isChecked());
        QVERIFY(!c<QRadioButton>("rbTeamBlue")->isChecked());
        QCOMPARE(c<QComboBox>("dropChar")->currentText(), QStringLiteral("Nobody"));
        // Untouched controls write nothing, even where they cannot hold the stored value.
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(ReadAll(h->UserIniPath()), before);

        c<QSlider>("tbVOF")->setValue(100);
        c<QSlider>("tbMouseSens")->setValue(275);
        c<QSlider>("tbWeaponbob")->setValue(700);
        c<QSlider>("tbHUDScale")->setValue(50);
        c<QRadioButton>("rbTeamRed")->click();
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(user("Engine.PlayerController", "DefaultFOV"), QStringLiteral("100"));
        QCOMPARE(user("Engine.PlayerController", "DesiredFOV"), QStringLiteral("100"));
        QCOMPARE(user("Engine.PlayerInput", "MouseSensitivity"), QStringLiteral("2.75"));
        QCOMPARE(user("Engine.Pawn", "Bob"), QStringLiteral("0.007000"));
        QCOMPARE(user("Engine.HUD", "HudScale"), QStringLiteral("0.50"));
        QCOMPARE(user("DefaultPlayer", "Team"), QStringLiteral("0"));
        QCOMPARE(user("DefaultPlayer", "Character"), QStringLiteral("Nobody"));
    }

    void gameWrittenValuesAreReadAsTheGameMeansThem() {
        withFiles("[DefaultPlayer]\r\nCharacter=Jakob\r\nteam=255\r\n[Engine.PlayerController]\r\n"
                  "DefaultFOV=90.000000\r\nDesiredFOV=90.000000\r\nbNoVoiceTaunts=True ;quiet\r\n"
                  "[Engine.HUD]\r\nHudScale=0.579633\r\n");
        const QByteArray before = ReadAll(h->UserIniPath());
        QVERIFY(page->LoadGeneralSettings());
        QCOMPARE(pos("tbVOF"), 90);
        QCOMPARE(pos("tbHUDScale"), 58);
        QCOMPARE(c<QComboBox>("dropChar")->currentText(), QStringLiteral("Jakob"));
        QVERIFY(!checked("cbVoiceTaunts"));
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(ReadAll(h->UserIniPath()), before);
        // Moving one control writes its keys only, keeping the comment after a value.
        c<QSlider>("tbVOF")->setValue(95);
        c<QCheckBox>("cbVoiceTaunts")->setChecked(true);
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(user("Engine.PlayerController", "DefaultFOV"), QStringLiteral("95"));
        QCOMPARE(user("Engine.PlayerController", "DesiredFOV"), QStringLiteral("95"));
        QCOMPARE(user("Engine.PlayerController", "bNoVoiceTaunts"), QStringLiteral("False ;quiet"));
        QCOMPARE(user("Engine.HUD", "HudScale"), QStringLiteral("0.579633"));
        QCOMPARE(user("DefaultPlayer", "team"), QStringLiteral("255"));
    }

    void charactersComeFromEveryPlayerList() {
        WriteAll(h->game.SystemDir() + QStringLiteral("xplayersB.upl"),
                 "[Public]\r\nPlayer=(DefaultName=\"Xan\",Race=\"Robot\")\r\n");
        withFiles("[DefaultPlayer]\r\nCharacter=xan\r\n");
        QVERIFY(page->LoadGeneralSettings());
        auto* list = c<QComboBox>("dropChar");
        QCOMPARE(list->currentText(), QStringLiteral("Xan"));
        const int count = list->count();
        QVERIFY(count > 1);
        // A reload does not pile the list up.
        QVERIFY(page->LoadGeneralSettings());
        QCOMPARE(list->count(), count);
    }

    void characterIsMatchedIgnoringCase() {
        withFiles("[DefaultPlayer]\r\nCharacter=tamika\r\nTeam=1\r\n");
        QVERIFY(page->LoadGeneralSettings());
        QCOMPARE(c<QComboBox>("dropChar")->currentText(), QStringLiteral("Tamika"));
        QVERIFY(c<QRadioButton>("rbTeamBlue")->isChecked());
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(user("DefaultPlayer", "Character"), QStringLiteral("tamika")); // untouched: as the player wrote it
        QCOMPARE(user("DefaultPlayer", "Team"), QStringLiteral("1"));
        auto* list = c<QComboBox>("dropChar");
        list->setCurrentIndex(list->currentIndex() == 0 ? 1 : 0);
        const QString picked = list->currentText();
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(user("DefaultPlayer", "Character"), picked);
    }

    void characterListCornerCases() {
        WriteAll(h->game.SystemDir() + QStringLiteral("xplayersL1.upl"),
                 "[Public]\r\nPlayer=(DefaultName=\"Gorge\",Race=\"Juggernaut\")\r\n"
                 "Player=(DefaultName=\"NoRace\",Mesh=x)\r\nPlayer=(DefaultName=\"\",Race=\"x\")\r\n"
                 "Player=(DefaultName=\"Ren\xe9\",Race=\"Human\")\r\n");
        page->FillCharacterList();
        auto* list = c<QComboBox>("dropChar");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->itemText(0), QStringLiteral("Gorge"));
        QCOMPARE(list->itemText(1), QStringLiteral("Ren\u00e9"));
        QFile::remove(h->game.SystemDir() + QStringLiteral("xplayersL1.upl"));
        page->FillCharacterList();
        QCOMPARE(list->count(), 0);
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Error retreiving available character names")});
        // The load goes on; the stored character is still shown and kept.
        const QString stored = user("DefaultPlayer", "Character");
        QVERIFY(page->LoadGeneralSettings());
        QCOMPARE(list->currentText(), stored == QStringLiteral("<missing>") ? QString() : stored);
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(user("DefaultPlayer", "Character"), stored);
    }

    void weaponPriorities() {
        withFiles("[XWeapons.ShockRifle]\r\nPriority=4\r\n[XWeapons.LinkGun]\r\nPriority=3\r\n"
                  "[Onslaught.ONSOnslaughtGame]\r\nTimeLimit=20\r\n[Onslaught.ONSAVRiL]\r\nPriority=05\r\n"
                  "[UTClassic.ClassicSniperRifle]\r\nPriority=1\r\n[XWeapons.BioRifle]\r\n");
        QVERIFY(page->LoadGeneralSettings());
        QCOMPARE(page->WeaponAt(QStringLiteral("4")), QStringLiteral("ShockRifle"));
        QCOMPARE(page->WeaponAt(QStringLiteral("3")), QStringLiteral("LinkGun"));
        QCOMPARE(page->WeaponAt(QStringLiteral("1")), QStringLiteral("ClassicSniperRifle"));
        QCOMPARE(page->WeaponAt(QStringLiteral("05")), QStringLiteral("ONSAVRiL")); // a new row
        QCOMPARE(page->WeaponAt(QString()), QStringLiteral("BioRifle")); // no Priority: the empty key
        QCOMPARE(page->WeaponRowCount(), 23);
        for (int r = 0; r < page->WeaponRowCount(); ++r)
            QVERIFY(page->WeaponAt(QString::number(r)) != QStringLiteral("ONSOnslaughtGame"));

        // Move ShockRifle (row keyed 4) up: it swaps with LinkGun.
        auto* list = c<QTableWidget>("vlWeapons");
        list->setCurrentCell(4, 1);
        page->sbtnUpClick();
        QCOMPARE(page->WeaponAt(QStringLiteral("3")), QStringLiteral("ShockRifle"));
        QCOMPARE(page->WeaponAt(QStringLiteral("4")), QStringLiteral("LinkGun"));
        QCOMPARE(list->currentRow(), 3);
        list->setCurrentCell(0, 1);
        page->sbtnUpClick(); // first row: nothing
        QCOMPARE(list->currentRow(), 0);
        list->setCurrentCell(list->rowCount() - 1, 1);
        page->sbtnDownClick(); // last row: nothing
        QCOMPARE(list->currentRow(), list->rowCount() - 1);

        page->SetWeapon(QStringLiteral("7"), QStringLiteral("ONSMineLayer"));
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(user("XWeapons.ShockRifle", "Priority"), QStringLiteral("3"));
        QCOMPARE(user("XWeapons.LinkGun", "Priority"), QStringLiteral("4"));
        QCOMPARE(user("UTClassic.ClassicSniperRifle", "Priority"), QStringLiteral("1"));
        QCOMPARE(user("Onslaught.ONSMineLayer", "Priority"), QStringLiteral("7"));
        QCOMPARE(user("Onslaught.ONSAVRiL", "Priority"), QStringLiteral("05")); // key 05 is not written
        QCOMPARE(user("XWeapons.BioRifle", "Priority"), QStringLiteral("<missing>"));
    }

    void statsLoginLengths() {
        auto leave = [&](const char* name, const QString& text) {
            auto* edit = c<QLineEdit>(name);
            edit->setText(text);
            QFocusEvent out(QEvent::FocusOut);
            QApplication::sendEvent(edit, &out);
        };
        leave("edtStatsUser", QStringLiteral("abc"));
        leave("edtStatsUser", QStringLiteral("abcd"));
        leave("edtStatsUser", QString());
        leave("edtStatsPass", QStringLiteral("12345"));
        leave("edtStatsPass", QStringLiteral("123456"));
        QCOMPARE(h->prompter.Texts(), (QStringList{QStringLiteral("The username must be at least 4 characters long"),
                                                   QStringLiteral("The password must be at least 6 characters long")}));
        // The password is masked; the name is not.
        QCOMPARE(c<QLineEdit>("edtStatsPass")->echoMode(), QLineEdit::Password);
        QCOMPARE(c<QLineEdit>("edtStatsUser")->echoMode(), QLineEdit::Normal);
    }

    void overflowingDecimalStopsTheLoad() {
        withFiles("[DefaultPlayer]\r\nTeam=1\r\n[Engine.Pawn]\r\nBob=1e30\r\n[Engine.HUD]\r\nbHideHUD=True\r\n");
        QVERIFY(!page->LoadGeneralSettings());
        QCOMPARE(h->prompter.Texts().size(), 1);
        QCOMPARE(h->prompter.Texts()[0], QStringLiteral("Error occurred:'1") +
                                             QString(35, QLatin1Char('0')) +
                                             QStringLiteral("' is not a valid integer value"));
        QVERIFY(!checked("cbHUD")); // filled before the error
        QVERIFY(!c<QRadioButton>("rbTeamBlue")->isChecked()); // Team comes after: never read
        QVERIFY(page->GeneralSettingsChanged()); // the snapshot was not replaced
        // The defaults a stopped load left in the controls are not the player's: a save writes none of them.
        const QByteArray before = ReadAll(h->UserIniPath());
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(ReadAll(h->UserIniPath()), before);
    }

    void changeTestRules() {
        QVERIFY(page->LoadGeneralSettings());
        c<QLineEdit>("edtPlayername")->setText(QStringLiteral("Other"));
        QVERIFY(!page->GeneralSettingsChanged()); // only the boxes count before PagesLoaded
        h->state.PagesLoaded = true;
        QVERIFY(page->GeneralSettingsChanged());
        c<QLineEdit>("edtPlayername")->setText(QStringLiteral("DemoPlayer"));
        QVERIFY(!page->GeneralSettingsChanged());
        c<QRadioButton>("rbTeamBlue")->setChecked(true);
        QVERIFY(page->GeneralSettingsChanged()); // a picked team counts, or Exit would drop it unasked
        QVERIFY(page->SaveGeneralSettings());
        QVERIFY(!page->GeneralSettingsChanged());
        c<QSlider>("tbHUDScale")->setValue(150);
        QVERIFY(page->GeneralSettingsChanged());
        c<QSlider>("tbHUDScale")->setValue(100);
        c<QCheckBox>("cbMature")->toggle();
        QVERIFY(page->GeneralSettingsChanged());
    }

    void roundTrips_data() {
        QTest::addColumn<QString>("userIni");
        QTest::addColumn<QString>("mainIni");
        const QString rw = RealWorldDir();
        QTest::newRow("demo") << QString() << QString();
        QTest::newRow("8avian") << rw + QStringLiteral("/8avian-ut2k4_config/User.ini") << rw + QStringLiteral("/8avian-ut2k4_config/UT2004.ini");
        QTest::newRow("GrantSorenson") << rw + QStringLiteral("/GrantSorenson-LumpysInvasionServer/User.ini")
                                       << rw + QStringLiteral("/GrantSorenson-LumpysInvasionServer/UT2004.ini");
        QTest::newRow("timseriakov") << rw + QStringLiteral("/timseriakov-dotfiles/User.ini") << rw + QStringLiteral("/timseriakov-dotfiles/UT2004.ini");
        QTest::newRow("HeffersonMan-defaults") << rw + QStringLiteral("/HeffersonMan-UT2004/DefUser.ini") << rw + QStringLiteral("/HeffersonMan-UT2004/Default.ini");
    }

    void roundTrips() {
        QFETCH(QString, userIni);
        QFETCH(QString, mainIni);
        if (!userIni.isEmpty()) withFiles(ReadAll(userIni), ReadAll(mainIni));
        const QByteArray before = ReadAll(h->UserIniPath());
        QVERIFY(page->LoadGeneralSettings());
        const QStringList shown = ControlStates(page.get());
        QVERIFY(page->SaveGeneralSettings());
        QCOMPARE(ReadAll(h->UserIniPath()), before); // nothing the player left alone is written
        for (QCheckBox* box : page->findChildren<QCheckBox*>()) box->toggle();
        for (QSlider* slider : page->findChildren<QSlider*>()) slider->setValue(slider->value() == 100 ? 101 : 100);
        c<QLineEdit>("edtPlayername")->setText(QStringLiteral("Renamed"));
        const QStringList edited = ControlStates(page.get());
        QVERIFY(page->SaveGeneralSettings());
        // Every line that changed is one of the page's own keys.
        static const QStringList ownKeys = {
            QStringLiteral("Name"), QStringLiteral("bNeverSwitchOnPickup"), QStringLiteral("bNoVoiceMessages"),
            QStringLiteral("bNoVoiceTaunts"), QStringLiteral("bNoAutoTaunts"), QStringLiteral("bAutoTaunt"),
            QStringLiteral("bNoMatureLanguage"), QStringLiteral("bPlayAnnouncer"), QStringLiteral("DefaultFOV"),
            QStringLiteral("DesiredFOV"), QStringLiteral("bEnableDodging"), QStringLiteral("bWeaponBob"),
            QStringLiteral("bHideHUD"), QStringLiteral("bMessageBeep"), QStringLiteral("bShowWeaponInfo"),
            QStringLiteral("bShowPersonalInfo"), QStringLiteral("bShowPoints"), QStringLiteral("bCrosshairShow"),
            QStringLiteral("bShowWeaponBar"), QStringLiteral("StatsUsername"), QStringLiteral("StatsPassword"),
            QStringLiteral("Character"), QStringLiteral("MouseSensitivity"), QStringLiteral("HudScale"),
            QStringLiteral("Bob"), QStringLiteral("Team"), QStringLiteral("Priority")};
        for (QString line : ChangedLines(before, ReadAll(h->UserIniPath()))) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('['))) continue; // an added section
            QVERIFY2(ownKeys.contains(line.section(QLatin1Char('='), 0, 0).trimmed(), Qt::CaseInsensitive), qPrintable(line));
        }
        QVERIFY(page->LoadGeneralSettings());
        QCOMPARE(ControlStates(page.get()), edited);
        QVERIFY(edited != shown);
    }
};

QTEST_MAIN(GeneralSettingsTest)
#include "GeneralSettingsTest.moc"
