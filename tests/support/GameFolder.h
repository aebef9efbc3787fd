#pragma once
#include <QByteArray>
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
    // A settings file that skips the first-run dialog.
    void WriteSettings(const QByteArray& extra = {}) const;
    bool IsValid() const { return root_.isValid(); }

private:
    QTemporaryDir root_;
};

} // namespace testsupport
