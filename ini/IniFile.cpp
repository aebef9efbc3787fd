#include "ini/IniFile.h"

#include "ini/Cp1252.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <charconv>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace ini {

namespace {

constexpr std::size_t kMaxValue = 2047;
constexpr std::size_t kSectionNamesBuffer = 16384;
constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

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

bool faultAt(std::string_view step, const std::string& path) {
    auto& hook = faultHook();
    return hook && !hook(step, path);
}

enum class Eol : std::uint8_t { None, Lf, CrLf };

std::string_view eolText(Eol e) {
    switch (e) {
    case Eol::Lf: return "\n";
    case Eol::CrLf: return "\r\n";
    default: return "";
    }
}

std::string_view trim(std::string_view s) {
    const auto b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

// Case folding of Windows-1252 letters (ASCII and Latin-1), byte by byte, so
// that names compare as the game's own case-insensitive lookup does.
std::string fold(std::string_view s) {
    std::string out(s);
    for (char& ch : out) {
        auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
            c = static_cast<unsigned char>(c + 0x20);
        else if (c == 0x8A || c == 0x8C || c == 0x8E)
            c = static_cast<unsigned char>(c + 0x10);
        else if (c == 0x9F)
            c = 0xFF;
        ch = static_cast<char>(c);
    }
    return out;
}

struct Line {
    std::string text;
    Eol eol = Eol::None;
};

struct Section {
    std::string name; // as in the file, trimmed, file encoding
    std::vector<Line> lines; // lines[0] is the header
    std::unordered_map<std::string, std::size_t> keys; // folded key -> line; first entry wins
    bool matched = false; // first occurrence of its name
};

struct Signature {
    bool exists = false;
    off_t size = 0;
    ino_t inode = 0;
    dev_t device = 0;
    std::int64_t mtimeNs = 0;
    bool operator==(const Signature&) const = default;
};

Signature statSignature(const std::string& path) {
    struct stat st {};
    Signature sig;
    if (::stat(path.c_str(), &st) != 0) return sig;
    sig.exists = true;
    sig.size = st.st_size;
    sig.inode = st.st_ino;
    sig.device = st.st_dev;
    sig.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return sig;
}

// Header name of a line, when the line is a section header.
std::optional<std::string_view> headerName(std::string_view text) {
    auto t = trim(text);
    if (t.empty() || t.front() != '[') return std::nullopt;
    const auto close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(t.substr(1, close - 1));
}

// Key of an entry line, when the line is one.
std::optional<std::string_view> entryKey(std::string_view text) {
    auto t = trim(text);
    if (t.empty() || t.front() == ';') return std::nullopt;
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    auto key = trim(text.substr(0, eq));
    if (key.empty()) return std::nullopt;
    return key;
}

bool isBlank(const Line& l) { return trim(l.text).empty(); }

} // namespace

struct Document {
    Signature sig;
    bool unreadable = false;
    bool bom = false;
    Eol defaultEol = Eol::CrLf;
    std::vector<Line> preamble;
    std::vector<Section> sections;
    std::unordered_map<std::string, std::size_t> sectionIndex; // folded name -> first occurrence

    bool utf8() const { return bom; }

    void indexEntry(Section& s, std::size_t lineNo) {
        if (auto key = entryKey(s.lines[lineNo].text)) s.keys.emplace(fold(*key), lineNo);
    }

    void addSection(std::string_view name, Line header) {
        Section s;
        s.name = std::string(name);
        s.lines.push_back(std::move(header));
        auto folded = fold(name);
        s.matched = sectionIndex.emplace(folded, sections.size()).second;
        sections.push_back(std::move(s));
    }

