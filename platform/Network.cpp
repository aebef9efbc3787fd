#include "platform/Network.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <windows.h>
#include <wininet.h>
#else
#include <QNetworkInformation>
#endif

namespace platform {

bool IsOnline() {
#ifdef Q_OS_WIN
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) != FALSE;
#else
    static const bool loaded = QNetworkInformation::loadDefaultBackend();
    auto* info = QNetworkInformation::instance();
    if (!loaded || !info) return true;
    return info->reachability() != QNetworkInformation::Reachability::Disconnected;
#endif
}

} // namespace platform
