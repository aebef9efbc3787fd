#include "platform/Shell.h"

#include <QDesktopServices>
#include <QUrl>

namespace platform {

namespace {
std::function<void(const QString&)>& shellHook() {
    static std::function<void(const QString&)> hook;
    return hook;
}
} // namespace

void SetShellOpenHookForTesting(std::function<void(const QString&)> hook) {
    shellHook() = std::move(hook);
}

void ShellOpen(const QString& target) {
    if (shellHook()) {
        shellHook()(target);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

} // namespace platform
