#include "ini/IniFile.h"

#include "ini/Cp1252.h"
#include "ini/IniDocument.h"
#include "ini/IniFileIo.h"
#include "ini/ValueText.h"

#include <atomic>
#include <charconv>
#include <chrono>
#include <unistd.h>

namespace ini {

namespace {

constexpr std::size_t kMaxValue = 2047;
constexpr std::size_t kSectionNamesBuffer = 16384;

TIniFile::FaultHook& faultHook() {
    static TIniFile::FaultHook hook;
    return hook;
}

std::atomic<bool> gReadTiming{false};
std::atomic<std::int64_t> gReadNs{0};

// Adds the lifetime of the scope to the read total, when timing is on.
class ReadTimer {
public:
    ReadTimer() : on_(gReadTiming.load(std::memory_order_relaxed)) {
        if (on_) start_ = std::chrono::steady_clock::now();
    }
    ~ReadTimer() {
        if (on_)
            gReadNs += std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::steady_clock::now() - start_)
                           .count();
    }

private:
    bool on_;
    std::chrono::steady_clock::time_point start_;
};

std::unique_ptr<Document> loadDocument(const std::string& path) {
    auto doc = std::make_unique<Document>();
    doc->sig = statSignature(path);
    if (!doc->sig.exists) return doc;
    auto data = readWholeFile(path);
    if (!data || !doc->parse(std::move(*data))) {
        doc = std::make_unique<Document>();
        doc->sig = statSignature(path);
        doc->unreadable = true;
    }
    return doc;
}

std::string stripLineBreaks(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != '\r' && c != '\n') out.push_back(c);
    return out;
}

// Names that would not read back as the one entry they are meant to be.
void checkNames(const Document& d, std::string_view section, std::string_view key) {
    const auto sec = trimBlanks(section);
    const auto k = trimBlanks(key);
    auto refuse = [](const char* what, std::string_view name) {
        throw std::invalid_argument(std::string("Invalid INI ") + what + " name \"" +
                                    std::string(name) + "\"");
    };
    if (sec.empty() || sec.find_first_of("\r\n") != std::string_view::npos)
        refuse("section", section);
    // A name with brackets is read back only as it already stands in the file.
    if ((sec.front() == '[' || sec.find(']') != std::string_view::npos) && !d.findSection(sec))
        refuse("section", section);
    if (k.find_first_of("\r\n=") != std::string_view::npos) refuse("key", key);
    // A line starting so is a header or a comment, not an entry.
    if (!k.empty() && (k.front() == '[' || k.front() == ';')) refuse("key", key);
}

} // namespace

bool faultAt(std::string_view step, const std::string& path) {
    auto& hook = faultHook();
    return hook && !hook(step, path);
}

TIniFile::TIniFile(std::string path) : path_(std::move(path)) {}

TIniFile::~TIniFile() {
    try {
        if (dirty_) commit();
    } catch (...) {
        // Nothing can be reported from a destructor; the savers flush explicitly.
    }
}

void TIniFile::SetFaultHookForTesting(FaultHook hook) { faultHook() = std::move(hook); }

void TIniFile::SetReadTiming(bool on) {
    gReadNs = 0;
    gReadTiming = on;
}

std::int64_t TIniFile::ReadNanoseconds() { return gReadNs.load(); }

Document& TIniFile::doc() const {
    if (doc_ && dirty_) return *doc_; // our own unwritten batch wins
    if (!doc_ || !(doc_->sig == statSignature(path_))) doc_ = loadDocument(path_);
    return *doc_;
}

