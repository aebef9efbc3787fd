#include "app/TfrmInit.h"

#include "ini/IniFile.h"
#include "platform/Registry.h"
#include "ui/Prompter.h"

#include <QCheckBox>
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
    {&TfrmInit::cbAutoBackup, "cbAutoBackup", "Automatic backup files at startup", "AutoBackup", true},
    {&TfrmInit::cbAskBackup, "cbAskBackup", "Always ask before making backup", "AskBackup", false},
    {&TfrmInit::cbOverrideToday, "cbOverrideToday", "Ask before overriding todays backup",
     "OverrideToday", false},
    {&TfrmInit::cbUpdates, "cbUpdates", "Check for updates on startup (need inet connection)",
     "CheckOnStartup", true},
    {&TfrmInit::cbShowReadme, "cbShowReadme", "Show readme", "ShowReadme", true},
    {&TfrmInit::cbShowChanges, "cbShowChanges", "Show the changes before each save", "ShowChanges", false},
};

} // namespace

TfrmInit::TfrmInit(const platform::Registry* registry, const QStringList& nativeCandidates,
                   const ini::TIniFile& settings, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmInit"));
    setWindowTitle(QStringLiteral("Quorlex 2004 setup"));
    auto* layout = new QVBoxLayout(this);
    auto* label1 = new QLabel(QStringLiteral("Enter the path to the Unreal tournament 2004 dir"), this);
    label1->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label1);
    diredit = new QLineEdit(this);
    diredit->setObjectName(QStringLiteral("diredit"));
    diredit->setMinimumWidth(360);
    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(diredit, 1);
    btnBrowse = new QPushButton(QStringLiteral("Browse..."), this);
    btnBrowse->setObjectName(QStringLiteral("btnBrowse"));
    dirRow->addWidget(btnBrowse);
    layout->addLayout(dirRow);
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
    ProposeFolder(registry, nativeCandidates);
    // Options shows the folder in use, not a fresh proposal.
    try {
        const std::string recorded = settings.ReadText("UT2k4", "Dir", "");
        if (!recorded.empty()) diredit->setText(QString::fromStdString(recorded));
    } catch (...) {
        // An unreadable settings file leaves the proposal.
    }
    if (auto* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(sizeHint().width(), sizeHint().height()) / 2);
}

void TfrmInit::CancelBtnClick() { reject(); }

void TfrmInit::btnBrowseClick() {
    if (!prompter) return;
    if (auto chosen = prompter->ChooseDirectory(QStringLiteral("Select the Unreal Tournament 2004 folder"), diredit->text()))
        if (!chosen->isEmpty()) diredit->setText(*chosen);
}

void TfrmInit::ProposeFolder(const platform::Registry* registry, const QStringList& nativeCandidates) {
    static const QString kKeys[] = {
        QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004-Demo"),
        QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004")};
    if (registry) {
        // The full game comes second, so it wins when both are installed.
        for (const QString& key : kKeys)
            if (auto folder = registry->ReadMachineString(key, QStringLiteral("Folder")))
                diredit->setText(*folder);
    }
    if (!diredit->text().isEmpty()) return;
    for (const QString& dir : nativeCandidates)
        if (QFileInfo::exists(dir + QStringLiteral("/System/UT2004.ini"))) {
            diredit->setText(dir);
            return;
        }
}

} // namespace app
