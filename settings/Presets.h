#pragma once
#include <QStringList>

namespace settings {

class TUT2k4SettingsPage;

enum class Quality { Low, High };

// Sets the controls of the UT2004 Settings page to the recommended values;
// nothing is written until the page is saved. The renderer is one the
// build has: High falls back from Direct3d to Direct3d DX9, and where
// neither exists (native Linux) the renderer stays.
void ApplyPreset(TUT2k4SettingsPage& page, Quality quality);

// What the preset would change on the page now, in words, one line each:
// the renderer, the screen resolution, the colour depth, then how many other
// settings; empty when nothing changes.
QStringList PresetChanges(const TUT2k4SettingsPage& page, Quality quality);

} // namespace settings
