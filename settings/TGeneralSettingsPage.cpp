#include "settings/TGeneralSettingsPage.h"

#include "ini/Cp1252.h"
#include "ini/IniHandles.h"
#include "settings/SettingsControls.h"
#include "ui/GameDefaults.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFocusEvent>
#include <QFile>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace settings {

namespace {

QString L(const char* s) { return QString::fromLatin1(s); }
std::string S(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

enum class File { User, Main };
enum class Kind { Text, Flag, Fov, DesiredFov, Fraction, Character, Team };

// One stored value, in the order the save writes them. `section` null means
// the viewport manager section of UT2004.ini. Load phases give the order of
// the load, which differs from the save's.
struct KeyRow {
    const char* control;
    File file;
    const char* section;
    const char* key;
    Kind kind;
    bool inverted;
    double def; // flags: 0/1; numbers and decimals: the value
    int loadPhase;
    const char* pattern; // decimals: save pattern
};

constexpr const char* PC = "Engine.PlayerController";
constexpr const char* HUD = "Engine.HUD";

constexpr KeyRow kKeys[] = {
    {"edtPlayername", File::User, "DefaultPlayer", "Name", Kind::Text, false, 0, 2, nullptr},
    {"cbAutoswitch", File::User, PC, "bNeverSwitchOnPickup", Kind::Flag, true, 0, 2, nullptr},
    {"cbVoiceMsg", File::User, PC, "bNoVoiceMessages", Kind::Flag, true, 0, 2, nullptr},
    {"cbVoiceTaunts", File::User, PC, "bNoVoiceTaunts", Kind::Flag, true, 0, 2, nullptr},
    {"cbAutoTaunts", File::User, PC, "bNoAutoTaunts", Kind::Flag, true, 0, 2, nullptr},
    {"cbAutoTaunt", File::User, PC, "bAutoTaunt", Kind::Flag, false, 0, 2, nullptr},
    {"cbMature", File::User, PC, "bNoMatureLanguage", Kind::Flag, true, 0, 2, nullptr},
    {"cbAnnouncer", File::User, PC, "bPlayAnnouncer", Kind::Flag, false, 1, 2, nullptr},
    {"tbVOF", File::User, PC, "DefaultFOV", Kind::Fov, false, 85, 5, nullptr},
    {"tbVOF", File::User, PC, "DesiredFOV", Kind::DesiredFov, false, 85, 0, nullptr},
    {"cbDodge", File::User, "Engine.PlayerInput", "bEnableDodging", Kind::Flag, false, 1, 2, nullptr},
    {"cbWeaponBob", File::User, "Engine.Pawn", "bWeaponBob", Kind::Flag, false, 0, 3, nullptr},
    {"cbHUD", File::User, HUD, "bHideHUD", Kind::Flag, true, 0, 2, nullptr},
    {"cbMsgBeep", File::User, HUD, "bMessageBeep", Kind::Flag, false, 1, 2, nullptr},
    {"cbShowweaponinfo", File::User, HUD, "bShowWeaponInfo", Kind::Flag, false, 1, 2, nullptr},
    {"cbShowpersonalinfo", File::User, HUD, "bShowPersonalInfo", Kind::Flag, false, 1, 2, nullptr},
    {"cbShowPoints", File::User, HUD, "bShowPoints", Kind::Flag, false, 1, 2, nullptr},
    {"cbCrosshair", File::User, HUD, "bCrosshairShow", Kind::Flag, false, 1, 2, nullptr},
    {"cbWeaponbar", File::User, HUD, "bShowWeaponBar", Kind::Flag, false, 1, 2, nullptr},
    {"cbUseJoystick", File::Main, nullptr, "UseJoystick", Kind::Flag, false, 0, 2, nullptr},
    {"edtStatsUser", File::User, PC, "StatsUsername", Kind::Text, false, 0, 2, nullptr},
    {"edtStatsPass", File::User, PC, "StatsPassword", Kind::Text, false, 0, 2, nullptr},
    {"dropChar", File::User, "DefaultPlayer", "Character", Kind::Character, false, 0, 4, nullptr},
    {"tbMouseSens", File::User, "Engine.PlayerInput", "MouseSensitivity", Kind::Fraction, false, 4.0, 6, "0.00"},
    {"tbHUDScale", File::User, HUD, "HudScale", Kind::Fraction, false, 1.0, 6, "0.00"},
    {"tbWeaponbob", File::User, "Engine.Pawn", "Bob", Kind::Fraction, false, 0.0, 6, "0.000000"},
    {"rbTeamRed", File::User, "DefaultPlayer", "Team", Kind::Team, false, 0, 7, nullptr},
};

constexpr SliderSpec kSliders[] = {
    {"tbVOF", "lblVOF", 60, 125, 10, 85, 1, "0", "Field of View: ", " (Default 85)", "Field of view:"},
    {"tbMouseSens", "lblMouseSens", 0, 1500, 100, 400, 100, "0.00", "Mouse sensitivity: ",
     " (Default = 3.00)", "Mouse sensitivity"},
    {"tbWeaponbob", "lblBob", 100, 5000, 500, 100, 100000, "0.000", "Weapon bob: ",
     " (Default = 0.006)", "Amount weaponbob"},
    {"tbHUDScale", "lblHUDScale", 0, 200, 10, 100, 100, "0.00", "HUD Scale: ", " (Default = 1.00)",
     "HUD scale"},
};

struct CheckDef {
    int group;
    const char* name;
    const char* caption;
    const char* hint;
};

constexpr const char* kGroups[] = {"General", "Controls", "Sounds", "Values", "HUD", "Weapon priority"};

constexpr CheckDef kChecks[] = {
    {1, "cbAutoswitch", "Autoswitch weapon on pickup", nullptr},
    {1, "cbDodge", "Dodge enabled", nullptr},
    {1, "cbWeaponBob", "Weapon bob (shaking)", nullptr},
    {1, "cbUseJoystick", "Use joystick", nullptr},
    {2, "cbVoiceTaunts", "Voice taunts", nullptr},
    {2, "cbVoiceMsg", "Voice messages", nullptr},
    {2, "cbAutoTaunt", "Autotaunt", nullptr},
    {2, "cbAutoTaunts", "Enemy autotaunts", nullptr},
    {2, "cbMature", "Mature language", nullptr},
    {2, "cbAnnouncer", "Announcer", "Doesn't work with the new patch anymore!"},
    {2, "cbMsgBeep", "Beep on message", nullptr},
    {4, "cbHUD", "Show hud", nullptr},
    {4, "cbShowweaponinfo", "Show weaponinfo", nullptr},
    {4, "cbShowpersonalinfo", "Show personal info", nullptr},
    {4, "cbShowPoints", "Show points", nullptr},
    {4, "cbCrosshair", "Show crosshair", nullptr},
    {4, "cbWeaponbar", "Show weaponbar", nullptr},
};

const QString kStatsHint = QStringLiteral("Works only if you didn't install the patch yet!!");

} // namespace

void SetThumbVisible(QSlider* slider, bool visible) {
    slider->setProperty("thumbVisible", visible);
    slider->setStyleSheet(visible ? QString()
                                  : QStringLiteral("QSlider::handle { background: transparent; "
                                                   "border: none; }"));
}

TGeneralSettingsPage::~TGeneralSettingsPage() = default;

TGeneralSettingsPage::TGeneralSettingsPage(ui::PageContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("tabGeneral"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    // Parented at once so that the page finds its controls before the
    // scroll area takes the panel over.
    auto* panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("panelGeneral"));
    auto* grid = new QGridLayout(panel);

    std::vector<QGroupBox*> groups;
    for (const char* caption : kGroups) groups.push_back(new QGroupBox(L(caption), panel));

    // General
    auto* general = new QFormLayout(groups[0]);
    auto* edtName = new QLineEdit(groups[0]);
    edtName->setObjectName(QStringLiteral("edtPlayername"));
    general->addRow(QStringLiteral("Playername:"), edtName);
    dropChar_ = new QComboBox(groups[0]);
    dropChar_->setObjectName(QStringLiteral("dropChar"));
    dropChar_->setEditable(false);
    // A long name of a custom model must not widen the page: the list shows it whole.
    dropChar_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    dropChar_->setMinimumContentsLength(8);
    general->addRow(QStringLiteral("Character:"), dropChar_);
    rbTeamRed_ = new QRadioButton(QStringLiteral("Red"), groups[0]);
    rbTeamRed_->setObjectName(QStringLiteral("rbTeamRed"));
    rbTeamRed_->setStyleSheet(QStringLiteral("color: red;"));
    rbTeamBlue_ = new QRadioButton(QStringLiteral("Blue"), groups[0]);
    rbTeamBlue_->setObjectName(QStringLiteral("rbTeamBlue"));
    rbTeamBlue_->setStyleSheet(QStringLiteral("color: blue;"));
    auto* team = new QHBoxLayout;
    team->addWidget(rbTeamRed_);
    team->addWidget(rbTeamBlue_);
    team->addStretch();
    general->addRow(QStringLiteral("Teamcolor:"), team);
    edtStatsUser_ = new QLineEdit(groups[0]);
    edtStatsUser_->setObjectName(QStringLiteral("edtStatsUser"));
    edtStatsUser_->setToolTip(kStatsHint);
    general->addRow(QStringLiteral("Stats username:"), edtStatsUser_);
    edtStatsPass_ = new QLineEdit(groups[0]);
    edtStatsPass_->setObjectName(QStringLiteral("edtStatsPass"));
    // Not for the eyes of whoever looks over the player's shoulder.
    edtStatsPass_->setEchoMode(QLineEdit::Password);
    edtStatsPass_->setToolTip(kStatsHint);
    general->addRow(QStringLiteral("Stats password:"), edtStatsPass_);
    edtStatsUser_->installEventFilter(this);
    edtStatsPass_->installEventFilter(this);

    // Check boxes of Controls, Sounds, HUD
    std::vector<QVBoxLayout*> boxLayouts(std::size(kGroups), nullptr);
    for (const auto& c : kChecks) {
        if (!boxLayouts[c.group]) boxLayouts[c.group] = new QVBoxLayout(groups[c.group]);
        auto* box = new QCheckBox(L(c.caption), groups[c.group]);
        box->setObjectName(L(c.name));
        if (c.hint) box->setToolTip(L(c.hint));
        boxLayouts[c.group]->addWidget(box);
    }

    // Values
    auto* values = new QVBoxLayout(groups[3]);
    for (const auto& spec : kSliders) {
        auto slider = std::make_unique<LabeledSlider>(spec, groups[3]);
        slider->slider()->setMinimumWidth(150);
        values->addWidget(slider->label());
        values->addWidget(slider->slider());
        sliders_.push_back(std::move(slider));
    }

    // Weapon priority
    auto* weapons = new QGridLayout(groups[5]);
    vlWeapons_ = new QTableWidget(0, 2, groups[5]);
    vlWeapons_->setObjectName(QStringLiteral("vlWeapons"));
    vlWeapons_->setHorizontalHeaderLabels({QStringLiteral("Priority"), QStringLiteral("Weapon")});
    vlWeapons_->verticalHeader()->hide();
    vlWeapons_->verticalHeader()->setDefaultSectionSize(vlWeapons_->fontMetrics().height() + 6);
    vlWeapons_->horizontalHeader()->setStretchLastSection(true);
    vlWeapons_->setColumnWidth(0, 60);
    vlWeapons_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    vlWeapons_->setSelectionBehavior(QAbstractItemView::SelectRows);
    vlWeapons_->setSelectionMode(QAbstractItemView::SingleSelection);
    vlWeapons_->setMinimumSize(180, 300);
    for (int k = 0; k <= 20; ++k) SetWeapon(QString::number(k), QString());
    // Wrapped to the group's width rather than broken by hand, which fixed the page's width.
    auto* text =
        new QLabel(QStringLiteral("This is the order in which weapons will be swapped if you have "
                                  "autoswitch turned on, or you are using the next/previous "
                                  "weapon command."),
                   groups[5]);
    text->setWordWrap(true);
    auto* up = new QPushButton(QStringLiteral("Move Up"), groups[5]);
    up->setObjectName(QStringLiteral("sbtnUp"));
    auto* down = new QPushButton(QStringLiteral("Move Down"), groups[5]);
    down->setObjectName(QStringLiteral("sbtnDown"));
    weapons->addWidget(vlWeapons_, 0, 0, 1, 2);
    weapons->addWidget(up, 1, 0);
    weapons->addWidget(down, 1, 1);
    weapons->addWidget(text, 2, 0, 1, 2);
    connect(up, &QPushButton::clicked, this, &TGeneralSettingsPage::sbtnUpClick);
    connect(down, &QPushButton::clicked, this, &TGeneralSettingsPage::sbtnDownClick);

    auto* cbWeaponBob = findChild<QCheckBox*>(QStringLiteral("cbWeaponBob"));
    auto* cbHUD = findChild<QCheckBox*>(QStringLiteral("cbHUD"));
    connect(cbWeaponBob, &QCheckBox::toggled, this, &TGeneralSettingsPage::cbWeaponBobClick);
    connect(cbHUD, &QCheckBox::toggled, this, &TGeneralSettingsPage::cbHUDClick);
    cbWeaponBobClick();
    cbHUDClick();

    grid->addWidget(groups[0], 0, 0);
    grid->addWidget(groups[1], 1, 0);
    grid->addWidget(groups[2], 2, 0);
    grid->addWidget(groups[3], 0, 1);
    grid->addWidget(groups[4], 1, 1, 2, 1);
    grid->addWidget(groups[5], 0, 2, 3, 1);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(3, 1);
    for (auto* g : groups) g->setAlignment(Qt::AlignLeft);
    scroll->setWidget(panel);
    snapshot_ = Take();
    defaults_ = new ui::GameDefaults(this, ctx_.state, ctx_.ini, [this](ini::PageWrites& w) { CollectWrites(w); });
}

LabeledSlider& TGeneralSettingsPage::Slider(const char* name) const {
    for (const auto& s : sliders_)
        if (qstrcmp(s->spec().name, name) == 0) return *s;
    throw std::logic_error(std::string("no slider ") + name);
}

void TGeneralSettingsPage::cbWeaponBobClick() {
    SetThumbVisible(Slider("tbWeaponbob").slider(),
                    findChild<QCheckBox*>(QStringLiteral("cbWeaponBob"))->isChecked());
}

void TGeneralSettingsPage::cbHUDClick() {
    SetThumbVisible(Slider("tbHUDScale").slider(), findChild<QCheckBox*>(QStringLiteral("cbHUD"))->isChecked());
}

int TGeneralSettingsPage::WeaponRowCount() const { return vlWeapons_->rowCount(); }

QString TGeneralSettingsPage::WeaponAt(const QString& key) const {
    for (int r = 0; r < vlWeapons_->rowCount(); ++r)
        if (vlWeapons_->item(r, 0)->text().compare(key, Qt::CaseInsensitive) == 0)
            return vlWeapons_->item(r, 1)->text();
    return {};
}

void TGeneralSettingsPage::SetWeapon(const QString& key, const QString& name) {
    for (int r = 0; r < vlWeapons_->rowCount(); ++r)
        if (vlWeapons_->item(r, 0)->text().compare(key, Qt::CaseInsensitive) == 0) {
            vlWeapons_->item(r, 1)->setText(name);
            return;
        }
    const int r = vlWeapons_->rowCount();
    vlWeapons_->insertRow(r);
    vlWeapons_->setItem(r, 0, new QTableWidgetItem(key));
    vlWeapons_->setItem(r, 1, new QTableWidgetItem(name));
}

void TGeneralSettingsPage::MoveWeapon(int delta) {
    const int row = vlWeapons_->currentRow();
    const int other = row + delta;
    if (row < 0 || other < 0 || other >= vlWeapons_->rowCount()) return;
    const QString a = vlWeapons_->item(row, 1)->text();
    vlWeapons_->item(row, 1)->setText(vlWeapons_->item(other, 1)->text());
    vlWeapons_->item(other, 1)->setText(a);
    vlWeapons_->setCurrentCell(other, 1);
}

void TGeneralSettingsPage::sbtnUpClick() { MoveWeapon(-1); }
void TGeneralSettingsPage::sbtnDownClick() { MoveWeapon(+1); }

void TGeneralSettingsPage::FillCharacterList() {
    dropChar_->clear();
    // Every player list the game reads: the retail and demo lists, and those of
    // bonus packs and custom models beside them.
    const QDir system(ctx_.state.GameSystem());
    const QStringList lists =
        system.entryList({QStringLiteral("*.upl")}, QDir::Files | QDir::Readable, QDir::Name | QDir::IgnoreCase);
    QStringList names;
    bool anyRead = false;
    static const QString marker = QStringLiteral("DefaultName=\"");
    static const QString race = QStringLiteral(",Race=");
    for (const QString& listName : lists) {
        QFile f(system.filePath(listName));
        if (!f.open(QIODevice::ReadOnly)) continue;
        anyRead = true;
        while (!f.atEnd()) {
            const QByteArray raw = f.readLine();
            if (raw.isEmpty() && f.error() != QFileDevice::NoError) break;
            const QString line = Q(ini::cp1252ToUtf8(std::string_view(raw.constData(), raw.size())));
            const auto p = line.indexOf(marker);
            const auto q = line.indexOf(race);
            if (p < 0 || q < 0 || q <= p + marker.size()) continue;
            const QString name = line.mid(p + marker.size(), q - 1 - (p + marker.size()));
            if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive)) names << name;
        }
    }
    if (!anyRead) {
        ctx_.prompter.Warning(QStringLiteral("Error retreiving available character names"));
        return;
    }
    dropChar_->addItems(names);
}

