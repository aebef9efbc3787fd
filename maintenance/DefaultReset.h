#pragma once
#include <functional>

namespace ui {
struct PageContext;
}

namespace maintenance {

// Puts the game's default files (DefUser.ini, Default.ini) in place of the
// user INI file and UT2004.ini, keeping the old ones as User.BAK and UT2004.BAK.
void ResetToDefaults(ui::PageContext& ctx, const std::function<void()>& reloadAllPages);

} // namespace maintenance
