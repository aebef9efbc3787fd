#include "keybinds/TKeyBindsPage.h"

#include "ini/IniHandles.h"
#include "keybinds/KeyFlow.h"
#include "keybinds/KeyNames.h"
#include "keybinds/KeyTable.h"
#include "platform/Installs.h"
#include "ui/GameDefaults.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QAction>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHash>
#include <QInputMethod>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace keybinds {

namespace {

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

// The key field takes keys, not text. A read-only line edit still tells
// input methods it takes their text (Qt 6.4), so the system's compose
// method swallowed a dead key's press here and kept it pending for the next
// letter: it is told no, and a dead key reaches the field as the key it is.
class KeyCaptureField final : public QLineEdit {
public:
    using QLineEdit::QLineEdit;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override {
        if (query == Qt::ImEnabled) return false;
        return QLineEdit::inputMethodQuery(query);
    }
};

QString latin(const char* s) {
    return QString::fromLatin1(s);
}

// Commands players commonly bind; a field shows any of them whole.
constexpr const char* kWidthSamples[] = {"SwitchToBestWeapon", "taunt gesture_point",
                                         "ToggleBehindView", "mouseX Speed=2.0"};

const QString kStatusHint =
    QStringLiteral("The key field with the focus shows its whole command here.");

// Rows the "Define own key" box counts as when the boxes are balanced.
constexpr int kOwnKeyRows = 6;

// Two overlapping keys: this command sits on more than one key.
QIcon SharedMarkIcon() {
    QIcon icon;
    for (int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal u = size / 16.0;
        p.setPen(QPen(QColor(0xb0, 0x50, 0x00), 1.4 * u));
        p.setBrush(QColor(0xff, 0xc0, 0x60));
        p.drawRoundedRect(QRectF(1.5 * u, 1.5 * u, 8.5 * u, 8.5 * u), 2 * u, 2 * u);
        p.drawRoundedRect(QRectF(6 * u, 6 * u, 8.5 * u, 8.5 * u), 2 * u, 2 * u);
        icon.addPixmap(pixmap);
    }
    return icon;
}

// Another tool (the game's defaults) adds its own lines after ours: keep them.
void SetOwnToolTip(QWidget* w, const QString& own) {
    const QString oldOwn = w->property("ownToolTip").toString();
    const QString tip = w->toolTip();
    QString rest = tip.startsWith(oldOwn) ? tip.mid(oldOwn.size()) : QString();
    if (rest.startsWith(QLatin1Char('\n'))) rest.remove(0, 1);
    w->setProperty("ownToolTip", own);
    QString next = own;
    if (!rest.isEmpty()) next += (next.isEmpty() ? QString() : QStringLiteral("\n")) + rest;
    w->setToolTip(next);
}

QString Normalized(const QString& command) {
    return command.simplified().toLower();
}

} // namespace

TKeyBindsPage::TKeyBindsPage(ui::PageContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("tabMain"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 4, 0, 0);
    outer->setSpacing(2);

    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(6, 0, 6, 0);
    edtSearch_ = new QLineEdit(this);
    edtSearch_->setObjectName(QStringLiteral("edtSearchNoCheck"));
    edtSearch_->setPlaceholderText(QStringLiteral("Search keys and commands"));
    edtSearch_->setClearButtonEnabled(true);
    edtSearch_->setToolTip(
        QStringLiteral("Shows only the keys whose name or command contains this text"));
    lblSearchCount_ = new QLabel(this);
    lblSearchCount_->setObjectName(QStringLiteral("lblSearchCount"));
    searchRow->addWidget(edtSearch_, 1);
    searchRow->addWidget(lblSearchCount_);
    outer->addLayout(searchRow);
    connect(edtSearch_, &QLineEdit::textChanged, this, [this] { ApplySearch(); });

    ScrollBox1_ = new QScrollArea(this);
    ScrollBox1_->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1_->setWidgetResizable(true);
    ScrollBox1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    outer->addWidget(ScrollBox1_, 1);

    lblStatus_ = new QLabel(this);
    lblStatus_->setObjectName(QStringLiteral("lblKeyStatus"));
    lblStatus_->setTextFormat(Qt::PlainText);
    lblStatus_->setWordWrap(true);
    lblStatus_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblStatus_->setContentsMargins(6, 2, 6, 4);
    lblStatus_->setMinimumHeight(lblStatus_->fontMetrics().height() + 6);
    lblStatus_->setText(kStatusHint);
    outer->addWidget(lblStatus_);

    flow_ = new KeyFlow;
    flow_->setObjectName(QStringLiteral("ScrollBox1Content"));
    BuildGroups(flow_);
    ScrollBox1_->setWidget(flow_);
    snapshot_ = SnapshotTexts();
    defaults_ = new ui::GameDefaults(this, ctx_.state, ctx_.ini,
                                     [this](ini::PageWrites& w) { CollectWrites(w); });
}

