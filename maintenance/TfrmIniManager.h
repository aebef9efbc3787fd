#pragma once
#include <QDialog>
#include <functional>

class QListWidget;
class QPushButton;

namespace ui {
struct PageContext;
}

namespace maintenance {

// The backup manager: dated backups listed, restored and deleted; the .BAK pair.
class TfrmIniManager final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmIniManager)
public:
    struct Actions {
        std::function<void()> backup;         // BackupIniFiles(true)
        std::function<void()> reloadAllPages; // after the files changed
    };
    TfrmIniManager(ui::PageContext& ctx, Actions actions, QWidget* parent = nullptr);

    QListWidget* treelist = nullptr;
    QPushButton* btnRestore = nullptr;
    QPushButton* btnDel = nullptr;
    QPushButton* btnBAK = nullptr;
    QPushButton* btnBackup = nullptr;

public slots:
    void FormCreate();
    void RefreshBakButton();
    void btnRestoreClick();
    void btnDelClick();
    void btnBAKClick();
    void btnBackupClick();

private:
    QString Dir() const;
    QString File(const QString& name) const;
    QString Selected() const;

    ui::PageContext& ctx_;
    Actions actions_;
};

} // namespace maintenance
