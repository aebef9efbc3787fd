#include "instantaction/TInstantActionPage.h"

#include "imaging/JpegImage.h"
#include "ini/FormatFixed.h"
#include "ini/IniHandles.h"
#include "ini/ValueText.h"
#include "instantaction/GameTypes.h"
#include "instantaction/MapList.h"
#include "instantaction/TfrmDirEdit.h"
#include "platform/GameProcess.h"
#include "platform/Installs.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStackedWidget>
#include <QStyle>
#include <QSysInfo>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>

namespace instantaction {

namespace {

QString L(const char* s) { return QString::fromLatin1(s); }
std::string S(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

constexpr const char* kMain = "xInterface.Tab_InstantActionMain";
constexpr const char* kBaseRules = "xInterface.Tab_InstantActionBaseRules";
const char* const kDifficulties[] = {"Novice", "Average",   "Experienced", "Skilled",
                                     "Adept",  "Masterful", "Inhuman",     "Godlike"};

QSpinBox* unboundedSpin(QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setRange(INT_MIN, INT_MAX);
    // Sized for the values players use, not for the ten digits of the range.
    spin->setMaximumWidth(spin->fontMetrics().horizontalAdvance(QStringLiteral("-99999 %")) + 36);
    return spin;
}

// Refreshes once at the end, however many controls a change touches.
class RefreshGuard {
public:
    explicit RefreshGuard(bool& flag) : flag_(flag), outer_(flag) { flag_ = true; }
    ~RefreshGuard() { flag_ = outer_; }

private:
    bool& flag_;
    bool outer_;
};

} // namespace

TInstantActionPage::TInstantActionPage(ui::PageContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("tabFrontEnd"));
    // The page scrolls like the others: below its natural size the controls
    // keep their height and the window shows a scroll bar instead.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("scrollFrontEnd"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scroll);
    auto* panel = new QWidget(scroll);
    panel->setObjectName(QStringLiteral("panelFrontEnd"));
    auto* grid = new QGridLayout(panel);

    // Game type and its rules
    auto* typeBox = new QGroupBox(QStringLiteral("Gametype"), panel);
    auto* typeLayout = new QFormLayout(typeBox);
    pickGameType_ = new QComboBox(typeBox);
    pickGameType_->setObjectName(QStringLiteral("pickGameType"));
    for (const auto& t : GameTypes()) pickGameType_->addItem(L(t.caption));
    typeLayout->addRow(QStringLiteral("Gametype:"), pickGameType_);

    rules_ = new QStackedWidget(panel);
    rules_->setObjectName(QStringLiteral("stackRules"));
    const auto types = GameTypes();
    for (int g = 0; g < kGameTypeCount; ++g) {
        auto* box = new QGroupBox(L(types[g].groupCaption), rules_);
        box->setObjectName(L(types[g].group));
        // Numbers with their labels on the left, flags on the right: half the
        // rows of one long column, so every spin box keeps its full height.
        auto* form = new QGridLayout(box);
        int numberRow = 0, flagRow = 0;
        for (const auto& rule : RuleKeys()) {
            const auto& cell = rule.cells[g];
            if (!cell.control) continue;
            const QString caption = L(cell.caption ? cell.caption : rule.caption);
            QWidget* control = nullptr;
            if (rule.kind == RuleKind::Number || rule.kind == RuleKind::Percent) {
                auto* spin = unboundedSpin(box);
                if (rule.kind == RuleKind::Percent) {
                    spin->setRange(0, 100);
                    spin->setSuffix(QStringLiteral(" %"));
                }
                auto* label = new QLabel(caption, box);
                label->setBuddy(spin);
                form->addWidget(label, numberRow, 0);
                form->addWidget(spin, numberRow++, 1);
                control = spin;
            } else {
                auto* flag = new QCheckBox(caption, box);
                form->addWidget(flag, flagRow++, 2);
                if (qstrcmp(rule.key, "bAllowTrans") == 0) {
                    transRules_[g] = flag;
                    connect(flag, &QCheckBox::toggled, this,
                            [this, g](bool on) { TranslocatorRuleToggled(g, on); });
                }
                control = flag;
            }
            control->setObjectName(L(cell.control));
            ruleControls_[L(cell.control)] = control;
        }
        form->setColumnMinimumWidth(2, 0);
        // Tight enough that the longest game type's rules leave the start in
        // sight at the window's smallest size.
        form->setHorizontalSpacing(8);
        form->setVerticalSpacing(3);
        form->setRowStretch(std::max(numberRow, flagRow), 1);
        rules_->addWidget(box);
    }

