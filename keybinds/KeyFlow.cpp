#include "keybinds/KeyFlow.h"

#include <QEvent>
#include <algorithm>

namespace keybinds {

namespace {
constexpr int kMargin = 6;
constexpr int kSpacing = 6;

int heightOf(const QWidget* box) {
    return std::max(box->sizeHint().height(), box->minimumSizeHint().height());
}
} // namespace

KeyFlow::KeyFlow(QWidget* parent) : QWidget(parent) {}

void KeyFlow::Add(Block block) {
    blocks_.push_back(std::move(block));
    columns_.push_back(0);
    laneWidth_ = 0; // measured again with this box, at the next layout
    dirty_ = true;
}

void KeyFlow::Invalidate() {
    dirty_ = true;
    Reflow();
}

// The width of one column of label and field: the widest box laid out in one.
int KeyFlow::LaneWidth() {
    if (laneWidth_ > 0) return laneWidth_;
    int widest = 0;
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        blocks_[i].arrange(1);
        columns_[i] = 1;
        widest = std::max(widest, blocks_[i].box->minimumSizeHint().width());
    }
    laneWidth_ = std::max(widest, 1);
    dirty_ = true;
    return laneWidth_;
}

void KeyFlow::Reflow() {
    if (reflowing_ || blocks_.empty()) return;
    reflowing_ = true;
    const int lane = LaneWidth();
    setMinimumWidth(lane + 2 * kMargin);
    const int room = width() - 2 * kMargin;
    const int lanes = std::max(1, (room + kSpacing) / (lane + kSpacing));
    if (lanes != lanes_) dirty_ = true;
    lanes_ = lanes;

    // A box spreads over more lanes only when it alone is taller than a
    // lane's fair share of all rows.
    int total = 0;
    for (const auto& b : blocks_)
        total += b.rows();
    const int share = std::max(1, (total + lanes - 1) / lanes);
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        const int rows = blocks_[i].rows();
        blocks_[i].box->setVisible(rows > 0);
        const int columns =
            blocks_[i].spreads ? std::clamp((rows + share - 1) / share, 1, lanes) : 1;
        if (dirty_ || columns != columns_[i]) {
            blocks_[i].arrange(columns);
            columns_[i] = columns;
        }
    }
    dirty_ = false;

    const int unit = std::max(lane, (room - (lanes - 1) * kSpacing) / lanes);
    std::vector<int> sky(static_cast<std::size_t>(lanes), kMargin);
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        QWidget* box = blocks_[i].box;
        if (box->isHidden()) continue;
        const int span = columns_[i];
        int best = 0, bestTop = 0;
        for (int s = 0; s + span <= lanes; ++s) {
            const int top = *std::max_element(sky.begin() + s, sky.begin() + s + span);
            if (s == 0 || top < bestTop) {
                best = s;
                bestTop = top;
            }
        }
        const int w = span * unit + (span - 1) * kSpacing;
        const int h = heightOf(box);
        box->setGeometry(kMargin + best * (unit + kSpacing), bestTop, w, h);
        for (int s = best; s < best + span; ++s)
            sky[static_cast<std::size_t>(s)] = bestTop + h + kSpacing;
    }
    setMinimumHeight(*std::max_element(sky.begin(), sky.end()) + kMargin - kSpacing);
    reflowing_ = false;
}

void KeyFlow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Reflow();
}

void KeyFlow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        laneWidth_ = 0;
        Reflow();
    }
    QWidget::changeEvent(event);
}

bool KeyFlow::event(QEvent* event) {
    // Fonts and styles are settled once the widget is polished.
    if (event->type() == QEvent::Polish) {
        laneWidth_ = 0;
        dirty_ = true;
    }
    return QWidget::event(event);
}

QSize KeyFlow::sizeHint() const {
    return minimumSize();
}

} // namespace keybinds