void TGeneralSettingsPage::SetTeam(int team) {
    // 255 (and anything but 0 and 1) is "no preference": neither radio is checked.
    for (auto* rb : {rbTeamRed_, rbTeamBlue_}) {
        rb->setAutoExclusive(false);
        rb->setChecked(false);
        rb->setAutoExclusive(true);
    }
    if (team == 0) rbTeamRed_->setChecked(true);
    if (team == 1) rbTeamBlue_->setChecked(true);
}

bool TGeneralSettingsPage::LoadGeneralSettings() {
    if (!ctx_.ini.UserIni || !ctx_.ini.Ut2004Ini) return false;
    try {
        FillCharacterList();
        const std::string viewport = S(ctx_.state.ViewportManager);
        for (int phase = 2; phase <= 7; ++phase) {
            for (const auto& row : kKeys) {
                if (row.loadPhase != phase) continue;
                const auto& file = row.file == File::User ? *ctx_.ini.UserIni : *ctx_.ini.Ut2004Ini;
                const std::string section = row.section ? std::string(row.section) : viewport;
                const QString control = L(row.control);
                switch (row.kind) {
                case Kind::Text:
                    findChild<QLineEdit*>(control)->setText(Q(file.ReadText(section, row.key, "")));
                    break;
                case Kind::Flag: {
                    const bool stored = file.ReadFlag(section, row.key, row.def != 0);
                    findChild<QCheckBox*>(control)->setChecked(stored != row.inverted);
                    if (control == QStringLiteral("cbWeaponBob")) cbWeaponBobClick();
                    break;
                }
                case Kind::Character: {
                    const QString wanted = Q(file.ReadText(section, row.key, ""));
                    int index = dropChar_->findText(wanted, Qt::MatchFixedString);
                    // A character from a list the folder lacks is still the player's choice.
                    if (index < 0 && !wanted.isEmpty()) {
                        dropChar_->addItem(wanted);
                        index = dropChar_->count() - 1;
                    }
                    dropChar_->setCurrentIndex(index);
                    break;
                }
                case Kind::Fov: {
                    // The game writes "90.000000"; a whole number is read the same.
                    const double stored = std::clamp(file.ReadFraction(section, row.key, row.def), -1e9, 1e9);
                    const auto fov = ScaledPosition(stored, 1);
                    auto& s = Slider("tbVOF");
                    s.slider()->setValue(fov);
                    s.label()->setText(QStringLiteral("Field of View: %1 (Default 85)").arg(fov));
                    break;
                }
                case Kind::Fraction:
                    Slider(row.control).Load(file, section, row.key, row.def);
                    break;
                case Kind::Team: {
                    // A file without the key has the game's "no preference", as DefUser.ini does.
                    SetTeam(file.ReadNumber(section, row.key, 255));
                    break;
                }
                case Kind::DesiredFov: break;
                }
            }
        }
        LoadWeaponPriorities();
        ini::PageWrites loaded;
        CollectWrites(loaded);
        baseline_.Reset(loaded);
    } catch (const std::exception& e) {
        // What the failed load left in the controls is no edit of the player:
        // only what is changed from here on may be written.
        ini::PageWrites shown;
        CollectWrites(shown);
        baseline_.Reset(shown);
        ctx_.prompter.Error(QStringLiteral("Error occurred:") + Q(e.what()));
        return false;
    }
    snapshot_ = Take();
    defaults_->Refresh();
    return true;
}