    auto* general = new QGroupBox(QStringLiteral("General"), panel);
    // The bots and their skill on one row: the rules above need the height.
    auto* generalLayout = new QGridLayout(general);
    spinBotCount_ = unboundedSpin(general);
    spinBotCount_->setObjectName(QStringLiteral("spinBotCount"));
    generalLayout->addWidget(new QLabel(QStringLiteral("Number of bots:"), general), 0, 0);
    generalLayout->addWidget(spinBotCount_, 0, 1);
    pickDiff_ = new QComboBox(general);
    pickDiff_->setObjectName(QStringLiteral("pickDiff"));
    for (const char* d : kDifficulties) pickDiff_->addItem(L(d));
    generalLayout->addWidget(new QLabel(QStringLiteral("Difficulty:"), general), 0, 2);
    generalLayout->addWidget(pickDiff_, 0, 3);
    generalLayout->setColumnStretch(3, 1);
    cbTrans_ = new QCheckBox(QStringLiteral("Use translocator"), general);
    cbTrans_->setObjectName(QStringLiteral("cbTrans"));
    generalLayout->addWidget(cbTrans_, 1, 0, 1, 4);

    // Maps, preview, mutators, start
    auto* mapBox = new QGroupBox(QStringLiteral("Map"), panel);
    auto* mapLayout = new QGridLayout(mapBox);
    mapLayout->addWidget(new QLabel(QStringLiteral("Pick a map:"), mapBox), 0, 0);
    auto* info = new QToolButton(mapBox);
    info->setObjectName(QStringLiteral("SpeedButton8"));
    info->setText(QStringLiteral("?"));
    info->setToolTip(QStringLiteral("Information about the map"));
    mapLayout->addWidget(info, 0, 1, Qt::AlignRight);
    lbMaps_ = new QListWidget(mapBox);
    lbMaps_->setObjectName(QStringLiteral("lbMaps"));
    lbMaps_->setSelectionMode(QAbstractItemView::SingleSelection);
    mapLayout->addWidget(lbMaps_, 1, 0, 1, 2);

    imgMap_ = new QLabel(panel);
    imgMap_->setObjectName(QStringLiteral("imgMap"));
    imgMap_->setFixedSize(236, 103);
    imgMap_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    imgMap_->setFrameShape(QFrame::StyledPanel);

    auto* mutBox = new QGroupBox(QStringLiteral("Mutator"), panel);
    auto* mutLayout = new QGridLayout(mutBox);
    mutLayout->addWidget(new QLabel(QStringLiteral("Pick mutator(s):"), mutBox), 0, 0);
    auto* clear = new QToolButton(mutBox);
    clear->setObjectName(QStringLiteral("SpeedButton7"));
    clear->setText(QStringLiteral("x"));
    clear->setToolTip(QStringLiteral("Clear the selected mutators"));
    mutLayout->addWidget(clear, 0, 1, Qt::AlignRight);
    lbMutators_ = new QListWidget(mutBox);
    lbMutators_->setObjectName(QStringLiteral("lbMutators"));
    lbMutators_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lbMutators_->setToolTip(QStringLiteral("Keep control pressed to select more than 1 mutator"));
    mutLayout->addWidget(lbMutators_, 1, 0, 1, 2);
    // Room for a map name such as CTF-BridgeOfFate, whatever the rules beside take.
    for (QListWidget* list : {lbMaps_, lbMutators_})
        list->setMinimumWidth(
            list->fontMetrics().horizontalAdvance(QStringLiteral("CTF-BridgeOfFate")) +
            list->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 12);