    void parse(std::string_view data) {
        if (data.substr(0, kBom.size()) == kBom) {
            bom = true;
            data.remove_prefix(kBom.size());
        }
        bool eolSeen = false;
        std::size_t pos = 0;
        while (pos < data.size()) {
            const auto nl = data.find('\n', pos);
            Line line;
            std::string_view body;
            if (nl == std::string_view::npos) {
                body = data.substr(pos);
                pos = data.size();
            } else {
                body = data.substr(pos, nl - pos);
                line.eol = Eol::Lf;
                if (!body.empty() && body.back() == '\r') {
                    body.remove_suffix(1);
                    line.eol = Eol::CrLf;
                }
                pos = nl + 1;
            }
            if (!eolSeen && line.eol != Eol::None) {
                defaultEol = line.eol;
                eolSeen = true;
            }
            line.text = std::string(body);
            if (auto name = headerName(line.text)) {
                addSection(*name, std::move(line));
            } else if (sections.empty()) {
                preamble.push_back(std::move(line));
            } else {
                auto& s = sections.back();
                s.lines.push_back(std::move(line));
                if (s.matched) indexEntry(s, s.lines.size() - 1);
            }
        }
    }

    Line* lastLine() {
        if (!sections.empty()) return &sections.back().lines.back();
        return preamble.empty() ? nullptr : &preamble.back();
    }

    std::string serialize() const {
        std::size_t total = bom ? kBom.size() : 0;
        auto count = [&](const std::vector<Line>& ls) {
            for (const auto& l : ls) total += l.text.size() + 2;
        };
        count(preamble);
        for (const auto& s : sections) count(s.lines);
        std::string out;
        out.reserve(total);
        if (bom) out += kBom;
        auto emit = [&](const std::vector<Line>& ls) {
            for (const auto& l : ls) {
                out += l.text;
                out += eolText(l.eol);
            }
        };
        emit(preamble);
        for (const auto& s : sections) emit(s.lines);
        return out;
    }

    const Line* find(std::string_view sectionBytes, std::string_view keyBytes) const {
        auto si = sectionIndex.find(fold(trim(sectionBytes)));
        if (si == sectionIndex.end()) return nullptr;
        const auto& s = sections[si->second];
        auto ki = s.keys.find(fold(trim(keyBytes)));
        return ki == s.keys.end() ? nullptr : &s.lines[ki->second];
    }

    void write(std::string_view sectionBytes, std::string_view keyBytes, std::string_view value) {
        const auto secName = trim(sectionBytes);
        const auto keyName = trim(keyBytes);
        auto si = sectionIndex.find(fold(secName));
        if (si != sectionIndex.end()) {
            auto& s = sections[si->second];
            if (auto ki = s.keys.find(fold(keyName)); ki != s.keys.end()) {
                auto& text = s.lines[ki->second].text;
                text.resize(text.find('=') + 1);
                text += value;
                return;
            }
            std::size_t last = s.lines.size() - 1;
            while (last > 0 && isBlank(s.lines[last])) --last;
            Line entry{std::string(keyName) + '=' + std::string(value), s.lines[last].eol};
            if (s.lines[last].eol == Eol::None) s.lines[last].eol = defaultEol;
            s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(last + 1), std::move(entry));
            s.keys.emplace(fold(keyName), last + 1);
            return;
        }
        if (Line* last = lastLine()) {
            if (last->eol == Eol::None) last->eol = defaultEol;
            if (!isBlank(*last)) {
                auto& target = sections.empty() ? preamble : sections.back().lines;
                target.push_back(Line{{}, defaultEol});
            }
        }
        addSection(secName, Line{'[' + std::string(secName) + ']', defaultEol});
        auto& s = sections.back();
        s.lines.push_back(Line{std::string(keyName) + '=' + std::string(value), defaultEol});
        indexEntry(s, 1);
    }
};

namespace {

std::unique_ptr<Document> loadDocument(const std::string& path) {
    auto doc = std::make_unique<Document>();
    doc->sig = statSignature(path);
    if (!doc->sig.exists) return doc;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0) ::close(fd);
        doc->unreadable = true;
        return doc;
    }
    std::string data;
    data.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) data.resize(data.size() + 65536);
        const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            doc->unreadable = true;
            return doc;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    data.resize(got);
    doc->parse(data);
    return doc;
}

