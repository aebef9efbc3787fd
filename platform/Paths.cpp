#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

namespace platform {

namespace {
// Qt's own separator on every system; what the player reads is shown with
// the system's (QDir::toNativeSeparators), so no path mixes the two.
const QChar kSep = QLatin1Char('/');
}

QString WithTrailingBackslash(const QString& path) {
    if (path.isEmpty()) return path;
    if (path.endsWith(kSep) || path.endsWith(QLatin1Char('/'))) return path;
    return path + kSep;
}

QString ExecutableDir() { return WithTrailingBackslash(QCoreApplication::applicationDirPath()); }

QString SettingsDirFor(const QString& programDir) {
    const QString own = programDir + QStringLiteral("Quorlex2004.ini");
    if (QFileInfo::exists(own)) return programDir;
#ifdef Q_OS_WIN
    // A folder's attributes do not tell whether the user may write in it
    // (Program Files); a file made and dropped there does.
    QTemporaryFile probe(programDir + QStringLiteral("quorlex-XXXXXX.tmp"));
    if (probe.open()) return programDir;
    const QString cfg = qEnvironmentVariable("APPDATA") + QStringLiteral("/Quorlex2004");
#else
    const QByteArray dir = QFile::encodeName(programDir);
    const bool systemFolder = programDir.startsWith(QStringLiteral("/usr/"));
    if (!systemFolder && ::access(dir.constData(), W_OK | X_OK) == 0) return programDir;
    const QString cfg =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
        QStringLiteral("/quorlex2004");
#endif
    QDir().mkpath(cfg);
    return WithTrailingBackslash(cfg);
}

QString FileNamePart(const QString& path) { return QFileInfo(path).fileName(); }

QString DirPart(const QString& path) {
    const auto slash = path.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString GameFolderFromTyped(const QString& typed) {
    QString path = typed.trimmed();
    if (path.isEmpty()) return {};
    if (path == QStringLiteral("~"))
        path = QDir::homePath();
    else if (path.startsWith(QStringLiteral("~/")))
        path = QDir::homePath() + path.mid(1);
    path = QDir::cleanPath(QDir::current().absoluteFilePath(path));
    const QFileInfo info(path);
    if (info.fileName().compare(QStringLiteral("System"), Qt::CaseInsensitive) == 0 &&
        (QFileInfo::exists(path + QStringLiteral("/UT2004.ini")) || QFileInfo::exists(path + QStringLiteral("/Default.ini"))))
        path = info.absolutePath();
    return path;
}

} // namespace platform