void TGeneralSettingsPage::LoadWeaponPriorities() {
    auto& user = *ctx_.ini.UserIni;
    // A reload starts from the empty list, so no weapon of an earlier file stays.
    vlWeapons_->setRowCount(0);
    for (int k = 0; k <= 20; ++k) SetWeapon(QString::number(k), QString());
    for (const std::string& name : user.ReadSectionNames()) {
        const QString section = Q(name);
        const QString upper = section.toUpper();
        if (upper.contains(QStringLiteral("UTCLASSIC.")) || upper.contains(QStringLiteral("ONSLAUGHT."))) {
            if (user.ReadText(name, "Priority", "BLAAT") == "BLAAT") continue;
            SetWeapon(Q(user.ReadText(name, "Priority", "")), section.mid(10));
        } else if (upper.contains(QStringLiteral("XWEAPONS."))) {
            SetWeapon(Q(user.ReadText(name, "Priority", "")), section.mid(9));
        }
    }
}

void TGeneralSettingsPage::CollectWrites(ini::PageWrites& w) const {
    auto& user = *ctx_.ini.UserIni;
    auto& main = *ctx_.ini.Ut2004Ini;
    const std::string viewport = S(ctx_.state.ViewportManager);
    for (const auto& row : kKeys) {
        auto& file = row.file == File::User ? user : main;
        const std::string section = row.section ? std::string(row.section) : viewport;
        const QString control = L(row.control);
        w.From(row.control);
        switch (row.kind) {
        case Kind::Text: w.Text(file, section, row.key, S(findChild<QLineEdit*>(control)->text())); break;
        case Kind::Flag:
            w.Flag(file, section, row.key, findChild<QCheckBox*>(control)->isChecked() != row.inverted);
            break;
        case Kind::Character:
            w.Text(file, section, row.key, dropChar_->currentIndex() < 0 ? "" : S(dropChar_->currentText()));
            break;
        case Kind::Fov:
        case Kind::DesiredFov: w.Number(file, section, row.key, Slider("tbVOF").slider()->value()); break;
        case Kind::Fraction: w.Decimal(file, section, row.key, Slider(row.control).ValueText(row.pattern)); break;
        case Kind::Team:
            // No team preference (the game's 255) stays unset until the player picks one.
            if (rbTeamRed_->isChecked())
                w.Number(file, section, row.key, 0);
            else if (rbTeamBlue_->isChecked())
                w.Number(file, section, row.key, 1);
            break;
        }
    }
    CollectWeaponPriorities(w);
}

