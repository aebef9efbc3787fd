#pragma once
// The parsed form of one INI file, private to the engine. The file's bytes
// stay in one buffer and every line is a span of it, so a load costs one
// allocation for the text and 16 bytes a line; lookup tables are built only
// for the sections that are actually asked for.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <unordered_map>
#include <vector>

namespace ini {

enum class Eol : std::uint8_t { None, Lf, CrLf, Cr };

struct Signature {
    bool exists = false;
    std::int64_t size = 0;
    std::uint64_t inode = 0; // the file index on Windows
    std::uint64_t device = 0; // the volume's serial number on Windows
    std::int64_t mtimeNs = 0;
    bool operator==(const Signature&) const = default;
};

// Open addressing over small numbers (section or line indices). The names
// they stand for stay in the file text; the caller decides equality.
class FlatIndex {
public:
    void reserve(std::size_t n);

    template <class Eq> std::optional<std::uint32_t> find(std::uint32_t hash, Eq&& eq) const {
        if (slots_.empty()) return std::nullopt;
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const std::uint64_t slot = slots_[i];
            if (slot == 0) return std::nullopt;
            if ((slot >> 32) == hash && eq(valueOf(slot))) return valueOf(slot);
        }
    }

    // Adds value unless an equal name is there already (the first one wins).
    template <class Eq> bool insert(std::uint32_t hash, std::uint32_t value, Eq&& eq) {
        if ((used_ + 1) * 2 > slots_.size()) grow();
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const std::uint64_t slot = slots_[i];
            if (slot == 0) {
                slots_[i] = (std::uint64_t{hash} << 32) | (std::uint64_t{value} + 1);
                ++used_;
                return true;
            }
            if ((slot >> 32) == hash && eq(valueOf(slot))) return false;
        }
    }

private:
    static std::uint32_t valueOf(std::uint64_t slot) {
        return static_cast<std::uint32_t>((slot & 0xFFFFFFFFu) - 1);
    }
    void grow();

    std::vector<std::uint64_t> slots_; // hash << 32 | (value + 1); 0 is free
    std::size_t used_ = 0;
};

// Names compare without regard to letter case. A Windows-1252 file folds its
// ASCII and Latin letters byte for byte; a UTF-8 file folds ASCII and the
// Latin-1 letters (C3 80..9E), never bytes of other characters, so that two
// different letters outside Latin-1 can never stand for each other.
std::uint32_t foldHash(std::string_view s, bool utf8);
bool foldEqual(std::string_view a, std::string_view b, bool utf8);

std::string_view trimBlanks(std::string_view s);

struct Line {
    std::uint64_t pos = 0; // in Document::base, or in Document::added with kAdded set
    std::uint32_t len = 0;
    Eol eol = Eol::None;
};

struct Section {
    std::uint32_t first = 0; // its lines in Document::lines, the header first
    std::uint32_t count = 0;
    std::uint32_t own = kNoOwn; // index in Document::owned once a line was inserted
    std::uint32_t nameOff = 0;  // the trimmed name within the header line
    std::uint32_t nameLen = 0;
    bool matched = false; // first occurrence of a non-empty name
    static constexpr std::uint32_t kNoOwn = 0xFFFFFFFFu;
};

struct Document {
    static constexpr std::uint64_t kAdded = std::uint64_t{1} << 63;

    Signature sig;
    bool unreadable = false;
    bool bom = false;
    Eol defaultEol = Eol::CrLf;
    std::string base;  // the file as read
    std::string added; // text of lines written since
    std::vector<Line> lines;
    std::vector<Section> sections{Section{}}; // [0]: the lines before the first header
    std::vector<std::vector<Line>> owned;
    FlatIndex sectionIndex;
    std::unordered_map<std::uint32_t, FlatIndex> keyIndex; // built on first use

    bool utf8() const { return bom; }
    // Takes the file's bytes; false when the file is too odd to hold (a line
    // of 4 GiB or more), and then it must be treated as unreadable.
    bool parse(std::string data);

    std::string_view text(const Line& l) const {
        return (l.pos & kAdded) ? std::string_view(added.data() + (l.pos & ~kAdded), l.len)
                                : std::string_view(base.data() + l.pos, l.len);
    }
    std::span<const Line> linesOf(std::size_t s) const;
    std::string_view sectionName(std::size_t s) const;
    std::optional<std::uint32_t> findSection(std::string_view trimmedName) const;

    // Bytes in the file's encoding.
    const Line* find(std::string_view section, std::string_view key);
    void write(std::string_view section, std::string_view key, std::string_view value);

    // The whole file, in buffered writes; false when a write fails.
    bool writeTo(int fd) const;

private:
    std::vector<Line>& ownLines(std::size_t s);
    const FlatIndex& keysOf(std::uint32_t s);
    void setText(Line& l, std::string_view text);
    void appendSection(std::string_view name, std::string_view key, std::string_view value);
};

} // namespace ini
