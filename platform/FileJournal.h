#pragma once
#include <QString>
#include <QStringList>
#include <functional>
#include <utility>
#include <vector>

// Replacing several files as one change that survives a crash at any point:
// every new version is staged and made durable beside its target, then a
// journal naming the staged files and the renames is made durable, and only
// then are the targets renamed into place (each old version kept aside until
// all are in place). A journal found later is completed or undone, so the
// files are either all old or all new.
//
// Our temporary files are named "<name>.quorlex-<pid>-<n>.<new|old|journal>",
// so that those of a dead process can be told from everything else.
//
// A folder may be one that others can write (a shared install), so a journal
// names files of its own folder only, and a recovery acts only on a journal
// that is the user's own and writable by no one else, and only moves staged
// copies that are the user's own plain files.
namespace platform::journal {

// Targets in one folder keep the all-or-nothing promise; each folder holding
// targets gets a journal of its own.
bool Replace(const std::vector<std::pair<QString, QString>>& sourceToTarget);

// Completes or undoes the journals an ended process left in `dir`, then
// removes that process's temporary files. Files of a live process stay, and
// so does everything that is not the user's own. Returns the names of the
// journals left alone because they could not be trusted.
QStringList Recover(const QString& dir);

// True for a name of the pattern above (any pid, any kind).
bool IsTemporaryName(const QString& fileName);

// Called with 1, 2, 3... after each step that changes the disk, in an
// operation and in a recovery; tests end the process there.
void SetStepHookForTesting(std::function<void(int step)> hook);

} // namespace platform::journal