std::vector<ini::PendingWrite> TGeneralSettingsPage::PendingChanges() const {
    if (!ctx_.ini.UserIni || !ctx_.ini.Ut2004Ini) return {};
    ini::PageWrites now;
    CollectWrites(now);
    return baseline_.Changed(now);
}

std::vector<ini::PendingWrite> TGeneralSettingsPage::EveryWrite() const {
    if (!ctx_.ini.UserIni || !ctx_.ini.Ut2004Ini) return {};
    ini::PageWrites all;
    CollectWrites(all);
    return all.List();
}

bool TGeneralSettingsPage::SaveGeneralSettings() {
    if (!ctx_.ini.UserIni || !ctx_.ini.Ut2004Ini) return false;
    try {
        ini::TIniFile::Batch userBatch(*ctx_.ini.UserIni);
        ini::TIniFile::Batch mainBatch(*ctx_.ini.Ut2004Ini);
        ini::PageWrites now;
        CollectWrites(now);
        baseline_.WriteChanged(now);
        userBatch.finish();
        mainBatch.finish();
    } catch (const std::exception& e) {
        ctx_.prompter.Error(QStringLiteral("Error occurred:") + Q(e.what()));
        return false;
    }
    ini::SaveStep::Remember([this, before = snapshot_] { snapshot_ = before; });
    snapshot_ = Take();
    return true;
}

