// Each control of each table-driven page, one at a time: load a known file,
// change that one control, save, and compare the files key by key. The
// expectations come from the TSV files in tests/data, never from the pages'
// own tables.
#include "instantaction/TInstantActionPage.h"
#include "keybinds/TKeyBindsPage.h"
#include "settings/Presets.h"
#include "settings/TGeneralSettingsPage.h"
#include "settings/TUT2k4SettingsPage.h"
#include "tests/support/IniDiff.h"
#include "tests/support/PageHarness.h"
#include "tests/support/TableData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QtTest>
#include <cmath>
#include <functional>

using namespace testsupport;

namespace {

const QString kViewport = QStringLiteral("WinDrv.WindowsClient");
const QString kTrue = QStringLiteral("True");
const QString kFalse = QStringLiteral("False");

QString Flag(bool b) { return b ? kTrue : kFalse; }
QString Not(const QString& flag) { return Flag(flag != kTrue); }
QString SectionOf(const QString& s) { return s == QStringLiteral("viewport") ? kViewport : s; }

// "file:Section|Key=value" as IniChanges reports a new entry in a file that
// has none of the page's keys.
QString Entry(const QString& file, const QString& section, const QString& key, const QString& value) {
    return file + QLatin1Char(':') + SectionOf(section) + QLatin1Char('|') + key + QLatin1Char('=') + value;
}

// The slider position a stored decimal gives, and the text a position writes.
int PositionOf(const QStringList& row) {
    const double v = row[5].toDouble() * row[6].toDouble();
    return std::clamp(static_cast<int>(std::lround(v)), row[8].toInt(), row[9].toInt());
}
QString TextOf(int position, const QStringList& row) {
    const QString pattern = row[7];
    const int decimals = pattern.contains(QLatin1Char('.')) ? int(pattern.size() - pattern.indexOf(QLatin1Char('.')) - 1) : 0;
    return QString::number(position / row[6].toDouble(), 'f', decimals);
}
// A position well inside the range and away from the default.
int OtherPosition(const QStringList& row) {
    const int lo = row[8].toInt(), hi = row[9].toInt();
    int p = lo + (hi - lo) / 3 + 7;
    if (p == PositionOf(row)) p += 11;
    return p;
}

} // namespace

class EachControlTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    QByteArray userBase, mainBase;

    template <class T>
    static T* c(const QObject* page, const QString& name) {
        T* w = page->findChild<T*>(name);
        if (!w) qFatal("no control %s", qPrintable(name));
        return w;
    }

    // Fresh files and handles, so every round starts from the same bytes.
    void reset(const QByteArray& user, const QByteArray& main) {
        userBase = user;
        mainBase = main;
        WriteAll(h->UserIniPath(), user);
        WriteAll(h->MainIniPath(), main);
        h->handles.UserIni = std::make_unique<ini::TIniFile>(h->UserIniPath().toStdString());
        h->handles.Ut2004Ini = std::make_unique<ini::TIniFile>(h->MainIniPath().toStdString());
    }
    QStringList changes() const {
        QStringList out;
        for (const QString& s : IniChanges(userBase, ReadAll(h->UserIniPath()))) out << QStringLiteral("user:") + s;
        for (const QString& s : IniChanges(mainBase, ReadAll(h->MainIniPath()))) out << QStringLiteral("main:") + s;
        out.sort();
        return out;
    }
    static QStringList sorted(QStringList l) {
        l.sort();
        return l;
    }

    // Loads a settings page from the files, applies one edit, saves and
    // returns what changed in both files.
    template <class Page>
    QStringList editAndSave(const QByteArray& user, const QByteArray& main,
                            const std::function<void(Page&)>& check, const std::function<void(Page&)>& edit) {
        reset(user, main);
        Page page(h->ctx);
        load(page);
        check(page);
        edit(page);
        save(page);
        return changes();
    }
    static void load(settings::TGeneralSettingsPage& p) { QVERIFY(p.LoadGeneralSettings()); }
    static void save(settings::TGeneralSettingsPage& p) { QVERIFY(p.SaveGeneralSettings()); }
    static void load(settings::TUT2k4SettingsPage& p) { QVERIFY(p.LoadUT2k4Settings()); }
    static void save(settings::TUT2k4SettingsPage& p) { QVERIFY(p.SaveUT2k4Settings()); }
    static void load(keybinds::TKeyBindsPage& p) { QVERIFY(p.LoadKeyBinds()); }
    static void save(keybinds::TKeyBindsPage& p) { QVERIFY(p.SaveKeyBinds()); }
    static void load(instantaction::TInstantActionPage& p) { p.LoadGameTypeRules(); }
    static void save(instantaction::TInstantActionPage& p) { p.SaveGameTypeRules(); }

    // One key-table row of a settings page: its default on load, then the
    // one change and the keys it must write (all rows of the same control).
    template <class Page>
    void eachKeyRow(const TableData& table, const QByteArray& user, const QByteArray& main) {
        QStringList done;
        for (qsizetype i = 0; i < table.size(); ++i) {
            const QStringList& row = table.rows[i];
            const QString name = row[0];
            if (done.contains(name)) continue;
            done << name;
            QStringList want;
            const QString kind = row[4];
            const QString def = table.at(i, 5);
            std::function<void(Page&)> check, edit;
            QString written;
            if (kind == QStringLiteral("text")) {
                check = [=](Page& p) { QCOMPARE(c<QLineEdit>(&p, name)->text(), def); };
                written = QStringLiteral("4242");
                edit = [=](Page& p) { c<QLineEdit>(&p, name)->setText(QStringLiteral("4242")); };
            } else if (kind == QStringLiteral("direct") || kind == QStringLiteral("inverted")) {
                const bool shown = kind == QStringLiteral("direct") ? def == kTrue : def != kTrue;
                check = [=](Page& p) { QCOMPARE(c<QCheckBox>(&p, name)->isChecked(), shown); };
                written = Not(def);
                edit = [=](Page& p) { c<QCheckBox>(&p, name)->click(); };
            } else if (kind == QStringLiteral("slider")) {
                const int to = OtherPosition(row);
                check = [=](Page& p) { QCOMPARE(c<QSlider>(&p, name)->value(), PositionOf(row)); };
                written = TextOf(to, row);
                edit = [=](Page& p) { c<QSlider>(&p, name)->setValue(to); };
            } else if (kind == QStringLiteral("detail")) {
                check = [=](Page& p) { QCOMPARE(c<QComboBox>(&p, name)->currentText(), def); };
                written = QStringLiteral("Higher");
                edit = [=](Page& p) {
                    auto* list = c<QComboBox>(&p, name);
                    list->setCurrentIndex(list->findText(QStringLiteral("Higher")));
                };
            } else if (kind == QStringLiteral("character")) {
                check = [=](Page& p) { QCOMPARE(c<QComboBox>(&p, name)->currentIndex(), -1); };
                written = QStringLiteral("?");
                edit = [&written, name](Page& p) {
                    auto* list = c<QComboBox>(&p, name);
                    QVERIFY(list->count() > 1);
                    list->setCurrentIndex(1);
                    written = list->currentText();
                };
            } else if (kind == QStringLiteral("team")) {
                check = [=](Page& p) {
                    QVERIFY(!c<QRadioButton>(&p, QStringLiteral("rbTeamRed"))->isChecked());
                    QVERIFY(!c<QRadioButton>(&p, QStringLiteral("rbTeamBlue"))->isChecked());
                };
                written = QStringLiteral("1");
                edit = [=](Page& p) { c<QRadioButton>(&p, name)->click(); };
            } else {
                QFAIL(qPrintable(QStringLiteral("unknown kind ") + kind));
            }
            const QStringList got = editAndSave<Page>(user, main, check, edit);
            if (QTest::currentTestFailed()) qWarning("while checking %s", qPrintable(name));
            for (const auto& other : table.rows)
                if (other[0] == name) want << Entry(other[1], other[2], other[3], written);
            QCOMPARE(got, sorted(want));
        }
    }

    void eachDeviceOption(const TableData& options) {
        for (const auto& o : options.rows) {
            const QString name = o[2];
            const bool def = o[3] == kTrue;
            const QStringList got = editAndSave<settings::TUT2k4SettingsPage>(
                "", "",
                [=](auto& p) {
                    auto* box = c<QCheckBox>(&p, name);
                    QCOMPARE(box->isChecked(), def);
                    QCOMPARE(box->text(), o[4]);
                },
                [=](auto& p) { c<QCheckBox>(&p, name)->click(); });
            QCOMPARE(got, QStringList{Entry(QStringLiteral("main"), o[1], o[0], Flag(!def))});
        }
    }

private slots:
    void init() { h = std::make_unique<PageHarness>(); }
    void cleanup() { h.reset(); }

    void generalSettingsEachControl() {
        const TableData table("general_settings_keys.tsv");
        eachKeyRow<settings::TGeneralSettingsPage>(table, "", "[Engine.Engine]\r\n");
        settings::TGeneralSettingsPage page(h->ctx);
        QCOMPARE(page.findChildren<QCheckBox*>().size(), 17);
    }

    void videoAudioEachKeyAndDeviceOption() {
        const TableData table("video_audio_keys.tsv");
        eachKeyRow<settings::TUT2k4SettingsPage>(table, "", "");
        const TableData options("render_device_options.tsv");
        eachDeviceOption(options);
        settings::TUT2k4SettingsPage page(h->ctx);
        int boxes = 0;
        for (const auto& row : table.rows) boxes += row[4] == QStringLiteral("direct") || row[4] == QStringLiteral("inverted");
        QCOMPARE(page.findChildren<QCheckBox*>().size(), boxes + int(options.size()));
    }
};

QTEST_MAIN(EachControlTest)
#include "EachControlTest.moc"
