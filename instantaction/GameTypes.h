#pragma once
#include <array>
#include <span>

namespace instantaction {

inline constexpr int kGameTypeCount = 7;

struct GameType {
    const char* caption;     // selector item
    const char* group;       // rule group object name
    const char* groupCaption;
    const char* gameClass;   // rules section, LastGameType, ?game=
    const char* mapPrefix;
};

// Percent: a stored fraction (0.5) shown as a whole percentage (50).
enum class RuleKind { Number, Flag, Percent };

// One rule key and the control that holds it in each game type's group
// (null: that game type has no such rule).
struct RuleCell {
    const char* control;
    int def;
    const char* caption; // null: the key's caption
};

struct RuleKey {
    const char* key;
    RuleKind kind;
    const char* caption;
    std::array<RuleCell, kGameTypeCount> cells;
};

std::span<const GameType> GameTypes();
std::span<const RuleKey> RuleKeys();
inline constexpr int kOnslaught = 3;

} // namespace instantaction
