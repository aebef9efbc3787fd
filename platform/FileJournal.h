#pragma once
#include <QString>
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
namespace platform::journal {

// Targets in one folder keep the all-or-nothing promise; the journal sits
// beside the first target.
bool Replace(const std::vector<std::pair<QString, QString>>& sourceToTarget);

// Completes or undoes the journals an ended process left in `dir`, then
// removes that process's temporary files. Files of a live process stay.
void Recover(const QString& dir);

// True for a name of the pattern above (any pid, any kind).
bool IsTemporaryName(const QString& fileName);

// Called with 1, 2, 3... after each step that changes the disk, in an
// operation and in a recovery; tests end the process there.
void SetStepHookForTesting(std::function<void(int step)> hook);

} // namespace platform::journal
