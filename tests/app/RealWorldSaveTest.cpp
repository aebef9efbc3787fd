// Real players' files through the whole main window: a save the player did
// not ask for changes nothing, and one edit changes just that control's keys.
#include "app/StartupEnvironment.h"
#include "app/TfrmMain.h"
#include "maintenance/IniDiff.h"
#include "tests/support/GameFolder.h"
#include "tests/support/LocalServer.h"
#include "tests/support/ScriptedPrompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QtTest>

using namespace testsupport;

namespace {

// "[section] key" of every value that changed, vanished (prefixed "lost ") or was added.
QStringList ChangedValues(const QByteArray& before, const QByteArray& after) {
    QStringList out;
    for (const auto& c : maintenance::ChangedValues(before, after))
        out << (c.removed ? QStringLiteral("lost ") : QString()) + QStringLiteral("[%1] %2").arg(c.section, c.key);
    return out;
}

} // namespace

class RealWorldSaveTest : public QObject {
    Q_OBJECT

    std::unique_ptr<GameFolder> game;
    std::unique_ptr<ScriptedPrompter> prompter;
    std::unique_ptr<app::TfrmMain> w;

    QString userPath() const { return game->SystemDir() + QStringLiteral("User.ini"); }
    QString mainPath() const { return game->SystemDir() + QStringLiteral("UT2004.ini"); }

    void start(const QString& userIni, const QString& mainIni) {
        game = std::make_unique<GameFolder>();
        prompter = std::make_unique<ScriptedPrompter>();
        if (!userIni.isEmpty()) WriteAll(userPath(), ReadAll(RealWorldDir() + QLatin1Char('/') + userIni));
        if (!mainIni.isEmpty()) WriteAll(mainPath(), ReadAll(RealWorldDir() + QLatin1Char('/') + mainIni));
        game->WriteSettings();
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game->ProgramDir();
        env.prompter = prompter.get();
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        w = std::make_unique<app::TfrmMain>(env);
    }

    void save() {
        prompter->Clear();
        w->Save1Click();
        QCOMPARE(prompter->Texts(),
                 QStringList{QStringLiteral("The changes have been successfully saved!")});
    }

    static void addPairs() {
        QTest::addColumn<QString>("userIni");
        QTest::addColumn<QString>("mainIni");
        // Each player's own pair, then each file beside the demo's other file.
        QTest::newRow("8avian pair") << "8avian-ut2k4_config/User.ini" << "8avian-ut2k4_config/UT2004.ini";
        QTest::newRow("GrantSorenson pair") << "GrantSorenson-LumpysInvasionServer/User.ini"
                                            << "GrantSorenson-LumpysInvasionServer/UT2004.ini";
        QTest::newRow("timseriakov pair") << "timseriakov-dotfiles/User.ini" << "timseriakov-dotfiles/UT2004.ini";
        QTest::newRow("game defaults") << "HeffersonMan-UT2004/DefUser.ini" << "HeffersonMan-UT2004/Default.ini";
        for (const char* user : {"8avian-ut2k4_config/User.ini", "GrantSorenson-LumpysInvasionServer/User.ini",
                                 "timseriakov-dotfiles/User.ini"})
            QTest::newRow(user) << QString::fromLatin1(user) << QString();
        for (const char* main :
             {"8avian-ut2k4_config/UT2004.ini", "GameServerManagers-Game-Server-Configs/UT2004.ini.orig",
              "GrantSorenson-LumpysInvasionServer/UT2004.ini", "HeffersonMan-UT2004/UT2004.ini",
              "madeinua-ut2004-server-config/UT2004.ini", "scvnc-netwarlan-server-configs/UT2004.ini",
              "timseriakov-dotfiles/UT2004.ini"})
            QTest::newRow(main) << QString() << QString::fromLatin1(main);
    }

private slots:
    void cleanup() {
        w.reset();
        prompter.reset();
        game.reset();
    }

