#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

class TIniFile;

// One key a saver would write, with the text it would write.
struct PendingWrite {
    TIniFile* file;
    std::string section;
    std::string key;
    std::string value;
    // Flags, numbers and decimals: an inline comment after the stored value
    // belongs to the line and is kept when the value is replaced.
    bool typed = false;
    // The control the value comes from (its object name), for the player's eyes.
    std::string source;
};

// What a page's controls say, as the writes a saver would make, in its order.
// Savers fill one of these instead of writing, so that the page can write
// only the keys the player changed, and a dry run costs nothing.
class PageWrites {
public:
    // Names the control the following writes come from.
    PageWrites& From(std::string_view control) {
        source_ = control;
        return *this;
    }
    void Text(TIniFile& file, std::string_view section, std::string_view key, std::string_view value);
    void Flag(TIniFile& file, std::string_view section, std::string_view key, bool value);
    void Number(TIniFile& file, std::string_view section, std::string_view key, std::int32_t value);
    // A decimal already in its stored form ("0.25").
    void Decimal(TIniFile& file, std::string_view section, std::string_view key, std::string_view value);

    const std::vector<PendingWrite>& List() const { return list_; }

private:
    std::vector<PendingWrite> list_;
    std::string source_;
};

// What a page's controls made of the files when they were loaded (or last
// saved). A key is written only when its control now gives another text than
// it gave then: a value the control cannot hold exactly (0.579633 on a slider
// of hundredths, a mode the list lacks) stays in the file while the player
// leaves the control alone, and keys the player never set are not added.
class PageBaseline {
public:
    void Reset(const PageWrites& now);
    void Clear() { values_.clear(); }
    // The writes of `now` whose text differs from the baseline, in `now`'s order.
    std::vector<PendingWrite> Changed(const PageWrites& now) const;
    // Writes the changed keys; the baseline becomes `now` once every write went
    // through. Raises like TIniFile's writes.
    void WriteChanged(const PageWrites& now);

private:
    static std::string Id(const PendingWrite& w);
    std::vector<std::pair<std::string, std::string>> values_; // sorted by id
};

// A save that goes to the disk as one step after all its writes: while one
// runs, what the pages take as saved (their baselines and snapshots) moves
// only if it goes through. Remember() keeps how to put a page's record
// back; a step that ends without Succeeded() puts every one back, latest
// first, so the pages still count their edits as unsaved.
class SaveStep {
public:
    SaveStep();
    ~SaveStep();
    SaveStep(const SaveStep&) = delete;
    SaveStep& operator=(const SaveStep&) = delete;
    void Succeeded() { succeeded_ = true; }
    // Does nothing when no step runs (the record then moves at once).
    static void Remember(std::function<void()> putBack);

private:
    SaveStep* outer_;
    std::vector<std::function<void()>> putBacks_;
    bool succeeded_ = false;
};

// The text a write puts into the file: the value, followed by the inline
// comment the stored line has when the value is typed.
std::string WrittenText(const PendingWrite& write);
// Performs one write.
void Apply(const PendingWrite& write);

} // namespace ini
