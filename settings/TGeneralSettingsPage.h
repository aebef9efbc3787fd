#pragma once
#include "ini/PageWrites.h"

#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QSlider;
class QTableWidget;

namespace ui {
struct PageContext;
class GameDefaults;
}

namespace settings {

class LabeledSlider;

// The "General Settings" tab: player, controls, sounds, HUD, view values and
// the weapon priorities, from the user file (one key from UT2004.ini).
class TGeneralSettingsPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TGeneralSettingsPage)
public:
    explicit TGeneralSettingsPage(ui::PageContext& ctx, QWidget* parent = nullptr);
    ~TGeneralSettingsPage() override;

    // Both report their own errors ("Error occurred:") and return false then.
    bool LoadGeneralSettings();
    bool SaveGeneralSettings();
    bool GeneralSettingsChanged() const;
    // The keys a save would write now: those whose control the player changed.
    std::vector<ini::PendingWrite> PendingChanges() const;
    // Every key a save of the page may write, each with its control.
    std::vector<ini::PendingWrite> EveryWrite() const;
    ui::GameDefaults& Defaults() const { return *defaults_; }

    void FillCharacterList();
    // Name of the weapon row keyed `key` (first match, ignoring case); "" when none.
    QString WeaponAt(const QString& key) const;
    void SetWeapon(const QString& key, const QString& name);
    int WeaponRowCount() const;
    LabeledSlider& Slider(const char* name) const;

public slots:
    void sbtnUpClick();
    void sbtnDownClick();
    void cbWeaponBobClick();
    void cbHUDClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Snapshot {
        std::vector<bool> checks;
        QStringList rest; // row names, slider positions, texts
    };
    Snapshot Take() const;
    void LoadWeaponPriorities();
    void CollectWeaponPriorities(ini::PageWrites& w) const;
    void CollectWrites(ini::PageWrites& w) const;
    void SetTeam(int team);
    void MoveWeapon(int delta);
    void CheckLength(QLineEdit* edit, int minimum, const QString& warning);

    ui::PageContext& ctx_;
    std::vector<std::unique_ptr<LabeledSlider>> sliders_;
    QTableWidget* vlWeapons_ = nullptr;
    QComboBox* dropChar_ = nullptr;
    QLineEdit* edtStatsUser_ = nullptr;
    QLineEdit* edtStatsPass_ = nullptr;
    QRadioButton* rbTeamRed_ = nullptr;
    QRadioButton* rbTeamBlue_ = nullptr;
    Snapshot snapshot_;
    ini::PageBaseline baseline_;
    ui::GameDefaults* defaults_ = nullptr;
    bool checkingLength_ = false;
};

// Sets whether a slider shows its thumb (the slider stays in the layout).
void SetThumbVisible(QSlider* slider, bool visible);

} // namespace settings
