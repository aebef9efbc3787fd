#include "app/StartupEnvironment.h"

#include "platform/Paths.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFile>

namespace app {

StartupEnvironment DefaultStartupEnvironment(ui::Prompter& prompter) {
    StartupEnvironment env;
    env.programDir = platform::ExecutableDir();
    // An installed program keeps its read-me and map previews in the data folder.
    const QString installed = QDir::cleanPath(env.programDir + QStringLiteral("../share/quorlex2004")) + QLatin1Char('/');
    if (!QFile::exists(env.programDir + QStringLiteral("ReadMe.txt")) && QFile::exists(installed + QStringLiteral("ReadMe.txt")))
        env.programDir = installed;
    env.settingsDir = platform::SettingsDirFor(platform::ExecutableDir());
#ifdef Q_OS_WIN
    env.registry = std::make_shared<platform::WindowsRegistry>();
#endif
    env.home = platform::HomeEnvironment::FromProcess();
    env.nativeInstallCandidates = platform::NativeInstallCandidates(env.home.home);
    env.prompter = &prompter;
    return env;
}

} // namespace app
