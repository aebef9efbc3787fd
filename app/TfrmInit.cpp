#include "app/TfrmInit.h"

#include "ini/IniFile.h"
#include "platform/Paths.h"
#include "ui/Prompter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace app {

namespace {

struct Option {
    QCheckBox* TfrmInit::*box;
    const char* name;
    const char* caption;
    const char* key;
    bool def;
};

constexpr Option kOptions[] = {
    {&TfrmInit::cbAutoBackup, "cbAutoBackup", "Automatic backup files at startup", "AutoBackup",
     true},
    {&TfrmInit::cbAskBackup, "cbAskBackup", "Always ask before making backup", "AskBackup", false},
    {&TfrmInit::cbOverrideToday, "cbOverrideToday", "Ask before overriding today's backup",
     "OverrideToday", false},
    {&TfrmInit::cbUpdates, "cbUpdates", "Check for updates on startup (need internet connection)",
     "CheckOnStartup", true},
    {&TfrmInit::cbShowReadme, "cbShowReadme", "Show readme", "ShowReadme", true},
    {&TfrmInit::cbShowChanges, "cbShowChanges", "Show the changes before each save", "ShowChanges",
     false},
};

} // namespace

TfrmInit::TfrmInit(std::vector<platform::Install> installs, platform::HomeEnvironment home,
                   const ini::TIniFile& settings, QWidget* parent)
    : QDialog(parent), installs_(std::move(installs)), home_(std::move(home)) {
    setObjectName(QStringLiteral("frmInit"));
    setWindowTitle(QStringLiteral("Quorlex 2004 setup"));
    auto* layout = new QVBoxLayout(this);
    auto* label1 = new QLabel(QStringLiteral("Enter the path to the Unreal tournament 2004 dir"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label1);
    pickInstall = new QComboBox(this);
    pickInstall->setObjectName(QStringLiteral("pickInstall"));
    for (const auto& i : installs_)
        pickInstall->addItem(i.label + QStringLiteral(": ") + QDir::toNativeSeparators(platform::WithTilde(i.gameDir, home_.home)));
    pickInstall->setVisible(!installs_.empty());
    layout->addWidget(pickInstall);
    diredit = new QLineEdit(this);
    diredit->setObjectName(QStringLiteral("diredit"));
    diredit->setMinimumWidth(360);
    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(diredit, 1);
    btnBrowse = new QPushButton(QStringLiteral("Browse..."), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    dirRow->addWidget(btnBrowse);
    layout->addLayout(dirRow);
    lblInstallNote = new QLabel(this);
    lblInstallNote->setObjectName(QStringLiteral("lblInstallNote"));
    lblInstallNote->setWordWrap(true);
    layout->addWidget(lblInstallNote);
    connect(btnBrowse, &QPushButton::clicked, this, &TfrmInit::btnBrowseClick);
    for (const auto& o : kOptions) {
        auto* box = new QCheckBox(QString::fromLatin1(o.caption), this);
        box->setObjectName(QString::fromLatin1(o.name));
        bool checked = o.def;
        try {
            checked = settings.ReadFlag("Quorlex", o.key, o.def);
        } catch (...) {
            // A settings file that cannot be read leaves the defaults.
        }
        box->setChecked(checked);
        this->*o.box = box;
        layout->addWidget(box);
    }
    auto* buttons = new QHBoxLayout;
    OKBtn = new QPushButton(QStringLiteral("OK"), this);
    OKBtn->setObjectName(QStringLiteral("OKBtn"));
    OKBtn->setDefault(true);
    OKBtn->setToolTip(QStringLiteral("Clicking OK automatically means you agree\nthat i am not "
                                     "responsible of anything that \npossible has caused any "
                                     "damage.\n"));
    CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
    CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
    buttons->addStretch();
    buttons->addWidget(OKBtn);
    buttons->addWidget(CancelBtn);
    layout->addLayout(buttons);
    connect(OKBtn, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelBtn, &QPushButton::clicked, this, &TfrmInit::CancelBtnClick);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    if (!installs_.empty()) ShowFolder(installs_.front().gameDir);
    // Options shows the folder in use, not a fresh proposal.
    try {
        const std::string recorded = settings.ReadText("UT2k4", "Dir", "");
        if (!recorded.empty()) ShowFolder(QString::fromStdString(recorded));
    } catch (...) {
        // An unreadable settings file leaves the proposal.
    }
    // The list shows the install in use, or none when the folder is not one found.
    int inUse = -1;
    for (std::size_t i = 0; i < installs_.size(); ++i)
        if (QDir::cleanPath(diredit->text()) == installs_[i].gameDir) inUse = static_cast<int>(i);
    pickInstall->setCurrentIndex(inUse);
    connect(pickInstall, &QComboBox::activated, this, &TfrmInit::pickInstallChange);
    connect(diredit, &QLineEdit::textChanged, this, &TfrmInit::ShowInstallNote);
    ShowInstallNote();
    if (auto* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(sizeHint().width(), sizeHint().height()) / 2);
}

void TfrmInit::CancelBtnClick() { reject(); }

// A Windows player reads and types "C:\UT2004"; the settings keep "/".
void TfrmInit::ShowFolder(const QString& dir) { diredit->setText(QDir::toNativeSeparators(dir)); }

void TfrmInit::btnBrowseClick() {
    if (!prompter) return;
    if (auto chosen = prompter->ChooseDirectory(QStringLiteral("Select the Unreal Tournament 2004 folder"), diredit->text()))
        if (!chosen->isEmpty()) ShowFolder(*chosen);
}

void TfrmInit::pickInstallChange(int index) {
    if (index >= 0 && index < static_cast<int>(installs_.size())) ShowFolder(installs_[index].gameDir);
}

platform::Install TfrmInit::ChosenInstall() const {
    const QString dir = platform::GameFolderFromTyped(diredit->text());
    if (dir.isEmpty()) return {};
    return platform::InstallForFolder(dir, home_, installs_);
}

void TfrmInit::ShowInstallNote() {
    const platform::Install chosen = ChosenInstall();
    QString note;
    if (chosen.kind == platform::InstallKind::Native) {
        const QString where = platform::WithTilde(chosen.playerDir, home_.home);
        note = QStringLiteral("Native Linux: your settings are in ") + where + QLatin1Char('.');
        if (!QFileInfo::exists(chosen.playerDir + QStringLiteral("/User.ini")))
            note += QStringLiteral(" The game creates them there on its first start: start UT2004 once first.");
    } else if (!chosen.gameDir.isEmpty() && chosen.kind != platform::InstallKind::Folder) {
        note = chosen.label + QLatin1Char('.');
    } else if (platform::IsNativePlayerFolder(platform::GameFolderFromTyped(diredit->text()),
                                              home_)) {
        note = platform::NativePlayerFolderHint();
    }
    lblInstallNote->setText(note);
    lblInstallNote->setVisible(!note.isEmpty());
}

} // namespace app
