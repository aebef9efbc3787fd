#include "app/TfrmGuide.h"

#include "platform/Shell.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QUrl>
#include <QVBoxLayout>

namespace app {

QString TfrmGuide::GuidePath(const QString& programDir) {
    return programDir + QStringLiteral("guide/UserGuide.md");
}

TfrmGuide::TfrmGuide(const QString& programDir, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmGuide"));
    setWindowTitle(QStringLiteral("Quorlex 2004 help"));
    auto* layout = new QVBoxLayout(this);
    browser = new QTextBrowser(this);
    browser->setObjectName(QStringLiteral("guideBrowser"));
    // Links within the guide move in it; anything else goes to the desktop.
    browser->setOpenLinks(false);
    connect(browser, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (url.isRelative() && url.path().isEmpty())
            browser->scrollToAnchor(url.fragment());
        else
            platform::ShellOpen(guideUrl_.resolved(url).toString());
    });
    layout->addWidget(browser);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    btnClose = buttons->button(QDialogButtonBox::Close);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(780, 600);

    const QString path = GuidePath(programDir);
    guideUrl_ = QUrl::fromLocalFile(path);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return;
    // The pictures are found beside the guide.
    browser->setSearchPaths({QFileInfo(path).absolutePath()});
    // "<name>" and "<date>" in the text are words, not HTML, which would
    // swallow the text after them.
    browser->document()->setMarkdown(
        QString::fromUtf8(f.readAll()),
        QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub |
                                        QTextDocument::MarkdownNoHTML));
    loaded_ = !browser->document()->isEmpty();
    FitPictures();
    // Filling the document leaves the view at its end; the guide is read from the top.
    browser->moveCursor(QTextCursor::Start);
}

void TfrmGuide::FitPictures() {
    // The window's pictures are as wide as the window; the guide shows
    // them at a width that reads without scrolling sideways, two a row in
    // its tables of pictures.
    QTextDocument* doc = browser->document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const int widest = QTextCursor(block).currentTable() ? 340 : 640;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.charFormat().isImageFormat()) continue;
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            const QImage picture =
                doc->resource(QTextDocument::ImageResource, QUrl(image.name())).value<QImage>();
            if (picture.isNull() || picture.width() <= widest) continue;
            image.setWidth(widest);
            image.setHeight(picture.height() * widest / picture.width());
            QTextCursor cursor(doc);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(image);
        }
    }
}

} // namespace app