void TGeneralSettingsPage::CollectWeaponPriorities(ini::PageWrites& w) const {
    auto& user = *ctx_.ini.UserIni;
    w.From("vlWeapons");
    const int d = vlWeapons_->rowCount();
    for (int n = 0; n <= d + 1; ++n) {
        const QString name = WeaponAt(QString::number(n));
        if (name.isEmpty()) continue;
        QString section;
        if (name.left(7).toLower() == QStringLiteral("classic"))
            section = QStringLiteral("UTClassic.") + name;
        else if (name.left(3).toLower() == QStringLiteral("ons"))
            section = QStringLiteral("Onslaught.") + name;
        else
            section = QStringLiteral("XWeapons.") + name;
        w.Number(user, S(section), "Priority", n);
    }
}

TGeneralSettingsPage::Snapshot TGeneralSettingsPage::Take() const {
    Snapshot s;
    for (const auto& row : kKeys)
        if (row.kind == Kind::Flag) s.checks.push_back(findChild<QCheckBox*>(L(row.control))->isChecked());
    const int d = vlWeapons_->rowCount();
    for (int n = 0; n <= d; ++n) s.rest << WeaponAt(QString::number(n));
    for (const char* name : {"tbVOF", "tbWeaponbob", "tbHUDScale", "tbMouseSens"})
        s.rest << QString::number(Slider(name).slider()->value());
    for (const char* name : {"edtPlayername", "edtStatsUser", "edtStatsPass"})
        s.rest << findChild<QLineEdit*>(L(name))->text();
    s.rest << dropChar_->currentText();
    // A picked team is an edit like any other: Exit and Load must not drop it unasked.
    s.checks.push_back(rbTeamRed_->isChecked());
    s.checks.push_back(rbTeamBlue_->isChecked());
    return s;
}

