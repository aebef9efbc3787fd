#include "ui/GameDefaults.h"

#include "ini/IniFile.h"
#include "ini/IniHandles.h"
#include "ini/PageWrites.h"
#include "ini/ValueText.h"
#include "ui/PageContext.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <cmath>

namespace ui {

namespace {

constexpr const char* kMissing = "\x01";

QString Q(const std::string& s) { return QString::fromStdString(s); }

bool SameValue(const std::string& a, const std::string& b) {
    const auto va = ini::SplitInlineComment(a).value, vb = ini::SplitInlineComment(b).value;
    if (va == vb) return true;
    const QString qa = QString::fromUtf8(va.data(), static_cast<qsizetype>(va.size())).trimmed();
    const QString qb = QString::fromUtf8(vb.data(), static_cast<qsizetype>(vb.size())).trimmed();
    if (qa.compare(qb, Qt::CaseInsensitive) == 0 &&
        (qa.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0 ||
         qa.compare(QStringLiteral("false"), Qt::CaseInsensitive) == 0))
        return true;
    const auto da = ini::ParseIniFraction(va), db = ini::ParseIniFraction(vb);
    return da && db && std::abs(*da - *db) < 1e-6;
}

bool FlagOf(const std::string& text) {
    const QString v = Q(std::string(ini::SplitInlineComment(text).value)).trimmed().toLower();
    return v == QStringLiteral("true") || v == QStringLiteral("1") || v == QStringLiteral("yes") ||
           v == QStringLiteral("on");
}

} // namespace

struct GameDefaults::Key {
    ini::PendingWrite write; // what the control writes now
    std::string def;         // the game's default text; kMissing when none
};

GameDefaults::GameDefaults(QWidget* page, const StartupState& state, const ini::IniHandles& ini, Collect collect)
    : QObject(page), page_(page), state_(state), ini_(ini), collect_(std::move(collect)) {}

GameDefaults::~GameDefaults() = default;

ini::TIniFile* GameDefaults::DefaultFileFor(const ini::TIniFile& file) const {
    const bool user = ini_.UserIni && &file == ini_.UserIni.get();
    auto& slot = user ? defUser_ : defMain_;
    const std::string path =
        (state_.GameSystem() + (user ? QStringLiteral("DefUser.ini") : QStringLiteral("Default.ini"))).toStdString();
    if (!slot || slot->FileName() != path) slot = std::make_unique<ini::TIniFile>(path);
    return slot.get();
}

std::vector<GameDefaults::Key> GameDefaults::KeysOf(const QWidget* control) const {
    std::vector<Key> keys;
    if (!control || !ini_.UserIni || !ini_.Ut2004Ini) return keys;
    ini::PageWrites now;
    collect_(now);
    const std::string name = control->objectName().toStdString();
    for (const auto& w : now.List())
        if (w.source == name) keys.push_back({w, DefaultFileFor(*w.file)->ReadText(w.section, w.key, kMissing)});
    return keys;
}

QStringList GameDefaults::DefaultTexts(const std::vector<Key>& keys) {
    QStringList out;
    for (const auto& k : keys) {
        if (k.def == kMissing) return {};
        out << Q(k.def);
    }
    return out;
}

bool GameDefaults::Differs(const std::vector<Key>& keys) {
    for (const auto& k : keys)
        if (k.def != kMissing && !SameValue(k.write.value, k.def)) return true;
    return false;
}

QStringList GameDefaults::DefaultsOf(const QWidget* control) const { return DefaultTexts(KeysOf(control)); }

bool GameDefaults::DiffersFromDefault(const QWidget* control) const { return Differs(KeysOf(control)); }

bool GameDefaults::ResetToDefault(QWidget* control) {
    const auto keys = KeysOf(control);
    if (keys.empty()) return false;
    for (const auto& k : keys)
        if (k.def == kMissing) return false;
    const std::string& def = keys.front().def;
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(Q(def));
    } else if (auto* box = qobject_cast<QCheckBox*>(control)) {
        // The box shows the key or its inverse (bNo..., bHide...): what it
        // writes now for its state tells which.
        const bool inverted = (keys.front().write.value == "True") != box->isChecked();
        box->setChecked(FlagOf(def) != inverted);
    } else if (auto* slider = qobject_cast<QSlider*>(control)) {
        const auto value = ini::ParseIniFraction(ini::SplitInlineComment(def).value);
        if (!value) return false;
        const double scale = slider->property("scale").isValid() ? slider->property("scale").toDouble() : 1.0;
        slider->setValue(static_cast<int>(std::lround(*value * scale)));
    } else if (auto* list = qobject_cast<QComboBox*>(control)) {
        // A screen mode is two keys, width and height.
        const QString text = keys.size() == 2 ? Q(def) + QLatin1Char('x') + Q(keys[1].def) : Q(def);
        const int i = list->findText(text, Qt::MatchFixedString);
        if (i >= 0)
            list->setCurrentIndex(i);
        else if (list->isEditable())
            list->setEditText(text);
        else
            return false;
    } else {
        return false;
    }
    Mark(control);
    return true;
}