void TKeyBindsPage::BuildGroups(QWidget* content) {
    // "Define own key" first: the tool for keys without a field of their
    // own. Its fields carry "NoCheck", which keeps them out of the change
    // tracking of the key table.
    auto* own = new QGroupBox(QStringLiteral("Define own key"), content);
    own->setObjectName(QStringLiteral("GroupBox7"));
    auto* ownLayout = new QVBoxLayout(own);
    auto* label3 = new QLabel(QStringLiteral("Press a letter"), own);
    label3->setObjectName(QStringLiteral("Label3"));
    auto* edtChar = new KeyCaptureField(QStringLiteral(".."), own);
    edtChar->setObjectName(QStringLiteral("edtCharNoCheck"));
    edtChar->setAlignment(Qt::AlignCenter);
    edtChar->setToolTip(
        QStringLiteral("Press the key to bind. While this field has the focus it takes "
                       "every key, F1 to F12 included; Tab moves on."));
    // Read-only keeps pasted and typed text out; the filter names released keys.
    edtChar->setReadOnly(true);
    edtChar->setAttribute(Qt::WA_InputMethodEnabled, false);
    edtChar->setInputMethodHints(Qt::ImhNoPredictiveText | Qt::ImhNoAutoUppercase |
                                 Qt::ImhSensitiveData | Qt::ImhPreferLatin);
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
    connect(btnSave, &QPushButton::clicked, this,
            [this] { ctx_.guarded([this] { btnSaveClick(); }); });
    for (QWidget* w : {static_cast<QWidget*>(label3), static_cast<QWidget*>(edtChar),
                       static_cast<QWidget*>(label2), static_cast<QWidget*>(edtCommand),
                       static_cast<QWidget*>(btnSave)})
        ownLayout->addWidget(w);
    ownLayout->addStretch();

    const auto groups = KeyGroups();
    for (std::size_t g = 0; g < groups.size(); ++g) {
        auto* box = new QGroupBox(latin(groups[g].caption), content);
        box->setObjectName(QStringLiteral("GroupBox%1").arg(g + 1));
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

    const QFontMetrics fm(font());
    int sample = 0;
    for (const char* s : kWidthSamples)
        sample = std::max(sample, fm.horizontalAdvance(latin(s)));
    // Room for the frame and for the mark of a shared command beside the text.
    const int fieldWidth = sample + fm.height() + 20;
    const auto rows = KeyRows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        auto* box = groups_[static_cast<std::size_t>(rows[i].group)];
        auto* label = new QLabel(latin(rows[i].label), box);
        label->setTextFormat(Qt::PlainText);
        auto* edit = new QLineEdit(box);
        edit->setObjectName(latin(rows[i].field));
        edit->setMinimumWidth(fieldWidth);
        edit->installEventFilter(this);
        label->setBuddy(edit);
        rowLabels_.push_back(label);
        rowFields_.push_back(edit);
        connect(edit, &QLineEdit::textChanged, this, [this, i] { FieldEdited(i); });
    }
    sharedWith_.assign(rows.size(), {});
    sharedMarks_.assign(rows.size(), nullptr);
    rowShown_.assign(rows.size(), true);

    flow_->Add({own, [] { return kOwnKeyRows; }, [](int) {}, false});
    for (std::size_t g = 0; g < groups_.size(); ++g) {
        const int group = static_cast<int>(g);
        flow_->Add({groups_[g], [this, group] { return VisibleRows(group); },
                    [this, group](int columns) { ArrangeGroup(group, columns); }});
    }
}

int TKeyBindsPage::VisibleRows(int group) const {
    int n = 0;
    const auto rows = KeyRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].group == group && rowShown_[i]) ++n;
    return n;
}

