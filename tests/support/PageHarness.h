#pragma once
#include "ini/IniHandles.h"
#include "tests/support/GameFolder.h"
#include "tests/support/ScriptedPrompter.h"
#include "ui/PageContext.h"

#include <QStringList>
#include <memory>

namespace testsupport {

// A page's world without the main window: a scratch game folder, the shared
// handles on it, a scripted prompter, and a general error report that
// records what reached it.
struct PageHarness {
    GameFolder game;
    ScriptedPrompter prompter;
    ini::IniHandles handles;
    QStringList reported;
    ui::StartupState state;
    ui::PageContext ctx{prompter, handles, state, [this](const std::function<void()>& f) {
                            try {
                                f();
                            } catch (const std::exception& e) {
                                reported << QString::fromStdString(e.what());
                            }
                        }};

    PageHarness() {
        state.SystemDir = game.SystemDir();
        state.ProgramDir = game.ProgramDir();
        handles.UserIni = std::make_unique<ini::TIniFile>(UserIniPath().toStdString());
        handles.Ut2004Ini = std::make_unique<ini::TIniFile>(
            MainIniPath().toStdString());
    }
    QString UserIniPath() const { return game.SystemDir() + QStringLiteral("User.ini"); }
    QString MainIniPath() const { return game.SystemDir() + QStringLiteral("UT2004.ini"); }
    // A value as the file now holds it; "<missing>" when it has none.
    QString User(const char* section, const char* key) const { return read(*handles.UserIni, section, key); }
    QString Main(const char* section, const char* key) const { return read(*handles.Ut2004Ini, section, key); }

private:
    static QString read(const ini::TIniFile& f, const char* section, const char* key) {
        return QString::fromStdString(f.ReadText(section, key, "<missing>"));
    }
};

// A page's control by its object name.
template <class T>
T* Find(const QObject* root, const char* name) {
    return root->findChild<T*>(QString::fromLatin1(name));
}

} // namespace testsupport
