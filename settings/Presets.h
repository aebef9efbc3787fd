#pragma once

namespace settings {

class TUT2k4SettingsPage;

enum class Quality { Low, High };

// Sets the controls of the UT2004 Settings page to the recommended values;
// nothing is written until the page is saved.
void ApplyPreset(TUT2k4SettingsPage& page, Quality quality);

} // namespace settings
