#include "ini/IniDocument.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace ini {

namespace {

constexpr std::string_view kBlanks = " \t\r\v\f";
constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string_view eolText(Eol e) {
    switch (e) {
    case Eol::Lf:
        return "\n";
    case Eol::CrLf:
        return "\r\n";
    case Eol::Cr:
        return "\r";
    default:
        return "";
    }
}

// Windows-1252: ASCII, the Latin-1 capitals, and Š Œ Ž Ÿ.
constexpr std::array<unsigned char, 256> kFold1252 = [] {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 256; ++c) {
        int f = c;
        if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
            f = c + 0x20;
        else if (c == 0x8A || c == 0x8C || c == 0x8E)
            f = c + 0x10;
        else if (c == 0x9F)
            f = 0xFF;
        t[static_cast<std::size_t>(c)] = static_cast<unsigned char>(f);
    }
    return t;
}();

// One byte of a name folded; prev is the byte before it in the name (0 at the start).
inline unsigned char foldByte(unsigned char prev, unsigned char c, bool utf8) {
    if (!utf8) return kFold1252[c];
    if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + 0x20);
    // U+00C0..U+00DE (not U+00D7) is C3 80..C3 9E; its small letter is 0x20 on.
    if (prev == 0xC3 && c >= 0x80 && c <= 0x9E && c != 0x97)
        return static_cast<unsigned char>(c + 0x20);
    return c;
}

// The key of an entry line, when the line is one: the trimmed text before the
// first '=', which may be empty ("=value").
std::optional<std::string_view> entryKey(std::string_view text) {
    const auto t = trimBlanks(text);
    if (t.empty() || t.front() == ';') return std::nullopt;
    const auto eq = text.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return trimBlanks(text.substr(0, eq));
}

// Where the name of a header line lies: from after the '[' to the line's LAST
// ']' (real sections hold brackets of their own), trimmed; what follows that
// ']' is ignored.
std::optional<std::pair<std::size_t, std::size_t>> headerName(std::string_view text) {
    const auto open = text.find_first_not_of(kBlanks);
    if (open == std::string_view::npos || text[open] != '[') return std::nullopt;
    const auto close = text.rfind(']');
    if (close == std::string_view::npos || close < open) return std::nullopt;
    auto inner = text.substr(open + 1, close - open - 1);
    const auto b = inner.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return std::pair<std::size_t, std::size_t>{open + 1, 0};
    const auto e = inner.find_last_not_of(kBlanks);
    return std::pair<std::size_t, std::size_t>{open + 1 + b, e - b + 1};
}

bool isBlank(std::string_view text) {
    return trimBlanks(text).empty();
}

} // namespace

std::string_view trimBlanks(std::string_view s) {
    const auto b = s.find_first_not_of(kBlanks);
    if (b == std::string_view::npos) return {};
    const auto e = s.find_last_not_of(kBlanks);
    return s.substr(b, e - b + 1);
}

std::uint32_t foldHash(std::string_view s, bool utf8) {
    std::uint32_t h = 2166136261u; // FNV-1a
    unsigned char prev = 0;
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        h = (h ^ foldByte(prev, c, utf8)) * 16777619u;
        prev = c;
    }
    return h;
}

bool foldEqual(std::string_view a, std::string_view b, bool utf8) {
    if (a.size() != b.size()) return false;
    unsigned char pa = 0, pb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca != cb && foldByte(pa, ca, utf8) != foldByte(pb, cb, utf8)) return false;
        pa = ca;
        pb = cb;
    }
    return true;
}

