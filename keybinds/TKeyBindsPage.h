#pragma once
#include "ini/PageWrites.h"

#include <QStringList>
#include <QWidget>
#include <vector>

class QGroupBox;
class QLineEdit;
class QScrollArea;

namespace ini {
class TIniFile;
}
namespace ui {
struct PageContext;
class GameDefaults;
}
class QPushButton;

namespace keybinds {

// The "Key binds" tab: one field per key of [Engine.Input], grouped, and the
// "Define own key" group. Owns its fields and its snapshot.
class TKeyBindsPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TKeyBindsPage)
public:
    explicit TKeyBindsPage(ui::PageContext& ctx, QWidget* parent = nullptr);

    // Both report their own errors ("Error occured:") and return false then,
    // leaving the snapshot as it was.
    bool LoadKeyBinds();
    bool SaveKeyBinds();
    bool KeyBindsChanged() const;
    // The keys a save would write now: those whose field the player changed.
    std::vector<ini::PendingWrite> PendingChanges() const;
    ui::GameDefaults& Defaults() const { return *defaults_; }

    QLineEdit* Field(const char* objectName) const;

public slots:
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    // "Define own key": a key released in the key field names it.
    void edtCharNoCheckKeyUp(int virtualKey);
    // Raises on a failed write: the caller's general error report shows it.
    void btnSaveClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ClearGroup(int group);
    QStringList SnapshotTexts() const;

    ui::PageContext& ctx_;
    QLineEdit* edtCharNoCheck_ = nullptr;
    QLineEdit* edtCommandNoCheck_ = nullptr;
    QPushButton* btnSave_ = nullptr;
    QScrollArea* ScrollBox1_ = nullptr;
    std::vector<QGroupBox*> groups_;
    std::vector<QLineEdit*> rowFields_; // parallel to KeyRows()
    QStringList snapshot_;
    ini::PageBaseline baseline_;
    ui::GameDefaults* defaults_ = nullptr;
    void CollectWrites(ini::PageWrites& w) const;
};

} // namespace keybinds
