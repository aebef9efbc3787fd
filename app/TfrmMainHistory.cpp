// The main window's commands around saving: review what a save would write,
// the history of earlier versions, and undo.
#include "app/TfrmMain.h"

#include "app/TfrmReview.h"
#include "ini/PageWrites.h"
#include "instantaction/TInstantActionPage.h"
#include "keybinds/TAliasesPage.h"
#include "keybinds/TKeyBindsPage.h"
#include "maintenance/IniDiff.h"
#include "maintenance/SaveHistory.h"
#include "platform/Files.h"
#include "platform/GameProcess.h"
#include "settings/TGeneralSettingsPage.h"
#include "settings/TUT2k4SettingsPage.h"
#include "ui/ControlLabel.h"
#include "ui/Prompter.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
QString When(const QDateTime& t) { return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

// A control as the player reads it on its page, not by its object name.
QString ControlCaption(const QWidget* page, const std::string& source) {
    const QString name = Q(source);
    const auto* control = page->findChild<QWidget*>(name);
    return control ? ui::VisibleLabel(control) : name;
}

QString KeyId(const QString& path, const QString& section, const QString& key) {
    const QFileInfo file(path);
    return (file.exists() ? file.canonicalFilePath() : file.absoluteFilePath()) +
           QLatin1Char('\n') + section.toLower() + QLatin1Char('\n') + key.toLower();
}

} // namespace

QStringList TfrmMain::GameFiles() const {
    if (SystemDir.isEmpty()) return {};
    return {SystemDir + CurrentUserIniName, SystemDir + QStringLiteral("UT2004.ini")};
}

bool TfrmMain::MayReplaceGameFiles(bool restoring) {
    if (SystemDir.isEmpty()) return true;
    // The game folder, not the player's: a native install keeps his files
    // in ~/.ut2004 while the game runs from its own folder.
    const QString gameDir = QDir::cleanPath(GameSystem() + QStringLiteral(".."));
    if (platform::RunningGameProcesses(gameDir, WinePrefix).empty()) return true;
    return prompter_.Confirm(restoring
                                 ? QStringLiteral("UT2004 is running. It will overwrite these "
                                                  "settings when it exits. Restore anyway?")
                                 : QStringLiteral("UT2004 is running. It will overwrite these "
                                                  "settings when it exits. Save anyway?"),
                             ui::Answer::No);
}

std::vector<ReviewRow> TfrmMain::PendingReview() const {
    if (!PageCtrl_->isEnabled()) return {};
    // In the savers' order, so the list reads as the save writes.
    const std::pair<QWidget*, std::function<std::vector<ini::PendingWrite>()>> pages[] = {
        {keyBinds_, [this] { return keyBinds_->PendingChanges(); }},
        {aliases_, [this] { return aliases_->PendingChanges(); }},
        {general_, [this] { return general_->PendingChanges(); }},
        {instantAction_, [this] { return instantAction_->PendingChanges(); }},
        {ut2k4_, [this] { return ut2k4_->PendingChanges(); }},
    };
    static constexpr const char* kMissing = "\x01";
    std::vector<ReviewRow> rows;
    for (const auto& [page, pending] : pages) {
        const QString caption = PageCtrl_->tabText(PageCtrl_->indexOf(page));
        for (const auto& w : pending()) {
            const std::string now = w.file->ReadText(w.section, w.key, kMissing);
            ReviewRow row;
            row.file = QFileInfo(Q(w.file->FileName())).fileName();
            row.section = Q(w.section);
            row.key = Q(w.key);
            row.added = now == kMissing;
            row.now = row.added ? QString() : Q(now);
            row.next = Q(ini::WrittenText(w));
            row.page = caption;
            row.control = ControlCaption(page, w.source);
            rows.push_back(std::move(row));
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const ReviewRow& a, const ReviewRow& b) { return a.file < b.file; });
    return rows;
}

bool TfrmMain::RunReview(const std::vector<ReviewRow>& rows) {
    TfrmReview dialog(QStringLiteral("Review changes"), rows, true, this);
    return dialog.exec() == QDialog::Accepted;
}

void TfrmMain::Review1Click() {
    if (!PageCtrl_->isEnabled()) return;
    CommitEdits();
    if (RunReview(PendingReview())) SaveCommand(false);
}

