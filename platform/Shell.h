#pragma once
#include <QString>
#include <functional>

namespace platform {

// The desktop's "open" for a URL or file: browser, mail or chat program.
// The result is not checked, as a click on a link should never fail loudly.
void ShellOpen(const QString& target);
// Tests catch what would have been opened.
void SetShellOpenHookForTesting(std::function<void(const QString&)> hook);

// Copies a file over another in one step: the target is either the old file
// or the complete copy, never half of one. False when it could not be done.
bool CopyFileReplacing(const QString& source, const QString& target);

} // namespace platform