std::string TIniFile::ReadText(std::string_view section, std::string_view key,
                               std::string_view def) const {
    ReadTimer timer;
    auto& d = doc(); // lookups build their tables on first use
    const bool utf8 = d.utf8();
    const Line* line = utf8 ? d.find(section, key)
                            : d.find(utf8ToCp1252(section), utf8ToCp1252(key));
    if (!line) return std::string(def);
    const auto text = d.text(*line);
    auto value = trimBlanks(text.substr(text.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (value.size() > kMaxValue) {
        value = value.substr(0, kMaxValue);
        if (utf8)
            while (!value.empty() && (static_cast<unsigned char>(value.back()) & 0xC0) == 0x80)
                value.remove_suffix(1);
    }
    return utf8 ? std::string(value) : cp1252ToUtf8(value);
}

void TIniFile::WriteText(std::string_view section, std::string_view key, std::string_view value) {
    auto& d = doc();
    if (d.unreadable) throw EIniFileException(path_);
    if (!checkedWritable_ && !canReplace(resolveTarget(path_)))
        throw EIniFileException(path_, whyNotReplaceable(resolveTarget(path_)));
    const std::string v = stripLineBreaks(value);
    if (d.utf8()) {
        checkNames(d, section, key);
        d.write(section, key, v);
    } else {
        const auto sec = utf8ToCp1252(section), k = utf8ToCp1252(key);
        checkNames(d, sec, k);
        d.write(sec, k, utf8ToCp1252(v));
    }
    markDirty();
}

void TIniFile::markDirty() {
    dirty_ = true;
    if (batchDepth_ > 0) {
        checkedWritable_ = true;
        return;
    }
    commit();
}

void TIniFile::commit() {
    if (!dirty_) return;
    dirty_ = false;
    checkedWritable_ = false;
    try {
        replaceFile(path_, [this](int fd) { return doc_->writeTo(fd); });
        doc_->sig = statSignature(path_);
    } catch (...) {
        doc_.reset(); // the file holds the old text; forget our unwritten edit
        throw;
    }
}

void RemoveInterruptedSaves(const std::string& dir) {
    removeStaleTemporaries(dir);
}

void TIniFile::Flush() {
    if (holds_ == 0) commit();
}

TIniFile::Hold::Hold(TIniFile& ini) : ini_(&ini) {
    ++ini.batchDepth_;
    ++ini.holds_;
}

TIniFile::Hold::~Hold() {
    if (!ini_) return;
    --ini_->batchDepth_;
    --ini_->holds_;
    if (ini_->dirty_) {
        // Not kept: the file holds its old text, and so must we.
        ini_->dirty_ = false;
        ini_->checkedWritable_ = false;
        ini_->doc_.reset();
    }
}

bool TIniFile::Hold::Dirty() const {
    return ini_ && ini_->dirty_;
}

std::string TIniFile::Hold::Target() const {
    return resolveTarget(ini_->path_);
}

std::string TIniFile::Hold::Stage() {
    TIniFile& f = *ini_;
    return stageFile(f.path_, [&f](int fd) { return f.doc_->writeTo(fd); });
}

void TIniFile::Hold::Kept() {
    TIniFile* f = ini_;
    ini_ = nullptr;
    --f->batchDepth_;
    --f->holds_;
    f->dirty_ = false;
    f->checkedWritable_ = false;
    if (f->doc_) f->doc_->sig = statSignature(f->path_);
}

TIniFile::Batch::Batch(TIniFile& ini) : ini_(&ini) { ++ini_->batchDepth_; }

TIniFile::Batch::~Batch() {
    if (!ini_) return;
    try {
        finish();
    } catch (...) {
        // An error is already on its way up; the first one is the one to report.
    }
}

void TIniFile::Batch::finish() {
    if (!ini_) return;
    TIniFile* ini = ini_;
    ini_ = nullptr;
    if (--ini->batchDepth_ == 0) ini->commit();
}

namespace {

// The value of a flag, number or decimal, without the comment a player may
// have put behind it.
std::string typedValue(const std::string& text) {
    return std::string(SplitInlineComment(text).value);
}

} // namespace

bool TIniFile::ReadFlag(std::string_view section, std::string_view key, bool def) const {
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return s;
    };
    const auto value = lower(typedValue(ReadText(section, key, "")));
    if (value == "0") return false;
    if (value == "1") return true;
    const auto v = lower(typedValue(ReadText(section, key, def ? "true" : "false")));
    return v != "false";
}

void TIniFile::WriteFlag(std::string_view section, std::string_view key, bool value) {
    WriteText(section, key, value ? "True" : "False");
}

std::optional<std::int32_t> ParseIniNumber(std::string_view s) {
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        auto hex = s.substr(2);
        std::uint32_t v = 0;
        if (hex.size() > 8) return std::nullopt;
        auto [p, ec] = std::from_chars(hex.data(), hex.data() + hex.size(), v, 16);
        if (ec != std::errc() || p != hex.data() + hex.size()) return std::nullopt;
        return static_cast<std::int32_t>(v);
    }
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    if (s.empty() || s[0] == '+') return std::nullopt;
    std::int32_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, 10);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