// The group's rows that pass the search, top to bottom and then on to the
// next column, each column a label and a field that takes the spare width.
void TKeyBindsPage::ArrangeGroup(int group, int columns) {
    QGroupBox* box = groups_[static_cast<std::size_t>(group)];
    delete box->layout();
    auto* layout = new QGridLayout(box);
    layout->setContentsMargins(6, 4, 6, 6);
    layout->setVerticalSpacing(2);
    std::vector<std::size_t> shown;
    const auto rows = KeyRows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].group != group) continue;
        rowLabels_[i]->setVisible(rowShown_[i]);
        rowFields_[i]->setVisible(rowShown_[i]);
        if (rowShown_[i]) shown.push_back(i);
    }
    const int perColumn =
        std::max<int>(1, (static_cast<int>(shown.size()) + columns - 1) / columns);
    for (std::size_t n = 0; n < shown.size(); ++n) {
        const int r = static_cast<int>(n) % perColumn, c = static_cast<int>(n) / perColumn;
        layout->addWidget(rowLabels_[shown[n]], r, 2 * c);
        layout->addWidget(rowFields_[shown[n]], r, 2 * c + 1);
    }
    for (int c = 0; c < columns; ++c)
        layout->setColumnStretch(2 * c + 1, 1);
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
    struct Bulk {
        TKeyBindsPage* page;
        explicit Bulk(TKeyBindsPage* p) : page(p) { page->bulkEdit_ = true; }
        ~Bulk() {
            page->bulkEdit_ = false;
            page->MarkSharedCommands();
        }
    } bulk(this);
    try {
        const auto rows = KeyRows();
        for (std::size_t i = 0; i < rows.size(); ++i)
            if (rows[i].key) {
                rowFields_[i]->setText(
                    QString::fromStdString(userIni.ReadText(kInputSection, rows[i].key, "")));
                rowFields_[i]->setCursorPosition(0); // a long command shows its start
            }
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
    snapshot_ = SnapshotTexts();
    defaults_->Refresh();
    if (!edtSearch_->text().trimmed().isEmpty()) ApplySearch(); // the files' new texts
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
        ctx_.prompter.Error(QStringLiteral("Error occurred:") + QString::fromStdString(e.what()));
        return false;
    }
    ini::SaveStep::Remember([this, before = snapshot_] { snapshot_ = before; });
    snapshot_ = SnapshotTexts();
    return true;
}

void TKeyBindsPage::CollectWrites(ini::PageWrites& w) const {
    const auto rows = KeyRows();
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].key)
            w.From(rowFields_[i]->objectName().toStdString())
                .Text(*ctx_.ini.UserIni, kInputSection, rows[i].key,
                      rowFields_[i]->text().toStdString());
}

std::vector<ini::PendingWrite> TKeyBindsPage::PendingChanges() const {
    if (!ctx_.ini.UserIni) return {};
    ini::PageWrites now;
    CollectWrites(now);
    return baseline_.Changed(now);
}

std::vector<ini::PendingWrite> TKeyBindsPage::EveryWrite() const {
    if (!ctx_.ini.UserIni) return {};
    ini::PageWrites all;
    CollectWrites(all);
    return all.List();
}

bool TKeyBindsPage::KeyBindsChanged() const {
    const QStringList now = SnapshotTexts();
    for (qsizetype i = 0; i < now.size(); ++i)
        if (i >= snapshot_.size() || now[i] != snapshot_[i]) return true;
    return false;
}

bool TKeyBindsPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edtCharNoCheck_) {
        if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
            const auto it = std::find(rowFields_.begin(), rowFields_.end(), watched);
            if (it != rowFields_.end()) {
                const auto row = static_cast<std::size_t>(it - rowFields_.begin());
                focusedRow_ = event->type() == QEvent::FocusIn ? static_cast<int>(row) : -1;
                if (focusedRow_ >= 0)
                    ShowStatus(row);
                else
                    lblStatus_->setText(kStatusHint);
            }
        }
        return QWidget::eventFilter(watched, event);
    }
    return CaptureEvent(event) || QWidget::eventFilter(watched, event);
}

namespace {

bool IsTab(const QKeyEvent* key) {
    return key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab;
}

// One physical key, for matching its release with its press.
quint64 KeyIdentity(const QKeyEvent* key) {
    if (key->nativeScanCode() != 0) return key->nativeScanCode();
    return (quint64{1} << 32) | static_cast<quint32>(key->key());
}

} // namespace

