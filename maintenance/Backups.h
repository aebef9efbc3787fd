#pragma once
#include <QString>

namespace ui {
struct PageContext;
}

namespace maintenance {

// Today's dated copies of the user INI file and UT2004.ini beside them.
// `askBackup` and `overrideToday` are the steering flags of the settings.
void BackupIniFiles(ui::PageContext& ctx, bool reportSuccess, bool askBackup, bool overrideToday);

// The names of a day's pair in the System folder.
QString UserBackupName(const QString& dateText);   // "User_<date>.INI"
QString EngineBackupName(const QString& dateText); // "UT2004_<date>.INI"

} // namespace maintenance
