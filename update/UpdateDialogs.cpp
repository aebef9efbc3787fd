#include "update/UpdateDialogs.h"

#include "platform/Shell.h"

#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace update {

namespace {

// 400 by 400, centred, a dialog frame with the system menu only.
void frame(QDialog* d, const QString& caption) {
    d->setWindowTitle(caption);
    d->setWindowFlags(Qt::Dialog | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    d->setFixedSize(400, 400);
    if (auto* screen = QGuiApplication::primaryScreen()) d->move(screen->availableGeometry().center() - QPoint(200, 200));
}

QPlainTextEdit* textBox(QDialog* d, const QStringList& text) {
    auto* memo = new QPlainTextEdit(d);
    memo->setObjectName(QStringLiteral("memo"));
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setPlainText(text.join(QLatin1Char('\n')));
    memo->setGeometry(10, 10, d->width() - 20, d->height() - 60);
    return memo;
}

// A page that asks for nothing: images, style sheets and frames are not fetched.
class QuietBrowser final : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

} // namespace

TWhatsNewDialog::TWhatsNewDialog(const QStringList& text, const QString& caption, const QString& ok, const QString& cancel) {
    setObjectName(QStringLiteral("frmWhatsNew"));
    frame(this, caption);
    memo = textBox(this, text);
    const QSize button = QPushButton().sizeHint();
    const int top = memo->geometry().bottom() + 1 + 10;
    const int right = memo->geometry().right() + 1;
    okButton = new QPushButton(ok, this);
    okButton->setObjectName(QStringLiteral("btnOk"));
    okButton->setGeometry(right - 2 * button.width() - 10, top, button.width(), button.height());
    cancelButton = new QPushButton(cancel, this);
    cancelButton->setObjectName(QStringLiteral("btnCancel"));
    cancelButton->setGeometry(right - button.width(), top, button.width(), button.height());
    setTabOrder(okButton, cancelButton);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TLicenseDialog::TLicenseDialog(const QStringList& text, const QString& caption, const QString& ok, const QString& accept,
                               const QString& notAccept) {
    setObjectName(QStringLiteral("frmLicense"));
    frame(this, caption);
    memo = textBox(this, text);
    const QSize button = QPushButton().sizeHint();
    const int top = memo->geometry().bottom() + 1 + 10;
    const int right = memo->geometry().right() + 1;
    okButton = new QPushButton(ok, this);
    okButton->setObjectName(QStringLiteral("btnOk"));
    okButton->setGeometry(right - button.width(), top, button.width(), button.height());
    acceptRadio = new QRadioButton(accept, this);
    acceptRadio->setObjectName(QStringLiteral("rbAccept"));
    acceptRadio->adjustSize();
    acceptRadio->move(10, top);
    notAcceptRadio = new QRadioButton(notAccept, this);
    notAcceptRadio->setObjectName(QStringLiteral("rbNotAccept"));
    notAcceptRadio->adjustSize();
    notAcceptRadio->move(acceptRadio->width() + 20, top);
    setTabOrder(okButton, acceptRadio);
    setTabOrder(acceptRadio, notAcceptRadio);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
}

bool TLicenseDialog::Accepted() const { return acceptRadio->isChecked(); }

THtmlDialog::THtmlDialog(const QString& html) {
    setObjectName(QStringLiteral("frmHtml"));
    resize(640, 480);
    auto* layout = new QVBoxLayout(this);
    browser = new QuietBrowser(this);
    browser->setObjectName(QStringLiteral("browser"));
    browser->setOpenLinks(false);
    browser->setHtml(html);
    layout->addWidget(browser);
    connect(browser, &QTextBrowser::anchorClicked, this, [](const QUrl& url) { platform::ShellOpen(url.toString()); });
}

} // namespace update