// What the key field does with an event; true when it took it.
bool TKeyBindsPage::CaptureEvent(QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Every key is the player's answer here, F1 and Ctrl+S included: the
        // window's shortcuts wait until the field loses the focus. Tab still
        // moves on, so the keyboard never gets stuck in the field.
        if (IsTab(static_cast<QKeyEvent*>(event))) return false;
        event->accept();
        return true;
    case QEvent::KeyPress: {
        // Tab and Backtab move the focus on; nothing else reaches the field.
        const auto* key = static_cast<QKeyEvent*>(event);
        if (IsTab(key)) return false;
        // X repeats a held key as a release and a press with one time stamp,
        // which Qt does not always mark as a repeat: an Enter held while its
        // message box closed came back here as a fresh press.
        const bool repeated =
            key->isAutoRepeat() || (key->timestamp() != 0 && KeyIdentity(key) == lastReleased_ &&
                                    key->timestamp() == lastReleaseTime_);
        if (!repeated) pressedInKeyField_.insert(KeyIdentity(key));
        return true;
    }
    case QEvent::KeyRelease: {
        const auto* key = static_cast<QKeyEvent*>(event);
        lastReleased_ = KeyIdentity(key);
        lastReleaseTime_ = key->timestamp();
        if (key->isAutoRepeat()) return true;
        if (IsTab(key)) return false;
        // Only a key pressed here is the player's choice: the release of the
        // Enter that closed a message box, or of a key held while the field
        // got the focus, names nothing.
        if (!pressedInKeyField_.remove(KeyIdentity(key))) return true;
        const PhysicalKey physical{key->key(), key->modifiers().testFlag(Qt::KeypadModifier),
                                   key->nativeScanCode(), key->nativeVirtualKey(), key->text()};
        const int vk = GameKeyOf(
            physical, platform::KeyReadingOf(platform::KindFromKey(ctx_.state.InstallKind)),
            keyboardMap_ ? keyboardMap_() : platform::KeyboardMap{});
        const QString native =
            KeyNameOfVirtualKey(vk).isEmpty() ? NativeKeyName(physical) : QString();
        ctx_.guarded([&] { edtCharNoCheckKeyUp(vk, native); });
        return true;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const int vk = VirtualKeyOfMouseButton(static_cast<QMouseEvent*>(event)->button());
        if (vk == 0) return false; // the field's own: focus, selection, menu
        edtCharNoCheck_->setFocus(Qt::MouseFocusReason);
        ctx_.guarded([&] { edtCharNoCheckKeyUp(vk); });
        return true;
    }
    case QEvent::MouseButtonRelease:
        return VirtualKeyOfMouseButton(static_cast<QMouseEvent*>(event)->button()) != 0;
    case QEvent::InputMethod:
        return true; // composed text is no key
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        // A composition begun in another field ends here, and one begun here
        // (by an input method that ignores the field's wish) never reaches the
        // next field: a dead key pressed to bind it composes nothing.
        QGuiApplication::inputMethod()->reset();
        pressedInKeyField_.clear();
        lblStatus_->setText(event->type() == QEvent::FocusOut
                                ? kStatusHint
                                : QStringLiteral("Press the key to bind: every key counts while "
                                                 "this field has the focus. Tab moves on."));
        return false;
    default:
        return false;
    }
}

void TKeyBindsPage::edtCharNoCheckKeyUp(int virtualKey, const QString& nativeName) {
    const QString name = KeyNameOfVirtualKey(virtualKey);
    if (!name.isEmpty()) edtCharNoCheck_->setText(name);
    if (ctx_.ini.UserIni)
        edtCommandNoCheck_->setText(QString::fromStdString(
            ctx_.ini.UserIni->ReadText(kInputSection, edtCharNoCheck_->text().toStdString(), "")));
    // Saving under a name the game does not know would bind nothing.
    if (name.isEmpty() && !nativeName.isEmpty()) {
        QString text = QStringLiteral("The key \"%1\" has no name in the game, so it cannot be "
                                      "bound here.")
                           .arg(nativeName);
        if (edtCharNoCheck_->text() != QStringLiteral(".."))
            text += QStringLiteral("\nThe key field keeps %1.").arg(edtCharNoCheck_->text());
        ctx_.prompter.Warning(text);
    }
}

