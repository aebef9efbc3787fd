#pragma once
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

class QWidget;

namespace ini {
class PageWrites;
class TIniFile;
struct IniHandles;
} // namespace ini

namespace ui {

struct StartupState;

// "Reset to the game's default" on each control of a page, from the game's
// own DefUser.ini (for the user file) and Default.ini (for UT2004.ini), same
// section and key; a control whose value differs from that default is shown
// in italics, with the default in its tool tip. Which keys a control owns
// comes from the page's own dry run of its save.
class GameDefaults final : public QObject {
    Q_OBJECT
public:
    using Collect = std::function<void(ini::PageWrites&)>;
    GameDefaults(QWidget* page, const StartupState& state, const ini::IniHandles& ini, Collect collect);
    ~GameDefaults() override;

    // After each load and save: the controls' marks follow the files.
    void Refresh();
    // The game's default text of each key the control writes; empty when the
    // default files lack any of them.
    QStringList DefaultsOf(const QWidget* control) const;
    // Sets the control to the game's default; false when there is none.
    bool ResetToDefault(QWidget* control);
    bool DiffersFromDefault(const QWidget* control) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Key;
    std::vector<Key> KeysOf(const QWidget* control) const;
    void Mark(QWidget* control);
    void Mark(QWidget* control, const std::vector<Key>& keys);
    static QStringList DefaultTexts(const std::vector<Key>& keys);
    static bool Differs(const std::vector<Key>& keys);
    void Watch(QWidget* control);
    ini::TIniFile* DefaultFileFor(const ini::TIniFile& file) const;

    QWidget* page_;
    const StartupState& state_;
    const ini::IniHandles& ini_;
    Collect collect_;
    mutable std::unique_ptr<ini::TIniFile> defUser_, defMain_;
    bool marking_ = false;
    // Controls changed since the last marking; marked together once the
    // event loop runs, so a load that sets every control costs one pass.
    QSet<QWidget*> pending_;
    bool markQueued_ = false;
};

} // namespace ui
