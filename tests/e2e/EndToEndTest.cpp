// The program as a player uses it, in a real X server (Xvfb): keys typed
// into fields, short cuts, tabs, the backup manager; then the files.
#include "app/TfrmMain.h"
#include "ini/IniFile.h"
#include "keybinds/TKeyBindsPage.h"
#include "maintenance/TfrmIniManager.h"
#include "tests/support/Dialogs.h"
#include "tests/support/GameFolder.h"
#include "tests/support/ScriptedPrompter.h"

#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QSlider>
#include <QTabWidget>
#include <QtTest>

using namespace testsupport;

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void playerSessionReachesTheFiles() {
        GameFolder game;
        game.WriteSettings();
        ScriptedPrompter prompter;
        app::StartupEnvironment env;
        env.programDir = env.settingsDir = game.ProgramDir();
        env.prompter = &prompter;
        env.updateUrl = QStringLiteral("http://127.0.0.1:9/quorlex2004.inf");
        env.bannerUrl = QStringLiteral("http://127.0.0.1:9/banner.txt");
        app::TfrmMain w(env);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const QString shots = QStringLiteral(QUORLEX_E2E_SHOTS);
        QDir().mkpath(shots);

        // Bind Space: click into its field, replace the text, Ctrl+S.
        auto* space = w.KeyBindsPage()->Field("edtSpace");
        QTest::mouseClick(space, Qt::LeftButton);
        space->selectAll();
        QTest::keyClicks(space, QStringLiteral("Jump | Fire"));
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE(prompter.Texts().last(),
                     QStringLiteral("The changes have been successfully saved!"));

        // The field of view on the General Settings tab, by keyboard.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(w.PageCtrl(), Qt::Key_Tab, Qt::ControlModifier);
        QTest::keyClick(w.PageCtrl(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(w.PageCtrl()->currentIndex(), 2);
        auto* fov = w.findChild<QSlider*>(QStringLiteral("tbVOF"));
        fov->setFocus();
        QTest::keyClick(fov, Qt::Key_PageUp);
        QCOMPARE(fov->value(), 95);
        QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
        QTRY_COMPARE(prompter.Texts().size(), 2);

        // Every tab, as a picture.
        for (int i = 0; i < w.PageCtrl()->count(); ++i) {
            w.PageCtrl()->setCurrentIndex(i);
            QTest::qWait(50);
            QVERIFY(w.grab().save(QStringLiteral("%1/%2-%3.png").arg(shots).arg(i + 1).arg(w.PageCtrl()->widget(i)->objectName())));
        }

        // The backup manager opens on Ctrl+M and shows today's backup.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.BackupINIs1Click();
        int listed = -1;
        WhenModal<maintenance::TfrmIniManager>([&](maintenance::TfrmIniManager* m) {
            listed = m->treelist->count();
            m->grab().save(shots + QStringLiteral("/backup-manager.png"));
            m->reject();
        });
        QTest::keyClick(&w, Qt::Key_M, Qt::ControlModifier);
        QTRY_COMPARE(listed, 1);

        const ini::TIniFile user((game.SystemDir() + QStringLiteral("User.ini")).toStdString());
        QCOMPARE(QString::fromStdString(user.ReadText("Engine.Input", "Space", "")), QStringLiteral("Jump | Fire"));
        QCOMPARE(QString::fromStdString(user.ReadText("Engine.PlayerController", "DefaultFOV", "")), QStringLiteral("95"));
        QCOMPARE(QString::fromStdString(user.ReadText("Engine.PlayerController", "DesiredFOV", "")), QStringLiteral("95"));
        QVERIFY(prompter.unexpected.isEmpty());
    }
};

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
