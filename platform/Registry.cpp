#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace platform {

namespace {

// Value text of a system.reg line: "..." with \\, \", \n, \t and \xHHHH escapes.
QString unescapeRegString(QStringView s) {
    QString out;
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c != QLatin1Char('\\') || i + 1 >= s.size()) {
            out += c;
            continue;
        }
        const QChar n = s[++i];
        if (n == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (n == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (n == QLatin1Char('x')) {
            qsizetype j = i + 1;
            QString hex;
            while (j < s.size() && hex.size() < 4 && QStringLiteral("0123456789abcdefABCDEF").contains(s[j]))
                hex += s[j++];
            out += QChar(static_cast<char16_t>(hex.toUInt(nullptr, 16)));
            i = j - 1;
        } else
            out += n;
    }
    return out;
}

QString regKeyText(const QString& key) {
    QString k = key;
    k.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return k;
}

} // namespace

WineRegistry::WineRegistry(QString prefix) : prefix_(std::move(prefix)) {}

std::optional<QString> WineRegistry::ReadMachineString(const QString& key,
                                                       const QString& value) const {
    QFile f(prefix_ + QStringLiteral("/system.reg"));
    if (!f.open(QIODevice::ReadOnly)) return std::nullopt;
    // system.reg is written by Wine in UTF-8 with non-ASCII escaped anyway.
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    // A 32-bit game on a 64-bit prefix records its keys under Wow6432Node.
    QStringList wanted{regKeyText(key)};
    if (key.startsWith(QStringLiteral("SOFTWARE\\"), Qt::CaseInsensitive))
        wanted << regKeyText(QStringLiteral("Software\\Wow6432Node\\") + key.mid(9));
    for (const QString& want : wanted) {
        const QString header = QLatin1Char('[') + want + QLatin1Char(']');
        bool inKey = false;
        bool found = false;
        QString result;
        for (const QString& raw : lines) {
            const QString line = raw.trimmed();
            if (line.startsWith(QLatin1Char('['))) {
                if (inKey) break;
                inKey = line.startsWith(header, Qt::CaseInsensitive);
                found = found || inKey;
                continue;
            }
            if (!inKey) continue;
            const QString name = QLatin1Char('"') + value + QStringLiteral("\"=\"");
            if (line.startsWith(name, Qt::CaseInsensitive) && line.endsWith(QLatin1Char('"'))) {
                result = unescapeRegString(QStringView(line).mid(name.size()).chopped(1));
                break;
            }
        }
        if (found) return ToUnixPath(result);
    }
    return std::nullopt;
}

QString WineRegistry::ToUnixPath(const QString& windowsPath) const {
    if (windowsPath.size() < 2 || windowsPath[1] != QLatin1Char(':')) return windowsPath;
    const QString drive = windowsPath.left(2).toLower();
    QString root = QFileInfo(prefix_ + QStringLiteral("/dosdevices/") + drive).canonicalFilePath();
    if (root.isEmpty() && drive == QStringLiteral("c:")) root = prefix_ + QStringLiteral("/drive_c");
    if (root.isEmpty()) return windowsPath;
    QString rest = windowsPath.mid(2);
    rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (rest.endsWith(QLatin1Char('/'))) rest.chop(1);
    return root + rest;
}

#ifdef Q_OS_WIN
std::optional<QString> WindowsRegistry::ReadMachineString(const QString& key, const QString& value) const {
    for (const auto format : {QSettings::Registry64Format, QSettings::Registry32Format}) {
        const QSettings reg(QStringLiteral("HKEY_LOCAL_MACHINE\\") + key, format);
        if (reg.childKeys().isEmpty() && reg.childGroups().isEmpty()) continue;
        return reg.value(value).toString();
    }
    return std::nullopt;
}
#endif

QString DefaultWinePrefix() {
    const QString env = qEnvironmentVariable("WINEPREFIX");
    return env.isEmpty() ? QDir::homePath() + QStringLiteral("/.wine") : env;
}

QStringList NativeInstallCandidates(const QString& home) {
    // Not ~/.ut2004: that is where a native install keeps the player's files.
    return {QStringLiteral("/usr/local/games/ut2004"), QStringLiteral("/opt/ut2004"),
            QStringLiteral("/usr/games/ut2004"),       home + QStringLiteral("/ut2004"),
            home + QStringLiteral("/games/ut2004")};
}

} // namespace platform
