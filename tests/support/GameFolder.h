#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace testsupport {

QString SourceDir();
QString RealWorldDir();
QByteArray ReadAll(const QString& path);
void WriteAll(const QString& path, const QByteArray& bytes);

// A scratch game installation copied from demo/, plus a folder for the
// program's own files (executable dir and settings), all removed at the end.
class GameFolder {
public:
    GameFolder();
    QString GameDir() const { return root_.path() + QStringLiteral("/UT2004"); }
    QString SystemDir() const { return GameDir() + QStringLiteral("/System/"); }
    QString ProgramDir() const { return root_.path() + QStringLiteral("/program/"); }
    QString SettingsFile() const { return ProgramDir() + QStringLiteral("Quorlex2004.ini"); }
    // A home folder of its own, for installs looked up there.
    QString HomeDir() const { return root_.path() + QStringLiteral("/home"); }
    // Where a native Linux install keeps the player's files.
    QString PlayerSystemDir() const { return HomeDir() + QStringLiteral("/.ut2004/System/"); }
    // The native Linux layout: the game folder keeps the defaults, *.int,
    // *.upl, Maps and the Linux program; User.ini and UT2004.ini move to
    // PlayerSystemDir().
    void MakeNative() const;
    // A settings file that skips the first-run dialog.
    void WriteSettings(const QByteArray& extra = {}) const;
    // Starts, in System, a program that the running-game check takes for
    // the game of this folder, for 30 seconds.
    bool StartGame(QProcess& game) const;
    bool IsValid() const { return root_.isValid(); }

private:
    QTemporaryDir root_;
};

} // namespace testsupport