    auto* startBox = new QGroupBox(QStringLiteral("Starting UT2004"), panel);
    auto* startLayout = new QVBoxLayout(startBox);
    startLayout->addWidget(new QLabel(QStringLiteral("Command line parameters:"), startBox));
    edtCmdLn_ = new QLineEdit(startBox);
    edtCmdLn_->setObjectName(QStringLiteral("edtCmdLn"));
    startLayout->addWidget(edtCmdLn_);
    auto* start =
        new QPushButton(QStringLiteral("Start a UT2004 game with these settings"), startBox);
    start->setObjectName(QStringLiteral("Button1"));
    start->setToolTip(
        QStringLiteral("This will start a UT2004 game with the selected settings. Rules you "
                       "changed are saved first, after a question: the game reads them from "
                       "UT2004.ini."));
    startLayout->addWidget(start);

    // Two columns, so the page fits the window's minimum size: the rules on
    // the left; on the right the two lists side by side, taking the height
    // left, over the preview and the start, which stays in sight.
    auto* lists = new QHBoxLayout;
    lists->addWidget(mapBox, 1);
    lists->addWidget(mutBox, 1);
    auto* right = new QVBoxLayout;
    right->addLayout(lists, 1);
    right->addWidget(imgMap_, 0, Qt::AlignLeft);
    right->addWidget(startBox);
    grid->addWidget(typeBox, 0, 0);
    grid->addWidget(rules_, 1, 0);
    grid->addWidget(general, 2, 0);
    grid->addLayout(right, 0, 1, 3, 1);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(1, 1);
    scroll->setWidget(panel);

    connect(pickGameType_, &QComboBox::currentIndexChanged, this, &TInstantActionPage::pickGameTypeChange);
    connect(lbMaps_, &QListWidget::itemSelectionChanged, this, &TInstantActionPage::lbMutatorsClick);
    connect(lbMutators_, &QListWidget::itemSelectionChanged, this, &TInstantActionPage::lbMutatorsClick);
    connect(pickDiff_, &QComboBox::currentIndexChanged, this, &TInstantActionPage::lbMutatorsClick);
    connect(cbTrans_, &QCheckBox::toggled, this, &TInstantActionPage::cbTransToggled);
    connect(cbTrans_, &QCheckBox::toggled, this, &TInstantActionPage::lbMutatorsClick);
    connect(spinBotCount_, &QSpinBox::valueChanged, this, &TInstantActionPage::spinBotCountChange);
    connect(clear, &QToolButton::clicked, this, &TInstantActionPage::SpeedButton7Click);
    connect(info, &QToolButton::clicked, this, &TInstantActionPage::SpeedButton8Click);
    connect(start, &QPushButton::clicked, this, &TInstantActionPage::Button1Click);
}

QString TInstantActionPage::SelectedMap() const {
    const auto items = lbMaps_->selectedItems();
    return items.isEmpty() ? QString() : items.first()->text();
}

void TInstantActionPage::LoadGameTypeRules() {
    if (!ctx_.ini.Ut2004Ini) return;
    try {
        LoadRules();
    } catch (...) {
        // What a failed load left in the controls is no edit of the player:
        // only what is changed from here on may be written.
        ini::PageWrites shown;
        CollectWrites(shown);
        baseline_.Reset(shown);
        throw;
    }
}

void TInstantActionPage::LoadRules() {
    auto& main = *ctx_.ini.Ut2004Ini;
    {
        RefreshGuard quiet(refreshing_);
        const auto types = GameTypes();
        for (const auto& rule : RuleKeys())
            for (int g = 0; g < kGameTypeCount; ++g) {
                const auto& cell = rule.cells[g];
                if (!cell.control) continue;
                QWidget* control = ruleControls_.at(L(cell.control));
                const std::string stored = main.ReadText(types[g].gameClass, rule.key, "");
                switch (rule.kind) {
                case RuleKind::Number:
                    // The game writes "2.000000" for a whole number of seconds.
                    static_cast<QSpinBox*>(control)->setValue(ini::ParseRoundedNumber(stored).value_or(cell.def));
                    break;
                case RuleKind::Percent: {
                    const double fraction = ini::ParseIniFraction(ini::SplitInlineComment(stored).value).value_or(cell.def / 100.0);
                    static_cast<QSpinBox*>(control)->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 100)));
                    break;
                }
                case RuleKind::Flag:
                    static_cast<QCheckBox*>(control)->setChecked(main.ReadFlag(types[g].gameClass, rule.key, cell.def != 0));
                    break;
                }
            }
        spinBotCount_->setValue(ini::ParseRoundedNumber(main.ReadText(kMain, "LastBotCount", "")).value_or(0));
        pickDiff_->setCurrentIndex(ini::ParseRoundedNumber(main.ReadText(kMain, "LastBotSkill", "")).value_or(1) - 1);
        cbTrans_->setChecked(main.ReadFlag(kBaseRules, "LastTranslocator", true));
    }
    const QString last = Q(main.ReadText(kMain, "LastGameType", "XGame.xDeathMatch")).toLower();
    for (int g = 0; g < kGameTypeCount; ++g)
        if (last == L(GameTypes()[g].gameClass).toLower()) SelectGameType(g);
    // The game type's rule wins over LastTranslocator: it is the box the
    // player sees in that game type's group.
    FollowTranslocatorRule();
    RestoreLastMap();
    ini::PageWrites loaded;
    CollectWrites(loaded);
    baseline_.Reset(loaded);
}

