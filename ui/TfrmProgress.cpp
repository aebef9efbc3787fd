#include "ui/TfrmProgress.h"

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
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
    setFixedSize(320, 80);
    setStyleSheet(QStringLiteral("ui--TfrmProgress { border: 1px solid palette(dark); }"));
    if (auto* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TfrmProgress::SetText(const QString& text) { lblProgress_->setText(text); }
void TfrmProgress::SetMaximum(int max) { pBar_->setMaximum(max); }
void TfrmProgress::SetPosition(int pos) { pBar_->setValue(pos); }
int TfrmProgress::Position() const { return pBar_->value(); }
QString TfrmProgress::Text() const { return lblProgress_->text(); }

} // namespace ui
