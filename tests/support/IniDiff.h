#pragma once
#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

namespace testsupport {

// An INI file as "section|key" (lower-cased, the way the game matches names)
// -> "Section|Key=value" as spelled in the file; the first entry of a
// repeated key counts.
inline QMap<QString, QString> IniEntries(const QByteArray& bytes) {
    QMap<QString, QString> out;
    QString section;
    QString spelled;
    for (QByteArray raw : bytes.split('\n')) {
        if (raw.endsWith('\r')) raw.chop(1);
        const QString line = QString::fromLatin1(raw);
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            spelled = line.mid(1, line.size() - 2);
            section = spelled.toLower();
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0) continue;
        const QString id = section + QLatin1Char('|') + line.left(eq).toLower();
        if (!out.contains(id)) out.insert(id, spelled + QLatin1Char('|') + line);
    }
    return out;
}

// What a save did to a file: "Section|Key=value" for every entry that is new
// or changed, "Section|Key removed" for every entry that vanished, and
// "line lost: ..." for any other line of the old file that is gone (a
// reformatted line, a lost comment), so a save that touches more than it
// should shows up in one list.
inline QStringList IniChanges(const QByteArray& before, const QByteArray& after) {
    const auto a = IniEntries(before);
    const auto b = IniEntries(after);
    QStringList out;
    QSet<QString> changedIds;
    for (auto it = b.begin(); it != b.end(); ++it)
        if (!a.contains(it.key()) || a.value(it.key()) != it.value()) {
            out << it.value();
            changedIds.insert(it.key());
        }
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!b.contains(it.key())) out << it.value().section(QLatin1Char('='), 0, 0) + QStringLiteral(" removed");
    QStringList newLines;
    for (const QByteArray& l : after.split('\n')) newLines << QString::fromLatin1(l);
    QString section;
    for (const QByteArray& l : before.split('\n')) {
        const QString line = QString::fromLatin1(l);
        QString bare = line;
        if (bare.endsWith(QLatin1Char('\r'))) bare.chop(1);
        if (bare.startsWith(QLatin1Char('[')) && bare.endsWith(QLatin1Char(']'))) section = bare.mid(1, bare.size() - 2).toLower();
        const qsizetype eq = bare.indexOf(QLatin1Char('='));
        if (eq > 0 && changedIds.contains(section + QLatin1Char('|') + bare.left(eq).toLower())) continue;
        if (!newLines.removeOne(line)) out << QStringLiteral("line lost: ") + bare;
    }
    out.sort();
    return out;
}

} // namespace testsupport
