#include "instantaction/GameTypes.h"

namespace instantaction {

namespace {

constexpr GameType kTypes[] = {
    {"Deathmatch", "dmGroup", "Deathmatch", "XGame.xDeathMatch", "DM"},
    {"Team Deathmatch", "tdmGroup", "Team Deathmatch", "XGame.xTeamGame", "DM"},
    {"Capture the flag", "ctfGroup", "Capture the flag", "XGame.xCTFGame", "CTF"},
    {"Onslaught", "onsGroup", "Onslaught", "Onslaught.ONSOnslaughtGame", "ONS"},
    {"Double domination", "ddGroup", "Double Domination", "XGame.xDoubleDom", "DOM"},
    {"Bombing run", "brGroup", "Bombing run", "XGame.xBombingRun", "BR"},
    {"Assault", "gbAssault", "Assault", "UT2k4Assault.ASGameInfo", "AS"},
};

constexpr RuleCell X{nullptr, 0, nullptr};
using K = RuleKind;

//    key, kind, caption, {DM, TDM, CTF, ONS, DOM, BR, AS}
constexpr RuleKey kRules[] = {
    {"MaxLives", K::Number, "Max lives:",
     {{{"dmMaxLives", 0, nullptr}, {"tdmMaxLives", 0, nullptr}, {"ctfMaxLives", 0, nullptr},
       {"onsMaxLives", 0, nullptr}, {"ddMaxLives", 0, nullptr}, {"brMaxLives", 0, nullptr}, X}}},
    {"TimeLimit", K::Number, "Timelimit:",
     {{{"dmTimeLimit", 0, nullptr}, {"tdmTimeLimit", 0, nullptr}, {"ctfTimeLimit", 0, nullptr},
       {"onsTimeLimit", 0, nullptr}, {"ddTimeLimit", 0, nullptr}, {"brTimeLimit", 0, nullptr},
       {"spinASSTimelimit", 0, nullptr}}}},
    {"GoalScore", K::Number, "Scorelimit:",
     {{{"dmScoreLimit", 15, nullptr}, {"tdmScoreLimit", 15, nullptr}, {"ctfScoreLimit", 15, nullptr},
       {"onsGoalScore", 1, "Goalscore:"}, {"ddScoreLimit", 15, nullptr}, {"brScoreLimit", 15, nullptr},
       {"spinASSGoalScore", 15, "Goalscore:"}}}},
    {"MaxTeamSize", K::Number, "Maxteamsize:",
     {{X, {"tdmMaxTeamSize", 16, nullptr}, {"ctfMaxTeamSize", 16, nullptr}, X, {"ddMaxTeamSize", 16, nullptr},
       {"brMaxTeamSize", 16, nullptr}, X}}},
    {"FriendlyFireScale", K::Percent, "Friendlyfire:",
     {{X, {"tdmFriendlyFire", 0, nullptr}, {"ctfFriendlyFire", 0, nullptr}, {"onsFriendlyFire", 0, nullptr},
       {"ddFriendlyFire", 0, nullptr}, {"brFriendlyFire", 0, nullptr}, {"spinASSFriendlyFire", 0, nullptr}}}},
    {"TimeToScore", K::Number, "Time to score:", {{X, X, X, X, {"ddTimeToScore", 10, nullptr}, X, X}}},
    {"TimeDisabled", K::Number, "Time disabled:", {{X, X, X, X, {"ddTimeDisabled", 10, nullptr}, X, X}}},
    {"ResetTimeDelay", K::Number, "Reset delay:",
     {{X, X, X, {"onsResetdelay", 11, nullptr}, X, X, {"spinASSResetDelay", 11, nullptr}}}},
    {"OvertimeCoreDrainPerSec", K::Number, "Overtime drain p/sec:",
     {{X, X, X, {"onsOvertimedrainpersec", 20, nullptr}, X, X, X}}},
    {"SpawnProtectionTime", K::Number, "Spawnprotection time:",
     {{X, X, X, {"onsSpawnprotection", 2, nullptr}, X, X, {"spinASSSpawnProtTime", 3, "Spawn protection time:"}}}},
    {"RoundLimit", K::Number, "Round limit:", {{X, X, X, X, X, X, {"spinASSRounlimit", 1, nullptr}}}},
    {"RoundTimeLimit", K::Number, "Round timelimit:", {{X, X, X, X, X, X, {"spinASSRoundtimelimit", 10, nullptr}}}},
    {"bPlayersMustBeReady", K::Flag, "Players must be ready",
     {{{"dmPlayersReady", 0, nullptr}, {"tdmPlayersReady", 0, nullptr}, {"ctfPlayersReady", 0, nullptr}, X,
       {"ddPlayersReady", 0, nullptr}, {"brPlayersReady", 0, nullptr}, X}}},
    {"bAllowTaunts", K::Flag, "Allow taunts",
     {{{"dmAllowTaunts", 1, nullptr}, {"tdmAllowTaunts", 1, nullptr}, {"ctfAllowTaunts", 1, nullptr},
       {"onsAllowTaunts", 1, nullptr}, {"ddAllowTaunts", 1, nullptr}, {"brAllowTaunts", 1, nullptr},
       {"cbASSAllowTaunts", 1, nullptr}}}},
    {"bForceRespawn", K::Flag, "Force respawn",
     {{{"dmForceRespawn", 0, nullptr}, {"tdmForceRespawn", 0, nullptr}, {"ctfForceRespawn", 0, nullptr},
       {"onsForceRespawn", 0, nullptr}, {"ddForceRespawn", 0, nullptr}, {"brForceRespawn", 0, nullptr},
       {"cbASSForceRespawn", 0, nullptr}}}},
    {"bWeaponStay", K::Flag, "Weapons stay",
     {{{"dmWeaponsStay", 1, nullptr}, {"tdmWeaponsStay", 1, nullptr}, {"ctfWeaponsStay", 1, nullptr},
       {"onsWeaponsStay", 1, nullptr}, {"ddWeaponsStay", 1, nullptr}, {"brWeaponsStay", 1, nullptr},
       {"cbASSWeaponsStay", 1, nullptr}}}},
    {"bAllowTrans", K::Flag, "Use translocator",
     {{{"dmUseTrans", 0, nullptr}, {"tdmUseTrans", 0, nullptr}, {"ctfUseTrans", 0, nullptr},
       {"onsAllowTrans", 1, nullptr}, X, X, {"cbASSAllowTrans", 1, "Allow translocator"}}}},
    {"bAllowWeaponThrowing", K::Flag, "Allow weapon throwing",
     {{{"dmAllowWeaponThrowing", 1, nullptr}, {"tdmAllowWT", 1, nullptr}, {"ctfAllowWT", 1, nullptr},
       {"onsAllowWeaponThrowing", 1, nullptr}, X, X, {"cbASSAllowWeaponThrowing", 1, nullptr}}}},
    {"bRandSetupAfterReset", K::Flag, "Random after reset", {{X, X, X, {"onsRandomAfterReset", 0, nullptr}, X, X, X}}},
};

} // namespace

std::span<const GameType> GameTypes() { return kTypes; }
std::span<const RuleKey> RuleKeys() { return kRules; }

} // namespace instantaction
