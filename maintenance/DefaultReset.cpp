#include "maintenance/DefaultReset.h"

#include "platform/Files.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QFile>
#include <QFileInfo>

namespace maintenance {

void ResetToDefaults(ui::PageContext& ctx, const std::function<void()>& reloadAllPages) {
    auto& p = ctx.prompter;
    if (!p.Confirm(QStringLiteral("The current settings will be backed up\nAre you sure you want "
                                  "to restore the default settings?"),
                   ui::Answer::No))
        return;
    const QString dir = ctx.state.SystemDir;
    const QString user = platform::FindIgnoringCase(dir, ctx.state.CurrentUserIniName);
    const QString engine = platform::FindIgnoringCase(dir, QStringLiteral("UT2004.INI"));
    // A .BAK file in another letter case is the one the backup manager shows.
    const QString userBak = platform::FindIgnoringCase(dir, QStringLiteral("User.BAK"));
    const QString engineBak = platform::FindIgnoringCase(dir, QStringLiteral("UT2004.BAK"));
    const QString defaults = ctx.state.GameSystem();
    const auto step = [&] {
        // One change for the pair, so a crash never leaves a .BAK pair of two
        // different days; the earlier pair stays until the new one is in place.
        const bool kept = platform::ReplaceFiles({{user, userBak}, {engine, engineBak}});
        if (!kept &&
            p.AskDefault(ui::PromptKind::Warning,
                         QStringLiteral("Could not backup the INI files\nWant to continue anyway?"),
                         ui::Buttons::YesNo, ui::Answer::No) != ui::Answer::Yes)
            return false;
        // The defaults replace both files together, never deleting first: when a
        // default file is missing, the player's files stay exactly as they were,
        // whether or not the .BAK copies could be made.
        // The defaults come with the game; a native install keeps the player's
        // files elsewhere (~/.ut2004/System).
        if (!platform::ReplaceFiles(
                {{platform::FindIgnoringCase(defaults, QStringLiteral("DefUser.ini")), user},
                 {platform::FindIgnoringCase(defaults, QStringLiteral("Default.ini")), engine}})) {
            p.Warning(QStringLiteral("Could not copy the DefUser.ini and/or Default.ini\nSettings "
                                     "have not been restored to default"));
            return false;
        }
        return true;
    };
    if (!ctx.ReplaceFiles({QStringLiteral("Reset settings to default"),
                           QStringLiteral("Resetting to the defaults"),
                           {user, engine},
                           QStringLiteral("Settings have not been restored to default"),
                           step}))
        return;
    reloadAllPages();
    p.Information(QStringLiteral("The settings are back to default now\nYour old settings are now in the User.BAK and UT2004.BAK files"));
}

} // namespace maintenance
