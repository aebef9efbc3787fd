#include "app/TfrmReview.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace app {

namespace {

QString Shown(const ReviewRow& r, bool next) {
    if (!next && r.added) return QStringLiteral("(added)");
    if (next && r.removed) return QStringLiteral("(removed)");
    return next ? r.next : r.now;
}

} // namespace

TfrmReview::TfrmReview(const QString& title, const std::vector<ReviewRow>& rows, bool offerSave, QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmReview"));
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    // Before a save the list tells what will happen; in the history, what did.
    const QString count =
        rows.size() == 1 ? QStringLiteral("1 value") : QStringLiteral("%1 values").arg(rows.size());
    QString text;
    if (rows.empty())
        text =
            offerSave ? QStringLiteral("Nothing will change.") : QStringLiteral("Nothing changed.");
    else
        text = count + (offerSave ? QStringLiteral(" will change:") : QStringLiteral(" changed:"));
    auto* summary = new QLabel(text, this);
    summary->setObjectName(QStringLiteral("lblReviewSummary"));
    layout->addWidget(summary);
    list_ = new QTreeWidget(this);
    list_->setObjectName(QStringLiteral("tvChanges"));
    list_->setHeaderLabels(
        {QStringLiteral("Section"), QStringLiteral("Key"),
         offerSave ? QStringLiteral("In the file now") : QStringLiteral("Before"),
         offerSave ? QStringLiteral("Will become") : QStringLiteral("After"),
         QStringLiteral("Page"), QStringLiteral("Control")});
    list_->setRootIsDecorated(true);
    list_->setUniformRowHeights(true);
    QTreeWidgetItem* fileItem = nullptr;
    for (const auto& r : rows) {
        if (!fileItem || fileItem->text(0) != r.file) {
            fileItem = new QTreeWidgetItem(list_, {r.file});
            fileItem->setFirstColumnSpanned(true);
            fileItem->setExpanded(true);
        }
        auto* item = new QTreeWidgetItem(fileItem, {r.section, r.key, Shown(r, false), Shown(r, true), r.page, r.control});
        for (int c = 0; c < 4; ++c) item->setToolTip(c, item->text(c));
    }
    list_->expandAll();
    list_->header()->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < 6; ++c) list_->resizeColumnToContents(c);
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(this);
    if (offerSave) {
        auto* save = buttons->addButton(QStringLiteral("&Save"), QDialogButtonBox::AcceptRole);
        save->setObjectName(QStringLiteral("btnReviewSave"));
        save->setEnabled(!rows.empty());
        auto* cancel = buttons->addButton(QDialogButtonBox::Cancel);
        cancel->setObjectName(QStringLiteral("btnReviewCancel"));
        cancel->setDefault(true); // a reflex Enter writes nothing
    } else {
        auto* close = buttons->addButton(QDialogButtonBox::Close);
        close->setObjectName(QStringLiteral("btnReviewClose"));
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(900, 480);
}

QString ReviewText(const std::vector<ReviewRow>& rows) {
    QString text;
    QString file;
    for (const auto& r : rows) {
        if (r.file != file) {
            file = r.file;
            text += file + QLatin1Char('\n');
        }
        text += QStringLiteral("  [%1] %2: %3 -> %4").arg(r.section, r.key, Shown(r, false), Shown(r, true));
        if (!r.page.isEmpty()) text += QStringLiteral("  (%1, %2)").arg(r.page, r.control);
        text += QLatin1Char('\n');
    }
    return text;
}

} // namespace app
