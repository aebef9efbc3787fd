#include "app/StartupEnvironment.h"

#include "platform/Paths.h"
#include "platform/Registry.h"

#include <QDir>

namespace app {

StartupEnvironment DefaultStartupEnvironment(ui::Prompter& prompter) {
    StartupEnvironment env;
    env.programDir = platform::ExecutableDir();
    env.settingsDir = platform::SettingsDirFor(env.programDir);
    env.registry = std::make_shared<platform::WineRegistry>(platform::DefaultWinePrefix());
    env.nativeInstallCandidates = platform::NativeInstallCandidates(QDir::homePath());
    env.prompter = &prompter;
    return env;
}

} // namespace app