void TKeyBindsPage::btnSaveClick() {
    if (edtCharNoCheck_->text() == QStringLiteral("..")) {
        ctx_.prompter.Warning(QStringLiteral("You have to select a letter first"));
        return;
    }
    if (!ctx_.ini.UserIni) return;
    // The reload after the write would drop the other fields' edits: they
    // are saved or loaded first, and nothing is written until then.
    if (KeyBindsChanged()) {
        ctx_.prompter.Warning(QStringLiteral(
            "There have been some changes in the other keybinds.\nPlease Save, or Load first!"));
        return;
    }
    const auto write = [this] {
        ctx_.ini.UserIni->WriteText(kInputSection, edtCharNoCheck_->text().toStdString(),
                                    edtCommandNoCheck_->text().toStdString());
        return true;
    };
    if (ctx_.writeFiles ? !ctx_.writeFiles(QStringLiteral("Define own key"), write) : !write())
        return;
    edtCharNoCheck_->setFocus();
    LoadKeyBinds();
}

void TKeyBindsPage::ClearGroup(int group) {
    const auto rows = KeyRows();
    int shown = 0, all = 0;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].group == group) {
            ++all;
            shown += rowShown_[i] ? 1 : 0;
        }
    const QString caption = latin(KeyGroups()[group].caption);
    const QString question =
        shown == all
            ? QStringLiteral("This will empty all fields of \"%1\". Are you sure?").arg(caption)
            : QStringLiteral(
                  "This will empty the %1 fields of \"%2\" that the search shows. Are you sure?")
                  .arg(shown)
                  .arg(caption);
    if (!ctx_.prompter.Confirm(question, ui::Answer::No)) return;
    // Only the rows the player sees: a search hides the others, and binds
    // he cannot see are not his to lose.
    bulkEdit_ = true;
    for (std::size_t i = 0; i < rows.size(); ++i)
        if (rows[i].group == group && rowShown_[i]) rowFields_[i]->clear();
    bulkEdit_ = false;
    MarkSharedCommands();
}

// Button numbers follow the original form: 1 Alpha, 3 Number, 4 Function,
// 2 Numeric, 5 Other, 6 Joystick.
void TKeyBindsPage::SpeedButton1Click() {
    ClearGroup(0);
}
void TKeyBindsPage::SpeedButton3Click() {
    ClearGroup(1);
}
void TKeyBindsPage::SpeedButton4Click() {
    ClearGroup(2);
}
void TKeyBindsPage::SpeedButton2Click() {
    ClearGroup(3);
}
void TKeyBindsPage::SpeedButton5Click() {
    ClearGroup(4);
}
void TKeyBindsPage::SpeedButton6Click() {
    ClearGroup(5);
}

// ---- Reading the binds: tool tips, shared commands, status line, search ----

QString TKeyBindsPage::KeyName(std::size_t row) const {
    const auto& r = KeyRows()[row];
    if (r.key) return latin(r.key);
    QString label = latin(r.label);
    label.chop(1); // the colon
    return label;
}

QStringList TKeyBindsPage::SharedWith(const QLineEdit* field) const {
    const auto it = std::find(rowFields_.begin(), rowFields_.end(), field);
    return it == rowFields_.end() ? QStringList{}
                                  : sharedWith_[static_cast<std::size_t>(it - rowFields_.begin())];
}

void TKeyBindsPage::FieldEdited(std::size_t row) {
    if (!bulkEdit_) MarkSharedCommands();
    QLineEdit* edit = rowFields_[row];
    QString tip = edit->text();
    if (!sharedWith_[row].isEmpty())
        tip += QStringLiteral("\nAlso on: ") + sharedWith_[row].join(QStringLiteral(", "));
    SetOwnToolTip(edit, tip);
    if (focusedRow_ == static_cast<int>(row)) ShowStatus(row);
    // While searching, an edited row stays where it is; only its light follows.
    if (!bulkEdit_ && !edtSearch_->text().trimmed().isEmpty())
        HighlightRow(row, edtSearch_->text().trimmed());
}

