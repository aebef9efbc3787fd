#include "maintenance/TIniFilesPage.h"
#include "tests/support/PageHarness.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QtTest>

using maintenance::TIniFilesPage;
using namespace testsupport;
using ui::Answer;

class IniFilesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TIniFilesPage> page;
    int reloads = 0;

    QString userPath() const { return h->UserIniPath(); }
    QString enginePath() const { return h->game.SystemDir() + QStringLiteral("UT2004.ini"); }
    void ctrlF(QPlainTextEdit* e, Qt::KeyboardModifiers mods = Qt::ControlModifier) { QTest::keyClick(e, Qt::Key_F, mods); }

private slots:
    void init() {
        h = std::make_unique<PageHarness>();
        h->state.CurrentUserIniName = QStringLiteral("User.ini");
        reloads = 0;
        page = std::make_unique<TIniFilesPage>(h->ctx, [this] { ++reloads; });
        page->LoadRawIniText();
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    void unchangedSaveKeepsBothFilesByteForByte() {
        const QByteArray user = ReadAll(userPath()), engine = ReadAll(enginePath());
        h->prompter.Answer(Answer::Yes);
        page->btnSaveInisClick();
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Are you sure you want to save the ini files?")});
        QCOMPARE(ReadAll(userPath()), user);
        QCOMPARE(ReadAll(enginePath()), engine);
        QCOMPARE(reloads, 1);
    }

    void realWorldFilesRoundTripThroughTheEditor_data() {
        QTest::addColumn<QString>("file");
        for (const char* f : {"8avian-ut2k4_config/User.ini", "timseriakov-dotfiles/User.ini", "GrantSorenson-LumpysInvasionServer/User.ini",
                              "GameServerManagers-Game-Server-Configs/UT2004.ini.orig", "madeinua-ut2004-server-config/UT2004.ini"})
            QTest::newRow(f) << RealWorldDir() + QLatin1Char('/') + QLatin1String(f);
    }

    void realWorldFilesRoundTripThroughTheEditor() {
        QFETCH(QString, file);
        QByteArray bytes = ReadAll(file);
        WriteAll(userPath(), bytes);
        page->LoadRawIniText();
        h->prompter.Answer(Answer::Yes);
        page->btnSaveInisClick();
        // Every byte comes back; only line ends become CR LF.
        bytes.replace("\r\n", "\n").replace("\n", "\r\n");
        QVERIFY(ReadAll(userPath()) == bytes);
    }

    void anEditReachesTheFileAndEveryPageReloads() {
        QString text = page->reUser()->toPlainText();
        text.replace(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        page->reUser()->setPlainText(text);
        h->prompter.Answer(Answer::Yes);
        page->btnSaveInisClick();
        QCOMPARE(QString::fromStdString(h->handles.UserIni->ReadText("Engine.Input", "Space", "")), QStringLiteral("Duck"));
        QCOMPARE(reloads, 1);
        h->prompter.Answer(Answer::No);
        page->btnSaveInisClick();
        QCOMPARE(reloads, 1);
    }

    void reloadShowsTheFilesAgain() {
        page->reUser()->setPlainText(QStringLiteral("edited"));
        h->prompter.Answer(Answer::Yes);
        page->btnReloadInisClick();
        QVERIFY(page->reUser()->toPlainText().startsWith(QStringLiteral("[Engine.Input]")));
        QCOMPARE(h->prompter.Texts().last(), QStringLiteral("The ini files have been reloaded"));
        QCOMPARE(reloads, 1);
    }

    void wordWrapOnlyChangesTheDisplay() {
        page->findChild<QCheckBox*>(QStringLiteral("cbWordWrap"))->setChecked(true);
        QCOMPARE(page->reUt2004()->lineWrapMode(), QPlainTextEdit::WidgetWidth);
        const QByteArray engine = ReadAll(enginePath());
        h->prompter.Answer(Answer::Yes);
        page->btnSaveInisClick();
        QCOMPARE(ReadAll(enginePath()), engine);
    }

    void searchIgnoresCaseAndCoversTheWholeText() {
        h->prompter.AnswerInput(QStringLiteral("engine.input"));
        ctrlF(page->reUser());
        QCOMPARE(h->prompter.inputDialogs, QStringList{QStringLiteral("Search for|Text")});
        QCOMPARE(page->reUser()->textCursor().selectedText(), QStringLiteral("Engine.Input"));
        QCOMPARE(page->reUser()->textCursor().selectionStart(), 1);

        h->prompter.AnswerInput(QStringLiteral("nothing like it"));
        ctrlF(page->reUt2004());
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("nothing like it not found")});
        QCOMPARE(h->prompter.prompts[0].kind, ui::PromptKind::Message);

        // Far past the first 99999 characters.
        page->reUt2004()->setPlainText(QString(150000, QLatin1Char('x')) + QStringLiteral("[Needle]"));
        h->prompter.AnswerInput(QStringLiteral("needle"));
        ctrlF(page->reUt2004());
        QCOMPARE(page->reUt2004()->textCursor().selectionStart(), 150001);

        // Ctrl+Shift+F is an ordinary key, and Ctrl+F never types an "f".
        const QString before = page->reUser()->toPlainText();
        ctrlF(page->reUser(), Qt::ControlModifier | Qt::ShiftModifier);
        h->prompter.AnswerInput(QString());
        ctrlF(page->reUser());
        QCOMPARE(page->reUser()->toPlainText(), before);
        QCOMPARE(h->prompter.inputDialogs.size(), 4);
    }

    void unreadableFileNamesItself() {
        QFile::remove(enginePath());
        bool raised = false;
        try {
            page->LoadRawIniText();
        } catch (const std::exception& e) {
            raised = true;
            QVERIFY(QString::fromStdString(e.what()).startsWith(QStringLiteral("Cannot read ") + enginePath()));
        }
        QVERIFY(raised);
    }
};

QTEST_MAIN(IniFilesTest)
#include "IniFilesTest.moc"