// The file a write lands in: the final target of a symbolic link.
std::string resolveTarget(const std::string& path) {
    std::string cur = path;
    for (int hops = 0; hops < 40; ++hops) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(cur.c_str(), buf, sizeof buf - 1);
        if (n < 0) return cur;
        std::string next(buf, static_cast<std::size_t>(n));
        if (next.empty() || next.front() != '/') {
            const auto slash = cur.rfind('/');
            next = (slash == std::string::npos ? std::string() : cur.substr(0, slash + 1)) + next;
        }
        cur = next;
    }
    return cur;
}

std::string dirOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Windows keeps a read-only file unwritten even for an administrator; the
// write bits stand in for that attribute, so root is refused too.
bool canReplace(const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0) return false;
        if (::access(target.c_str(), W_OK) != 0) return false;
    }
    return ::access(dirOf(target).c_str(), W_OK | X_OK) == 0;
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void replaceFile(const std::string& path, std::string_view data) {
    const std::string target = resolveTarget(path);
    if (!canReplace(target)) throw EIniFileException(path);
    const std::string dir = dirOf(target);
    const auto slash = target.rfind('/');
    std::string tmpl = dir + "/." + target.substr(slash == std::string::npos ? 0 : slash + 1) +
                       ".XXXXXX";
    if (faultAt("create", path)) throw EIniFileException(path);
    const int fd = ::mkostemp(tmpl.data(), O_CLOEXEC);
    if (fd < 0) throw EIniFileException(path);
    auto fail = [&]() {
        ::close(fd);
        ::unlink(tmpl.c_str());
        throw EIniFileException(path);
    };
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        ::fchmod(fd, st.st_mode & 07777);
        if (::geteuid() == 0 && ::fchown(fd, st.st_uid, st.st_gid) != 0) { /* keep ours */ }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    if (faultAt("write", path) || !writeAll(fd, data)) fail();
    if (faultAt("sync", path) || ::fsync(fd) != 0) fail();
    if (::close(fd) != 0) {
        ::unlink(tmpl.c_str());
        throw EIniFileException(path);
    }
    if (faultAt("rename", path) || ::rename(tmpl.c_str(), target.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        throw EIniFileException(path);
    }
    if (const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

std::string stripLineBreaks(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s)
        if (c != '\r' && c != '\n') out.push_back(c);
    return out;
}

} // namespace

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
    const auto& d = doc();
    const bool utf8 = d.utf8();
    const Line* line = utf8 ? d.find(section, key)
                            : d.find(utf8ToCp1252(section), utf8ToCp1252(key));
    if (!line) return std::string(def);
    auto value = trim(std::string_view(line->text).substr(line->text.find('=') + 1));
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
    if (!checkedWritable_ && !canReplace(resolveTarget(path_))) throw EIniFileException(path_);
    const std::string v = stripLineBreaks(value);
    if (d.utf8())
        d.write(section, key, v);
    else
        d.write(utf8ToCp1252(section), utf8ToCp1252(key), utf8ToCp1252(v));
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
        replaceFile(path_, doc_->serialize());
        doc_->sig = statSignature(path_);
    } catch (...) {
        doc_.reset(); // the file holds the old text; forget our unwritten edit
        throw;
    }
}

void TIniFile::Flush() { commit(); }

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

bool TIniFile::ReadFlag(std::string_view section, std::string_view key, bool def) const {
    auto lower = [](std::string s) {
        for (char& c : s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        return s;
    };
    const auto value = lower(ReadText(section, key, ""));
    if (value == "0") return false;
    if (value == "1") return true;
    const auto v = lower(ReadText(section, key, def ? "true" : "false"));
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
    return ParseIniNumber(ReadText(section, key, "")).value_or(def);
}

void TIniFile::WriteNumber(std::string_view section, std::string_view key, std::int32_t value) {
    WriteText(section, key, std::to_string(value));
}

double TIniFile::ReadFraction(std::string_view section, std::string_view key, double def) const {
    const auto text = ReadText(section, key, "");
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
    for (const auto& s : d.sections) {
        if (!s.matched) continue;
        if (room <= 1) break;
        std::string_view name = s.name;
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
    return d.sectionIndex.count(fold(trim(bytes))) != 0;
}

} // namespace ini
