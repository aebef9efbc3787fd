#include "ini/PageWrites.h"

#include "ini/IniFile.h"
#include "ini/ValueText.h"

#include <algorithm>

namespace ini {

namespace {

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

} // namespace

void PageWrites::Text(TIniFile& file, std::string_view section, std::string_view key, std::string_view value) {
    list_.push_back({&file, std::string(section), std::string(key), std::string(value), false, source_});
}

void PageWrites::Flag(TIniFile& file, std::string_view section, std::string_view key, bool value) {
    list_.push_back({&file, std::string(section), std::string(key), value ? "True" : "False", true, source_});
}

void PageWrites::Number(TIniFile& file, std::string_view section, std::string_view key, std::int32_t value) {
    list_.push_back({&file, std::string(section), std::string(key), std::to_string(value), true, source_});
}

void PageWrites::Decimal(TIniFile& file, std::string_view section, std::string_view key, std::string_view value) {
    list_.push_back({&file, std::string(section), std::string(key), std::string(value), true, source_});
}

std::string PageBaseline::Id(const PendingWrite& w) {
    // The file by name, not by handle: a reopened handle is the same file.
    std::string id = w.file->FileName();
    id += '\0';
    id += Lower(w.section);
    id += '\0';
    id += Lower(w.key);
    return id;
}

void PageBaseline::Reset(const PageWrites& now) {
    values_.clear();
    for (const auto& w : now.List()) values_.emplace_back(Id(w), w.value);
    std::stable_sort(values_.begin(), values_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    // The last write of a key is the one that stays in the file.
    std::vector<std::pair<std::string, std::string>> unique;
    for (auto& v : values_) {
        if (!unique.empty() && unique.back().first == v.first)
            unique.back().second = std::move(v.second);
        else
            unique.push_back(std::move(v));
    }
    values_ = std::move(unique);
}

std::vector<PendingWrite> PageBaseline::Changed(const PageWrites& now) const {
    std::vector<PendingWrite> out;
    for (const auto& w : now.List()) {
        const std::string id = Id(w);
        auto it = std::lower_bound(values_.begin(), values_.end(), id,
                                   [](const auto& v, const std::string& k) { return v.first < k; });
        if (it == values_.end() || it->first != id || it->second != w.value) out.push_back(w);
    }
    return out;
}

void PageBaseline::WriteChanged(const PageWrites& now) {
    for (const auto& w : Changed(now)) Apply(w);
    SaveStep::Remember([this, before = values_] { values_ = before; });
    Reset(now);
}

namespace {
SaveStep*& CurrentStep() {
    static SaveStep* step = nullptr;
    return step;
}
} // namespace

SaveStep::SaveStep() : outer_(CurrentStep()) {
    CurrentStep() = this;
}

SaveStep::~SaveStep() {
    CurrentStep() = outer_;
    if (succeeded_) return;
    for (auto it = putBacks_.rbegin(); it != putBacks_.rend(); ++it)
        (*it)();
}

void SaveStep::Remember(std::function<void()> putBack) {
    if (SaveStep* step = CurrentStep()) step->putBacks_.push_back(std::move(putBack));
}

std::string WrittenText(const PendingWrite& w) {
    if (!w.typed) return w.value;
    const std::string stored = w.file->ReadText(w.section, w.key, "");
    return w.value + std::string(SplitInlineComment(stored).comment);
}

void Apply(const PendingWrite& w) { w.file->WriteText(w.section, w.key, WrittenText(w)); }

} // namespace ini
