#include "platform/Shell.h"

#include <QDesktopServices>
#include <QFile>
#include <QSaveFile>
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

bool CopyFileReplacing(const QString& source, const QString& target) {
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) return false;
    QSaveFile out(target);
    out.setDirectWriteFallback(false);
    if (!out.open(QIODevice::WriteOnly)) return false;
    while (!in.atEnd()) {
        const QByteArray chunk = in.read(1 << 16);
        if (chunk.isEmpty() && in.error() != QFileDevice::NoError) {
            out.cancelWriting();
            return false;
        }
        if (out.write(chunk) != chunk.size()) {
            out.cancelWriting();
            return false;
        }
    }
    return out.commit();
}

} // namespace platform
