#include "maintenance/Backups.h"
#include "maintenance/DefaultReset.h"
#include "maintenance/TfrmIniManager.h"
#include "platform/Files.h"
#include "tests/support/PageHarness.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

using namespace testsupport;
using ui::Answer;

class BackupsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    int reloads = 0;
    const QDate day{2004, 12, 8};

    QString sys() const { return h->game.SystemDir(); }
    QString date() const { return platform::DateText(day); }
    QString userBackup() const { return sys() + QStringLiteral("User_") + date() + QStringLiteral(".INI"); }
    QString engineBackup() const { return sys() + QStringLiteral("UT2004_") + date() + QStringLiteral(".INI"); }
    void backup(bool report = true, bool ask = false, bool override = false) {
        maintenance::BackupIniFiles(h->ctx, report, ask, override);
    }
    QByteArray user() const { return ReadAll(sys() + QStringLiteral("User.ini")); }
    QByteArray engine() const { return ReadAll(sys() + QStringLiteral("UT2004.ini")); }

private slots:
    void init() {
        h = std::make_unique<PageHarness>();
        h->state.CurrentUserIniName = QStringLiteral("User.ini");
        platform::SetTodayForTesting(day);
        reloads = 0;
    }
    void cleanup() {
        platform::SetTodayForTesting({});
        h.reset();
    }

    void dateTextFollowsTheShortFormatWithDashes() {
        const QDate d(2004, 12, 8);
        QCOMPARE(platform::DateText(d, QStringLiteral("d/M/yyyy")), QStringLiteral("8-12-2004"));
        QCOMPARE(platform::DateText(d, QStringLiteral("MM/dd/yy")), QStringLiteral("12-08-04"));
        QCOMPARE(platform::DateText(d, QStringLiteral("dd.MM.yy")), QStringLiteral("08-12-04"));
        QCOMPARE(platform::DateText(d, QStringLiteral("yyyy-MM-dd")), QStringLiteral("2004-12-08"));
        QCOMPARE(platform::DateText(d, QStringLiteral("d MMM yyyy")), QStringLiteral("8-12-2004"));
        QCOMPARE(platform::DateText(d, QStringLiteral("h:mm")), QStringLiteral("8-12-2004")); // no date fields
    }

    void firstBackupOfTheDayMakesBothAndReportsThem() {
        backup();
        QCOMPARE(ReadAll(userBackup()), user());
        QCOMPARE(ReadAll(engineBackup()), engine());
        QCOMPARE(
            h->prompter.Texts(),
            QStringList{QStringLiteral(
                            "The following INI files have been backed up: (showing new files)\n") +
                        userBackup() + QLatin1Char('\n') + engineBackup()});
    }

    void askBackupNoDoesNothing() {
        h->prompter.Answer(Answer::No);
        backup(true, true);
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Do you want to make a backup now?")});
        QVERIFY(!QFile::exists(userBackup()));
    }

    void secondRunReplacesTodayAndAsksOnlyWhenTold() {
        backup(false);
        WriteAll(sys() + QStringLiteral("User.ini"), "[Engine.Input]\r\nSpace=Duck\r\n");
        backup(false);
        QCOMPARE(ReadAll(userBackup()), QByteArray("[Engine.Input]\r\nSpace=Duck\r\n"));
        QVERIFY(h->prompter.prompts.isEmpty());
        WriteAll(sys() + QStringLiteral("User.ini"), "changed");
        const QByteArray engineBefore = ReadAll(engineBackup());
        WriteAll(sys() + QStringLiteral("UT2004.ini"), "changed too");
        h->prompter.Answer(Answer::No);
        backup(true, false, true);
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Found a backup of today, do you want to override this one?")});
        QCOMPARE(ReadAll(userBackup()), QByteArray("[Engine.Input]\r\nSpace=Duck\r\n"));
        QCOMPARE(ReadAll(engineBackup()), engineBefore);
    }

    // Root writes through any permission, so as root this case runs again in
    // a child process as the unprivileged user "nobody".
    void readOnlyBackupOfTodayIsReplacedAllTheSame() {
#ifndef _WIN32
        if (::geteuid() == 0) {
            if (qEnvironmentVariableIsSet("QUORLEX_DROPPED_PRIVILEGES")) QFAIL("setpriv left the process as root");
            QTemporaryDir home;
            QFile::setPermissions(home.path(), QFile::Permissions(0x7777));
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QUORLEX_DROPPED_PRIVILEGES"), QStringLiteral("1"));
            env.insert(QStringLiteral("HOME"), home.path());
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
            env.insert(QStringLiteral("TMPDIR"), QDir::tempPath());
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                                                    QStringLiteral("--clear-groups"), QStringLiteral("--"),
                                                    QCoreApplication::applicationFilePath(),
                                                    QStringLiteral("readOnlyBackupOfTodayIsReplacedAllTheSame")});
            if (!child.waitForStarted()) QSKIP("setpriv is not available to drop root privileges");
            QVERIFY(child.waitForFinished(60000));
            const QByteArray out = child.readAll();
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, out.constData());
            QVERIFY2(out.contains("PASS   : BackupsTest::readOnlyBackupOfTodayIsReplacedAllTheSame()"), out.constData());
            return;
        }
