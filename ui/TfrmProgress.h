#pragma once
#include <QWidget>

class QLabel;
class QProgressBar;

namespace ui {

// The borderless splash that tells what the program is busy with.
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

private:
    QLabel* lblProgress_ = nullptr;
    QProgressBar* pBar_ = nullptr;
};

} // namespace ui
