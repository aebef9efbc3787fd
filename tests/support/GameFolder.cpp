#include "tests/support/GameFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace testsupport {

QString SourceDir() { return QStringLiteral(QUORLEX_SOURCE_DIR); }
QString RealWorldDir() { return QStringLiteral(QUORLEX_REALWORLD_DIR); }

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
}

static void copyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + src.mid(from.size());
        if (it.fileInfo().isDir())
            QDir().mkpath(dst);
        else
            QFile::copy(src, dst);
    }
}

GameFolder::GameFolder() {
    copyTree(SourceDir() + QStringLiteral("/demo/UT2004"), GameDir());
    QDir().mkpath(ProgramDir());
    QFile::copy(SourceDir() + QStringLiteral("/ReadMe.txt"), ProgramDir() + QStringLiteral("ReadMe.txt"));
}

void GameFolder::MakeNative() const {
    QDir().mkpath(PlayerSystemDir());
    for (const char* name : {"User.ini", "UT2004.ini"})
        QFile::rename(SystemDir() + QLatin1String(name), PlayerSystemDir() + QLatin1String(name));
    const QString program = SystemDir() + QStringLiteral("ut2004-bin-linux-amd64");
    WriteAll(program, "\x7f" "ELF");
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner);
}

void GameFolder::WriteSettings(const QByteArray& extra) const {
    QByteArray s = "[Quorlex]\r\nInit=False\r\nAutoBackup=False\r\nCheckOnStartup=False\r\n\r\n"
                   "[UT2k4]\r\nDir=" + GameDir().toUtf8() + "\r\nSystem=" + GameDir().toUtf8() +
                   "/System\r\n";
    WriteAll(SettingsFile(), s + extra);
}

bool GameFolder::StartGame(QProcess& game) const {
#ifdef _WIN32
    const QString standIn = SystemDir() + QStringLiteral("UT2004.exe");
    const QString from = QStringLiteral(QUORLEX_GAME_STANDIN);
#else
    const QString standIn = SystemDir() + QStringLiteral("ut2004-bin");
    const QString from = QStringLiteral("/bin/sleep");
#endif
    QFile::remove(standIn);
    if (!QFile::copy(from, standIn)) return false;
    game.start(standIn, {QStringLiteral("30")});
    return game.waitForStarted();
}

} // namespace testsupport
