#include "ui/ElidedLabel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace ui {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // Takes the width it is given instead of asking for the whole text's.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("MMMM\u2026")),
            QLabel::minimumSizeHint().height()};
}

QString ElidedLabel::ShownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contentsRect(), static_cast<int>(alignment()), option.palette,
                          isEnabled(), ShownText(), foregroundRole());
}

} // namespace ui
