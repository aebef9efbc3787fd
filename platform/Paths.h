#pragma once
#include <QString>

namespace platform {

// Appends the path separator unless the path already ends in one; an empty
// path stays empty. ("\" on Windows, "/" elsewhere.)
QString WithTrailingBackslash(const QString& path);

// Folder of the running executable, with trailing separator.
QString ExecutableDir();

// Where the program keeps Quorlex2004.ini: beside the executable as long as
// the file is there or that folder can be written by us and is not a system
// folder; otherwise the per-user configuration folder (an installed program).
QString SettingsDirFor(const QString& programDir);

// The game folder a player typed, as a clean absolute path: "~" is the home
// folder, a relative path is taken from the current folder, and the game's
// System folder (typed by mistake) stands for the game folder that holds it.
// Empty stays empty.
QString GameFolderFromTyped(const QString& typed);

// File name part of a path.
QString FileNamePart(const QString& path);
// Folder part of a path, with trailing separator.
QString DirPart(const QString& path);

} // namespace platform
