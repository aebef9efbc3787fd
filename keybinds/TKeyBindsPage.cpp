#include "keybinds/TKeyBindsPage.h"

#include "ini/IniHandles.h"
#include "keybinds/KeyNames.h"
#include "keybinds/KeyTable.h"
#include "ui/GameDefaults.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>

namespace keybinds {

namespace {

// Columns of label/field pairs per group, so the long groups stay short.
constexpr int kColumns[] = {2, 1, 1, 1, 2, 1};

// Keeps a group's clear button in the top right corner of its frame.
class CornerButtonKeeper final : public QObject {
public:
    CornerButtonKeeper(QGroupBox* box, QToolButton* button) : QObject(box), button_(button) {
        box->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Resize || e->type() == QEvent::Show) {
            auto* box = static_cast<QWidget*>(watched);
            button_->move(box->width() - button_->width() - 6, 0);
            button_->raise();
        }
        return false;
    }

private:
    QToolButton* button_;
};

QString latin(const char* s) { return QString::fromLatin1(s); }

} // namespace

TKeyBindsPage::TKeyBindsPage(ui::PageContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("tabMain"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    ScrollBox1_ = new QScrollArea(this);
    ScrollBox1_->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1_->setWidgetResizable(true);
    outer->addWidget(ScrollBox1_);

    auto* content = new QWidget;
    content->setObjectName(QStringLiteral("ScrollBox1Content"));
    auto* grid = new QGridLayout(content);

    const auto groups = KeyGroups();
    std::vector<int> fieldsInGroup(groups.size(), 0);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        auto* box = new QGroupBox(latin(groups[g].caption), content);
        box->setObjectName(QStringLiteral("GroupBox%1").arg(g + 1));
        auto* layout = new QGridLayout(box);
        layout->setContentsMargins(6, 18, 6, 6);
        layout->setVerticalSpacing(2);
        auto* clear = new QToolButton(box);
        clear->setObjectName(latin(groups[g].clearButton));
        clear->setText(QStringLiteral("x"));
        clear->setToolTip(latin(groups[g].hint));
        clear->setFixedSize(18, 16);
        clear->setFocusPolicy(Qt::NoFocus); // a corner button for the mouse, not a tab stop
        new CornerButtonKeeper(box, clear);
        connect(clear, &QToolButton::clicked, this, [this, g] { ClearGroup(static_cast<int>(g)); });
        groups_.push_back(box);
    }
    // Each group fills its own grid column by column.
    std::vector<int> rowsInGroup(groups.size(), 0);
    for (const auto& row : KeyRows()) ++rowsInGroup[row.group];
    for (const auto& row : KeyRows()) {
        auto* box = groups_[row.group];
        auto* layout = static_cast<QGridLayout*>(box->layout());
        const int cols = kColumns[row.group];
        const int perCol = (rowsInGroup[row.group] + cols - 1) / cols;
        const int i = fieldsInGroup[row.group]++;
        auto* label = new QLabel(latin(row.label), box);
        auto* edit = new QLineEdit(box);
        edit->setObjectName(latin(row.field));
        edit->setFixedWidth(104);
        label->setBuddy(edit);
        layout->addWidget(label, i % perCol, 2 * (i / perCol));
        layout->addWidget(edit, i % perCol, 2 * (i / perCol) + 1);
        rowFields_.push_back(edit);
    }

    // "Define own key": its fields carry "NoCheck" so they stay out of the
    // change tracking of the key table.
    auto* own = new QGroupBox(QStringLiteral("Define own key"), content);
    own->setObjectName(QStringLiteral("GroupBox7"));
    auto* ownLayout = new QVBoxLayout(own);
    auto* label3 = new QLabel(QStringLiteral("Press a letter"), own);
    label3->setObjectName(QStringLiteral("Label3"));
    auto* edtChar = new QLineEdit(QStringLiteral(".."), own);
    edtChar->setObjectName(QStringLiteral("edtCharNoCheck"));
    edtChar->setAlignment(Qt::AlignCenter);
    // Read-only keeps pasted and typed text out; the filter names released keys.
    edtChar->setReadOnly(true);
    edtChar->installEventFilter(this);
    edtCharNoCheck_ = edtChar;
    auto* label2 = new QLabel(QStringLiteral("Current command assigned"), own);
    label2->setObjectName(QStringLiteral("Label2"));
    auto* edtCommand = new QLineEdit(own);
    edtCommand->setObjectName(QStringLiteral("edtCommandNoCheck"));
    auto* btnSave = new QPushButton(QStringLiteral("Save"), own);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    edtCommandNoCheck_ = edtCommand;
    btnSave_ = btnSave;
    connect(btnSave, &QPushButton::clicked, this, [this] { ctx_.guarded([this] { btnSaveClick(); }); });
    for (QWidget* w : {static_cast<QWidget*>(label3), static_cast<QWidget*>(edtChar),
                       static_cast<QWidget*>(label2), static_cast<QWidget*>(edtCommand),
                       static_cast<QWidget*>(btnSave)})
        ownLayout->addWidget(w);
    ownLayout->addStretch();

    // Alpha | Other | Numbers+Functions | Numeric+Joystick+Own
    grid->addWidget(groups_[0], 0, 0, 3, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(groups_[4], 0, 1, 3, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(groups_[1], 0, 2, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(groups_[2], 1, 2, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(groups_[3], 0, 3, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(groups_[5], 1, 3, 2, 1, Qt::AlignLeft | Qt::AlignTop);
    grid->addWidget(own, 2, 2, Qt::AlignLeft | Qt::AlignTop);
    grid->setRowStretch(3, 1);
    grid->setColumnStretch(4, 1);
    ScrollBox1_->setWidget(content);
    snapshot_ = SnapshotTexts();
    defaults_ = new ui::GameDefaults(this, ctx_.state, ctx_.ini, [this](ini::PageWrites& w) { CollectWrites(w); });
}

QLineEdit* TKeyBindsPage::Field(const char* objectName) const {
    return findChild<QLineEdit*>(latin(objectName));
}

// The tracked fields: every text field of a group placed directly on the
// scroll area whose name lacks "NoCheck", in creation order.
QStringList TKeyBindsPage::SnapshotTexts() const {
    QStringList texts;
    const auto boxes = ScrollBox1_->widget()->findChildren<QGroupBox*>(Qt::FindDirectChildrenOnly);
    for (const QGroupBox* box : boxes)
        for (const QLineEdit* edit : box->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
            if (!edit->objectName().contains(QStringLiteral("NoCheck"))) texts << edit->text();
    return texts;
}

bool TKeyBindsPage::LoadKeyBinds() {
    if (!ctx_.ini.UserIni) return false;
    auto& userIni = *ctx_.ini.UserIni;
    try {
        const auto rows = KeyRows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].key)
                rowFields_[i]->setText(
                    QString::fromStdString(userIni.ReadText(kInputSection, rows[i].key, "")));
        ini::PageWrites loaded;
        CollectWrites(loaded);
        baseline_.Reset(loaded);
    } catch (const std::exception& e) {
        // What the failed load left in the controls is no edit of the player:
        // only what is changed from here on may be written.
        ini::PageWrites shown;
        CollectWrites(shown);
        baseline_.Reset(shown);
        ctx_.prompter.Error(QStringLiteral("Error occured:") + QString::fromStdString(e.what()));
        return false;
    }
    snapshot_ = SnapshotTexts();
    defaults_->Refresh();
    return true;
}

bool TKeyBindsPage::SaveKeyBinds() {
    if (!ctx_.ini.UserIni) return false;
    auto& userIni = *ctx_.ini.UserIni;
    try {
        ini::TIniFile::Batch batch(userIni);
        ini::PageWrites now;
        CollectWrites(now);
        baseline_.WriteChanged(now);
        batch.finish();
    } catch (const std::exception& e) {
        ctx_.prompter.Error(QStringLiteral("Error occured:") + QString::fromStdString(e.what()));
        return false;
    }
    snapshot_ = SnapshotTexts();
    return true;
}

void TKeyBindsPage::CollectWrites(ini::PageWrites& w) const {
    const auto rows = KeyRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].key)
            w.From(rowFields_[i]->objectName().toStdString())
                .Text(*ctx_.ini.UserIni, kInputSection, rows[i].key, rowFields_[i]->text().toStdString());
}

std::vector<ini::PendingWrite> TKeyBindsPage::PendingChanges() const {
    if (!ctx_.ini.UserIni) return {};
    ini::PageWrites now;
    CollectWrites(now);
    return baseline_.Changed(now);
}

bool TKeyBindsPage::KeyBindsChanged() const {
    const QStringList now = SnapshotTexts();
    for (qsizetype i = 0; i < now.size(); ++i)
        if (i >= snapshot_.size() || now[i] != snapshot_[i]) return true;
    return false;
}

bool TKeyBindsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edtCharNoCheck_) return QWidget::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Tab and Backtab move the focus on; nothing else reaches the field.
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
        return true;
    }
    if (event->type() == QEvent::KeyRelease) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->isAutoRepeat()) return true;
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) return false;
        const PhysicalKey physical{key->key(), key->modifiers().testFlag(Qt::KeypadModifier),
                                   key->nativeScanCode()};
        ctx_.guarded([&] { edtCharNoCheckKeyUp(VirtualKeyOf(physical)); });
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TKeyBindsPage::edtCharNoCheckKeyUp(int virtualKey) {
    const QString name = KeyNameOfVirtualKey(virtualKey);
    if (!name.isEmpty()) edtCharNoCheck_->setText(name);
    if (!ctx_.ini.UserIni) return;
    edtCommandNoCheck_->setText(QString::fromStdString(
        ctx_.ini.UserIni->ReadText(kInputSection, edtCharNoCheck_->text().toStdString(), "")));
}

