// The code's own tables against expectations written down once, by hand, in
// the TSV files beside this test. Every cell is compared, including the cells
// where a device or game type has no control at all.
#include "instantaction/GameTypes.h"
#include "keybinds/KeyNames.h"
#include "keybinds/KeyTable.h"
#include "settings/RenderDevices.h"
#include "tests/support/GTestQt.h"
#include "tests/support/TableData.h"

#include <QMap>
#include <algorithm>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

TEST(TableData, KeyBindRowsInOrderWithGroupsLabelsAndKeys) {
    const TableData want("key_binds.tsv");
    const auto rows = keybinds::KeyRows();
    const auto groups = keybinds::KeyGroups();
    ASSERT_EQ(rows.size(), static_cast<size_t>(want.size()));
    for (qsizetype i = 0; i < want.size(); ++i) {
        const auto& r = rows[static_cast<size_t>(i)];
        SCOPED_TRACE(want.at(i, 1).toStdString());
        EXPECT_EQ(Latin(groups[static_cast<size_t>(r.group)].caption), want.at(i, 0));
        EXPECT_EQ(Latin(r.field), want.at(i, 1));
        EXPECT_EQ(Latin(r.label), want.at(i, 2));
        EXPECT_EQ(Latin(r.key), want.at(i, 3));
    }
}

TEST(TableData, KeyGroupsWithTheirClearButtons) {
    const TableData want("key_groups.tsv");
    const auto groups = keybinds::KeyGroups();
    ASSERT_EQ(groups.size(), static_cast<size_t>(want.size()));
    for (qsizetype i = 0; i < want.size(); ++i) {
        const auto& g = groups[static_cast<size_t>(i)];
        EXPECT_EQ(Latin(g.caption), want.at(i, 0));
        EXPECT_EQ(Latin(g.clearButton), want.at(i, 1));
        EXPECT_EQ(Latin(g.hint), want.at(i, 2));
    }
}

TEST(TableData, EveryVirtualKeyCodeHasTheExpectedName) {
    const TableData want("key_names.tsv");
    QMap<int, QString> names;
    for (const auto& row : want.rows) names.insert(row[0].toInt(), row[1]);
    ASSERT_EQ(names.size(), 98);
    for (int vk = 0; vk < 256; ++vk) EXPECT_EQ(keybinds::KeyNameOfVirtualKey(vk), names.value(vk)) << "code " << vk;
}

TEST(TableData, RenderDevices) {
    const TableData want("render_devices.tsv");
    const auto devices = settings::RenderDevices();
    ASSERT_EQ(devices.size(), static_cast<size_t>(want.size()));
    for (qsizetype i = 0; i < want.size(); ++i) {
        const auto d = std::find_if(devices.begin(), devices.end(),
                                     [&](const auto& x) { return Latin(x.radio) == want.at(i, 0); });
        ASSERT_NE(d, devices.end()) << want.at(i, 0).toStdString();
        EXPECT_EQ(Latin(d->caption), want.at(i, 1));
        EXPECT_EQ(Latin(d->group), want.at(i, 2));
        EXPECT_EQ(Latin(d->groupCaption), want.at(i, 3));
        EXPECT_EQ(Latin(d->value), want.at(i, 4));
    }
}

TEST(TableData, RenderDeviceOptionsCellByCell) {
    const TableData want("render_device_options.tsv");
    const auto devices = settings::RenderDevices();
    // (key, device section) -> the expected row; absent pairs must have no control.
    QMap<QString, QStringList> cells;
    for (const auto& row : want.rows) cells.insert(row[0] + QLatin1Char('/') + row[1], row);
    int seen = 0;
    for (const auto& opt : settings::DeviceOptions()) {
        for (int d = 0; d < settings::kDeviceCount; ++d) {
            const QString id = Latin(opt.key) + QLatin1Char('/') + Latin(devices[static_cast<size_t>(d)].value);
            const auto& cell = opt.cells[static_cast<size_t>(d)];
            SCOPED_TRACE(id.toStdString());
            if (!cells.contains(id)) {
                EXPECT_EQ(cell.control, nullptr);
                continue;
            }
            ++seen;
            const QStringList& row = cells[id];
            EXPECT_EQ(Latin(cell.control), row[2]);
            EXPECT_EQ(cell.def ? QStringLiteral("True") : QStringLiteral("False"), row[3]);
            EXPECT_EQ(cell.caption ? Latin(cell.caption) : Latin(opt.caption), row[4]);
        }
    }
    EXPECT_EQ(seen, want.size());

    const TableData refresh("refresh_rate_fields.tsv");
    QMap<QString, QString> fields;
    for (const auto& row : refresh.rows) fields.insert(row[0], row[1]);
    for (int d = 0; d < settings::kDeviceCount; ++d)
        EXPECT_EQ(Latin(settings::RefreshRateField(static_cast<settings::Device>(d))),
                  fields.value(Latin(devices[static_cast<size_t>(d)].value)));
}

TEST(TableData, GameTypesAndEveryRuleCell) {
    const TableData types("game_types.tsv");
    const auto gt = instantaction::GameTypes();
    ASSERT_EQ(gt.size(), static_cast<size_t>(types.size()));
    for (qsizetype i = 0; i < types.size(); ++i) {
        const auto& t = gt[static_cast<size_t>(types.at(i, 0).toInt())];
        EXPECT_EQ(Latin(t.caption), types.at(i, 1));
        EXPECT_EQ(Latin(t.group), types.at(i, 2));
        EXPECT_EQ(Latin(t.groupCaption), types.at(i, 3));
        EXPECT_EQ(Latin(t.gameClass), types.at(i, 4));
        EXPECT_EQ(Latin(t.mapPrefix), types.at(i, 5));
    }

    const TableData want("game_rules.tsv");
    QMap<QString, QStringList> cells;
    for (const auto& row : want.rows) cells.insert(row[0] + QLatin1Char('/') + row[2], row);
    int seen = 0;
    for (const auto& rule : instantaction::RuleKeys()) {
        for (int p = 0; p < instantaction::kGameTypeCount; ++p) {
            const QString id = Latin(rule.key) + QLatin1Char('/') + QString::number(p);
            const auto& cell = rule.cells[static_cast<size_t>(p)];
            SCOPED_TRACE(id.toStdString());
            if (!cells.contains(id)) {
                EXPECT_EQ(cell.control, nullptr);
                continue;
            }
            ++seen;
            const QStringList& row = cells[id];
            const bool flag = row[1] == QStringLiteral("flag");
            // Friendly fire is a whole-number percentage on screen; in the file it is a fraction.
            EXPECT_EQ(rule.kind == instantaction::RuleKind::Flag, flag);
            EXPECT_EQ(Latin(cell.control), row[3]);
            const QString def = flag ? (cell.def ? QStringLiteral("True") : QStringLiteral("False"))
                                     : QString::number(cell.def);
            EXPECT_EQ(def, row[4]);
            EXPECT_EQ(cell.caption ? Latin(cell.caption) : Latin(rule.caption), row[5]);
        }
    }
    EXPECT_EQ(seen, want.size());
}

} // namespace