    void saveWithoutEditsChangesNothing_data() { addPairs(); }
    void saveWithoutEditsChangesNothing() {
        QFETCH(QString, userIni);
        QFETCH(QString, mainIni);
        start(userIni, mainIni);
        const QByteArray user = ReadAll(userPath()), main = ReadAll(mainPath());
        QVERIFY(!w->AnyPageChanged());
        save();
        QCOMPARE(ReadAll(userPath()), user);
        QCOMPARE(ReadAll(mainPath()), main);
        // The owner's own tool agrees, where it is at hand.
        const QString semdiff = RealWorldDir() + QStringLiteral("/../tools/semdiff.py");
        if (QFile::exists(semdiff)) {
            const QString copy = game->ProgramDir() + QStringLiteral("before.ini");
            WriteAll(copy, user);
            QCOMPARE(RunHostScript(semdiff, {HostPath(copy), HostPath(userPath())}, 30000), 0);
        }
    }

    // One control at a time: its keys change, and nothing else does.
    void eachEditChangesOnlyItsOwnKeys_data() {
        QTest::addColumn<QString>("userIni");
        QTest::addColumn<QString>("mainIni");
        QTest::newRow("timseriakov pair") << "timseriakov-dotfiles/User.ini" << "timseriakov-dotfiles/UT2004.ini";
        QTest::newRow("8avian pair") << "8avian-ut2k4_config/User.ini" << "8avian-ut2k4_config/UT2004.ini";
    }
    void eachEditChangesOnlyItsOwnKeys() {
        QFETCH(QString, userIni);
        QFETCH(QString, mainIni);
        start(userIni, mainIni);
        struct Edit {
            QString name;
            std::function<void()> apply;
        };
        std::vector<Edit> edits;
        for (const char* tab : {"tabMain", "tabGeneral", "tabUT2k4", "tabFrontEnd"}) {
            QWidget* page = w->findChild<QWidget*>(QString::fromLatin1(tab));
            QVERIFY(page);
            for (QCheckBox* box : page->findChildren<QCheckBox*>())
                edits.push_back({box->objectName(), [box] { box->toggle(); }});
            for (QSlider* s : page->findChildren<QSlider*>())
                edits.push_back({s->objectName(), [s] { s->setValue(s->value() == s->minimum() ? s->maximum() : s->minimum()); }});
            for (QSpinBox* s : page->findChildren<QSpinBox*>())
                edits.push_back({s->objectName(), [s] { s->setValue(s->value() == s->maximum() ? s->value() - 1 : s->value() + 1); }});
            for (QLineEdit* e : page->findChildren<QLineEdit*>()) {
                if (e->isReadOnly() || !e->objectName().startsWith(QStringLiteral("edt")) ||
                    e->objectName() == QStringLiteral("edtCmdLn") || e->objectName().contains(QStringLiteral("NoCheck")) ||
                    e->parent()->inherits("QComboBox"))
                    continue;
                edits.push_back({e->objectName(), [e] { e->setText(e->text() + QStringLiteral("7")); }});
            }
            for (QRadioButton* r : page->findChildren<QRadioButton*>())
                edits.push_back({r->objectName(), [r] {
                                     if (!r->isChecked()) r->click();
                                 }});
        }
        auto* aliases = w->findChild<QTableWidget*>(QStringLiteral("vlEdt"));
        QVERIFY(aliases);
        edits.push_back({QStringLiteral("Aliases[7]"), [aliases] {
                             aliases->item(7, 1)->setText(QStringLiteral("(Command=\"say hi\",Alias=\"hi\")"));
                         }});
        QVERIFY(edits.size() > 150);

        int written = 0;
        for (const auto& e : edits) {
            const QByteArray user = ReadAll(userPath()), main = ReadAll(mainPath());
            e.apply();
            save();
            const QStringList changed =
                ChangedValues(user, ReadAll(userPath())) + ChangedValues(main, ReadAll(mainPath()));
            // A radio already checked, and a box whose group hides it, may have nothing to write.
            QVERIFY2(changed.size() <= 2, qPrintable(e.name + QStringLiteral(": ") + changed.join(QStringLiteral(", "))));
            for (const QString& c : changed) QVERIFY2(!c.startsWith(QStringLiteral("lost")), qPrintable(e.name + c));
            if (!changed.isEmpty()) ++written;
            QVERIFY(!w->AnyPageChanged());
        }
        QVERIFY2(written > 150, qPrintable(QString::number(written)));
    }
};

QTEST_MAIN(RealWorldSaveTest)
#include "RealWorldSaveTest.moc"
