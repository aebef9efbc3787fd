#include "update/UpdateDialogs.h"

#include "platform/Shell.h"

#include <QGuiApplication>
#include <QLabel>
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
    if (auto* screen = QGuiApplication::primaryScreen())
        d->move(screen->availableGeometry().center() - QPoint(200, 200));
}

// The caption is what the dialog asks ("... Install it now?"): a window
// manager may cut the title bar short or show none, so the question is
// written above the text as well.
QLabel* captionAbove(QDialog* d, const QString& caption) {
    if (caption.trimmed().isEmpty()) return nullptr;
    auto* label = new QLabel(caption, d);
    label->setObjectName(QStringLiteral("lblCaption"));
    label->setWordWrap(true);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    const int width = d->width() - 20;
    label->setGeometry(10, 10, width, label->heightForWidth(width));
    return label;
}

// The text box fills the dialog below the caption, leaving a row for the buttons.
QPlainTextEdit* textBox(QDialog* d, const QStringList& text, const QLabel* caption) {
    auto* memo = new QPlainTextEdit(d);
    memo->setObjectName(QStringLiteral("memo"));
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setPlainText(text.join(QLatin1Char('\n')));
    const int top = caption ? caption->geometry().bottom() + 1 + 6 : 10;
    memo->setGeometry(10, top, d->width() - 20, d->height() - 50 - top);
    return memo;
}

// A standard-size button whose right edge lies `fromRight` pixels left of
// the text box's right edge, 10 pixels below it.
QPushButton* buttonBelow(QDialog* d, const QPlainTextEdit* memo, const QString& caption,
                         const char* name, int fromRight) {
    const QSize size = QPushButton().sizeHint();
    auto* b = new QPushButton(caption, d);
    b->setObjectName(QString::fromLatin1(name));
    const QRect box = memo->geometry();
    b->setGeometry(box.right() + 1 - fromRight - size.width(), box.bottom() + 1 + 10, size.width(),
                   size.height());
    return b;
}

// A page that asks for nothing: images, style sheets and frames are not fetched.
class QuietBrowser final : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

} // namespace

TWhatsNewDialog::TWhatsNewDialog(const QStringList& text, const QString& caption, const QString& ok,
                                 const QString& cancel) {
    setObjectName(QStringLiteral("frmWhatsNew"));
    frame(this, caption);
    captionLabel = captionAbove(this, caption);
    memo = textBox(this, text, captionLabel);
    okButton = buttonBelow(this, memo, ok, "btnOk", QPushButton().sizeHint().width() + 10);
    cancelButton = buttonBelow(this, memo, cancel, "btnCancel", 0);
    setTabOrder(okButton, cancelButton);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

TLicenseDialog::TLicenseDialog(const QStringList& text, const QString& caption, const QString& ok,
                               const QString& accept, const QString& notAccept) {
    setObjectName(QStringLiteral("frmLicense"));
    frame(this, caption);
    captionLabel = captionAbove(this, caption);
    memo = textBox(this, text, captionLabel);
    okButton = buttonBelow(this, memo, ok, "btnOk", 0);
    const int top = okButton->y();
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

bool TLicenseDialog::Accepted() const {
    return acceptRadio->isChecked();
}

THtmlDialog::THtmlDialog(const QString& html) {
    setObjectName(QStringLiteral("frmHtml"));
    resize(640, 480);
    auto* layout = new QVBoxLayout(this);
    browser = new QuietBrowser(this);
    browser->setObjectName(QStringLiteral("browser"));
    browser->setOpenLinks(false);
    browser->setHtml(html);
    layout->addWidget(browser);
    // Only web pages open: a link to a local file or a program does nothing.
    connect(browser, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        const QString scheme = url.scheme().toLower();
        if (scheme == QStringLiteral("http") || scheme == QStringLiteral("https"))
            platform::ShellOpen(url.toString());
    });
}

} // namespace update
