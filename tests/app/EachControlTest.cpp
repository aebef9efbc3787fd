// Each control of each table-driven page, one at a time: load a known file,
// change that one control, save, and compare the files key by key. The
// expectations come from the TSV files in tests/data, never from the pages'
// own tables.
#include "instantaction/TInstantActionPage.h"
#include "keybinds/TKeyBindsPage.h"
#include "maintenance/DefaultReset.h"
#include "settings/Presets.h"
#include "settings/TGeneralSettingsPage.h"
#include "settings/TUT2k4SettingsPage.h"
#include "tests/support/ControlStates.h"
#include "tests/support/IniDiff.h"
#include "tests/support/PageHarness.h"
#include "tests/support/TableData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QFile>
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
            const bool failedBefore = QTest::currentTestFailed();
            const QStringList got = editAndSave<Page>(user, main, check, edit);
            if (!failedBefore && QTest::currentTestFailed()) qWarning("while checking %s", qPrintable(name));
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

    void keyBindsEachField() {
        const TableData table("key_binds.tsv");
        // Every key present with a value of its own, so a field written under
        // another field's key shows as a changed value.
        QByteArray user = "[Engine.Input]\r\n";
        for (const auto& row : table.rows)
            if (!row[3].isEmpty()) user += row[3].toLatin1() + "=was" + row[3].toLatin1() + "\r\n";
        user += "[Other]\r\nA=untouched\r\n";
        int bound = 0;
        for (const auto& row : table.rows) {
            const QString field = row[1], key = row[3];
            const QStringList got = editAndSave<keybinds::TKeyBindsPage>(
                user, "",
                [=](auto& p) {
                    auto* e = c<QLineEdit>(&p, field);
                    QCOMPARE(e->text(), key.isEmpty() ? QString() : QStringLiteral("was") + key);
                    QVERIFY(!p.KeyBindsChanged());
                },
                [=](auto& p) {
                    c<QLineEdit>(&p, field)->setText(QStringLiteral("say ") + field);
                    QVERIFY(p.KeyBindsChanged());
                });
            if (key.isEmpty()) {
                QCOMPARE(got, QStringList());
                continue;
            }
            ++bound;
            QCOMPARE(got, QStringList{QStringLiteral("user:Engine.Input|") + key + QStringLiteral("=say ") + field});
        }
        QCOMPARE(bound, 132); // the game's 130 keys and the thumb buttons Mouse4, Mouse5
        // A key the file lacks is created in the table's spelling at the end of the section.
        const QStringList got = editAndSave<keybinds::TKeyBindsPage>(
            "[Engine.Input]\r\n", "", [](auto&) {},
            [](auto& p) { c<QLineEdit>(&p, QStringLiteral("edtMWheelDown"))->setText(QStringLiteral("NextWeapon")); });
        QCOMPARE(got, QStringList{QStringLiteral("user:Engine.Input|MouseWheelDown=NextWeapon")});
    }

    void instantActionEachRuleAndMemory() {
        const TableData types("game_types.tsv");
        const TableData rules("game_rules.tsv");
        QFile::copy(SourceDir() + QStringLiteral("/demo/previews/Quarry.jpg"), h->game.ProgramDir() + QStringLiteral("Quarry.jpg"));
        for (const auto& row : rules.rows) {
            const QString key = row[0], control = row[3], def = row[4];
            const QString section = types.at(row[2].toInt(), 4);
            const bool flag = row[1] == QStringLiteral("flag");
            // Friendly fire shows a whole percentage and is kept as the game's fraction.
            const bool percent = key == QStringLiteral("FriendlyFireScale");
            QString written;
            const QStringList got = editAndSave<instantaction::TInstantActionPage>(
                "", "",
                [=](auto& p) {
                    if (flag)
                        QCOMPARE(Flag(c<QCheckBox>(&p, control)->isChecked()), def);
                    else
                        QCOMPARE(QString::number(c<QSpinBox>(&p, control)->value()), def);
                },
                [&](auto& p) {
                    if (flag) {
                        c<QCheckBox>(&p, control)->click();
                        written = Not(def);
                    } else {
                        c<QSpinBox>(&p, control)->setValue(def.toInt() + 37);
                        written = percent ? QString::number((def.toInt() + 37) / 100.0, 'f', 6) : QString::number(def.toInt() + 37);
                    }
                });
            QStringList want{Entry(QStringLiteral("main"), section, key, written)};
            // The translocator rule of the game type shown (Deathmatch, from the
            // empty file) is one setting with the box under General.
            if (key == QStringLiteral("bAllowTrans") && row[2].toInt() == 0)
                want << Entry(QStringLiteral("main"), QStringLiteral("xInterface.Tab_InstantActionBaseRules"),
                              QStringLiteral("LastTranslocator"), written);
            QCOMPARE(got, sorted(want));
        }

        const TableData memory("instant_action_memory.tsv");
        const TableData diff("difficulties.tsv");
        for (const auto& row : memory.rows) {
            const QString kind = row[2], def = row[3], control = row[4];
            QString written;
            const QStringList got = editAndSave<instantaction::TInstantActionPage>(
                "", "",
                [=](auto& p) {
                    if (kind == QStringLiteral("number")) QCOMPARE(QString::number(c<QSpinBox>(&p, control)->value()), def);
                    // The box under General shows the rule of the game type shown (Deathmatch: off).
                    if (kind == QStringLiteral("flag"))
                        QCOMPARE(Flag(c<QCheckBox>(&p, control)->isChecked()), QStringLiteral("False"));
                    if (kind == QStringLiteral("skill")) QCOMPARE(c<QComboBox>(&p, control)->currentIndex(), def.toInt() - 1);
                    if (kind == QStringLiteral("gametype"))
                        QCOMPARE(c<QComboBox>(&p, control)->currentText(), types.at(0, 1));
                },
                [&](auto& p) {
                    if (kind == QStringLiteral("number")) {
                        c<QSpinBox>(&p, control)->setValue(6);
                        written = QStringLiteral("6");
                    } else if (kind == QStringLiteral("flag")) {
                        c<QCheckBox>(&p, control)->click();
                        written = QStringLiteral("True");
                    } else if (kind == QStringLiteral("skill")) {
                        auto* list = c<QComboBox>(&p, control);
                        QCOMPARE(list->count(), int(diff.size()));
                        for (qsizetype d = 0; d < diff.size(); ++d) QCOMPARE(list->itemText(int(d)), diff.at(d, 1));
                        list->setCurrentIndex(4);
                        written = QStringLiteral("5");
                    } else {
                        auto* list = c<QComboBox>(&p, control);
                        QCOMPARE(list->count(), int(types.size()));
                        for (qsizetype t = 0; t < types.size(); ++t) QCOMPARE(list->itemText(int(t)), types.at(t, 1));
                        list->setCurrentIndex(5);
                        written = types.at(5, 4);
                    }
                });
            QStringList want{Entry(QStringLiteral("main"), row[0], row[1], written)};
            if (kind == QStringLiteral("flag"))
                want << Entry(QStringLiteral("main"), types.at(0, 4), QStringLiteral("bAllowTrans"), written);
            // A new game type rebuilds the map list; a map it selects is remembered too.
            if (kind == QStringLiteral("gametype"))
                for (const QString& g : got)
                    if (g.contains(QStringLiteral("|LastMap="))) want << g;
            QCOMPARE(got, sorted(want));
        }
    }

    void renderDeviceChoice() {
        const TableData devices("render_devices.tsv");
        for (qsizetype i = 0; i < devices.size(); ++i) {
            const QString radio = devices.at(i, 0), group = devices.at(i, 2), value = devices.at(i, 4);
            const bool isNull = value == QStringLiteral("Engine.NullRenderDevice");
            // Start from another device, named in another letter case.
            const QByteArray main = isNull ? QByteArray("[Engine.Engine]\r\nRenderDevice=OPENGLDRV.OPENGLRENDERDEVICE\r\n")
                                           : QByteArray("[Engine.Engine]\r\nRenderDevice=engine.NULLRenderDevice\r\n");
            const QString from = isNull ? QStringLiteral("rbOpenGL") : QStringLiteral("rbNull");
            const QStringList got = editAndSave<settings::TUT2k4SettingsPage>(
                "", main, [=](auto& p) { QVERIFY(c<QRadioButton>(&p, from)->isChecked()); },
                [=](auto& p) {
                    auto* rb = c<QRadioButton>(&p, radio);
                    QCOMPARE(rb->text(), devices.at(i, 1));
                    rb->click();
                    for (qsizetype j = 0; j < devices.size(); ++j) {
                        auto* box = c<QGroupBox>(&p, devices.at(j, 2));
                        QCOMPARE(box->title(), devices.at(j, 3));
                        QCOMPARE(!box->isHidden(), devices.at(j, 2) == group);
                    }
                });
            QCOMPARE(got.size(), 1);
            QCOMPARE(got[0].section(QLatin1Char('='), 1), value);
        }
    }

    void screenModes() {
        const TableData modes("screen_modes.tsv");
        for (qsizetype i = 0; i < modes.size(); ++i) {
            const QString item = modes.at(i, 0);
            const QByteArray main = "[WinDrv.WindowsClient]\r\nFullscreenViewportX=" + modes.at(i, 1).toLatin1() +
                                    "\r\nFullscreenViewportY=" + modes.at(i, 2).toLatin1() + "\r\n";
            const qsizetype other = (i + 1) % modes.size();
            const QStringList got = editAndSave<settings::TUT2k4SettingsPage>(
                "", main, [=](auto& p) { QCOMPARE(c<QComboBox>(&p, QStringLiteral("pickScreenmode"))->currentText(), item); },
                [=](auto& p) {
                    auto* list = c<QComboBox>(&p, QStringLiteral("pickScreenmode"));
                    list->setCurrentIndex(list->findText(modes.at(other, 0)));
                });
            QCOMPARE(got, sorted({Entry(QStringLiteral("main"), QStringLiteral("WinDrv.WindowsClient"), QStringLiteral("FullscreenViewportX"), modes.at(other, 1)),
                                  Entry(QStringLiteral("main"), QStringLiteral("WinDrv.WindowsClient"), QStringLiteral("FullscreenViewportY"), modes.at(other, 2))}));
        }
    }

    void textureDetailNamesInAnyCase() {
        const TableData details("texture_details.tsv");
        for (qsizetype i = 0; i < details.size(); ++i) {
            const QByteArray main = "[WinDrv.WindowsClient]\r\nTextureDetailWorld=" + details.at(i, 2).toUpper().toLatin1() + "\r\n";
            const qsizetype other = (i + 2) % details.size();
            const QStringList got = editAndSave<settings::TUT2k4SettingsPage>(
                "", main,
                [=](auto& p) {
                    auto* list = c<QComboBox>(&p, QStringLiteral("pickworld"));
                    QCOMPARE(list->currentText(), details.at(i, 0));
                    QCOMPARE(list->currentIndex(), details.at(i, 1).toInt());
                },
                [=](auto& p) { c<QComboBox>(&p, QStringLiteral("pickworld"))->setCurrentIndex(details.at(other, 1).toInt()); });
            QCOMPARE(got, QStringList{Entry(QStringLiteral("main"), QStringLiteral("viewport"), QStringLiteral("TextureDetailWorld"), details.at(other, 0))});
        }
    }

    // A preset sets every control of its table; a save then writes exactly
    // the keys whose control now differs from what the empty file loaded.
    void presetsEveryCell_data() {
        QTest::addColumn<int>("column");
        QTest::newRow("low") << 1;
        QTest::newRow("high") << 2;
    }
    void presetsEveryCell() {
        QFETCH(int, column);
        const TableData preset("presets.tsv");
        const TableData keys("video_audio_keys.tsv");
        const TableData options("render_device_options.tsv");
        const TableData devices("render_devices.tsv");
        const TableData modes("screen_modes.tsv");
        // control -> {section, key, kind, default}
        QMap<QString, QStringList> where;
        for (const auto& r : keys.rows) where.insert(r[0], {SectionOf(r[2]), r[3], r[4], r.value(5)});
        for (const auto& r : options.rows) where.insert(r[2], {r[1], r[0], QStringLiteral("direct"), r[3]});

        reset("", "");
        settings::TUT2k4SettingsPage page(h->ctx);
        QVERIFY(page.LoadUT2k4Settings());
        QStringList untouched;
        for (const QString& state : ControlStates(&page)) {
            const QString name = state.section(QLatin1Char('='), 0, 0);
            bool inPreset = name.startsWith(QStringLiteral("rb"));
            for (const auto& r : preset.rows) inPreset = inPreset || r[0] == name;
            if (!inPreset) untouched << state;
        }
        settings::ApplyPreset(page, column == 1 ? settings::Quality::Low : settings::Quality::High);

        QStringList want;
        for (const auto& r : preset.rows) {
            const QString name = r[0], value = r[column];
            if (name == QStringLiteral("renderer")) {
                QVERIFY2(c<QRadioButton>(&page, value)->isChecked(), qPrintable(value));
                for (const auto& d : devices.rows) {
                    QCOMPARE(!c<QGroupBox>(&page, d[2])->isHidden(), d[0] == value);
                    if (d[0] == value && value != QStringLiteral("rbDirect3d"))
                        want << Entry(QStringLiteral("main"), QStringLiteral("Engine.Engine"), QStringLiteral("RenderDevice"), d[4]);
                }
            } else if (name == QStringLiteral("pickScreenmode")) {
                QCOMPARE(c<QComboBox>(&page, name)->currentText(), value);
                for (const auto& m : modes.rows)
                    if (m[0] == value && value != QStringLiteral("640x480"))
                        want << Entry(QStringLiteral("main"), kViewport, QStringLiteral("FullscreenViewportX"), m[1])
                             << Entry(QStringLiteral("main"), kViewport, QStringLiteral("FullscreenViewportY"), m[2]);
            } else {
                QVERIFY2(where.contains(name), qPrintable(name));
                const QStringList& w = where[name];
                const QString kind = w[2], def = w[3];
                if (kind == QStringLiteral("detail")) {
                    QCOMPARE(c<QComboBox>(&page, name)->currentText(), value);
                    if (value != def) want << Entry(QStringLiteral("main"), w[0], w[1], value);
                } else if (kind == QStringLiteral("text")) {
                    QCOMPARE(c<QLineEdit>(&page, name)->text(), value);
                    if (value != def) want << Entry(QStringLiteral("main"), w[0], w[1], value);
                } else {
                    const bool on = value == QStringLiteral("1");
                    QVERIFY2(c<QCheckBox>(&page, name)->isChecked() == on, qPrintable(name));
                    const QString stored = Flag(kind == QStringLiteral("direct") ? on : !on);
                    if (stored != def) want << Entry(QStringLiteral("main"), w[0], w[1], stored);
                }
            }
        }
        QStringList after;
        for (const QString& state : ControlStates(&page))
            if (untouched.contains(state)) after << state;
        QCOMPARE(after, untouched);
        QVERIFY(page.UT2k4SettingsChanged());
        QVERIFY(page.SaveUT2k4Settings());
        QCOMPARE(changes(), sorted(want));
    }

    // The reset puts the game's default files in place byte for byte, keeps
    // the player's as the .BAK pair, and reloads the pages once.
    void resetToDefaults() {
        const QString sys = h->game.SystemDir();
        const QByteArray defUser = ReadAll(sys + QStringLiteral("DefUser.ini"));
        const QByteArray defMain = ReadAll(sys + QStringLiteral("Default.ini"));
        QVERIFY(!defUser.isEmpty() && !defMain.isEmpty());
        reset("[Engine.Input]\r\nA=mine\r\n", "[Engine.Engine]\r\nRenderDevice=Engine.NullRenderDevice\r\n");
        h->state.CurrentUserIniName = QStringLiteral("User.ini");
        h->prompter.Answer(ui::Answer::Yes);
        int reloads = 0;
        maintenance::ResetToDefaults(h->ctx, [&] { ++reloads; });
        QCOMPARE(reloads, 1);
        QCOMPARE(ReadAll(h->UserIniPath()), defUser);
        QCOMPARE(ReadAll(h->MainIniPath()), defMain);
        QCOMPARE(ReadAll(sys + QStringLiteral("User.BAK")), userBase);
        QCOMPARE(ReadAll(sys + QStringLiteral("UT2004.BAK")), mainBase);
        // Each page loads the defaults and, saved untouched, writes nothing.
        const QByteArray user = ReadAll(h->UserIniPath()), main = ReadAll(h->MainIniPath());
        keybinds::TKeyBindsPage keys(h->ctx);
        settings::TGeneralSettingsPage general(h->ctx);
        settings::TUT2k4SettingsPage video(h->ctx);
        instantaction::TInstantActionPage action(h->ctx);
        load(keys), load(general), load(video), load(action);
        save(keys), save(general), save(video), save(action);
        QCOMPARE(ReadAll(h->UserIniPath()), user);
        QCOMPARE(ReadAll(h->MainIniPath()), main);
    }
};

QTEST_MAIN(EachControlTest)
#include "EachControlTest.moc"
