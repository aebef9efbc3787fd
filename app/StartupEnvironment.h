#pragma once
#include <QString>
#include <QStringList>
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
};

// The environment of the real program; the prompter is the caller's.
StartupEnvironment DefaultStartupEnvironment(ui::Prompter& prompter);

} // namespace app
