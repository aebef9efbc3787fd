#include "settings/TUT2k4SettingsPage.h"

#include "ini/IniHandles.h"
#include "ini/ValueText.h"
#include "settings/RenderDevices.h"
#include "settings/SettingsControls.h"
#include "ui/GameDefaults.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QVBoxLayout>
#include <optional>

namespace settings {

namespace {

// Wide enough for the game's own way of writing a number ("35.000000"),
// and no wider, so the page fits the window's smallest size.
void NumberWidth(QLineEdit* edit) {
    QStyleOptionFrame frame;
    frame.initFrom(edit);
    const QSize text(edit->fontMetrics().horizontalAdvance(QStringLiteral("00.0000000")), 0);
    edit->setMaximumWidth(
        edit->style()->sizeFromContents(QStyle::CT_LineEdit, &frame, text, edit).width());
}

QString L(const char* s) { return QString::fromLatin1(s); }
std::string S(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

// null section: the viewport manager section.
struct TextKey {
    const char* control;
    const char* caption;
    const char* unit;
    const char* section;
    const char* key;
    const char* def;
    bool userFile; // the game keeps it in the user file; UT2004.ini is only a fallback to read
};

constexpr TextKey kTexts[] = {
    {"edtPCache", "Purge cache in", "Days", "Core.System", "PurgeCacheDays", "30", false},
    {"edtCacheSize", "Engine cache size", "MB ram", "Engine.GameEngine", "CacheSizeMegs", "32", false},
    {"edtFPS", "Minimal desired fps", nullptr, nullptr, "MinDesiredFrameRate", "35", false},
    {"edtNetspeed", "netspeed (online)", nullptr, "Engine.Player", "ConfiguredInternetSpeed", "2600", true},
    {"edtLanNetspeed", "netspeed (LAN)", nullptr, "Engine.Player", "ConfiguredLanSpeed", "20000", true},
};

struct BoolKey {
    const char* control;
    const char* caption;
    const char* section;
    const char* key;
    bool inverted;
    bool def;
};

constexpr const char* kSound = "ALAudio.ALAudioSubsystem";

// Display keys in their save order; the group shows them in kDisplayOrder.
constexpr BoolKey kDisplay[] = {
    {"cbScrnFlash", "Screen flashes", nullptr, "ScreenFlashes", false, true},
    {"cbWeatherEffects", "Weather effects", nullptr, "WeatherEffects", false, true},
    {"cbLighting", "Lighting", nullptr, "NoLighting", true, true},
    {"cbDecals", "Show decals", nullptr, "Decals", false, true},
    {"cbCoronas", "Show coronas", nullptr, "Coronas", false, true},
    {"cbDeco", "Decolayers", nullptr, "DecoLayers", false, true},
    {"cbProjectors", "Projectors", nullptr, "Projectors", false, true},
    {"cbDynamicLights", "Dynamic lights", nullptr, "NoDynamicLights", true, true},
};
constexpr int kDisplayOrder[] = {0, 2, 3, 4, 5, 6, 7, 1};

constexpr BoolKey kSoundKeys[] = {
    {"cbEAX", "Use EAX", kSound, "UseEAX", false, false},
    {"cb3dsound", "Use 3D Sound", kSound, "Use3DSound", false, false},
    {"cbDefaultDriver", "Use default driver", kSound, "UseDefaultDriver", false, true},
    {"cbPrecache", "Precache", kSound, "UsePrecache", false, true},
    {"cbRevStereo", "Reverse stereo", kSound, "ReverseStereo", false, false},
    {"cbLowquality", "Low quality", kSound, "LowQualitySound", false, false},
    {"cbDisPitch", "Disable Pitch", kSound, "DisablePitch", false, false},
};

struct FractionKey {
    const char* slider;
    const char* section;
    const char* key;
    double def;
};

constexpr SliderSpec kSliders[] = {
    {"tbBright", "lblBright", 0, 100, 10, 80, 100, "0.00", "Brightness: ", " (Default = 0.80)", "Brightness"},
    {"tbContrast", "lblContrast", 0, 100, 10, 70, 100, "0.00", "Contrast: ", " (Default = 0.70)", "Contrast"},
    {"tbGamma", "lblGamme", 0, 250, 10, 80, 100, "0.00", "Gamma: ", " (Default = 0.80)", "Gamma"},
    {"tbVolume", "lblVolume", 0, 500, 0, 25, 100, "0.00", "Volume: ", " (Default = 0.25)", "Volume"},
};

constexpr FractionKey kScreenFractions[] = {
    {"tbBright", nullptr, "Brightness", 0.8},
    {"tbContrast", nullptr, "Contrast", 0.7},
    {"tbGamma", nullptr, "Gamma", 0.8},
};

// The common 4:3, 5:4, 16:10 and 16:9 modes, by width. The presets name
// "640x480" and "1024x768".
struct ScreenMode {
    int x, y;
};
constexpr ScreenMode kModes[] = {
    {640, 480},   {800, 600},   {1024, 768},  {1152, 864},  {1280, 720},  {1280, 800},
    {1280, 960},  {1280, 1024}, {1366, 768},  {1400, 1050}, {1440, 900},  {1600, 900},
    {1600, 1200}, {1680, 1050}, {1920, 1080}, {1920, 1200}, {1920, 1440}, {2048, 1536},
    {2560, 1440}, {2560, 1600}, {3840, 2160},
};

QString ModeText(int x, int y) { return QStringLiteral("%1x%2").arg(x).arg(y); }

const char* const kLevels[] = {"Low", "Normal", "High", "Higher", "UltraHigh"};

struct TextureKey {
    const char* control;
    const char* caption;
    const char* key;
};
constexpr TextureKey kTextures[] = {
    {"pickInterface", "Texture detail interface", "TextureDetailInterface"},
    {"pickTerrain", "Texture detail terrain", "TextureDetailTerrain"},
    {"pickWeaponskin", "Texture detail weaponskin", "TextureDetailWeaponSkin"},
    {"pickplayerskin", "Texture detail playerskin", "TextureDetailPlayerSkin"},
    {"pickworld", "Texture detail world", "TextureDetailWorld"},
    {"pickrendermap", "Texture detail rendermap", "TextureDetailRenderMap"},
    {"picklightmap", "Texture detail lightmap", "TextureDetailLightmap"},
};

const QString kPCacheHint = QStringLiteral(
    "This is the number of days the files keep in the cache.\nAfter that time has passed the cache "
    "directory will be cleared, \nand all the downloaded files that were in the cache have to be "
    "redownload\nRecommended value: 9999");
const QString kCacheSizeHint = QStringLiteral(
    "Recommended values:\nif your PC has 64Mb of RAM change it to 32 \nif 96Mb change it to 64 \nif "
    "128Mb change it to 96 \nif 192Mb change it to 160 \nif 256Mb change it to 224 \nif 384Mb change "
    "it to 256");

} // namespace

TUT2k4SettingsPage::~TUT2k4SettingsPage() = default;

TUT2k4SettingsPage::TUT2k4SettingsPage(ui::PageContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("tabUT2k4"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    outer->addWidget(scroll);
    panel_ = new QWidget;
    panel_->setObjectName(QStringLiteral("panelUT2k4"));
    auto* grid = new QGridLayout(panel_);

    // Screen
    auto* screen = new QGroupBox(QStringLiteral("Screen"), panel_);
    auto* screenLayout = new QVBoxLayout(screen);
    screenLayout->addWidget(new QLabel(QStringLiteral("Screen mode:"), screen));
    auto* radios = new QGridLayout;
    radioGroup_ = new QButtonGroup(this);
    const auto devices = RenderDevices();
    deviceRadios_.resize(devices.size());
    // Shown in the order Direct3d, Direct3d DX9, OpenGL, Pixo, Null.
    constexpr int kRadioOrder[] = {D3D, D3D9, OpenGL, Pixo, Null};
    for (int i = 0; i < kDeviceCount; ++i) {
        const int d = kRadioOrder[i];
        auto* rb = new QRadioButton(L(devices[d].caption), screen);
        rb->setObjectName(L(devices[d].radio));
        radioGroup_->addButton(rb);
        // Two a row, so the group fits beside the others at the window's smallest size.
        radios->addWidget(rb, i / 2, i % 2);
        deviceRadios_[d] = rb;
        connect(rb, &QRadioButton::toggled, this, [this](bool on) {
            if (on) rbDirect3dClick();
        });
    }
    screenLayout->addLayout(radios);
    lblDeviceNote_ = new QLabel(screen);
    lblDeviceNote_->setObjectName(QStringLiteral("lblDeviceNote"));
    lblDeviceNote_->setWordWrap(true);
    lblDeviceNote_->setVisible(false);
    screenLayout->addWidget(lblDeviceNote_);
    screenLayout->addWidget(new QLabel(QStringLiteral("Screen resolution:"), screen));
    pickScreenmode_ = new QComboBox(screen);
    pickScreenmode_->setObjectName(QStringLiteral("pickScreenmode"));
    FillScreenModes();
    pickScreenmode_->installEventFilter(this);
    screenLayout->addWidget(pickScreenmode_);

    for (const auto& spec : kSliders) sliders_.push_back(std::make_unique<LabeledSlider>(spec, screen));
    for (int i = 0; i < 3; ++i) {
        screenLayout->addWidget(sliders_[i]->label());
        screenLayout->addWidget(sliders_[i]->slider());
    }

    // General
    auto* general = new QGroupBox(QStringLiteral("General"), panel_);
    auto* generalLayout = new QGridLayout(general);
    int row = 0;
    for (const auto& t : kTexts) {
        auto* edit = new QLineEdit(general);
        edit->setObjectName(L(t.control));
        NumberWidth(edit);
        generalLayout->addWidget(new QLabel(L(t.caption), general), row, 0);
        generalLayout->addWidget(edit, row, 1);
        if (t.unit) generalLayout->addWidget(new QLabel(L(t.unit), general), row, 2);
        ++row;
    }
    Edit("edtPCache")->setToolTip(kPCacheHint);
    Edit("edtCacheSize")->setToolTip(kCacheSizeHint);

    // Display
    auto* display = new QGroupBox(QStringLiteral("Display"), panel_);
    auto* displayLayout = new QVBoxLayout(display);
    for (int i : kDisplayOrder) {
        auto* box = new QCheckBox(L(kDisplay[i].caption), display);
        box->setObjectName(L(kDisplay[i].control));
        displayLayout->addWidget(box);
    }

    // Texture details
    auto* textures = new QGroupBox(QStringLiteral("Texture details"), panel_);
    auto* texLayout = new QFormLayout(textures);
    for (const auto& t : kTextures) {
        auto* list = new QComboBox(textures);
        list->setObjectName(L(t.control));
        list->setEditable(true);
        list->setInsertPolicy(QComboBox::NoInsert);
        for (const char* level : kLevels) list->addItem(L(level));
        list->setCurrentIndex(-1);
        texLayout->addRow(L(t.caption), list);
        textureLists_.push_back(list);
    }

    // Sound
    auto* sound = new QGroupBox(QStringLiteral("Sound"), panel_);
    auto* soundLayout = new QVBoxLayout(sound);
    for (const auto& b : kSoundKeys) {
        auto* box = new QCheckBox(L(b.caption), sound);
        box->setObjectName(L(b.control));
        soundLayout->addWidget(box);
    }
    sliders_[3]->slider()->setParent(sound);
    sliders_[3]->label()->setParent(sound);
    soundLayout->addWidget(sliders_[3]->label());
    soundLayout->addWidget(sliders_[3]->slider());

    // Render device options: five groups in one place.
    auto* devicesArea = new QWidget(panel_);
    auto* devicesLayout = new QVBoxLayout(devicesArea);
    devicesLayout->setContentsMargins(0, 0, 0, 0);
    for (int d = 0; d < kDeviceCount; ++d) {
        auto* box = new QGroupBox(L(devices[d].groupCaption), devicesArea);
        box->setObjectName(L(devices[d].group));
        auto* layout = new QGridLayout(box);
        int n = 0;
        for (const auto& option : DeviceOptions()) {
            const auto& cell = option.cells[d];
            if (!cell.control) continue;
            auto* check = new QCheckBox(L(cell.caption ? cell.caption : option.caption), box);
            check->setObjectName(L(cell.control));
            // One column: two would make the page wider than the window's smallest size.
            layout->addWidget(check, n, 0, 1, 2);
            ++n;
        }
        if (const char* refresh = RefreshRateField(static_cast<Device>(d))) {
            auto* edit = new QLineEdit(box);
            edit->setObjectName(L(refresh));
            NumberWidth(edit);
            layout->addWidget(new QLabel(QStringLiteral("Desired refreshrate"), box), n, 0);
            layout->addWidget(edit, n, 1);
        }
        box->setVisible(false);
        devicesLayout->addWidget(box);
        deviceGroups_.push_back(box);
    }
    devicesLayout->addStretch();

    grid->addWidget(screen, 0, 0);
    grid->addWidget(general, 1, 0);
    grid->addWidget(display, 0, 1);
    grid->addWidget(sound, 1, 1);
    grid->addWidget(textures, 0, 2);
    grid->addWidget(devicesArea, 1, 2, 2, 1);
    grid->setRowStretch(2, 1);
    grid->setColumnStretch(3, 1);
    scroll->setWidget(panel_);
    snapshot_ = Take();
    defaults_ = new ui::GameDefaults(this, ctx_.state, ctx_.ini, [this](ini::PageWrites& w) { CollectWrites(w); });
}

LabeledSlider& TUT2k4SettingsPage::Slider(const char* name) const {
    for (const auto& s : sliders_)
        if (qstrcmp(s->spec().name, name) == 0) return *s;
    throw std::logic_error(std::string("no slider ") + name);
}

QCheckBox* TUT2k4SettingsPage::Check(const char* name) const { return panel_->findChild<QCheckBox*>(L(name)); }
QLineEdit* TUT2k4SettingsPage::Edit(const char* name) const { return panel_->findChild<QLineEdit*>(L(name)); }

void TUT2k4SettingsPage::ShowDevicesOfBuild() {
    const bool native = ctx_.state.InstallKind == QStringLiteral("native");
    const auto offered = DevicesOfBuild(native, ctx_.state.GameBuild);
    const QString build = native ? QStringLiteral("the native Linux build of UT2004")
                                 : QStringLiteral("UT2004 ") + QString::number(ctx_.state.GameBuild);
    QString note;
    for (int d = 0; d < kDeviceCount; ++d) {
        offered_[d] = offered[d];
        QRadioButton* rb = deviceRadios_[d];
        rb->setEnabled(offered[d]);
        rb->setVisible(offered[d] || rb->isChecked());
        if (rb->isChecked() && !offered[d])
            note = QStringLiteral("The stored renderer ") + L(RenderDevices()[d].value) + QStringLiteral(" is not part of ") +
                   build + QStringLiteral(". It stays as it is until you pick another.");
    }
    lblDeviceNote_->setText(note);
    lblDeviceNote_->setVisible(!note.isEmpty());
}

void TUT2k4SettingsPage::rbDirect3dClick() {
    for (int d = 0; d < kDeviceCount; ++d) deviceGroups_[d]->setVisible(deviceRadios_[d]->isChecked());
}

bool TUT2k4SettingsPage::eventFilter(QObject* watched, QEvent* event) {
    // The screen mode changes only by choosing an item, never by typing.
    if (watched == pickScreenmode_ && event->type() == QEvent::KeyPress &&
        !static_cast<QKeyEvent*>(event)->text().isEmpty() &&
        static_cast<QKeyEvent*>(event)->text().at(0).isPrint())
        return true;
    return QWidget::eventFilter(watched, event);
}

void TUT2k4SettingsPage::FillScreenModes() {
    pickScreenmode_->clear();
    for (const auto& m : kModes) pickScreenmode_->addItem(ModeText(m.x, m.y), QSize(m.x, m.y));
    pickScreenmode_->setCurrentIndex(-1);
}

void TUT2k4SettingsPage::LoadScreenMode(const ini::TIniFile& main, const std::string& viewport) {
    FillScreenModes(); // a mode the last file added does not stay
    // The game starts at 640x480 when the file names no mode.
    const std::string x = main.ReadText(viewport, "FullscreenViewportX", "640");
    const std::string y = main.ReadText(viewport, "FullscreenViewportY", "");
    const auto px = ini::ParseIniNumber(ini::SplitInlineComment(x).value);
    auto py = ini::ParseIniNumber(ini::SplitInlineComment(y).value);
    if (!px || *px <= 0) return; // nothing to show; nothing is written unless picked
    if (!py) // a width alone: the first listed mode of that width
        for (const auto& m : kModes)
            if (m.x == *px) {
                py = m.y;
                break;
            }
    if (!py || *py <= 0) return;
    const int i = pickScreenmode_->findData(QSize(*px, *py));
    if (i >= 0) {
        pickScreenmode_->setCurrentIndex(i);
        return;
    }
    // A mode the list lacks is the player's own: shown as it is, kept as it is.
    pickScreenmode_->addItem(ModeText(*px, *py), QSize(*px, *py));
    pickScreenmode_->setCurrentIndex(pickScreenmode_->count() - 1);
}

void TUT2k4SettingsPage::LoadTextureDetail(QComboBox* list, const char* key) {
    const QString stored = Q(ctx_.ini.Ut2004Ini->ReadText(S(ctx_.state.ViewportManager), key, "normal"));
    list->setCurrentIndex(-1);
    for (int i = 0; i < 5; ++i)
        if (stored.toLower() == L(kLevels[i]).toLower()) list->setCurrentIndex(i);
    if (list->currentIndex() < 0) list->setEditText(stored); // shown, never written unless changed
}

void TUT2k4SettingsPage::CollectTextureDetail(ini::PageWrites& w, QComboBox* list, const char* key) const {
    const int i = list->findText(list->currentText(), Qt::MatchFixedString);
    if (i < 0 || list->currentText().isEmpty()) return; // a value the list lacks stays in the file
    w.From(S(list->objectName())).Text(*ctx_.ini.Ut2004Ini, S(ctx_.state.ViewportManager), key, kLevels[i]);
}

bool TUT2k4SettingsPage::LoadUT2k4Settings() {
    if (!ctx_.ini.Ut2004Ini) return false;
    auto& main = *ctx_.ini.Ut2004Ini;
    const std::string viewport = S(ctx_.state.ViewportManager);
    auto section = [&](const char* s) { return s ? std::string(s) : viewport; };
    try {
        for (const auto& t : kTexts) {
            std::string value = main.ReadText(section(t.section), t.key, t.def);
            if (t.userFile && ctx_.ini.UserIni) {
                static constexpr const char* kMissing = "\x01";
                const std::string own = ctx_.ini.UserIni->ReadText(section(t.section), t.key, kMissing);
                if (own != kMissing) value = own;
            }
            Edit(t.control)->setText(Q(value));
        }
        for (const auto& f : kScreenFractions) Slider(f.slider).Load(main, section(f.section), f.key, f.def);
        LoadScreenMode(main, viewport);
        for (std::size_t i = 0; i < std::size(kTextures); ++i) LoadTextureDetail(textureLists_[i], kTextures[i].key);
        const QString device = Q(main.ReadText("Engine.Engine", "RenderDevice", "d3ddrv.d3drenderdevice")).toLower();
        radioGroup_->setExclusive(false); // a device the table lacks checks none
        for (int d = 0; d < kDeviceCount; ++d) deviceRadios_[d]->setChecked(device == L(RenderDevices()[d].value).toLower());
        radioGroup_->setExclusive(true);
        ShowDevicesOfBuild();
        rbDirect3dClick();
        for (const auto& b : kDisplay)
            Check(b.control)->setChecked(main.ReadFlag(section(b.section), b.key, b.def) != b.inverted);
        for (const auto& b : kSoundKeys)
            Check(b.control)->setChecked(main.ReadFlag(section(b.section), b.key, b.def) != b.inverted);
        // The audio system reads its own key; the ambient-sound one is the older place.
        Slider("tbVolume").Load(main, kSound, "AmbientVolume",
                                main.ReadFraction("Engine.AmbientSound", "AmbientVolume", 0.25));
        for (int d = 0; d < kDeviceCount; ++d) {
            const std::string sec = RenderDevices()[d].value;
            for (const auto& option : DeviceOptions())
                if (const auto& cell = option.cells[d]; cell.control)
                    Check(cell.control)->setChecked(main.ReadFlag(sec, option.key, cell.def));
            if (const char* refresh = RefreshRateField(static_cast<Device>(d)))
                Edit(refresh)->setText(Q(main.ReadText(sec, "DesiredRefreshRate", "60")));
        }
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

void TUT2k4SettingsPage::CollectWrites(ini::PageWrites& w) const {
    auto& main = *ctx_.ini.Ut2004Ini;
    const std::string viewport = S(ctx_.state.ViewportManager);
    auto section = [&](const char* s) { return s ? std::string(s) : viewport; };
    for (const auto& t : kTexts) {
        auto& file = t.userFile && ctx_.ini.UserIni ? *ctx_.ini.UserIni : main;
        w.From(t.control).Text(file, section(t.section), t.key, S(Edit(t.control)->text()));
    }
    for (const auto& f : kScreenFractions)
        w.From(f.slider).Decimal(main, section(f.section), f.key, Slider(f.slider).ValueText("0.00"));
    const std::string volume = Slider("tbVolume").ValueText("0.00");
    w.From("tbVolume").Decimal(main, "Engine.AmbientSound", "AmbientVolume", volume);
    w.Decimal(main, kSound, "AmbientVolume", volume);
    if (const int i = pickScreenmode_->currentIndex(); i >= 0) {
        const QSize mode = pickScreenmode_->itemData(i).toSize();
        w.From("pickScreenmode").Number(main, viewport, "FullscreenViewportX", mode.width());
        w.Number(main, viewport, "FullscreenViewportY", mode.height());
    }
    for (std::size_t i = 0; i < std::size(kTextures); ++i) CollectTextureDetail(w, textureLists_[i], kTextures[i].key);
    for (int d = 0; d < kDeviceCount; ++d)
        if (deviceRadios_[d]->isChecked())
            w.From(RenderDevices()[d].radio).Text(main, "Engine.Engine", "RenderDevice", RenderDevices()[d].value);
    for (const auto& b : kDisplay)
        w.From(b.control).Flag(main, section(b.section), b.key, Check(b.control)->isChecked() != b.inverted);
    for (const auto& b : kSoundKeys)
        w.From(b.control).Flag(main, section(b.section), b.key, Check(b.control)->isChecked() != b.inverted);
    for (int d = 0; d < kDeviceCount; ++d) {
        const std::string sec = RenderDevices()[d].value;
        for (int i : DeviceSaveOrder(static_cast<Device>(d)))
            if (const auto& cell = DeviceOptions()[i].cells[d]; cell.control)
                w.From(cell.control).Flag(main, sec, DeviceOptions()[i].key, Check(cell.control)->isChecked());
        if (const char* refresh = RefreshRateField(static_cast<Device>(d)))
            w.From(refresh).Text(main, sec, "DesiredRefreshRate", S(Edit(refresh)->text()));
    }
}

std::vector<ini::PendingWrite> TUT2k4SettingsPage::PendingChanges() const {
    if (!ctx_.ini.Ut2004Ini) return {};
    ini::PageWrites now;
    CollectWrites(now);
    return baseline_.Changed(now);
}

std::vector<ini::PendingWrite> TUT2k4SettingsPage::EveryWrite() const {
    if (!ctx_.ini.Ut2004Ini) return {};
    ini::PageWrites all;
    CollectWrites(all);
    return all.List();
}

bool TUT2k4SettingsPage::SaveUT2k4Settings() {
    if (!ctx_.ini.Ut2004Ini) return false;
    try {
        ini::TIniFile::Batch batch(*ctx_.ini.Ut2004Ini);
        std::optional<ini::TIniFile::Batch> userBatch;
        if (ctx_.ini.UserIni) userBatch.emplace(*ctx_.ini.UserIni);
        ini::PageWrites now;
        CollectWrites(now);
        baseline_.WriteChanged(now);
        batch.finish();
        if (userBatch) userBatch->finish();
    } catch (const std::exception& e) {
        ctx_.prompter.Error(QStringLiteral("Error occurred:") + Q(e.what()));
        return false;
    }
    ini::SaveStep::Remember([this, before = snapshot_] { snapshot_ = before; });
    snapshot_ = Take();
    return true;
}

TUT2k4SettingsPage::Snapshot TUT2k4SettingsPage::Take() const {
    Snapshot s;
    for (const QCheckBox* box : panel_->findChildren<QCheckBox*>()) s.checks.push_back(box->isChecked());
    for (const QRadioButton* rb : deviceRadios_) s.checks.push_back(rb->isChecked());
    for (const char* name : {"tbBright", "tbContrast", "tbGamma"})
        s.rest << QString::number(Slider(name).slider()->value());
    for (const char* name : {"edtPCache", "edtCacheSize", "edtFPS", "edtNetspeed", "edtRefreshrate"})
        s.rest << Edit(name)->text();
    s.rest << pickScreenmode_->currentText();
    for (const QComboBox* list : textureLists_) s.rest << list->currentText();
    return s;
}

bool TUT2k4SettingsPage::UT2k4SettingsChanged() const {
    const Snapshot now = Take();
    if (now.checks != snapshot_.checks) return true;
    return ctx_.state.PagesLoaded && now.rest != snapshot_.rest;
}

} // namespace settings
