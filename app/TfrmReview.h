#pragma once
#include <QDialog>
#include <QString>
#include <vector>

class QTreeWidget;

namespace app {

// One key a save would write, or one value a past command changed.
struct ReviewRow {
    QString file; // file name as shown
    QString section;
    QString key;
    QString now;  // the file's text now (before the command, for history)
    QString next; // the text it gets
    QString page;
    QString control;
    bool added = false;
    bool removed = false;
};

// The changes as a list per file, with Save and Cancel (review before a
// save: what will change) or Close alone (a past command's changes: what
// changed).
class TfrmReview final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmReview)
public:
    TfrmReview(const QString& title, const std::vector<ReviewRow>& rows, bool offerSave, QWidget* parent = nullptr);
    QTreeWidget* List() const { return list_; }

private:
    QTreeWidget* list_ = nullptr;
};

// The same list as plain text, for the Details part of a message.
QString ReviewText(const std::vector<ReviewRow>& rows);

} // namespace app
