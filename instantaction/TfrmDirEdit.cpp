#include "instantaction/TfrmDirEdit.h"

#include "ui/Prompter.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace instantaction {

TfrmDirEdit::TfrmDirEdit(const QString& searched, ui::Prompter& prompter, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmDirEdit"));
    setWindowTitle(QStringLiteral("Can't locate the Maps dir. Please give the correct path"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Give the path to the UT2004 Maps dir. And press OK"), this);
    label->setObjectName(QStringLiteral("Label1"));
    layout->addWidget(label);
    auto* row = new QHBoxLayout;
    edtPath = new QLineEdit(searched, this);
    edtPath->setObjectName(QStringLiteral("edtPath"));
    edtPath->setMinimumWidth(360);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("btnBrowse"));
    row->addWidget(edtPath);
    row->addWidget(browse);
    layout->addLayout(row);
    auto* buttons = new QHBoxLayout;
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("OKBtn"));
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("CancelBtn"));
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(browse, &QPushButton::clicked, this, [this, &prompter] {
        if (auto d = prompter.ChooseDirectory(windowTitle(), edtPath->text())) edtPath->setText(*d);
    });
}

QString TfrmDirEdit::Path() const { return edtPath->text().trimmed(); }

} // namespace instantaction
