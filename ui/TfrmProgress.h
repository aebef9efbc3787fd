#pragma once
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ui {

// The borderless splash that tells what the program is busy with; as the
// download window of an update it also shows the bytes and a Cancel button.
class TfrmProgress final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmProgress)
public:
    explicit TfrmProgress(QWidget* parent = nullptr);
    void SetText(const QString& text);
    void SetMaximum(int max);
    void SetPosition(int pos);
    int Position() const;
    QString Text() const;
    // "12,345 of 67,890 bytes" (or "12,345 bytes" when the total is unknown).
    void SetBytes(qint64 done, qint64 total);
    QString BytesText() const;
    // Shows the Cancel button; Cancelled() tells whether it was pressed.
    void SetCancellable(bool on);
    bool Cancelled() const { return cancelled_; }

protected:
    // Keeps the splash out of the way of every modal dialog and message box.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FollowModalWindows();
    QLabel* lblProgress_ = nullptr;
    QProgressBar* pBar_ = nullptr;
    QLabel* lblBytes_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    bool cancelled_ = false;
    bool hiddenForModal_ = false; // hidden while a modal window is up, shown again after it
};

} // namespace ui
