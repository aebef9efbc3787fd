#pragma once
#include "platform/Keyboard.h"
#include "tests/support/TableData.h"

#include <QStringList>

namespace testsupport {

// The keyboard map of the main block as the X server holds it for a layout
// of key_places.tsv: "us", "fr", "de", "ru" or "us,ru".
// Only the main block: other keys go by their own symbol.
inline platform::KeyboardMap LayoutMap(const QString& layout) {
    const TableData places("key_places.tsv");
    platform::KeyboardMap map;
    for (const QStringList& row : places.rows) {
        if (row[0] != layout) continue;
        platform::KeyboardMap::Symbols symbols{};
        const QStringList syms = row[2].split(QLatin1Char(' '));
        for (qsizetype i = 0; i < syms.size() && i < 4; ++i)
            symbols[static_cast<std::size_t>(i)] = syms[i].toUInt(nullptr, 16);
        // With one group the server repeats it as the second.
        if (syms.size() == 2) symbols[2] = symbols[0], symbols[3] = symbols[1];
        map.keys[row[1].toUInt()] = symbols;
    }
    return map;
}

} // namespace testsupport
