#include "maintenance/TfrmIniManager.h"

#include "maintenance/Backups.h"
#include "platform/Files.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace maintenance {

TfrmIniManager::TfrmIniManager(ui::PageContext& ctx, Actions actions, QWidget* parent)
    : QDialog(parent, Qt::Tool), ctx_(ctx), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("frmIniManager"));
    setWindowTitle(QStringLiteral("Backed-up Ini Manager"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Backups found: (showing date)"), this));
    treelist = new QListWidget(this);
    treelist->setObjectName(QStringLiteral("treelist"));
    treelist->setSelectionMode(QAbstractItemView::SingleSelection);
    layout->addWidget(treelist);
    auto button = [&](const char* name, const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        layout->addWidget(b);
        return b;
    };
    btnRestore = button("btnRestore", "Restore the settings from selected date");
    btnDel = button("btnDel", "Delete the backup from selected date");
    btnBAK = button("btnBAK", "Restore the .BAK files");
    btnBackup = button("btnBackup", "Make a backup of the current settings");
    auto guarded = [this](void (TfrmIniManager::*f)()) {
        return [this, f] { ctx_.guarded([this, f] { (this->*f)(); }); };
    };
    connect(btnRestore, &QPushButton::clicked, this, guarded(&TfrmIniManager::btnRestoreClick));
    connect(treelist, &QListWidget::itemDoubleClicked, this, guarded(&TfrmIniManager::btnRestoreClick));
    connect(btnDel, &QPushButton::clicked, this, guarded(&TfrmIniManager::btnDelClick));
    connect(btnBAK, &QPushButton::clicked, this, guarded(&TfrmIniManager::btnBAKClick));
    connect(btnBackup, &QPushButton::clicked, this, guarded(&TfrmIniManager::btnBackupClick));
    resize(360, 380);
    FormCreate();
}

QString TfrmIniManager::Dir() const { return ctx_.state.SystemDir; }

// Names are matched ignoring letter case everywhere, as the game's own
// platform does: a pair named user_2-2-2003.ini is restored like any other.
QString TfrmIniManager::File(const QString& name) const { return platform::FindIgnoringCase(Dir(), name); }

QString TfrmIniManager::Selected() const {
    const auto items = treelist->selectedItems();
    return items.isEmpty() ? QString() : items.first()->text();
}

void TfrmIniManager::FormCreate() {
    treelist->clear();
    const QStringList files = QDir(Dir()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& f : files)
        if (f.startsWith(QStringLiteral("USER_"), Qt::CaseInsensitive) && f.endsWith(QStringLiteral(".INI"), Qt::CaseInsensitive) &&
            f.size() > 9)
            treelist->addItem(f.mid(5, f.size() - 9));
    RefreshBakButton();
}

void TfrmIniManager::RefreshBakButton() {
    const QString bak = File(QStringLiteral("User.BAK"));
    if (QFile::exists(bak)) {
        btnBAK->setText(QStringLiteral("Restore the .BAK files (") + platform::DateText(platform::LastWriteDate(bak)) +
                        QStringLiteral(")"));
        btnBAK->setEnabled(true);
    } else {
        btnBAK->setText(QStringLiteral("Restore the .BAK files"));
        btnBAK->setEnabled(false);
    }
}

void TfrmIniManager::btnRestoreClick() {
    const QString date = Selected();
    if (date.isEmpty()) return;
    auto& p = ctx_.prompter;
    if (!p.Confirm(
            QStringLiteral(
                "The current settings will be backed up\nAre you sure you want to restore the ") +
                date + QStringLiteral(" settings?"),
            ui::Answer::No))
        return;
    const QString user = File(QStringLiteral("User.ini"));
    const QString engine = File(QStringLiteral("UT2004.INI"));
    const auto step = [&] {
        // One change for the pair, so a crash never leaves a .BAK pair of two
        // different days; the earlier pair stays until the new one is in place.
        const bool kept = platform::ReplaceFiles({{user, File(QStringLiteral("User.BAK"))},
                                                  {engine, File(QStringLiteral("UT2004.BAK"))}});
        if (kept)
            RefreshBakButton();
        else if (p.AskDefault(
                     ui::PromptKind::Warning,
                     QStringLiteral(
                         "Could not backup the current INI files\nWant to continue anyway?"),
                     ui::Buttons::YesNo, ui::Answer::No) != ui::Answer::Yes)
            return false;
        // Both files are replaced together or not at all, so a missing engine
        // backup leaves the current files as they were.
        if (!platform::ReplaceFiles(
                {{File(UserBackupName(date)), user}, {File(EngineBackupName(date)), engine}})) {
            p.Warning(QStringLiteral("Could not copy the files\nSettings have not been restored"));
            return false;
        }
        return true;
    };
    if (!ctx_.ReplaceFiles({QStringLiteral("Restore the backup of ") + date,
                            QStringLiteral("Restoring the backup"),
                            {user, engine},
                            QStringLiteral("Settings have not been restored"),
                            step}))
        return;
    actions_.reloadAllPages();
    p.Information(QStringLiteral("The settings are restored\nYour previous settings are now in the "
                                 "User.BAK and UT2004.BAK files"));
}

void TfrmIniManager::btnBAKClick() {
    const QString user = File(QStringLiteral("User.ini"));
    const QString engine = File(QStringLiteral("UT2004.ini"));
    const auto step = [&] {
        // An exchange, so that the replaced settings really are in the .BAK files
        // now; both pairs as one change, so the INI files never end up from two days.
        if (platform::ExchangeFiles({{File(QStringLiteral("User.BAK")), user},
                                     {File(QStringLiteral("UT2004.BAK")), engine}}))
            return true;
        ctx_.prompter.Warning(QStringLiteral("Could not copy the files\nSettings have not been restored"));
        return false;
    };
    if (!ctx_.ReplaceFiles({QStringLiteral("Restore the .BAK files"),
                            QStringLiteral("Restoring the .BAK files"),
                            {user, engine},
                            QStringLiteral("Settings have not been restored"),
                            step}))
        return;
    RefreshBakButton();
    actions_.reloadAllPages();
    ctx_.prompter.Information(
        QStringLiteral("The settings are restored\nYour old settings are now in the User.BAK and UT2004.BAK files"));
}

void TfrmIniManager::btnDelClick() {
    const QString date = Selected();
    if (date.isEmpty()) return;
    if (!ctx_.prompter.Confirm(QStringLiteral("Are you sure you want to delete the backup from ") + date, ui::Answer::No))
        return;
    QFile::remove(File(UserBackupName(date)));
    QFile::remove(File(EngineBackupName(date)));
    delete treelist->selectedItems().first();
}

void TfrmIniManager::btnBackupClick() {
    actions_.backup();
    FormCreate();
}

} // namespace maintenance
