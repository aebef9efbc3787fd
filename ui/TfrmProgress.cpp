#include "ui/TfrmProgress.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace ui {

TfrmProgress::TfrmProgress(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("frmProgress"));
    // A splash must not take the keyboard from the window the user works in.
    setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(this);
    lblProgress_ = new QLabel(QStringLiteral("Initializing...."), this);
    lblProgress_->setObjectName(QStringLiteral("lblProgress"));
    lblProgress_->setAlignment(Qt::AlignCenter);
    pBar_ = new QProgressBar(this);
    pBar_->setObjectName(QStringLiteral("pBar"));
    pBar_->setTextVisible(false);
    layout->addWidget(lblProgress_);
    layout->addWidget(pBar_);
    auto* row = new QHBoxLayout;
    lblBytes_ = new QLabel(this);
    lblBytes_->setObjectName(QStringLiteral("lblBytes"));
    btnCancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));
    row->addWidget(lblBytes_, 1);
    row->addWidget(btnCancel_);
    layout->addLayout(row);
    lblBytes_->hide();
    btnCancel_->hide();
    connect(btnCancel_, &QPushButton::clicked, this, [this] {
        cancelled_ = true;
        btnCancel_->setEnabled(false);
        lblProgress_->setText(QStringLiteral("Cancelling..."));
    });
    setFixedSize(320, 80);
    setStyleSheet(QStringLiteral("ui--TfrmProgress { border: 1px solid palette(dark); }"));
    if (auto* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    // Stays on top and sits in the middle of the screen, where dialogs open:
    // the setup or a question at start-up would be hidden behind it.
    qApp->installEventFilter(this);
}

bool TfrmProgress::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) && watched != this &&
        watched->isWidgetType() && static_cast<QWidget*>(watched)->isWindow())
        FollowModalWindows();
    return QWidget::eventFilter(watched, event);
}

void TfrmProgress::FollowModalWindows() {
    bool modalShown = false;
    for (QWidget* top : QApplication::topLevelWidgets())
        modalShown = modalShown || (top != this && top->isVisible() && top->isModal());
    if (modalShown && isVisible()) {
        hiddenForModal_ = true;
        hide();
    } else if (!modalShown && hiddenForModal_) {
        hiddenForModal_ = false;
        show();
    }
}

void TfrmProgress::SetText(const QString& text) {
    if (!cancelled_) lblProgress_->setText(text);
}
void TfrmProgress::SetMaximum(int max) {
    pBar_->setMaximum(max);
}
void TfrmProgress::SetPosition(int pos) {
    pBar_->setValue(pos);
}
int TfrmProgress::Position() const {
    return pBar_->value();
}
QString TfrmProgress::Text() const {
    return lblProgress_->text();
}

void TfrmProgress::SetBytes(qint64 done, qint64 total) {
    const QLocale locale;
    lblBytes_->setText(
        total > 0
            ? QStringLiteral("%1 of %2 bytes").arg(locale.toString(done), locale.toString(total))
            : QStringLiteral("%1 bytes").arg(locale.toString(done)));
    lblBytes_->show();
}

QString TfrmProgress::BytesText() const {
    return lblBytes_->text();
}

void TfrmProgress::SetCancellable(bool on) {
    btnCancel_->setVisible(on);
    lblBytes_->setVisible(on || !lblBytes_->text().isEmpty());
    // Room for the file name, the bytes and the button, at any scaling.
    setFixedSize(on ? QSize(420, 30 + 3 * fontMetrics().height() + btnCancel_->sizeHint().height())
                    : QSize(320, 80));
    if (auto* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

} // namespace ui