void FlatIndex::reserve(std::size_t n) {
    std::size_t size = 16;
    while (size < n * 2)
        size *= 2;
    if (size <= slots_.size()) return;
    std::vector<std::uint64_t> old = std::move(slots_);
    slots_.assign(size, 0);
    const std::size_t mask = size - 1;
    for (const std::uint64_t slot : old) {
        if (slot == 0) continue;
        std::size_t i = (slot >> 32) & mask;
        while (slots_[i] != 0)
            i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

void FlatIndex::grow() {
    reserve(slots_.empty() ? 8 : slots_.size());
}

bool Document::parse(std::string data) {
    base = std::move(data);
    std::string_view all(base);
    std::size_t pos = 0;
    if (all.substr(0, kBom.size()) == kBom) {
        bom = true;
        pos = kBom.size();
    }
    const std::size_t n = all.size();
    const char* p = all.data();

    // The line array is sized once: a file has at least as many lines as it
    // has LFs, or CRs (a file of lone CRs), and at most both together.
    auto count = [&](char c) {
        std::size_t found = 0;
        for (std::size_t at = pos; at < n; ++at, ++found) {
            const void* hit = std::memchr(p + at, c, n - at);
            if (!hit) break;
            at = static_cast<std::size_t>(static_cast<const char*>(hit) - p);
        }
        return found;
    };
    lines.reserve(std::max(count('\n'), count('\r')) + 1);

    bool eolSeen = false;
    std::size_t nextLf = 0;
    bool lfKnown = false;
    while (pos < n) {
        // A line ends at LF, CR LF, or a lone CR, as the Windows reader has it.
        if (!lfKnown || (nextLf != std::string_view::npos && nextLf < pos)) {
            const void* lf = std::memchr(p + pos, '\n', n - pos);
            nextLf = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - p)
                        : std::string_view::npos;
            lfKnown = true;
        }
        const std::size_t end = nextLf == std::string_view::npos ? n : nextLf;
        Line line;
        line.pos = pos;
        std::size_t next;
        if (const void* cr = std::memchr(p + pos, '\r', end - pos)) {
            const auto r = static_cast<std::size_t>(static_cast<const char*>(cr) - p);
            line.len = static_cast<std::uint32_t>(r - pos);
            if (end < n && r + 1 == end) {
                line.eol = Eol::CrLf;
                next = end + 1;
            } else {
                line.eol = Eol::Cr;
                next = r + 1;
            }
            if (r - pos > 0xFFFFFFFFu) return false;
        } else {
            if (end - pos > 0xFFFFFFFFu) return false;
            line.len = static_cast<std::uint32_t>(end - pos);
            line.eol = end < n ? Eol::Lf : Eol::None;
            next = end < n ? end + 1 : n;
        }
        pos = next;
        if (!eolSeen && line.eol != Eol::None) {
            defaultEol = line.eol;
            eolSeen = true;
        }
        if (lines.size() >= 0xFFFFFFFEu) return false;
        const auto lineNo = static_cast<std::uint32_t>(lines.size());
        lines.push_back(line);
        if (auto name = headerName(text(line))) {
            Section& prev = sections.back();
            prev.count = lineNo - prev.first;
            Section s;
            s.first = lineNo;
            s.nameOff = static_cast<std::uint32_t>(name->first);
            s.nameLen = static_cast<std::uint32_t>(name->second);
            const auto index = static_cast<std::uint32_t>(sections.size());
            sections.push_back(s);
            const auto nm = sectionName(index);
            if (!nm.empty())
                sections.back().matched =
                    sectionIndex.insert(foldHash(nm, bom), index, [&](std::uint32_t other) {
                        return foldEqual(sectionName(other), nm, bom);
                    });
        }
    }
    sections.back().count = static_cast<std::uint32_t>(lines.size()) - sections.back().first;
    return true;
}

std::span<const Line> Document::linesOf(std::size_t s) const {
    const Section& sec = sections[s];
    if (sec.own != Section::kNoOwn) return owned[sec.own];
    return std::span<const Line>(lines).subspan(sec.first, sec.count);
}

std::string_view Document::sectionName(std::size_t s) const {
    if (s == 0) return {};
    const Section& sec = sections[s];
    const Line& header = sec.own != Section::kNoOwn ? owned[sec.own][0] : lines[sec.first];
    return text(header).substr(sec.nameOff, sec.nameLen);
}

std::optional<std::uint32_t> Document::findSection(std::string_view name) const {
    if (name.empty()) return std::nullopt;
    return sectionIndex.find(foldHash(name, bom),
                             [&](std::uint32_t s) { return foldEqual(sectionName(s), name, bom); });
}

std::vector<Line>& Document::ownLines(std::size_t s) {
    Section& sec = sections[s];
    if (sec.own == Section::kNoOwn) {
        const auto span = linesOf(s);
        owned.emplace_back(span.begin(), span.end());
        sec.own = static_cast<std::uint32_t>(owned.size() - 1);
    }
    return owned[sec.own];
}

const FlatIndex& Document::keysOf(std::uint32_t s) {
    auto [it, fresh] = keyIndex.try_emplace(s);
    if (!fresh) return it->second;
    FlatIndex& index = it->second;
    const auto ls = linesOf(s);
    for (std::size_t i = 1; i < ls.size(); ++i) {
        const auto key = entryKey(text(ls[i]));
        if (!key) continue;
        index.insert(foldHash(*key, bom), static_cast<std::uint32_t>(i), [&](std::uint32_t other) {
            return foldEqual(*entryKey(text(ls[other])), *key, bom);
        });
    }
    return index;
}

const Line* Document::find(std::string_view section, std::string_view key) {
    const auto s = findSection(trimBlanks(section));
    if (!s) return nullptr;
    const auto k = trimBlanks(key);
    const auto ls = linesOf(*s);
    const auto li = keysOf(*s).find(foldHash(k, bom), [&](std::uint32_t i) {
        return foldEqual(*entryKey(text(ls[i])), k, bom);
    });
    return li ? &ls[*li] : nullptr;
}

void Document::setText(Line& l, std::string_view t) {
    // A value written again and again in one batch reuses its own space.
    if ((l.pos & kAdded) && (l.pos & ~kAdded) + l.len == added.size())
        added.resize(l.pos & ~kAdded);
    l.pos = kAdded | added.size();
    l.len = static_cast<std::uint32_t>(t.size());
    added += t;
}

void Document::write(std::string_view section, std::string_view key, std::string_view value) {
    const auto secName = trimBlanks(section);
    const auto keyName = trimBlanks(key);
    const auto s = findSection(secName);
    if (!s) {
        appendSection(secName, keyName, value);
        return;
    }
    std::string entry(keyName);
    entry += '=';
    const auto& ls = linesOf(*s);
    const auto li = keysOf(*s).find(foldHash(keyName, bom), [&](std::uint32_t i) {
        return foldEqual(*entryKey(text(ls[i])), keyName, bom);
    });
    if (li) {
        const Section& sec = sections[*s];
        Line& line = sec.own != Section::kNoOwn ? owned[sec.own][*li] : lines[sec.first + *li];
        const auto old = text(line);
        std::string replaced(old.substr(0, old.find('=') + 1));
        replaced += value;
        setText(line, replaced);
        return;
    }
    auto& own = ownLines(*s);
    std::size_t last = own.size() - 1;
    while (last > 0 && isBlank(text(own[last])))
        --last;
    // Everything after `last` is blank, so no entry's line number moves.
    Line fresh;
    fresh.eol = own[last].eol;
    if (own[last].eol == Eol::None) own[last].eol = defaultEol;
    entry += value;
    setText(fresh, entry);
    own.insert(own.begin() + static_cast<std::ptrdiff_t>(last + 1), fresh);
    auto& index = keyIndex.at(*s);
    index.insert(foldHash(keyName, bom), static_cast<std::uint32_t>(last + 1),
                 [](std::uint32_t) { return false; });
}

void Document::appendSection(std::string_view name, std::string_view key, std::string_view value) {
    // New lines take the line end of the line they follow.
    Eol eol = defaultEol;
    std::size_t lastSec = sections.size() - 1;
    if (lastSec == 0 && sections[0].count == 0 && sections[0].own == Section::kNoOwn) {
        // an empty file: nothing to follow
    } else {
        auto& own = ownLines(lastSec);
        if (!own.empty()) {
            Line& last = own.back();
            if (last.eol == Eol::None) last.eol = defaultEol;
            eol = last.eol;
            if (!isBlank(text(last))) own.push_back(Line{0, 0, eol});
        }
    }
    Section sec;
    owned.emplace_back();
    sec.own = static_cast<std::uint32_t>(owned.size() - 1);
    std::string header = "[";
    header += name;
    header += ']';
    Line h{0, 0, eol};
    setText(h, header);
    Line entry{0, 0, eol};
    std::string entryText(key);
    entryText += '=';
    entryText += value;
    setText(entry, entryText);
    owned.back() = {h, entry};
    sec.nameOff = 1;
    sec.nameLen = static_cast<std::uint32_t>(name.size());
    sec.matched = true;
    const auto index = static_cast<std::uint32_t>(sections.size());
    sections.push_back(sec);
    sectionIndex.insert(foldHash(name, bom), index, [](std::uint32_t) { return false; });
}

bool Document::writeTo(int fd) const {
    std::string buf;
    constexpr std::size_t kChunk = 1 << 20;
    buf.reserve(kChunk + 4096);
    auto flush = [&]() {
        std::string_view rest(buf);
        while (!rest.empty()) {
            const ssize_t n = ::write(fd, rest.data(), rest.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        buf.clear();
        return true;
    };
    if (bom) buf += kBom;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        for (const Line& l : linesOf(s)) {
            const auto t = text(l);
            if (t.size() >= kChunk) {
                if (!flush()) return false;
                buf.assign(t);
                if (!flush()) return false;
            } else {
                buf += t;
            }
            buf += eolText(l.eol);
            if (buf.size() >= kChunk && !flush()) return false;
        }
    }
    return flush();
}

} // namespace ini