void TInstantActionPage::CollectWrites(ini::PageWrites& w) const {
    auto& main = *ctx_.ini.Ut2004Ini;
    const auto types = GameTypes();
    for (int g = 0; g < kGameTypeCount; ++g)
        for (const auto& rule : RuleKeys()) {
            const auto& cell = rule.cells[g];
            if (!cell.control) continue;
            QWidget* control = ruleControls_.at(L(cell.control));
            w.From(cell.control);
            switch (rule.kind) {
            case RuleKind::Number:
                w.Number(main, types[g].gameClass, rule.key, static_cast<QSpinBox*>(control)->value());
                break;
            case RuleKind::Percent:
                w.Decimal(main, types[g].gameClass, rule.key,
                          ini::FormatFixed("0.000000", static_cast<QSpinBox*>(control)->value() / 100.0));
                break;
            case RuleKind::Flag:
                w.Flag(main, types[g].gameClass, rule.key, static_cast<QCheckBox*>(control)->isChecked());
                break;
            }
        }
    w.From("spinBotCount").Number(main, kMain, "LastBotCount", spinBotCount_->value());
    w.From("pickDiff").Number(main, kMain, "LastBotSkill", pickDiff_->currentIndex() + 1);
    w.From("cbTrans").Flag(main, kBaseRules, "LastTranslocator", cbTrans_->isChecked());
    if (const int g = pickGameType_->currentIndex(); g >= 0 && g < kGameTypeCount)
        w.From("pickGameType").Text(main, kMain, "LastGameType", types[g].gameClass);
    if (const QString map = SelectedMap(); !map.isEmpty()) w.From("lbMaps").Text(main, kMain, "LastMap", S(map));
}

std::vector<ini::PendingWrite> TInstantActionPage::PendingChanges() const {
    if (!ctx_.ini.Ut2004Ini) return {};
    ini::PageWrites now;
    CollectWrites(now);
    return baseline_.Changed(now);
}

std::vector<ini::PendingWrite> TInstantActionPage::EveryWrite() const {
    if (!ctx_.ini.Ut2004Ini) return {};
    ini::PageWrites all;
    CollectWrites(all);
    return all.List();
}

void TInstantActionPage::SaveGameTypeRules() {
    if (!ctx_.ini.Ut2004Ini) return;
    ini::TIniFile::Batch batch(*ctx_.ini.Ut2004Ini);
    ini::PageWrites now;
    CollectWrites(now);
    baseline_.WriteChanged(now);
    batch.finish();
}

void TInstantActionPage::SelectGameType(int position) {
    if (pickGameType_->currentIndex() != position) {
        pickGameType_->setCurrentIndex(position); // the change handler rebuilds the map list
        return;
    }
    if (position >= 0 && position < kGameTypeCount) BuildMapList(L(GameTypes()[position].mapPrefix));
}

void TInstantActionPage::pickGameTypeChange(int position) {
    cbTrans_->setVisible(position != kOnslaught);
    SelectGameType(position);
    if (position >= 0 && position < kGameTypeCount) {
        rules_->setCurrentIndex(position);
        // The stack takes the height of the rules shown, not of the longest
        // game type's, so the start stays in sight.
        for (int g = 0; g < rules_->count(); ++g)
            rules_->widget(g)->setSizePolicy(
                g == position ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                g == position ? QSizePolicy::Preferred : QSizePolicy::Ignored);
        rules_->updateGeometry();
    }
    FollowTranslocatorRule();
    lbMutatorsClick();
}

