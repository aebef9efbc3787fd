#include "maintenance/IniDiff.h"

#include "ini/Cp1252.h"

#include <QMap>
#include <cmath>

namespace maintenance {

namespace {

struct Value {
    QString section, key, text;
};

// Keyed by "section\nkey" in lower case; the first occurrence wins.
QMap<QString, Value> GameValues(const QByteArray& bytes) {
    QMap<QString, Value> values;
    QByteArray body = bytes;
    const bool utf8 = body.startsWith("\xEF\xBB\xBF");
    if (utf8) body.remove(0, 3);
    QString text = utf8 ? QString::fromUtf8(body)
                        : QString::fromStdString(ini::cp1252ToUtf8(std::string_view(body.constData(), body.size())));
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QString section;
    bool inSection = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const QString t = line.trimmed();
        if (t.startsWith(QLatin1Char('[')) && t.contains(QLatin1Char(']'))) {
            section = t.mid(1, t.lastIndexOf(QLatin1Char(']')) - 1).trimmed();
            inSection = true;
            continue;
        }
        const auto eq = line.indexOf(QLatin1Char('='));
        if (!inSection || eq < 0 || t.startsWith(QLatin1Char(';'))) continue;
        const QString key = line.left(eq).trimmed();
        const QString id = section.toLower() + QLatin1Char('\n') + key.toLower();
        if (!values.contains(id)) values.insert(id, {section, key, line.mid(eq + 1).trimmed()});
    }
    return values;
}

bool SameValue(const QString& a, const QString& b) {
    if (a == b) return true;
    const QString la = a.toLower();
    if ((la == QStringLiteral("true") || la == QStringLiteral("false")) && la == b.toLower()) return true;
    bool okA = false, okB = false;
    const double da = a.toDouble(&okA), db = b.toDouble(&okB);
    return okA && okB && std::abs(da - db) < 1e-6;
}

} // namespace

std::vector<ValueChange> ChangedValues(const QByteArray& before, const QByteArray& after) {
    const auto b = GameValues(before), a = GameValues(after);
    std::vector<ValueChange> out;
    for (auto it = b.begin(); it != b.end(); ++it) {
        const auto other = a.find(it.key());
        if (other == a.end())
            out.push_back({it->section, it->key, it->text, {}, false, true});
        else if (!SameValue(it->text, other->text))
            out.push_back({it->section, it->key, it->text, other->text});
    }
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!b.contains(it.key())) out.push_back({it->section, it->key, {}, it->text, true, false});
    return out;
}

} // namespace maintenance