std::optional<double> ParseIniFraction(std::string_view s) {
    // Grammar checked here; from_chars is locale-free, so "." always separates.
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t digitsStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    std::size_t mantissaDigits = i - digitsStart;
    if (i < s.size() && s[i] == '.') {
        ++i;
        const std::size_t f = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        mantissaDigits += i - f;
    }
    if (mantissaDigits == 0) return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t e = i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i == e) return std::nullopt;
    }
    if (i != s.size()) return std::nullopt;
    if (s[0] == '+') s.remove_prefix(1);
    double v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

std::int32_t TIniFile::ReadNumber(std::string_view section, std::string_view key,
                                  std::int32_t def) const {
    return ParseIniNumber(typedValue(ReadText(section, key, ""))).value_or(def);
}

void TIniFile::WriteNumber(std::string_view section, std::string_view key, std::int32_t value) {
    WriteText(section, key, std::to_string(value));
}

double TIniFile::ReadFraction(std::string_view section, std::string_view key, double def) const {
    const auto text = typedValue(ReadText(section, key, ""));
    if (text.empty()) return def;
    return ParseIniFraction(text).value_or(def);
}

std::vector<std::string> TIniFile::ReadSectionNames() const {
    ReadTimer timer;
    const auto& d = doc();
    std::vector<std::string> names;
    // The Windows call fills a caller's buffer: names with terminators, one more
    // terminator at the end. What does not fit is dropped, the last name cut.
    std::size_t room = kSectionNamesBuffer - 1;
    // Every header in file order, repeated names too, as the Windows call lists them.
    for (std::size_t s = 1; s < d.sections.size(); ++s) {
        std::string_view name = d.sectionName(s);
        if (name.empty()) continue;
        if (room <= 1) break;
        const bool fits = name.size() + 1 <= room;
        if (!fits) name = name.substr(0, room - 1);
        names.push_back(d.utf8() ? std::string(name) : cp1252ToUtf8(name));
        if (!fits) break;
        room -= name.size() + 1;
    }
    return names;
}

bool TIniFile::SectionExists(std::string_view section) const {
    const auto& d = doc();
    const auto bytes = d.utf8() ? std::string(section) : utf8ToCp1252(section);
    return d.findSection(trimBlanks(bytes)).has_value();
}

void MakeUtf8File(const std::string& path) {
    std::string text;
    if (statSignature(path).exists) {
        auto bytes = readWholeFile(path);
        if (!bytes) throw EIniFileException(path);
        if (bytes->rfind("\xEF\xBB\xBF", 0) == 0) return;
        // A file written as UTF-8 without the mark (by hand, by another
        // tool) already says what it means; converting it again would garble
        // every non-ASCII name for good. Windows-1252 text with accents is
        // almost never valid UTF-8.
        const auto validUtf8 = [](std::string_view b) {
            for (std::size_t i = 0; i < b.size();) {
                const auto c = static_cast<unsigned char>(b[i]);
                std::size_t n = 0;
                char32_t cp = 0, least = 0;
                if (c < 0x80) {
                    ++i;
                    continue;
                }
                if ((c & 0xE0) == 0xC0)
                    n = 1, cp = c & 0x1F, least = 0x80;
                else if ((c & 0xF0) == 0xE0)
                    n = 2, cp = c & 0x0F, least = 0x800;
                else if ((c & 0xF8) == 0xF0)
                    n = 3, cp = c & 0x07, least = 0x10000;
                else
                    return false;
                if (i + n >= b.size()) return false; // cut off at the end
                for (std::size_t k = 1; k <= n; ++k) {
                    const auto t = static_cast<unsigned char>(b[i + k]);
                    if ((t & 0xC0) != 0x80) return false;
                    cp = (cp << 6) | (t & 0x3F);
                }
                // Overlong forms, surrogates and values past Unicode are not UTF-8.
                if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
                i += n + 1;
            }
            return true;
        };
        text = validUtf8(*bytes) ? *bytes : cp1252ToUtf8(*bytes);
    }
    text.insert(0, "\xEF\xBB\xBF");
    replaceFile(path, [&](int fd) {
        std::size_t done = 0;
        while (done < text.size()) {
            const auto n = ::write(fd, text.data() + done, text.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    });
}

} // namespace ini