void TInstantActionPage::FollowTranslocatorRule() {
    const int g = pickGameType_->currentIndex();
    if (g >= 0 && g < kGameTypeCount && transRules_[g])
        cbTrans_->setChecked(transRules_[g]->isChecked());
}

void TInstantActionPage::TranslocatorRuleToggled(int gameType, bool on) {
    // A load sets both from the file; they are brought together after it.
    if (refreshing_ || gameType != pickGameType_->currentIndex()) return;
    cbTrans_->setChecked(on);
}

void TInstantActionPage::cbTransToggled(bool on) {
    const int g = pickGameType_->currentIndex();
    if (refreshing_ || g < 0 || g >= kGameTypeCount || !transRules_[g]) return;
    transRules_[g]->setChecked(on);
}

void TInstantActionPage::BuildMapList(const QString& prefix) {
    RefreshGuard quiet(refreshing_);
    lbMaps_->clear();
    if (mapsDir_.isEmpty()) {
        mapsDir_ = MapsDirOf(ctx_.state.GameSystem());
        if (!QFileInfo(mapsDir_).isDir()) {
            TfrmDirEdit ask(mapsDir_, ctx_.prompter, this);
            if (ask.exec() == QDialog::Accepted && QFileInfo(ask.Path()).isDir()) {
                mapsDir_ = ask.Path();
                while (mapsDir_.size() > 1 && mapsDir_.endsWith(QLatin1Char('/'))) mapsDir_.chop(1);
            }
        }
    }
    QStringList maps = MapEntries(mapsDir_, prefix);
    // A native install keeps downloaded maps beside the player's files
    // (~/.ut2004/Maps); the game reads both folders.
    if (ctx_.state.GameSystem() != ctx_.state.SystemDir)
        for (const QString& m : MapEntries(MapsDirOf(ctx_.state.SystemDir), prefix))
            if (!maps.contains(m, Qt::CaseInsensitive)) maps << m;
    SortIgnoringCase(maps);
    lbMaps_->addItems(maps);
    if (lbMaps_->count() > 0)
        lbMaps_->setCurrentRow(0);
    else
        ctx_.prompter.Warning(QStringLiteral("Error loading maps (No maps found).\nSearched at: ") + mapsDir_);
}

void TInstantActionPage::LoadMutatorList() {
    RefreshGuard quiet(refreshing_);
    lbMutators_->clear();
    const ini::TIniFile xgame(S(ctx_.state.GameSystem() + QStringLiteral("XGame.int")));
    lbMutators_->addItems(MutatorEntries(xgame.ReadSectionNames()));
}

QString TInstantActionPage::BuildCommandLine() const {
    LaunchChoice c;
    c.map = SelectedMap();
    if (const int g = pickGameType_->currentIndex(); g >= 0 && g < kGameTypeCount)
        c.gameClass = L(GameTypes()[g].gameClass);
    c.bots = spinBotCount_->text();
    c.translocator = cbTrans_->isChecked();
    c.difficulty = pickDiff_->currentIndex();
    for (int i = 0; i < lbMutators_->count(); ++i)
        if (lbMutators_->item(i)->isSelected()) c.mutators << lbMutators_->item(i)->text();
    return instantaction::BuildCommandLine(c);
}

void TInstantActionPage::RestoreLastMap() {
    {
        RefreshGuard quiet(refreshing_);
        LoadMutatorList();
        int row = -1;
        if (!SelectedMap().isEmpty() && ctx_.ini.Ut2004Ini) {
            const QString last = Q(ctx_.ini.Ut2004Ini->ReadText(kMain, "LastMap", ""));
            for (int i = 0; i < lbMaps_->count(); ++i)
                if (lbMaps_->item(i)->text().compare(last, Qt::CaseInsensitive) == 0) {
                    row = i;
                    break;
                }
        }
        if (lbMaps_->count() > 0) lbMaps_->setCurrentRow(row < 0 ? 0 : row);
    }
    // The preview follows the restored map too, not only the command line.
    lbMutatorsClick();
}

