#include "keybinds/TfrmTaunts.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace keybinds {

namespace {

struct Saying {
    int number;
    const char* text;
};

struct VoiceBlock {
    const char* type;
    std::initializer_list<Saying> sayings;
};

const char* const kInstructions[] = {
    "Copy paste the Taunt Code into the editfield of the key you want to bind!",
    "So all the stuff BEFORE the =",
    "",
    "for example to bind \"Affirmative\" to the Q key",
    "Enter this into the corresponding field with the Q:",
    "speech Ack 0",
    "Then Ingame pressing the Q key will let the character say \"Affirmative\"",
    "",
    "===================================",
    "Taunt Code = \"Taunt saying\"",
    "",
};

// A null type is an empty line between blocks.
const VoiceBlock kCommon[] = {
    {"Ack", {{0, "Affirmative"}, {1, "Got it"}, {2, "I'm on it"}, {3, "Roger that"}}},
    {"friendlyfire", {{0, "Same team!"}, {1, "I'm on your team!"}, {2, "I'm on your team, idiot!"}}},
    {"friendlyfireAbbrev", {{1, "On your team!"}}},
    {"Taunt",
     {{0, "Next victim please"}, {1, "You like that?"}, {2, "Burn baby"}, {3, "You playing solitaire?"},
      {4, "Boom!"}, {5, "Die, bitch!"}, {6, "Eat that"}, {7, "You be dead"}, {8, "I own you"},
      {9, "Loser"}, {10, "Bullseye"}, {11, "Slaughtered"}, {12, "Sit down!"}, {13, "Fresh meat"},
      {14, "Right where you belong"}, {15, "Have some"}, {16, "Try turning the safety off"},
      {17, "Who's yo daddy!"}, {18, "Yeah!"}, {19, "That was nasty"}, {20, "Don't go there"},
      {21, "Ha ha"}, {22, "Is that your best?"}, {23, "Lamer!"}, {24, "Look, a dead guy"},
      {25, "You suck!"}, {26, "Anyone else want some?"}}},
    {nullptr, {}},
    {"Order",
     {{0, "Defend the base"}, {1, "Hold this position"}, {2, "Assault the base"}, {3, "Cover me"},
      {4, "Search and destroy"}, {10, "Take their flag"}, {11, "Defend the flag"}}},
    {"OrderAbbrev", {{0, "Defend"}, {2, "Attack"}}},
    {nullptr, {}},
    {"Other",
     {{0, "Base is uncovered!"}, {1, "Somebody get our flag back!"}, {2, "I've got the flag"},
      {3, "I've got your back"}, {4, "I'm hit! I'm hit!"}, {5, "Man down!"},
      {6, "I'm under heavy attack!"}, {7, "Negative"}, {8, "I've got our flag"},
      {9, "I'm in position %l"}, {10, "Hang in there"}, {11, "Area secure"},
      {12, "Enemy flag carrier is here"}, {13, "I need some backup"}, {14, "Incoming!"},
      {15, "Enemy ball carrier is here"}, {16, "Point Alpha secure"}, {17, "Point Bravo secure"},
      {18, "Attack point Alpha"}, {19, "Attack point Bravo"}, {20, "Base is under attack!"},
      {21, "We're being overrun!"}, {22, "Under attack!"}, {23, "Defend point Alpha"},
      {24, "Defend point Bravo"}, {25, "Get the ball!"}, {26, "I'm on defense"},
      {27, "I'm on offense"}, {28, "Take point Alpha"}, {29, "Take point Bravo"}, {30, "Medic!"},
      {31, "Nice"}, {32, "Thanks"}, {33, "Sorry"}}},
    {"OtherAbbrev",
     {{1, "Get our flag back!"}, {2, "Got the flag"}, {3, "Got your back"}, {6, "Under heavy attack"},
      {8, "Got our flag"}, {9, "In position"}, {12, "Enemy Flag carrier here"},
      {15, "Enemy ball carrier here"}}},
    {nullptr, {}},
};

struct Voice {
    const char* heading;
    std::initializer_list<VoiceBlock> blocks;
};

const Voice kVoices[] = {
    {"JuggFemaleVoice",
     {{"Taunt",
       {{21, "Is that all you got?"}, {22, "Who's next?"}, {23, "Like that?"}, {24, "Too easy"},
        {25, "Nice try"}, {26, "Keep crying"}, {27, "Piece of cake"}}},
      {"Other", {{32, "Thank you"}, {33, "My bad"}}}}},
    {"NightFemaleVoice",
     {{"Taunt",
       {{21, "Time to die"}, {22, "Rest in pieces"}, {23, "Blood for the night"}, {24, "Sweet dreams"},
        {25, "Sleep tight"}, {26, "Darkness calls"}, {27, "You're mine"}, {28, "Bow before me"}}}}},
    {"MercFemaleVoice ",
     {{"Taunt",
       {{21, "Pay up"}, {22, "That'll cost you"}, {23, "Business is good"}, {24, "Cash or charge?"},
        {25, "All in a day's work"}, {26, "Nothing personal"}, {27, "Strictly business"},
        {28, "Another contract done"}, {29, "I get paid for this"}, {30, "Bill's in the mail"}}},
      {"Abbrev", {{24, "Cash or charge?"}}},
      {"Other", {{32, "Thanks, mate"}}}}},
    {"AlienFemaleVoice",
     {{"Taunt",
       {{21, "Inferior being"}, {22, "Your species is weak"}, {23, "Assimilated"}, {24, "Pathetic"},
        {25, "Feeble"}, {26, "You are prey"}, {27, "Extinction"}}}}},
};

const char* const kGestures[] = {
    "taunt asssmack = Ass Smack ",  "taunt gesture_beckon = Beckon ", "taunt gesture_cheer = Cheer ",
    "taunt gesture_halt = Halt ",   "taunt gesture_point = Point ",   "taunt pthrust = Pelvic Thrust ",
    "taunt throatcut = Throat Cut", "taunt specific_1",
};

const char* const kTeamSay[] = {
    "========================================",
    "",
    "Teamsay:",
    "Variables:",
    "%l - Location",
    "%w - Weapon",
    "%a - Adrenalin",
    "%h - Health",
    "%s - Shield",
    "",
    "Example:",
    "Bind the followig to a key:",
    "TeamSay I am %l with %w having %a with %h and %s shield left",
    "",
    "Gives:",
    "I am near the red rocket launcher (red mesa) with assault rifle having 45 ",
    "adrenaline with 87 health and 50 shield left",
};

void appendBlock(QStringList& out, const VoiceBlock& block) {
    if (!block.type) {
        out << QString();
        return;
    }
    for (const auto& s : block.sayings)
        out << QStringLiteral("speech %1 %2 = \"%3\" ")
                   .arg(QLatin1String(block.type))
                   .arg(s.number)
                   .arg(QLatin1String(s.text));
}

} // namespace

QStringList TauntReferenceLines() {
    QStringList out;
    for (const char* line : kInstructions) out << QLatin1String(line);
    for (const auto& block : kCommon) appendBlock(out, block);
    for (const auto& voice : kVoices) {
        out << QLatin1String(voice.heading);
        for (const auto& block : voice.blocks) appendBlock(out, block);
        out << QString();
    }
    out << QStringLiteral("Animated Taunts:");
    for (const char* line : kGestures) out << QLatin1String(line);
    out << QString();
    for (const char* line : kTeamSay) out << QLatin1String(line);
    return out;
}

TfrmTaunts::TfrmTaunts(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmTaunts"));
    setWindowTitle(QStringLiteral("TauntList"));
    setFixedSize(456, 453);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    dxMemo1 = new QPlainTextEdit(this);
    dxMemo1->setObjectName(QStringLiteral("dxMemo1"));
    dxMemo1->setPlainText(TauntReferenceLines().join(QLatin1Char('\n')));
    layout->addWidget(dxMemo1);
    if (parent) move(parent->geometry().center() - rect().center());
}

} // namespace keybinds