// A command on several keys is often a slip (a key bound twice by mistake):
// each of those keys gets a mark and names the others in its tool tip.
void TKeyBindsPage::MarkSharedCommands() {
    const auto rows = KeyRows();
    QHash<QString, QStringList> keysOf;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].key) continue; // the sliders are no keys
        const QString command = Normalized(rowFields_[i]->text());
        if (!command.isEmpty()) keysOf[command] << KeyName(i);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QStringList others;
        if (rows[i].key) {
            const QString command = Normalized(rowFields_[i]->text());
            if (!command.isEmpty()) others = keysOf.value(command);
            others.removeOne(KeyName(i));
        }
        if (others == sharedWith_[i]) continue;
        sharedWith_[i] = others;
        QLineEdit* edit = rowFields_[i];
        edit->setProperty("sharedCommand", !others.isEmpty());
        if (!others.isEmpty()) {
            if (!sharedMarks_[i]) {
                static const QIcon icon = SharedMarkIcon();
                sharedMarks_[i] = new QAction(icon, QString(), edit);
            }
            sharedMarks_[i]->setToolTip(QStringLiteral("Also on: ") +
                                        others.join(QStringLiteral(", ")));
            if (!edit->actions().contains(sharedMarks_[i]))
                edit->addAction(sharedMarks_[i], QLineEdit::TrailingPosition);
        } else if (sharedMarks_[i]) {
            edit->removeAction(sharedMarks_[i]);
        }
        const bool bulk = std::exchange(bulkEdit_, true);
        FieldEdited(i); // the tool tip names the other keys
        bulkEdit_ = bulk;
    }
}

void TKeyBindsPage::ShowStatus(std::size_t row) {
    const QString text = rowFields_[row]->text();
    QString status = KeyName(row) + QStringLiteral(": ") +
                     (text.isEmpty() ? QStringLiteral("(nothing bound)") : text);
    if (!sharedWith_[row].isEmpty())
        status += QStringLiteral("    (also on ") + sharedWith_[row].join(QStringLiteral(", ")) +
                  QLatin1Char(')');
    lblStatus_->setText(status);
}

// Lights the part of a row that matches the search: the label for a key
// name, the field for a command. Returns whether the row matches at all.
bool TKeyBindsPage::HighlightRow(std::size_t row, const QString& q) {
    QLabel* label = rowLabels_[row];
    QLineEdit* edit = rowFields_[row];
    const QString labelText = latin(KeyRows()[row].label);
    const bool inLabel = !q.isEmpty() && labelText.contains(q, Qt::CaseInsensitive);
    const bool keyMatch =
        inLabel || (!q.isEmpty() && KeyName(row).contains(q, Qt::CaseInsensitive));
    const bool commandMatch = !q.isEmpty() && edit->text().contains(q, Qt::CaseInsensitive);
    if (label->property("searchMatch").toBool() != keyMatch || keyMatch) {
        label->setProperty("searchMatch", keyMatch);
        if (keyMatch) {
            const qsizetype at = inLabel ? labelText.indexOf(q, 0, Qt::CaseInsensitive) : 0;
            const qsizetype len = inLabel ? q.size() : labelText.size() - 1;
            label->setTextFormat(Qt::RichText);
            label->setText(
                labelText.left(at).toHtmlEscaped() +
                QStringLiteral("<span style=\"background-color:#ffd84d;color:#000000\">") +
                labelText.mid(at, len).toHtmlEscaped() + QStringLiteral("</span>") +
                labelText.mid(at + len).toHtmlEscaped());
        } else {
            label->setTextFormat(Qt::PlainText);
            label->setText(labelText);
        }
    }
    if (edit->property("searchMatch").toBool() != commandMatch) {
        edit->setProperty("searchMatch", commandMatch);
        QPalette palette;
        if (commandMatch) {
            palette = edit->palette();
            palette.setColor(QPalette::Base, QColor(0xff, 0xec, 0x99));
            palette.setColor(QPalette::Text, Qt::black);
        }
        edit->setPalette(palette);
    }
    return q.isEmpty() || keyMatch || commandMatch;
}

// Keys whose name or command holds the text stay, the rest step aside.
void TKeyBindsPage::ApplySearch() {
    const QString q = edtSearch_->text().trimmed();
    int shown = 0;
    for (std::size_t i = 0; i < rowFields_.size(); ++i) {
        rowShown_[i] = HighlightRow(i, q);
        shown += rowShown_[i] ? 1 : 0;
    }
    lblSearchCount_->setText(
        q.isEmpty() ? QString()
                    : QStringLiteral("%1 of %2 keys").arg(shown).arg(rowFields_.size()));
    flow_->Invalidate();
}

} // namespace keybinds
