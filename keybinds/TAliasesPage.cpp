#include "keybinds/TAliasesPage.h"

#include "ini/IniHandles.h"
#include "keybinds/KeyTable.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace keybinds {

namespace {
const QString kEmptySlot = QStringLiteral("(Command=\"\",Alias=\"None\")");
QString slotName(int n) { return QStringLiteral("Aliases[%1]").arg(n); }
} // namespace

TAliasesPage::TAliasesPage(ui::PageContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("tabAliases"));
    auto* outer = new QVBoxLayout(this);
    auto* box = new QGroupBox(QStringLiteral("Aliases"), this);
    box->setObjectName(QStringLiteral("GroupBoxAliases"));
    outer->addWidget(box);
    auto* layout = new QVBoxLayout(box);
    auto* info = new QLabel(
        QStringLiteral("Aliases are a sequence of commands which can be activated by one key. You "
                       "input the commands \nyou want executed, give those commands a name (the "
                       "alias), then bind that name to a key. \nWhen you press the key, all the "
                       "commands that you have specified for that alias get executed. "),
        box);
    info->setObjectName(QStringLiteral("lblAliasInfo"));
    layout->addWidget(info);
    vlEdt_ = new QTableWidget(kRows, 2, box);
    vlEdt_->setObjectName(QStringLiteral("vlEdt"));
    vlEdt_->setHorizontalHeaderLabels({QStringLiteral("Alias"), QStringLiteral("Value")});
    vlEdt_->verticalHeader()->hide();
    vlEdt_->verticalHeader()->setDefaultSectionSize(vlEdt_->fontMetrics().height() + 8);
    vlEdt_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    vlEdt_->horizontalHeader()->setStretchLastSection(true);
    vlEdt_->setColumnWidth(0, 110);
    vlEdt_->setSelectionMode(QAbstractItemView::SingleSelection);
    vlEdt_->setEditTriggers(QAbstractItemView::AllEditTriggers);
    for (int r = 0; r < kRows; ++r) {
        auto* name = new QTableWidgetItem(slotName(r));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        vlEdt_->setItem(r, 0, name);
        vlEdt_->setItem(r, 1, new QTableWidgetItem(QString()));
    }
    layout->addWidget(vlEdt_, 1);
    snapshot_ = SlotValues();
}

QString TAliasesPage::Value(const QString& name) const {
    for (int r = 0; r < vlEdt_->rowCount(); ++r)
        if (vlEdt_->item(r, 0)->text().compare(name, Qt::CaseInsensitive) == 0)
            return vlEdt_->item(r, 1)->text();
    return {};
}

void TAliasesPage::SetValue(const QString& name, const QString& value) {
    for (int r = 0; r < vlEdt_->rowCount(); ++r)
        if (vlEdt_->item(r, 0)->text().compare(name, Qt::CaseInsensitive) == 0) {
            vlEdt_->item(r, 1)->setText(value);
            return;
        }
    const int r = vlEdt_->rowCount();
    vlEdt_->insertRow(r);
    auto* item = new QTableWidgetItem(name);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    vlEdt_->setItem(r, 0, item);
    vlEdt_->setItem(r, 1, new QTableWidgetItem(value));
}

QStringList TAliasesPage::SlotValues() const {
    QStringList values;
    for (int n = 0; n < kSlots; ++n) values << Value(slotName(n));
    return values;
}

bool TAliasesPage::LoadAliases() {
    if (!ctx_.ini.UserIni) return false;
    try {
        const std::string empty = kEmptySlot.toStdString();
        for (int n = 0; n < kSlots; ++n)
            SetValue(slotName(n), QString::fromStdString(ctx_.ini.UserIni->ReadText(
                                      kInputSection, slotName(n).toStdString(), empty)));
        ini::PageWrites loaded;
        CollectWrites(loaded);
        baseline_.Reset(loaded);
    } catch (const std::exception& e) {
        // What the failed load left in the controls is no edit of the player:
        // only what is changed from here on may be written.
        ini::PageWrites shown;
        CollectWrites(shown);
        baseline_.Reset(shown);
        ctx_.prompter.Error(QStringLiteral("Error occurred:") + QString::fromStdString(e.what()));
        return false;
    }
    snapshot_ = SlotValues();
    return true;
}

void TAliasesPage::SaveAliases() {
    if (!ctx_.ini.UserIni) return;
    auto& userIni = *ctx_.ini.UserIni;
    ini::TIniFile::Batch batch(userIni);
    ini::PageWrites now;
    CollectWrites(now);
    baseline_.WriteChanged(now);
    batch.finish();
    ini::SaveStep::Remember([this, before = snapshot_] { snapshot_ = before; });
    snapshot_ = SlotValues();
}

void TAliasesPage::CollectWrites(ini::PageWrites& w) const {
    w.From("vlEdt");
    for (int n = 0; n < kSlots; ++n)
        w.Text(*ctx_.ini.UserIni, kInputSection, slotName(n).toStdString(), Value(slotName(n)).toStdString());
}

std::vector<ini::PendingWrite> TAliasesPage::PendingChanges() const {
    if (!ctx_.ini.UserIni) return {};
    ini::PageWrites now;
    CollectWrites(now);
    return baseline_.Changed(now);
}

std::vector<ini::PendingWrite> TAliasesPage::EveryWrite() const {
    if (!ctx_.ini.UserIni) return {};
    ini::PageWrites all;
    CollectWrites(all);
    return all.List();
}

bool TAliasesPage::AliasesChanged() const { return SlotValues() != snapshot_; }

} // namespace keybinds
