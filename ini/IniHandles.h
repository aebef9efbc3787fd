#pragma once
#include "ini/IniFile.h"

#include <memory>

namespace ini {

// The three handles the whole program shares. The main window opens and
// replaces them; pages read them at the time of each call, never keep them.
struct IniHandles {
    std::unique_ptr<TIniFile> SettingsIni;
    std::unique_ptr<TIniFile> Ut2004Ini;
    std::unique_ptr<TIniFile> UserIni;
};

} // namespace ini