void TKeyBindsPage::btnSaveClick() {
    if (edtCharNoCheck_->text() == QStringLiteral("..")) {
        ctx_.prompter.Warning(QStringLiteral("You have to select a letter first"));
        return;
    }
    if (!ctx_.ini.UserIni) return;
    ctx_.ini.UserIni->WriteText(kInputSection, edtCharNoCheck_->text().toStdString(),
                                edtCommandNoCheck_->text().toStdString());
    edtCharNoCheck_->setFocus();
    if (KeyBindsChanged()) {
        ctx_.prompter.Warning(QStringLiteral(
            "There have been some changes in the other keybinds.\nPlease Save, or Load first!"));
        return;
    }
    LoadKeyBinds();
}

void TKeyBindsPage::ClearGroup(int group) {
    if (!ctx_.prompter.Confirm(QStringLiteral("This will empty all fields in the groupbox. Are you sure?")))
        return;
    for (QLineEdit* edit : groups_[group]->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly))
        edit->clear();
}

// Button numbers follow the original form: 1 Alpha, 3 Number, 4 Function,
// 2 Numeric, 5 Other, 6 Joystick.
void TKeyBindsPage::SpeedButton1Click() { ClearGroup(0); }
void TKeyBindsPage::SpeedButton3Click() { ClearGroup(1); }
void TKeyBindsPage::SpeedButton4Click() { ClearGroup(2); }
void TKeyBindsPage::SpeedButton2Click() { ClearGroup(3); }
void TKeyBindsPage::SpeedButton5Click() { ClearGroup(4); }
void TKeyBindsPage::SpeedButton6Click() { ClearGroup(5); }

} // namespace keybinds
