#pragma once
#include <QString>
#include <functional>

namespace platform {

// The desktop's "open" for a URL or file: browser, mail or chat program.
// The result is not checked, as a click on a link should never fail loudly.
void ShellOpen(const QString& target);
// Tests catch what would have been opened.
void SetShellOpenHookForTesting(std::function<void(const QString&)> hook);

} // namespace platform