#endif
        backup(false);
        WriteAll(sys() + QStringLiteral("User.ini"), "[Engine.Input]\r\nSpace=Duck\r\n");
        QVERIFY(QFile::setPermissions(userBackup(), QFile::ReadOwner | QFile::ReadUser));
        QFile probe(userBackup());
#ifdef _WIN32
        if (probe.open(QIODevice::WriteOnly | QIODevice::Append))
            QSKIP("Wine runs as root here: a read-only file can still be written");
#endif
        QVERIFY2(!probe.open(QIODevice::WriteOnly | QIODevice::Append), "the backup must really be read-only here");
        backup(false);
        QCOMPARE(ReadAll(userBackup()), QByteArray("[Engine.Input]\r\nSpace=Duck\r\n"));
        QVERIFY(h->prompter.prompts.isEmpty());
    }

    void customUserIniIsStillTheUserBackupAndFallbackAsksOtherwise() {
        QFile::copy(sys() + QStringLiteral("User.ini"), sys() + QStringLiteral("Clan.ini"));
        WriteAll(sys() + QStringLiteral("Clan.ini"), "clan");
        h->state.CurrentUserIniName = QStringLiteral("Clan.ini");
        backup(false);
        QCOMPARE(ReadAll(userBackup()), QByteArray("clan"));
        QFile::remove(sys() + QStringLiteral("Clan.ini"));
        h->prompter.Answer(Answer::Yes);
        backup(false, false, true);
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Found a backup from today, do you want to override this one?")});
        QCOMPARE(ReadAll(userBackup()), user());
    }

    void missingSourcesAreSkipped() {
        QFile::remove(sys() + QStringLiteral("User.ini"));
        backup();
        QCOMPARE(
            h->prompter.Texts().last(),
            QStringLiteral("The following INI files have been backed up: (showing new files)\n") +
                engineBackup());
        QFile::remove(sys() + QStringLiteral("UT2004.ini"));
        QFile::remove(engineBackup());
        backup();
        QCOMPARE(
            h->prompter.Texts().last(),
            QStringLiteral("The following INI files have been backed up: (showing new files)\n"));
    }

    void failedCopyIsReportedEvenAtStartup() {
        QDir().mkdir(userBackup()); // a folder in the way: the copy cannot land
        backup(false);
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Could not backup the following file(s): \n") + sys() +
                                                  QStringLiteral("User.ini\n\nPlease backup the file(s) manually")});
        QVERIFY(QFile::exists(engineBackup())); // the other file is still backed up
    }

    // ---- backup manager ----

    std::unique_ptr<maintenance::TfrmIniManager> manager() {
        return std::make_unique<maintenance::TfrmIniManager>(
            h->ctx,
            maintenance::TfrmIniManager::Actions{[this] { backup(true); }, [this] { ++reloads; }});
    }
    QStringList entries(maintenance::TfrmIniManager& m) const {
        QStringList out;
        for (int i = 0; i < m.treelist->count(); ++i) out << m.treelist->item(i)->text();
        out.sort();
        return out;
    }

    void managerListsDaysWithAUserBackup() {
        backup(false);
        WriteAll(sys() + QStringLiteral("UT2004_1-1-2003.INI"), "engine only");
        WriteAll(sys() + QStringLiteral("user_2-2-2003.ini"), "old user");
        auto m = manager();
        QCOMPARE(entries(*m), (QStringList{QStringLiteral("2-2-2003"), date()}));
        QVERIFY(!m->btnBAK->isEnabled());
        m->btnRestoreClick(); // nothing selected
        m->btnDelClick();
        QVERIFY(h->prompter.prompts.isEmpty());
    }

    void restoringADayKeepsTheCurrentFilesInTheBakPair() {
        backup(false);
        const QByteArray oldUser = user(), oldEngine = engine();
        WriteAll(sys() + QStringLiteral("User.ini"), "newer user");
        WriteAll(sys() + QStringLiteral("UT2004.ini"), "newer engine");
        auto m = manager();
        m->treelist->setCurrentRow(0);
        h->prompter.Answer(Answer::Yes);
        m->btnRestore->click();
        QCOMPARE(h->prompter.Texts(),
                 (QStringList{QStringLiteral("The current settings will be backed up\nAre you sure "
                                             "you want to restore the ") +
                                  date() + QStringLiteral(" settings?"),
                              QStringLiteral("The settings are restored\nYour previous settings "
                                             "are now in the User.BAK and UT2004.BAK files")}));
        QCOMPARE(user(), oldUser);
        QCOMPARE(engine(), oldEngine);
        QCOMPARE(ReadAll(sys() + QStringLiteral("User.BAK")), QByteArray("newer user"));
        QCOMPARE(ReadAll(sys() + QStringLiteral("UT2004.BAK")), QByteArray("newer engine"));
        QCOMPARE(reloads, 1);
        QVERIFY(m->btnBAK->isEnabled());
        QCOMPARE(m->btnBAK->text(), QStringLiteral("Restore the .BAK files (") + platform::DateText(QDate::currentDate()) + QLatin1Char(')'));

        // The .BAK files are exchanged with the current ones, as the message says.
        h->prompter.Clear();
        m->btnBAK->click();
        QCOMPARE(user(), QByteArray("newer user"));
        QCOMPARE(ReadAll(sys() + QStringLiteral("User.BAK")), oldUser);
        QCOMPARE(ReadAll(sys() + QStringLiteral("UT2004.BAK")), oldEngine);
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("The settings are restored\nYour old settings are now in the User.BAK and UT2004.BAK files")});
        QCOMPARE(reloads, 2);
    }

    void restoringTheBakFilesIsBothOrNeither() {
        // Without UT2004.BAK the exchange cannot be whole: User.ini and
        // User.BAK stay as they are, so the INI files never come from two days.
        WriteAll(sys() + QStringLiteral("User.BAK"), "bak user");
        const QByteArray currentUser = user(), currentEngine = engine();
        auto m = manager();
        QVERIFY(m->btnBAK->isEnabled());
        m->btnBAK->click();
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Could not copy the files\nSettings have not been restored")});
        QCOMPARE(user(), currentUser);
        QCOMPARE(engine(), currentEngine);
        QCOMPARE(ReadAll(sys() + QStringLiteral("User.BAK")), QByteArray("bak user"));
        QCOMPARE(reloads, 0);
        QCOMPARE(QDir(sys()).entryList({QStringLiteral("*quorlex-*")}, QDir::Files | QDir::Hidden), QStringList());
    }

    void restoringADayWithoutItsEngineBackupChangesNothing() {
        backup(false);
        QFile::remove(engineBackup());
        WriteAll(sys() + QStringLiteral("User.ini"), "current user");
        const QByteArray currentEngine = engine();
        auto m = manager();
        m->treelist->setCurrentRow(0);
        h->prompter.Answer(Answer::Yes);
        m->btnRestoreClick();
        QCOMPARE(h->prompter.Texts().last(), QStringLiteral("Could not copy the files\nSettings have not been restored"));
        QCOMPARE(user(), QByteArray("current user"));
        QCOMPARE(engine(), currentEngine);
        QCOMPARE(reloads, 0);
    }

    // Names as another tool or an older copy may have written them.
    void todaysPairInAnotherLetterCaseIsTodays() {
        const QString lowerUser = sys() + QStringLiteral("user_") + date() + QStringLiteral(".ini");
        const QString lowerEngine = sys() + QStringLiteral("ut2004_") + date() + QStringLiteral(".ini");
        WriteAll(lowerUser, "old");
        WriteAll(lowerEngine, "old");
        h->prompter.Answer(Answer::No);
        backup(true, false, true);
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Found a backup of today, do you want to override this one?")});
        QCOMPARE(ReadAll(lowerUser), QByteArray("old"));
        backup(false);
        QCOMPARE(ReadAll(lowerUser), user());
        QCOMPARE(ReadAll(lowerEngine), engine());
        QStringList ofToday;
        for (const QString& f : QDir(sys()).entryList(QDir::Files))
            if (f.contains(date())) ofToday << f;
        QCOMPARE(ofToday.size(), 2); // replaced, not joined by a second pair
    }

    void letterCaseVariantsAreRestoredAndDeleted() {
        WriteAll(sys() + QStringLiteral("user_2-2-2003.ini"), "old user");
        WriteAll(sys() + QStringLiteral("Ut2004_2-2-2003.Ini"), "old engine");
        WriteAll(sys() + QStringLiteral("user.bak"), "older user");
        WriteAll(sys() + QStringLiteral("ut2004.bak"), "older engine");
        const QByteArray currentUser = user(), currentEngine = engine();
        auto m = manager();
        QVERIFY(m->btnBAK->isEnabled());
        m->treelist->setCurrentRow(0);
        h->prompter.Answer(Answer::Yes);
        m->btnRestore->click();
        QCOMPARE(h->prompter.prompts[0].defaultAnswer, std::optional<Answer>(Answer::No));
        QCOMPARE(user(), QByteArray("old user"));
        QCOMPARE(engine(), QByteArray("old engine"));
        QCOMPARE(reloads, 1);
        // The .BAK pair in lower case now holds the files the restore replaced.
        QCOMPARE(ReadAll(sys() + QStringLiteral("user.bak")), currentUser);
        QCOMPARE(ReadAll(sys() + QStringLiteral("ut2004.bak")), currentEngine);
        const QStringList names = QDir(sys()).entryList(QDir::Files); // by name: Windows finds either case
        QVERIFY(names.contains(QStringLiteral("user.bak")) && !names.contains(QStringLiteral("User.BAK")));
        h->prompter.Clear();
        m->treelist->setCurrentRow(0);
        h->prompter.Answer(Answer::Yes);
        m->btnDel->click();
        QCOMPARE(h->prompter.prompts[0].defaultAnswer, std::optional<Answer>(Answer::No));
        QVERIFY(!QFile::exists(sys() + QStringLiteral("user_2-2-2003.ini")));
        QVERIFY(!QFile::exists(sys() + QStringLiteral("Ut2004_2-2-2003.Ini")));
    }

    void deletingADayRemovesItsPairOnly() {
        backup(false);
        WriteAll(sys() + QStringLiteral("User_1-1-2003.INI"), "old");
        WriteAll(sys() + QStringLiteral("UT2004_1-1-2003.INI"), "old");
        auto m = manager();
        m->treelist->setCurrentItem(m->treelist->findItems(date(), Qt::MatchExactly).first());
        h->prompter.Answer(Answer::Yes);
        m->btnDelClick();
        QCOMPARE(h->prompter.Texts(), QStringList{QStringLiteral("Are you sure you want to delete the backup from ") + date()});
        QVERIFY(!QFile::exists(userBackup()));
        QVERIFY(!QFile::exists(engineBackup()));
        QVERIFY(QFile::exists(sys() + QStringLiteral("User_1-1-2003.INI")));
        QCOMPARE(entries(*m), QStringList{QStringLiteral("1-1-2003")});
        m->btnBackup->click();
        QCOMPARE(entries(*m), (QStringList{QStringLiteral("1-1-2003"), date()}));
    }

    // ---- modes ----

    // Every copy is as private as the pair it copies: the dated backups (also
    // over one an earlier build left open to all), the .BAK files of a reset
    // and of a restore, and the files the reset and the restores put in place.
    void copiesAreAsPrivateAsThePair_data() {
        QTest::addColumn<int>("mode");
        QTest::newRow("private") << 0600;
        QTest::newRow("group") << 0640;
        QTest::newRow("shared") << 0644;
    }
    void copiesAreAsPrivateAsThePair() {
#ifdef _WIN32
        QSKIP("POSIX modes; Windows keeps a profile private by its access lists");
#else
        QFETCH(int, mode);
        const auto modes = [this](const QStringList& names) {
            QStringList out;
            for (const QString& name : names) {
                struct stat st {};
                const QString path = platform::FindIgnoringCase(sys(), name);
                out << name + QLatin1Char(' ') +
                           (::lstat(QFile::encodeName(path).constData(), &st) == 0
                                ? QString::number(st.st_mode & 0777, 8)
                                : QStringLiteral("missing"));
            }
            return out;
        };
        const auto all = [&](const QStringList& names) {
            QStringList out;
            for (const QString& name : names)
                out << name + QLatin1Char(' ') + QString::number(mode, 8);
            return out;
        };
        const QStringList pair = {QStringLiteral("User.ini"), QStringLiteral("UT2004.ini")};
        const QStringList baks = {QStringLiteral("User.BAK"), QStringLiteral("UT2004.BAK")};
        const QStringList dated = {QStringLiteral("User_") + date() + QStringLiteral(".INI"),
                                   QStringLiteral("UT2004_") + date() + QStringLiteral(".INI")};
        for (const QString& name : pair)
            QVERIFY(::chmod(QFile::encodeName(sys() + name).constData(), mode) == 0);
        WriteAll(userBackup(), "an earlier build's backup");
        QVERIFY(::chmod(QFile::encodeName(userBackup()).constData(), 0644) == 0);
        backup(false);
        QCOMPARE(modes(dated), all(dated));

        h->prompter.Answer(Answer::Yes);
        maintenance::ResetToDefaults(h->ctx, [this] { ++reloads; });
        QCOMPARE(modes(baks + pair), all(baks + pair));

        auto m = manager();
        m->treelist->setCurrentRow(0);
        h->prompter.Answer(Answer::Yes);
        m->btnRestore->click();
        QCOMPARE(modes(baks + pair), all(baks + pair));
        m->btnBAK->click();
        QCOMPARE(modes(baks + pair + dated), all(baks + pair + dated));
        QCOMPARE(reloads, 3);
#endif
    }

    // ---- reset to defaults ----

    void resetPutsTheDefaultsInPlace() {
        h->state.CurrentUserIniName = QStringLiteral("Clan.ini");
        WriteAll(sys() + QStringLiteral("Clan.ini"), "clan");
        const QByteArray oldEngine = engine();
        h->prompter.Answer(Answer::Yes);
        maintenance::ResetToDefaults(h->ctx, [this] { ++reloads; });
        QCOMPARE(ReadAll(sys() + QStringLiteral("Clan.ini")), ReadAll(sys() + QStringLiteral("DefUser.ini")));
        QCOMPARE(engine(), ReadAll(sys() + QStringLiteral("Default.ini")));
        QCOMPARE(ReadAll(sys() + QStringLiteral("User.BAK")), QByteArray("clan"));
        QCOMPARE(ReadAll(sys() + QStringLiteral("UT2004.BAK")), oldEngine);
        QCOMPARE(reloads, 1);
        QCOMPARE(h->prompter.Texts().last(), QStringLiteral("The settings are back to default now\nYour old settings are now in the User.BAK and UT2004.BAK files"));
        // A second reset keeps what the first one produced.
        h->prompter.Answer(Answer::Yes);
        maintenance::ResetToDefaults(h->ctx, [this] { ++reloads; });
        QCOMPARE(ReadAll(sys() + QStringLiteral("User.BAK")), ReadAll(sys() + QStringLiteral("DefUser.ini")));
    }

    void resetWithoutDefaultIniLeavesTheFiles() {
        QFile::remove(sys() + QStringLiteral("Default.ini"));
        const QByteArray oldUser = user(), oldEngine = engine();
        h->prompter.Answer(Answer::Yes);
        maintenance::ResetToDefaults(h->ctx, [this] { ++reloads; });
        QCOMPARE(h->prompter.Texts().last(), QStringLiteral("Could not copy the DefUser.ini and/or Default.ini\nSettings have not been restored to default"));
        QCOMPARE(user(), oldUser);
        QCOMPARE(engine(), oldEngine);
        QCOMPARE(reloads, 0);
    }

    void resetDeclinedKeepsTheBakPair() {
        WriteAll(sys() + QStringLiteral("User.BAK"), "kept");
        h->prompter.Answer(Answer::No);
        maintenance::ResetToDefaults(h->ctx, [this] { ++reloads; });
        QCOMPARE(ReadAll(sys() + QStringLiteral("User.BAK")), QByteArray("kept"));
    }
};

QTEST_MAIN(BackupsTest)
#include "BackupsTest.moc"
