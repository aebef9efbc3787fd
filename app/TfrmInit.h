#pragma once
#include <QDialog>
#include <QStringList>
#include <vector>

#include "platform/Installs.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ini {
class TIniFile;
}

namespace ui {
class Prompter;
}

namespace app {

// The setup dialog: where the game is, and the start-up options.
class TfrmInit final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmInit)
public:
    // `installs`: every install found, the first proposed.
    TfrmInit(std::vector<platform::Install> installs, platform::HomeEnvironment home,
             const ini::TIniFile& settings, QWidget* parent = nullptr);

    // The installs found, each with its label; choosing one fills diredit.
    QComboBox* pickInstall = nullptr;
    // What the chosen install means for the player (where his files are).
    QLabel* lblInstallNote = nullptr;
    QLineEdit* diredit = nullptr;
    QCheckBox* cbAutoBackup = nullptr;
    QCheckBox* cbAskBackup = nullptr;
    QCheckBox* cbOverrideToday = nullptr;
    QCheckBox* cbUpdates = nullptr;
    QCheckBox* cbShowReadme = nullptr;
    QCheckBox* cbShowChanges = nullptr;
    QPushButton* OKBtn = nullptr;
    QPushButton* CancelBtn = nullptr;
    QPushButton* btnBrowse = nullptr;
    // Browse asks through it.
    ui::Prompter* prompter = nullptr;

    // The install of the folder in diredit: a listed one, or what the
    // typed folder shows. Its gameDir is empty when nothing is typed.
    platform::Install ChosenInstall() const;

public slots:
    void btnBrowseClick();
    void CancelBtnClick();

private:
    void pickInstallChange(int index);
    void ShowInstallNote();
    void ShowFolder(const QString& dir);
    std::vector<platform::Install> installs_;
    platform::HomeEnvironment home_;
};

} // namespace app
