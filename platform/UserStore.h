#pragma once
#include <QString>

namespace platform {

// The per-user key/value store that stands in for HKEY_CURRENT_USER: values
// live under key\section\name. On Linux an INI file in the user's config folder.
QString ReadUserString(const QString& key, const QString& section, const QString& name);
void WriteUserString(const QString& key, const QString& section, const QString& name, const QString& value);

// The Windows folder and the program-files folder, of the Wine prefix off
// Windows; empty when there is none.
QString WindowsDirectory();
QString ProgramFilesDirectory();

} // namespace platform
