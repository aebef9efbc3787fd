#include "platform/UserStore.h"

#include "platform/Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace platform {

namespace {
QString group(const QString& key, const QString& section) {
    QString g = key + QLatin1Char('/') + section;
    g.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return g;
}
QSettings store() { return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("quorlex2004"), QStringLiteral("userstore")); }
} // namespace

QString ReadUserString(const QString& key, const QString& section, const QString& name) {
    auto s = store();
    return s.value(group(key, section) + QLatin1Char('/') + name).toString();
}

void WriteUserString(const QString& key, const QString& section, const QString& name, const QString& value) {
    auto s = store();
    s.setValue(group(key, section) + QLatin1Char('/') + name, value);
}

QString WindowsDirectory() {
#ifdef Q_OS_WIN
    return qEnvironmentVariable("WINDIR");
#else
    const QString dir = DefaultWinePrefix() + QStringLiteral("/drive_c/windows");
    return QFileInfo(dir).isDir() ? dir : QString();
#endif
}

QString ProgramFilesDirectory() {
#ifdef Q_OS_WIN
    return qEnvironmentVariable("ProgramFiles");
#else
    const QString dir = DefaultWinePrefix() + QStringLiteral("/drive_c/Program Files");
    return QFileInfo(dir).isDir() ? dir : QString();
#endif
}

} // namespace platform
