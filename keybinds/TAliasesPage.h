#pragma once
#include "ini/PageWrites.h"

#include <QStringList>
#include <QWidget>

class QTableWidget;

namespace ui {
struct PageContext;
}

namespace keybinds {

// The "Aliases" tab: the Aliases[n] entries of [Engine.Input] as a two-column
// grid, values edited as plain text.
class TAliasesPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TAliasesPage)
public:
    static constexpr int kRows = 51;  // rows shown
    static constexpr int kSlots = 46; // rows loaded, saved and compared

    explicit TAliasesPage(ui::PageContext& ctx, QWidget* parent = nullptr);

    // Reports its own errors and returns false then.
    bool LoadAliases();
    // Lets a failed write through to the caller.
    void SaveAliases();
    bool AliasesChanged() const;
    // The keys a save would write now: those whose field the player changed.
    std::vector<ini::PendingWrite> PendingChanges() const;
    // Every key a save of the page may write, each with its control.
    std::vector<ini::PendingWrite> EveryWrite() const;

    // Row access by name, ignoring letter case; a missing name reads empty.
    QString Value(const QString& name) const;
    void SetValue(const QString& name, const QString& value);

private:
    QStringList SlotValues() const;

    ui::PageContext& ctx_;
    QTableWidget* vlEdt_ = nullptr;
    QStringList snapshot_;
    ini::PageBaseline baseline_;
    void CollectWrites(ini::PageWrites& w) const;
};

} // namespace keybinds
