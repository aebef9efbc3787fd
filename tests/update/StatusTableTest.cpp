// The update client's status table against the expectations in tests/data.
#include "tests/support/GTestQt.h"
#include "tests/support/TableData.h"
#include "update/UpdateLogic.h"

#include <QMap>
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

TEST(TableData, UpdateStatusTexts) {
    const TableData want("update_statuses.tsv");
    QMap<int, QStringList> rows;
    for (const auto& row : want.rows) rows.insert(row[0].toInt(), row);
    EXPECT_EQ(rows.size(), 47);
    for (int id = 900; id < 960; ++id) {
        const update::StatusText* s = update::FindStatus(id);
        SCOPED_TRACE(id);
        if (!rows.contains(id)) {
            EXPECT_EQ(s, nullptr);
            continue;
        }
        ASSERT_NE(s, nullptr);
        const QStringList& row = rows[id];
        EXPECT_EQ(Latin(s->text), row[1]);
        if (row[2] != QStringLiteral("-")) {
            EXPECT_EQ(QString::number(s->statuscode), row[2]);
        }
        if (row[3] != QStringLiteral("-") && row[3] != QStringLiteral("*")) {
            EXPECT_EQ(QString::number(s->errcode), row[3]);
        }
    }
}

} // namespace
