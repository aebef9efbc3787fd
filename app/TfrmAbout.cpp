#include "app/TfrmAbout.h"

#include "app/TfrmMain.h"
#include "platform/Shell.h"

#include <QEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace app {

namespace {

constexpr const char* kHomePage = "https://www.quorlex2004.org/";
constexpr const char* kEmail = "support@quorlex2004.org";
constexpr const char* kChannel = "#quorlex2004";
constexpr const char* kChatUrl = "irc://irc.quorlex2004.org/quorlex2004";

QLabel* link(const QString& text, const QString& hint, QWidget* parent, const char* name) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setToolTip(hint);
    l->setCursor(Qt::PointingHandCursor);
    l->setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    return l;
}

} // namespace

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("About - Quorlex 2004"));
    auto* layout = new QVBoxLayout(this);
    lblVersion = new QLabel(this);
    lblVersion->setObjectName(QStringLiteral("lblVersion"));
    QFont big = lblVersion->font();
    big.setPointSize(big.pointSize() + 8);
    big.setBold(true);
    lblVersion->setFont(big);
    lblVersion->setAlignment(Qt::AlignCenter);
    layout->addWidget(lblVersion);
    auto* label1 = new QLabel(QStringLiteral("The Unreal Tournament 2004 INI Editor\n"
                                             "Key binds, aliases, player and video settings,\n"
                                             "instant action, backups and presets in one place."),
                              this);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setAlignment(Qt::AlignCenter);
    layout->addWidget(label1);

    auto* grid = new QGridLayout;
    auto* label2 = new QLabel(QStringLiteral("Homepage:"), this);
    label2->setObjectName(QStringLiteral("Label2"));
    Label3 = link(QString::fromLatin1(kHomePage), QString::fromLatin1(kHomePage), this, "Label3");
    grid->addWidget(label2, 0, 0);
    grid->addWidget(Label3, 0, 1);
    auto* label4 = new QLabel(QStringLiteral("Questions, ideas or bugs? Mail"), this);
    label4->setObjectName(QStringLiteral("Label4"));
    Label5 = link(QString::fromLatin1(kEmail), QStringLiteral("mailto:") + QString::fromLatin1(kEmail), this, "Label5");
    auto* label6 = new QLabel(QStringLiteral("or ask in the chat channel"), this);
    label6->setObjectName(QStringLiteral("Label6"));
    Label7 = link(QString::fromLatin1(kChannel), QString::fromLatin1(kChatUrl), this, "Label7");
    grid->addWidget(label4, 1, 0);
    grid->addWidget(Label5, 1, 1);
    grid->addWidget(label6, 2, 0);
    grid->addWidget(Label7, 2, 1);
    layout->addLayout(grid);
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("btnOK"));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignHCenter);
    for (QLabel* l : {Label3, Label5, Label7}) l->installEventFilter(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    FormCreate();
}

void TfrmAbout::FormCreate() {
    lblVersion->setText(QStringLiteral("Quorlex 2004 v%1").arg(QString::fromLatin1(kVersion)));
    if (auto* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(sizeHint().width(), sizeHint().height()) / 2);
}

bool TfrmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == Label3) Label3Click();
        if (watched == Label5) Label5Click();
        if (watched == Label7) Label7Click();
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmAbout::Label3Click() { platform::ShellOpen(Label3->text()); }
void TfrmAbout::Label5Click() { platform::ShellOpen(Label5->toolTip()); }
void TfrmAbout::Label7Click() { platform::ShellOpen(Label7->toolTip()); }

} // namespace app
