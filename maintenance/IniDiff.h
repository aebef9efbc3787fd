#pragma once
#include <QByteArray>
#include <QString>
#include <vector>

namespace maintenance {

// One value that differs between two versions of an INI file, as the game
// reads them: the first occurrence of a key counts, names match ignoring
// case, booleans ignoring case, numbers by value.
struct ValueChange {
    QString section;
    QString key;
    QString before; // empty when added
    QString after;  // empty when removed
    bool added = false;
    bool removed = false;
};

std::vector<ValueChange> ChangedValues(const QByteArray& before, const QByteArray& after);

} // namespace maintenance
