#pragma once
#include <span>

namespace keybinds {

// The six key groups of the page, in the order they are shown.
struct KeyGroup {
    const char* caption;
    const char* clearButton; // object name of the group's clear button
    const char* hint;
};

// One text field bound to one key of [Engine.Input]. A null key is a field the
// page shows and tracks but never reads or writes (the joystick sliders).
struct KeyRow {
    int group;         // index into KeyGroups()
    const char* field; // object name
    const char* label;
    const char* key;
};

std::span<const KeyGroup> KeyGroups();
// All fields, in load/save order; 132 bound rows, then the two sliders.
std::span<const KeyRow> KeyRows();

inline constexpr const char* kInputSection = "Engine.Input";

} // namespace keybinds
