#pragma once
#include "platform/Installs.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace platform {
class Registry;
}
namespace ui {
class Prompter;
}

namespace app {

// What the start-up needs from the machine; tests hand in their own.
struct StartupEnvironment {
    QString programDir;  // folder of the executable (ReadMe.txt), trailing separator
    QString settingsDir; // folder of Quorlex2004.ini, trailing separator
    // The machine's own registry (Windows); Wine prefixes are read from `home`.
    std::shared_ptr<const platform::Registry> registry;
    // The usual folders of a native Linux install.
    QStringList nativeInstallCandidates;
    // Home folder, XDG_DATA_HOME, WINEPREFIX and PATH the installs are looked
    // up in; empty for tests that build none.
    platform::HomeEnvironment home;
    ui::Prompter* prompter = nullptr;
    // Where the update control file lives, unless Quorlex2004.ini names
    // another ([Quorlex] UpdateURL, for the demo and tests).
    QString updateUrl = QStringLiteral("https://www.quorlex2004.org/update/quorlex2004.inf");
    // The banner feed, unless Quorlex2004.ini names another ([Quorlex] BannerURL).
    QString bannerUrl = QStringLiteral("http://www.quorlex2004.org/banner/banner.txt");
    // Where the files' earlier versions are kept; the per-user data folder
    // when empty.
    QString historyDir;
    // Tests decide whether the machine counts as online.
    std::function<bool()> isOnline;
};

// The environment of the real program; the prompter is the caller's.
StartupEnvironment DefaultStartupEnvironment(ui::Prompter& prompter);

} // namespace app
