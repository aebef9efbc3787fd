#pragma once
#include <functional>

namespace ini {
struct IniHandles;
}

namespace ui {

class Prompter;

// What a page gets from the main window: the prompter, the shared INI
// handles, and the general error report for commands that do not catch.
struct PageContext {
    Prompter& prompter;
    ini::IniHandles& ini;
    std::function<void(const std::function<void()>&)> guarded;
};

} // namespace ui
