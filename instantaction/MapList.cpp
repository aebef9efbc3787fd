#include "instantaction/MapList.h"

#include <QDir>
#include <QDirIterator>
#include <algorithm>

namespace instantaction {

void SortIgnoringCase(QStringList& list) {
    std::stable_sort(list.begin(), list.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
}

QString MapsDirOf(const QString& systemDir) {
    QString base = systemDir.left(std::max<qsizetype>(0, systemDir.size() - 7));
    if (!base.endsWith(QLatin1Char('/'))) base += QLatin1Char('/');
    return base + QStringLiteral("Maps");
}

QStringList MapEntries(const QString& mapsDir, const QString& prefix) {
    QStringList out;
    // Every kind of entry counts, as the game's own search does.
    QDirIterator it(mapsDir, {QStringLiteral("*.ut2")}, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        const QString name = it.fileName();
        if (name.size() < 4) continue;
        if (name.left(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0) out << name.chopped(4);
    }
    SortIgnoringCase(out);
    return out;
}

QStringList MutatorEntries(const std::vector<std::string>& sectionNames) {
    QStringList out;
    for (const auto& n : sectionNames) {
        const QString name = QString::fromStdString(n);
        // A section the file repeats is still one mutator.
        if (name.contains(QStringLiteral("Mut")) && !out.contains(name.mid(3), Qt::CaseInsensitive))
            out << name.mid(3);
    }
    SortIgnoringCase(out);
    return out;
}

QString BuildCommandLine(const LaunchChoice& c) {
    QString s;
    if (!c.map.isEmpty()) s += c.map + QStringLiteral(".ut2");
    if (!c.gameClass.isEmpty()) s += QStringLiteral("?game=") + c.gameClass;
    s += QStringLiteral("?NumBots=") + c.bots;
    s += c.translocator ? QStringLiteral("?Translocator=True") : QStringLiteral("?Translocator=False");
    s += QStringLiteral("?Difficulty=") + QString::number(c.difficulty);
    for (qsizetype i = 0; i < c.mutators.size(); ++i)
        s += (i == 0 ? QStringLiteral("?Mutator=XGame.Mut") : QStringLiteral(",XGame.Mut")) + c.mutators[i];
    return s;
}

QStringList MatchingPreviews(const QStringList& jpgNames, const QString& mapEntry) {
    QStringList out;
    if (mapEntry.isEmpty()) return out;
    const QString upper = mapEntry.toUpper();
    for (const QString& f : jpgNames) {
        const QString stem = f.chopped(std::min<qsizetype>(4, f.size())).toUpper();
        if (upper.contains(stem)) out << f;
    }
    return out;
}

} // namespace instantaction
