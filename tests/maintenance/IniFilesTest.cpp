#include "maintenance/TIniFilesPage.h"
#include "tests/support/PageHarness.h"

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QtTest>

using maintenance::TIniFilesPage;
using namespace testsupport;
using ui::Answer;
Q_DECLARE_METATYPE(ui::Answer)

class IniFilesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TIniFilesPage> page;
    int reloads = 0;

    QString userPath() const { return h->UserIniPath(); }
    QString enginePath() const { return h->game.SystemDir() + QStringLiteral("UT2004.ini"); }
    // Typed, as a player would: select the text and type over it.
    void replaceInUser(const QString& from, const QString& to) {
        QTextCursor c = page->reUser()->document()->find(from);
        QVERIFY(!c.isNull());
        page->reUser()->setTextCursor(c);
        QTest::keyClicks(page->reUser(), to);
    }
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
        // Every byte comes back, line ends included.
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

    // The player's text edit changes only the line he edited; every other
    // byte, line end and the encoding stay as the file had them.
    void anEditKeepsTheFilesOwnBytes_data() {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::newRow("LF") << QByteArray("[Engine.Input]\nSpace=Jump\nTab=ShowScores\n")
                            << QByteArray("[Engine.Input]\nSpace=Duck\nTab=ShowScores\n");
        QTest::newRow("CRLF") << QByteArray("[Engine.Input]\r\nSpace=Jump\r\nTab=ShowScores\r\n")
                              << QByteArray("[Engine.Input]\r\nSpace=Duck\r\nTab=ShowScores\r\n");
        QTest::newRow("mixed") << QByteArray("[Engine.Input]\r\nSpace=Jump\nTab=ShowScores\r\nF1=Help\n")
                               << QByteArray("[Engine.Input]\r\nSpace=Duck\nTab=ShowScores\r\nF1=Help\n");
        QTest::newRow("no end at the end") << QByteArray("[Engine.Input]\nSpace=Jump") << QByteArray("[Engine.Input]\nSpace=Duck");
        QTest::newRow("Windows-1252") << QByteArray("[Engine.Input]\r\nName=Jos\xe9\r\nSpace=Jump\r\n")
                                      << QByteArray("[Engine.Input]\r\nName=Jos\xe9\r\nSpace=Duck\r\n");
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF[Engine.Input]\nName=Jos\xc3\xa9\nSpace=Jump\n")
                                        << QByteArray("\xEF\xBB\xBF[Engine.Input]\nName=Jos\xc3\xa9\nSpace=Duck\n");
    }
    void anEditKeepsTheFilesOwnBytes() {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        WriteAll(userPath(), before);
        page->LoadRawIniText();
        QVERIFY(!page->RawTextChanged());
        replaceInUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        QVERIFY(page->RawTextChanged());
        h->prompter.Answer(Answer::Yes);
        page->btnSaveInisClick();
        QCOMPARE(ReadAll(userPath()), after);
        QVERIFY(!page->RawTextChanged());
    }

    void addedLinesTakeTheFilesLineEnd() {
        WriteAll(userPath(), "[Engine.Input]\nSpace=Jump\n");
        page->LoadRawIniText();
        replaceInUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Jump"));
        for (const QString& line : {QStringLiteral("F2=Duck"), QStringLiteral("F3=Fire")}) {
            QTest::keyClick(page->reUser(), Qt::Key_Return);
            QTest::keyClicks(page->reUser(), line);
        }
        h->prompter.Answer(Answer::Yes);
        page->btnSaveInisClick();
        QCOMPARE(ReadAll(userPath()), QByteArray("[Engine.Input]\nSpace=Jump\nF2=Duck\nF3=Fire\n"));
    }

    // Another page saved into the file after the editor was filled.
    void editedTextIsMergedWithWhatTheFileGotMeanwhile() {
        replaceInUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        h->handles.UserIni->WriteText("Engine.Input", "Tab", "Fire");
        QVERIFY(page->WriteEditedText());
        QCOMPARE(h->User("Engine.Input", "Space"), QStringLiteral("Duck"));
        QCOMPARE(h->User("Engine.Input", "Tab"), QStringLiteral("Fire"));
        QVERIFY(h->prompter.prompts.isEmpty());
        // The engine file's text was not edited: it is not written.
        const QByteArray engine = ReadAll(enginePath());
        QVERIFY(!page->WriteEditedText());
        QCOMPARE(ReadAll(enginePath()), engine);
    }

    void bothChangingOneLineAsksWhichToKeep_data() {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<QString>("space");
        QTest::newRow("the text") << Answer::Yes << QStringLiteral("Duck");
        QTest::newRow("the pages'") << Answer::No << QStringLiteral("Fire");
    }
    void bothChangingOneLineAsksWhichToKeep() {
        QFETCH(Answer, answer);
        QFETCH(QString, space);
        replaceInUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        replaceInUser(QStringLiteral("Tab=ShowScores"), QStringLiteral("Tab=Walk"));
        h->handles.UserIni->WriteText("Engine.Input", "Space", "Fire");
        h->prompter.Answer(answer);
        page->WriteEditedText();
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral(
                     "User.ini was also changed by the other pages, in lines you edited here.\nDo you want to keep "
                     "your text for those lines?\n(No keeps what the other pages saved there; the rest of both is kept.)")});
        QCOMPARE(h->User("Engine.Input", "Space"), space);
        QCOMPARE(h->User("Engine.Input", "Tab"), QStringLiteral("Walk"));
    }

    void editsSurviveTheShellsRefill() {
        replaceInUser(QStringLiteral("Space=Jump"), QStringLiteral("Space=Duck"));
        h->handles.Ut2004Ini->WriteText("Engine.Engine", "RenderDevice", "Changed.Device");
        page->Refill(true);
        QVERIFY(page->reUser()->toPlainText().contains(QStringLiteral("Space=Duck")));
        QVERIFY(page->reUt2004()->toPlainText().contains(QStringLiteral("RenderDevice=Changed.Device")));
        QVERIFY(page->RawTextChanged());
        page->LoadRawIniText();
        QVERIFY(!page->RawTextChanged());
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
