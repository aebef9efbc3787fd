#pragma once
#include <QWidget>
#include <functional>
#include <vector>

namespace keybinds {

// Places boxes in as many lanes as the width allows, each box at the top of
// the lowest lanes it fits. A box taller than its share may spread over
// several lanes: it is told how many and lays out its own rows in as many
// columns. The widget's minimum height is what the boxes need, so a scroll
// area around it scrolls instead of squeezing them.
class KeyFlow final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(KeyFlow)
public:
    struct Block {
        QWidget* box = nullptr;
        std::function<int()> rows;                // rows it shows now; 0 hides it
        std::function<void(int columns)> arrange; // lays its rows out in this many columns
        bool spreads = true;                      // may take more than one lane
    };

    explicit KeyFlow(QWidget* parent = nullptr);
    void Add(Block block);
    // The rows changed (a filter): lay everything out again.
    void Invalidate();
    int Lanes() const { return lanes_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    QSize sizeHint() const override;

private:
    void Reflow();
    int LaneWidth();

    std::vector<Block> blocks_;
    std::vector<int> columns_; // per block, as last arranged
    int laneWidth_ = 0;        // 0: measure again
    int lanes_ = 0;
    bool dirty_ = true;
    bool reflowing_ = false;
};

} // namespace keybinds
