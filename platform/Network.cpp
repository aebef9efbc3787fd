#include "platform/Network.h"

#include <QNetworkInformation>

namespace platform {

bool IsOnline() {
    static const bool loaded = QNetworkInformation::loadDefaultBackend();
    auto* info = QNetworkInformation::instance();
    if (!loaded || !info) return true;
    return info->reachability() != QNetworkInformation::Reachability::Disconnected;
}

} // namespace platform
