#pragma once
#include "ini/PageWrites.h"
#include "platform/Keyboard.h"

#include <QSet>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QScrollArea;

namespace ini {
class TIniFile;
}
namespace ui {
struct PageContext;
class GameDefaults;
} // namespace ui
class QPushButton;

namespace keybinds {

class KeyFlow;

// The "Key binds" tab: one field per key of [Engine.Input], grouped, and the
// "Define own key" group. Owns its fields and its snapshot.
class TKeyBindsPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TKeyBindsPage)
public:
    explicit TKeyBindsPage(ui::PageContext& ctx, QWidget* parent = nullptr);

    // Both report their own errors ("Error occurred:") and return false then,
    // leaving the snapshot as it was.
    bool LoadKeyBinds();
    bool SaveKeyBinds();
    bool KeyBindsChanged() const;
    // The keys a save would write now: those whose field the player changed.
    std::vector<ini::PendingWrite> PendingChanges() const;
    // Every key a save of the page may write, each with its control.
    std::vector<ini::PendingWrite> EveryWrite() const;
    ui::GameDefaults& Defaults() const { return *defaults_; }

    QLineEdit* Field(const char* objectName) const;
    // The other keys whose command is the same as this field's (letter case
    // and spacing aside); empty for an empty field.
    QStringList SharedWith(const QLineEdit* field) const;
    // Where the key field reads the keyboard's map; the display's own unless
    // a test hands in the map of a layout.
    void SetKeyboardMapSource(std::function<platform::KeyboardMap()> source) {
        keyboardMap_ = std::move(source);
    }

public slots:
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void SpeedButton6Click();
    // "Define own key": a key released in the key field names it.
    // A key the game has no name for keeps the previous key and is refused
    // with a message naming it as the system does (nativeName).
    void edtCharNoCheckKeyUp(int virtualKey, const QString& nativeName = {});
    // Raises on a failed write: the caller's general error report shows it.
    void btnSaveClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ClearGroup(int group);
    QStringList SnapshotTexts() const;
    void BuildGroups(QWidget* content);
    void ArrangeGroup(int group, int columns);
    int VisibleRows(int group) const;
    // Tool tips, the mark on keys that share a command, the status line.
    void FieldEdited(std::size_t row);
    void MarkSharedCommands();
    void ShowStatus(std::size_t row);
    void ApplySearch();
    bool HighlightRow(std::size_t row, const QString& q);
    QString KeyName(std::size_t row) const;
    bool CaptureEvent(QEvent* event);

    ui::PageContext& ctx_;
    QLineEdit* edtCharNoCheck_ = nullptr;
    QLineEdit* edtCommandNoCheck_ = nullptr;
    QPushButton* btnSave_ = nullptr;
    QScrollArea* ScrollBox1_ = nullptr;
    std::vector<QGroupBox*> groups_;
    std::vector<QLineEdit*> rowFields_;   // parallel to KeyRows()
    std::vector<QLabel*> rowLabels_;      // parallel to KeyRows()
    std::vector<QStringList> sharedWith_; // parallel to KeyRows()
    std::vector<QAction*> sharedMarks_;   // parallel to KeyRows(), made when first needed
    std::vector<bool> rowShown_;          // parallel to KeyRows(): passes the search
    KeyFlow* flow_ = nullptr;
    QLineEdit* edtSearch_ = nullptr;
    QLabel* lblSearchCount_ = nullptr;
    QLabel* lblStatus_ = nullptr;
    int focusedRow_ = -1;
    bool bulkEdit_ = false; // a load or a clear: mark once at its end
    QStringList snapshot_;
    ini::PageBaseline baseline_;
    ui::GameDefaults* defaults_ = nullptr;
    std::function<platform::KeyboardMap()> keyboardMap_ = &platform::CurrentKeyboardMap;
    QSet<quint64> pressedInKeyField_; // keys whose press the key field itself took
    quint64 lastReleased_ = 0;        // the key last let go in the key field, and when
    quint64 lastReleaseTime_ = 0;
    void CollectWrites(ini::PageWrites& w) const;
};

} // namespace keybinds
