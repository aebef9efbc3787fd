#pragma once
#include "ini/PageWrites.h"
#include "instantaction/GameTypes.h"
#include "platform/GameLauncher.h"

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <map>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QSpinBox;
class QStackedWidget;

namespace ui {
struct PageContext;
}

namespace instantaction {

// The "Instant Action" tab: rules of the seven game types, the last
// choices, maps, mutators, preview, and the start of the game.
class TInstantActionPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TInstantActionPage)
public:
    explicit TInstantActionPage(ui::PageContext& ctx, QWidget* parent = nullptr);

    // Neither catches: an error goes to the caller's general error report.
    void LoadGameTypeRules();
    void SaveGameTypeRules();
    // The keys a save would write now: those whose control the player changed.
    std::vector<ini::PendingWrite> PendingChanges() const;
    // Every key a save of the page may write, each with its control.
    std::vector<ini::PendingWrite> EveryWrite() const;

    void SelectGameType(int position);
    void BuildMapList(const QString& prefix);
    void LoadMutatorList();
    QString BuildCommandLine() const;
    void RestoreLastMap();
    QString MapsDir() const { return mapsDir_; }

    // Tests catch the start of the game instead of starting it.
    using Starter = std::function<bool(const platform::GameLaunch&, QString*)>;
    void SetStarterForTesting(Starter s) { starter_ = std::move(s); }

public slots:
    void pickGameTypeChange(int position);
    void lbMutatorsClick();
    void Button1Click();
    void SpeedButton7Click();
    void SpeedButton8Click();
    void spinBotCountChange();

private:
    QString SelectedMap() const;
    void CollectWrites(ini::PageWrites& w) const;
    void LoadRules();
    // "Use translocator" of the group General and the chosen game type's own
    // translocator rule are one setting: each box follows the other, and the
    // general one takes the rule's state when the game type changes.
    void FollowTranslocatorRule();
    void TranslocatorRuleToggled(int gameType, bool on);
    void cbTransToggled(bool on);

    ui::PageContext& ctx_;
    std::map<QString, QWidget*> ruleControls_;
    QComboBox* pickGameType_ = nullptr;
    QStackedWidget* rules_ = nullptr;
    QSpinBox* spinBotCount_ = nullptr;
    QComboBox* pickDiff_ = nullptr;
    QCheckBox* cbTrans_ = nullptr;
    std::array<QCheckBox*, kGameTypeCount> transRules_{}; // null: the type has no such rule
    QListWidget* lbMaps_ = nullptr;
    QListWidget* lbMutators_ = nullptr;
    QLabel* imgMap_ = nullptr;
    QLineEdit* edtCmdLn_ = nullptr;
    QString mapsDir_; // determined on first use, kept until the program ends
    bool refreshing_ = false;
    ini::PageBaseline baseline_;
    Starter starter_ = platform::StartGame;
};

} // namespace instantaction
