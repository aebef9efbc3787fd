#include "app/TfrmReadme.h"

#include "ini/Cp1252.h"
#include "ui/Prompter.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace app {

TfrmReadme::TfrmReadme(const QString& programDir, ui::Prompter& prompter, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmReadme"));
    setWindowTitle(QStringLiteral("ReadMe.txt"));
    setFixedSize(620, 460);
    auto* layout = new QVBoxLayout(this);
    readmeMemo = new QPlainTextEdit(this);
    readmeMemo->setObjectName(QStringLiteral("readmeMemo"));
    readmeMemo->setReadOnly(true);
    readmeMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(readmeMemo);
    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    layout->addWidget(btnOk, 0, Qt::AlignHCenter);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    QFile f(programDir + QStringLiteral("ReadMe.txt"));
    if (!f.open(QIODevice::ReadOnly)) {
        prompter.Warning(QStringLiteral("Cannot open ReadMe.txt"));
        return;
    }
    const QByteArray bytes = f.readAll();
    readmeMemo->setPlainText(
        QString::fromStdString(ini::cp1252ToUtf8(std::string_view(bytes.constData(), bytes.size()))));
}

} // namespace app