void GameDefaults::Mark(QWidget* control) {
    if (marking_) return;
    Mark(control, KeysOf(control));
}

void GameDefaults::Mark(QWidget* control, const std::vector<Key>& keys) {
    marking_ = true;
    if (!control->property("ownToolTip").isValid()) control->setProperty("ownToolTip", control->toolTip());
    const QString own = control->property("ownToolTip").toString();
    const QStringList defaults = DefaultTexts(keys);
    const bool differs = !defaults.isEmpty() && Differs(keys);
    QFont font = control->font();
    font.setItalic(differs);
    control->setFont(font);
    QString tip = own;
    if (differs) {
        if (!tip.isEmpty()) tip += QLatin1Char('\n');
        tip += QStringLiteral("The game's default: ") + defaults.join(QLatin1Char('x'));
    }
    control->setToolTip(tip);
    control->setProperty("differsFromDefault", differs);
    marking_ = false;
}

void GameDefaults::Watch(QWidget* control) {
    if (control->property("defaultsWatched").toBool()) return;
    control->setProperty("defaultsWatched", true);
    control->installEventFilter(this);
    auto mark = [this, control] {
        if (marking_) return;
        pending_.insert(control);
        if (markQueued_) return;
        markQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            markQueued_ = false;
            const auto controls = std::exchange(pending_, {});
            if (controls.size() > 8) {
                Refresh();
                return;
            }
            for (QWidget* c : controls) Mark(c);
        });
    };
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        connect(edit, &QLineEdit::textChanged, this, mark);
    else if (auto* box = qobject_cast<QCheckBox*>(control))
        connect(box, &QCheckBox::toggled, this, mark);
    else if (auto* slider = qobject_cast<QSlider*>(control))
        connect(slider, &QSlider::valueChanged, this, mark);
    else if (auto* list = qobject_cast<QComboBox*>(control))
        connect(list, &QComboBox::currentTextChanged, this, mark);
}

void GameDefaults::Refresh() {
    if (!ini_.UserIni || !ini_.Ut2004Ini) return;
    pending_.clear();
    // One dry run for the whole page; each control gets its own keys.
    ini::PageWrites now;
    collect_(now);
    std::vector<std::pair<QString, std::vector<Key>>> byControl;
    for (const auto& w : now.List()) {
        const QString name = Q(w.source);
        if (name.isEmpty()) continue;
        if (byControl.empty() || byControl.back().first != name) {
            auto it = std::find_if(byControl.begin(), byControl.end(), [&](const auto& c) { return c.first == name; });
            if (it == byControl.end()) {
                byControl.emplace_back(name, std::vector<Key>{});
            } else {
                it->second.push_back({w, DefaultFileFor(*w.file)->ReadText(w.section, w.key, kMissing)});
                continue;
            }
        }
        byControl.back().second.push_back({w, DefaultFileFor(*w.file)->ReadText(w.section, w.key, kMissing)});
    }
    for (const auto& [name, keys] : byControl) {
        auto* control = page_->findChild<QWidget*>(name);
        if (!control || !(qobject_cast<QLineEdit*>(control) || qobject_cast<QCheckBox*>(control) ||
                          qobject_cast<QSlider*>(control) || qobject_cast<QComboBox*>(control)))
            continue;
        Watch(control);
        Mark(control, keys);
    }
}

bool GameDefaults::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ContextMenu) return QObject::eventFilter(watched, event);
    auto* control = static_cast<QWidget*>(watched);
    auto* e = static_cast<QContextMenuEvent*>(event);
    std::unique_ptr<QMenu> menu;
    if (auto* edit = qobject_cast<QLineEdit*>(control))
        menu.reset(edit->createStandardContextMenu());
    else
        menu = std::make_unique<QMenu>();
    if (!menu->actions().isEmpty()) menu->addSeparator();
    auto* reset = menu->addAction(QStringLiteral("Reset to the game's default"));
    reset->setObjectName(QStringLiteral("actResetToDefault"));
    const QStringList defaults = DefaultsOf(control);
    reset->setEnabled(!defaults.isEmpty());
    if (!defaults.isEmpty()) reset->setToolTip(defaults.join(QLatin1Char('x')));
    if (menu->exec(e->globalPos()) == reset) ResetToDefault(control);
    return true;
}

} // namespace ui
