#pragma once
#include <QDialog>
#include <QStringList>

class QCheckBox;
class QLineEdit;
class QPushButton;

namespace ini {
class TIniFile;
}
namespace platform {
class Registry;
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
    TfrmInit(const platform::Registry* registry, const QStringList& nativeCandidates,
             const ini::TIniFile& settings, QWidget* parent = nullptr);

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

public slots:
    void btnBrowseClick();
    void CancelBtnClick();

private:
    void ProposeFolder(const platform::Registry* registry, const QStringList& nativeCandidates);
};

} // namespace app
