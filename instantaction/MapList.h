#pragma once
#include <QString>
#include <QStringList>
#include <vector>

namespace instantaction {

// Map entries of a Maps folder for a prefix: "*.ut2" names without the
// extension whose start matches the prefix ignoring case, sorted ignoring case.
QStringList MapEntries(const QString& mapsDir, const QString& prefix);

// The Maps folder that belongs to a System folder ("<game>/System/" -> "<game>/Maps").
QString MapsDirOf(const QString& systemDir);

// Mutator entries from XGame.int's section names: names holding "Mut"
// (case-sensitive), without their first three characters, sorted ignoring case.
QStringList MutatorEntries(const std::vector<std::string>& sectionNames);

struct LaunchChoice {
    QString map;       // empty: none selected
    QString gameClass; // empty: none selected
    QString bots;      // as shown
    bool translocator = false;
    int difficulty = 0;
    QStringList mutators; // selected entries, list order
};

QString BuildCommandLine(const LaunchChoice& c);

// The preview files (names in search order) whose name without ".jpg",
// upper-cased, occurs in the upper-cased map entry.
QStringList MatchingPreviews(const QStringList& jpgNames, const QString& mapEntry);

// Sorts ignoring case, as the game's list boxes do.
void SortIgnoringCase(QStringList& list);

} // namespace instantaction