namespace {

bool IsUndo(const maintenance::HistoryEntry& e) {
    return e.command.startsWith(QStringLiteral("Undo \""));
}
bool IsRedo(const maintenance::HistoryEntry& e) {
    return e.command.startsWith(QStringLiteral("Redo \""));
}

// Undo walks back: each undo in the history has taken back the latest
// command before it that no other undo took back, so the next one to take
// back is the newest command left over. A redo is a command like a save.
std::optional<maintenance::HistoryEntry>
ToUndo(const std::vector<maintenance::HistoryEntry>& newestFirst) {
    int undone = 0;
    for (const auto& e : newestFirst) {
        if (IsUndo(e))
            ++undone;
        else if (undone > 0)
            --undone;
        else
            return e;
    }
    return std::nullopt;
}

// The undo a redo puts back: the newest one no redo has put back yet, as
// long as no other command came after it.
std::optional<maintenance::HistoryEntry>
ToRedo(const std::vector<maintenance::HistoryEntry>& newestFirst) {
    int redone = 0;
    for (const auto& e : newestFirst) {
        if (IsRedo(e))
            ++redone;
        else if (!IsUndo(e))
            return std::nullopt;
        else if (redone > 0)
            --redone;
        else
            return e;
    }
    return std::nullopt;
}

} // namespace

void TfrmMain::Undolastsave1Click() {
    if (!PageCtrl_->isEnabled()) return;
    const auto target = ToUndo(history_->Entries());
    if (!target) {
        prompter_.Information(QStringLiteral("There is no save to undo."));
        return;
    }
    PutBackEntry(target->id, true);
}

void TfrmMain::Redolastundo1Click() {
    if (!PageCtrl_->isEnabled()) return;
    const auto target = ToRedo(history_->Entries());
    if (!target) {
        prompter_.Information(QStringLiteral("There is no undo to redo."));
        return;
    }
    // "Undo "Save"" is redone as "Redo "Save"".
    PutBackEntry(target->id, true, QStringLiteral("Redo ") + target->command.mid(5));
}

void TfrmMain::PutBackEntry(const QString& id, bool latest, const QString& command) {
    const auto entry = history_->Find(id);
    if (!entry) return;
    QStringList names, paths;
    for (const auto& f : entry->files) {
        names << QFileInfo(f.path).fileName();
        paths << f.path;
    }
    // One file is put back "as it was", two "as they were".
    const bool one = names.size() == 1;
    const QString values = entry->changedKeys == 1
                               ? QStringLiteral("1 changed value")
                               : QStringLiteral("%1 changed values").arg(entry->changedKeys);
    if (!prompter_.Confirm(
            (one ? QStringLiteral("Put back %1 as it was before \"%2\" of %3 (%4)?")
                 : QStringLiteral("Put back %1 as they were before \"%2\" of %3 (%4)?"))
                .arg(names.join(QStringLiteral(" and ")), entry->command, When(entry->time),
                     values),
            ui::Answer::No))
        return;
    // A file another program changed after the command is not overwritten
    // unasked. An older entry is put back on purpose over later saves.
    QStringList keep;
    if (latest)
        for (const QString& path : maintenance::ChangedSince(*entry)) {
            const auto answer = prompter_.AskDefault(
                ui::PromptKind::Confirmation,
                QStringLiteral("%1 was changed by another program after \"%2\".\nPut back its earlier version all the "
                               "same?")
                    .arg(QFileInfo(path).fileName(), entry->command),
                ui::Buttons::YesNoCancel, ui::Answer::No);
            if (answer == ui::Answer::Cancel) return;
            if (answer == ui::Answer::No) keep << path;
        }
    if (keep.size() == static_cast<qsizetype>(entry->files.size())) return;
    QStringList targets;
    for (const QString& path : paths)
        if (!keep.contains(path)) targets << path;
    const QString failed =
        one ? QStringLiteral("The file could not be put back; it is as it was.")
            : QStringLiteral("The files could not be put back; they are as they were.");
    if (!ReplaceGameFiles(
            {command.isEmpty() ? QStringLiteral("Undo \"%1\"").arg(entry->command) : command,
             QStringLiteral("Putting back the files"), targets,
             QStringLiteral("Nothing was put back."), [&] {
                 if (maintenance::PutBack(*entry, keep)) return true;
                 prompter_.Error(failed);
                 return false;
             }}))
        return;
    ReloadAllPages();
    prompter_.Information(one ? QStringLiteral("The file has been put back.")
                              : QStringLiteral("The files have been put back."));
}

