#pragma once
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
    std::shared_ptr<const platform::Registry> registry;
    QStringList nativeInstallCandidates;
    ui::Prompter* prompter = nullptr;
    // Where the update control file lives, unless Quorlex2004.ini names
    // another ([Quorlex] UpdateURL, for the demo and tests).
    QString updateUrl = QStringLiteral("http://www.quorlex2004.org/update/quorlex2004.inf");
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
