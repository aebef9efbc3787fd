#pragma once
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

namespace testsupport {

// Rows of a tab-separated expectation file under tests/data/; lines starting
// with '#' are notes. A row's missing trailing cells read as empty.
struct TableData {
    QVector<QStringList> rows;

    explicit TableData(const char* name) {
        QFile f(QStringLiteral(QUORLEX_TEST_DATA_DIR "/") + QString::fromLatin1(name));
        if (!f.open(QIODevice::ReadOnly)) qFatal("missing expectation file %s", name);
        for (const QByteArray& raw : f.readAll().split('\n')) {
            QString line = QString::fromUtf8(raw);
            if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
            if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) continue;
            rows << line.split(QLatin1Char('\t'));
        }
    }
    // Cell c of row r, empty past the row's end.
    QString at(qsizetype r, qsizetype c) const { return c < rows[r].size() ? rows[r][c] : QString(); }
    qsizetype size() const { return rows.size(); }
};

inline QString Latin(const char* s) { return s ? QString::fromLatin1(s) : QString(); }

} // namespace testsupport
