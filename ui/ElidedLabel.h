#pragma once
#include <QLabel>

namespace ui {

// A one-line label that gives up the middle of its text when room is short
// ("/home/player/.../System/User.ini"), so that a long path neither widens
// the window nor runs under what stands beside it. text() stays the whole
// text.
class ElidedLabel final : public QLabel {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ElidedLabel)
public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;
    // The text as it is painted at the label's width now.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* e) override;
};

} // namespace ui