void TfrmMain::KeepBeforeUpdate(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    bool gameFile = false;
    for (const QString& f : GameFiles()) gameFile = gameFile || QFileInfo(f).canonicalFilePath() == canonical;
    if (!gameFile) return;
    for (const auto& [kept, bytes] : beforeUpdate_)
        if (kept == canonical) return; // the first version of the run is the one to keep
    QFile f(canonical);
    if (f.open(QIODevice::ReadOnly)) beforeUpdate_.emplace_back(canonical, f.readAll());
}

void TfrmMain::KeepUpdateInHistory() {
    std::vector<maintenance::HistoryFile> files;
    for (auto& [path, before] : beforeUpdate_) {
        QFile f(path);
        files.push_back({path, std::move(before), f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray()});
    }
    beforeUpdate_.clear();
    if (!files.empty()) history_->Add(QStringLiteral("Update"), std::move(files));
}

void TfrmMain::ShowEntryChanges(const QString& id) {
    const auto entry = history_->Find(id);
    if (!entry) return;
    // Which page and control a key belongs to, as the pages write them now.
    QHash<QString, std::pair<QString, QString>> owners;
    const std::pair<QWidget*, std::vector<ini::PendingWrite>> pages[] = {
        {keyBinds_, keyBinds_->EveryWrite()}, {aliases_, aliases_->EveryWrite()},
        {general_, general_->EveryWrite()},   {instantAction_, instantAction_->EveryWrite()},
        {ut2k4_, ut2k4_->EveryWrite()},
    };
    for (const auto& [page, writes] : pages) {
        const QString caption = PageCtrl_->tabText(PageCtrl_->indexOf(page));
        for (const auto& w : writes)
            owners.insert(KeyId(Q(w.file->FileName()), Q(w.section), Q(w.key)),
                          {caption, ControlCaption(page, w.source)});
    }
    std::vector<ReviewRow> rows;
    for (const auto& f : entry->files)
        for (const auto& c : maintenance::ChangedValues(f.before, f.after)) {
            const auto owner = owners.value(KeyId(f.path, c.section, c.key));
            rows.push_back({QFileInfo(f.path).fileName(), c.section, c.key, c.before, c.after,
                            owner.first, owner.second, c.added, c.removed});
        }
    TfrmReview dialog(QStringLiteral("%1 of %2").arg(entry->command, When(entry->time)), rows, false, this);
    dialog.exec();
}

void TfrmMain::Savehistory1Click() {
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("frmHistory"));
    dialog.setWindowTitle(QStringLiteral("Save history"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* list = new QTreeWidget(&dialog);
    list->setObjectName(QStringLiteral("tvHistory"));
    list->setRootIsDecorated(false);
    list->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Command"), QStringLiteral("Changed values"),
                           QStringLiteral("Files")});
    const auto entries = history_->Entries();
    for (const auto& e : entries) {
        QStringList files;
        for (const auto& f : e.files) files << QFileInfo(f.path).fileName();
        auto* item = new QTreeWidgetItem(list, {When(e.time), e.command, QString::number(e.changedKeys),
                                                files.join(QStringLiteral(", "))});
        item->setData(0, Qt::UserRole, e.id);
    }
    for (int c = 0; c < 4; ++c) list->resizeColumnToContents(c);
    if (list->topLevelItemCount() > 0) list->setCurrentItem(list->topLevelItem(0));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(&dialog);
    auto* show = buttons->addButton(QStringLiteral("Show &changes"), QDialogButtonBox::ActionRole);
    show->setObjectName(QStringLiteral("btnHistoryChanges"));
    auto* restore = buttons->addButton(QStringLiteral("&Put back"), QDialogButtonBox::ActionRole);
    restore->setObjectName(QStringLiteral("btnHistoryRestore"));
    restore->setEnabled(PageCtrl_->isEnabled());
    buttons->addButton(QDialogButtonBox::Close)->setObjectName(QStringLiteral("btnHistoryClose"));
    for (auto* b : {show, restore}) b->setEnabled(b->isEnabled() && !entries.empty());
    auto selected = [list] {
        const auto* item = list->currentItem();
        return item ? item->data(0, Qt::UserRole).toString() : QString();
    };
    connect(show, &QPushButton::clicked, &dialog, [this, selected] { Guarded([&] { ShowEntryChanges(selected()); }); });
    connect(restore, &QPushButton::clicked, &dialog, [this, selected, list, &dialog] {
        const bool latest = list->currentItem() == list->topLevelItem(0);
        Guarded([&] { PutBackEntry(selected(), latest); });
        dialog.accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    dialog.resize(640, 360);
    dialog.exec();
}

} // namespace app
