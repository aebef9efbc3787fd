#include "maintenance/Backups.h"

#include "platform/Files.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QFile>
#include <QFileInfo>

namespace maintenance {

QString UserBackupName(const QString& dateText) { return QStringLiteral("User_") + dateText + QStringLiteral(".INI"); }
QString EngineBackupName(const QString& dateText) { return QStringLiteral("UT2004_") + dateText + QStringLiteral(".INI"); }

void BackupIniFiles(ui::PageContext& ctx, bool reportSuccess, bool askBackup, bool overrideToday) {
    auto& p = ctx.prompter;
    if (askBackup && !p.Confirm(QStringLiteral("Do you want to make a backup now?"))) return;
    const QString dir = ctx.state.SystemDir;
    const QString date = platform::DateText(platform::Today());
    QString made, failed;
    bool ok = true;

    const QString current = platform::FindIgnoringCase(dir, ctx.state.CurrentUserIniName);
    const QString fallback = platform::FindIgnoringCase(dir, QStringLiteral("User.ini"));
    QString source;
    bool isFallback = false;
    if (!ctx.state.CurrentUserIniName.isEmpty() && QFileInfo(current).isFile())
        source = current;
    else if (QFileInfo(fallback).isFile()) {
        source = fallback;
        isFallback = true;
    }
    if (!source.isEmpty()) {
        // Today's backup in another letter case is today's backup all the
        // same: it is replaced, not joined by a second file of that day.
        const QString target = platform::FindIgnoringCase(dir, UserBackupName(date));
        if (QFileInfo::exists(target) && overrideToday &&
            !p.Confirm(isFallback ? QStringLiteral("Found a backup from today, do you want to override this one?")
                                  : QStringLiteral("Found a backup of today, do you want to override this one?")))
            return;
        // The copy replaces today's file in one step, read-only or not.
        if (platform::ReplaceFiles({{source, target}})) {
            made += target + QLatin1Char('\n');
        } else {
            failed += dir + QFileInfo(source).fileName() + QLatin1Char('\n');
            ok = false;
        }
    }
    const QString engine = platform::FindIgnoringCase(dir, QStringLiteral("UT2004.INI"));
    if (QFileInfo(engine).isFile()) {
        const QString target = platform::FindIgnoringCase(dir, EngineBackupName(date));
        if (platform::ReplaceFiles({{engine, target}})) {
            made += target;
        } else {
            failed += dir + QStringLiteral("UT2004.INI\n");
            ok = false;
        }
    }
    if (!ok)
        p.Warning(QStringLiteral("Could not backup the following file(s): \n") + failed +
                  QStringLiteral("\nPlease backup the file(s) manually"));
    else if (reportSuccess)
        p.Information(
            QStringLiteral("The following INI files have been backed up: (showing new files)\n") +
            made);
}

} // namespace maintenance
