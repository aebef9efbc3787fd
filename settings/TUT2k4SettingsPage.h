#pragma once
#include "ini/PageWrites.h"

#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace ini {
class TIniFile;
}
namespace ui {
struct PageContext;
class GameDefaults;
}

namespace settings {

class LabeledSlider;

// The "UT2004 Settings" tab: render device and its options, screen, detail,
// sound, cache and network, all from UT2004.ini.
class TUT2k4SettingsPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TUT2k4SettingsPage)
public:
    explicit TUT2k4SettingsPage(ui::PageContext& ctx, QWidget* parent = nullptr);
    ~TUT2k4SettingsPage() override;

    bool LoadUT2k4Settings();
    bool SaveUT2k4Settings();
    bool UT2k4SettingsChanged() const;
    // The keys a save would write now: those whose control the player changed.
    std::vector<ini::PendingWrite> PendingChanges() const;
    // Every key a save of the page may write, each with its control.
    std::vector<ini::PendingWrite> EveryWrite() const;
    ui::GameDefaults& Defaults() const { return *defaults_; }

    LabeledSlider& Slider(const char* name) const;
    // The option group of each device, in RenderDevices() order.
    QGroupBox* DeviceGroup(int device) const { return deviceGroups_[device]; }
    QRadioButton* DeviceRadio(int device) const { return deviceRadios_[device]; }
    // The build of the game can draw with the device (RenderDevices() order).
    bool DeviceOffered(int device) const { return offered_[device]; }

public slots:
    void rbDirect3dClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Snapshot {
        std::vector<bool> checks;
        QStringList rest;
        bool operator==(const Snapshot&) const = default;
    };
    Snapshot Take() const;
    void LoadTextureDetail(QComboBox* list, const char* key);
    void CollectTextureDetail(ini::PageWrites& w, QComboBox* list, const char* key) const;
    void CollectWrites(ini::PageWrites& w) const;
    void FillScreenModes();
    // Only the devices the build has can be chosen; a stored one it lacks
    // stays shown, with a note, until the player picks another.
    void ShowDevicesOfBuild();
    void LoadScreenMode(const ini::TIniFile& main, const std::string& viewport);
    QCheckBox* Check(const char* name) const;
    QLineEdit* Edit(const char* name) const;

    ui::PageContext& ctx_;
    QWidget* panel_ = nullptr;
    std::vector<std::unique_ptr<LabeledSlider>> sliders_;
    std::vector<QGroupBox*> deviceGroups_;
    std::vector<QRadioButton*> deviceRadios_;
    std::vector<QComboBox*> textureLists_;
    QComboBox* pickScreenmode_ = nullptr;
    QButtonGroup* radioGroup_ = nullptr;
    std::vector<bool> offered_ = std::vector<bool>(5, true);
    QLabel* lblDeviceNote_ = nullptr;
    ini::PageBaseline baseline_;
    ui::GameDefaults* defaults_ = nullptr;
    Snapshot snapshot_;
};

} // namespace settings