bool TGeneralSettingsPage::GeneralSettingsChanged() const {
    const Snapshot now = Take();
    if (now.checks != snapshot_.checks) return true;
    return ctx_.state.PagesLoaded && now.rest != snapshot_.rest;
}

void TGeneralSettingsPage::CheckLength(QLineEdit* edit, int minimum, const QString& warning) {
    const auto len = edit->text().size();
    if (len == 0 || len >= minimum) return;
    checkingLength_ = true;
    ctx_.prompter.Warning(warning);
    edit->setFocus();
    checkingLength_ = false;
}

namespace {
bool LeavesForAnotherControl(const QFocusEvent* e) {
    const auto reason = e->reason();
    return reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason && reason != Qt::MenuBarFocusReason;
}
} // namespace

bool TGeneralSettingsPage::eventFilter(QObject* watched, QEvent* event) {
    // Only a move to another control of the window is leaving the field: not
    // a menu or context menu opening, nor the window losing focus.
    if (event->type() == QEvent::FocusOut && !checkingLength_ && LeavesForAnotherControl(static_cast<QFocusEvent*>(event))) {
        if (watched == edtStatsUser_)
            CheckLength(edtStatsUser_, 4, QStringLiteral("The username must be at least 4 characters long"));
        else if (watched == edtStatsPass_)
            CheckLength(edtStatsPass_, 6, QStringLiteral("The password must be at least 6 characters long"));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace settings