void TInstantActionPage::lbMutatorsClick() {
    if (refreshing_) return;
    edtCmdLn_->setText(BuildCommandLine());
    const QString map = SelectedMap();
    const QDir programDir(ctx_.state.ProgramDir);
    const QStringList jpgs = programDir.entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Unsorted);
    bool shown = false;
    for (const QString& file : MatchingPreviews(jpgs, map)) {
        const QString path = programDir.filePath(file);
        QFile f(path);
        QString why;
        const QImage image = f.open(QIODevice::ReadOnly) ? imaging::DecodeJpeg(f.readAll(), &why) : QImage();
        if (image.isNull()) {
            imgMap_->clear();
            ctx_.prompter.Error(QStringLiteral("Cannot show the map preview ") + path + QStringLiteral(":\n") +
                                (why.isEmpty() ? f.errorString() : why));
            return;
        }
        imgMap_->setPixmap(QPixmap::fromImage(image)); // shown at its own size, cut to the frame
        shown = true;
    }
    if (!shown) imgMap_->clear();
}

void TInstantActionPage::Button1Click() {
    // The game reads the rules from UT2004.ini, not from its command line:
    // what the page shows is saved first, or the game plays something else.
    if (!PendingChanges().empty()) {
        const auto answer = ctx_.prompter.Ask(
            ui::PromptKind::Confirmation,
            QStringLiteral("The game reads these rules from UT2004.ini, where your changes are not "
                           "saved yet.\nSave them before the game starts?"),
            ui::Buttons::YesNoCancel);
        if (answer == ui::Answer::Cancel) return;
        if (answer == ui::Answer::Yes) {
            const auto save = [this] {
                SaveGameTypeRules();
                return true;
            };
            if (ctx_.writeFiles ? !ctx_.writeFiles(QStringLiteral("Save"), save) : !save()) return;
        }
    }
    const QString gameDir = QFileInfo(QDir::cleanPath(ctx_.state.GameSystem())).absolutePath();
    if (!platform::RunningGameProcesses(gameDir, ctx_.state.WinePrefix).empty() &&
        !ctx_.prompter.Confirm(QStringLiteral("UT2004 is already running from this folder.\nStart "
                                              "another game all the same?"),
                               ui::Answer::No))
        return;
    // Started the way the install starts it: Steam, wine in the prefix, or
    // the native program.
    platform::Install install;
    install.kind = platform::KindFromKey(ctx_.state.InstallKind);
    const QFileInfo system(QDir::cleanPath(ctx_.state.GameSystem()));
    install.gameDir = system.absolutePath();
    install.systemName = system.fileName();
    install.prefix = ctx_.state.WinePrefix;
    // Lutris runs the game under the runner its config names, as Lutris would.
    if (install.kind == platform::InstallKind::Lutris)
        install.wine =
            platform::LutrisWine(platform::HomeEnvironment::FromProcess(), install.prefix);
    const bool arm64 = QSysInfo::currentCpuArchitecture() == QStringLiteral("arm64");
    const auto launch = platform::BuildGameLaunch(install, BuildCommandLine(), platform::FindProgramOnPath, arm64);
    QString problem;
    if (!starter_(launch, &problem))
        ctx_.prompter.Warning(QStringLiteral("UT2004 could not be started.\n") + problem);
}

void TInstantActionPage::SpeedButton7Click() {
    {
        RefreshGuard quiet(refreshing_);
        lbMutators_->clearSelection();
    }
    lbMutatorsClick();
}

void TInstantActionPage::SpeedButton8Click() {
    const ini::TIniFile xmaps(S(ctx_.state.GameSystem() + QStringLiteral("XMaps.int")));
    QString key = SelectedMap();
    if (const auto dash = key.indexOf(QLatin1Char('-')); dash >= 0) key = key.mid(dash + 1);
    QString text = key.isEmpty() ? QString() : Q(xmaps.ReadText("DecoText", S(key), ""));
    text.replace(QStringLiteral("||"), QStringLiteral("\r\n"));
    if (text.isEmpty()) text = QStringLiteral("Cannot find information about this map");
    ctx_.prompter.Information(text);
}

void TInstantActionPage::spinBotCountChange() {
    if (ctx_.state.StartupFinished) lbMutatorsClick();
}

} // namespace instantaction
