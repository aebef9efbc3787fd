#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace ini {

// Raised by every write that cannot reach the file; the old file is then intact.
class EIniFileException : public std::runtime_error {
public:
    // `cause`, when known, says why ("read-only", "No space left on device").
    explicit EIniFileException(const std::string& path, const std::string& cause = {})
        : std::runtime_error("Unable to write to " + path +
                             (cause.empty() ? std::string() : " (" + cause + ")")) {}
};

struct Document;

// Keyed access to one INI file with the semantics of the Windows profile
// functions, byte-exact: a write replaces one value's bytes (or adds one line)
// and leaves every other byte of the file as it was.
//
// All strings in and out are UTF-8; the file itself is Windows-1252 (or UTF-8
// when it starts with a UTF-8 byte-order mark).
//
// Decisions where the Windows behaviour is not pinned down:
//  - A header's name runs from its '[' to the LAST ']' of the line (players'
//    files hold sections such as [VCTF-Dinora][.OLVCTFManualGunPawn]); text
//    after that ']' is ignored. A header with an empty name ([]) ends the
//    section before it but is never listed or matched.
//  - A section name that occurs twice: only its first occurrence is read and
//    written; later ones are kept byte for byte and never matched.
//    ReadSectionNames lists every header in file order, repeats included.
//  - A new section is appended after one blank line when the file does not
//    already end with a blank line, so the file keeps the game's own layout.
//  - A new entry goes after the last non-blank line of its section, so the
//    blank line that separates it from the next section stays in place.
//  - Line ends: LF, CR LF or a lone CR ends a line; every line keeps its own
//    end. New lines take the line end of the line they follow; when that is
//    the file's last line and has none, it gets the file's first line end
//    (CR LF in a new file).
//  - A line is a comment when its first non-blank character is ';'. The key
//    of "=value" is the empty name.
//  - Names compare without regard to case: in a Windows-1252 file ASCII and
//    Latin letters fold; in a UTF-8 file ASCII and Latin-1 letters do, and
//    no two other characters are ever taken for each other.
//  - CR and LF inside a written value are dropped: they would split the entry.
//  - WriteText raises std::invalid_argument (and leaves the file alone) for a
//    name that would not read back as the one entry meant: a section that is
//    empty or holds CR or LF, a NEW section whose name starts with '[' or holds
//    ']' (an existing one of that name is written as usual), a key that holds
//    CR, LF or '=', or starts with '[' or ';'.
//  - Flags, numbers and decimals are read without an inline comment behind
//    them ("False #for stable fps", "0.5 ;half"); ReadText keeps the whole text.
//  - A save goes through ".<name>.qxtmp.<pid>.XXXXXX" beside the file. A save
//    removes such files of its folder that a killed save left behind: older
//    than this process, and their PID gone or started after they were written.
//
// The parsed file is cached and revalidated by stat (size, mtime ns, inode) on
// every call, so a change by another route is always seen.
class TIniFile {
public:
    explicit TIniFile(std::string path);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const { return path_; }

    std::string ReadText(std::string_view section, std::string_view key,
                         std::string_view def) const;
    void WriteText(std::string_view section, std::string_view key, std::string_view value);
    bool ReadFlag(std::string_view section, std::string_view key, bool def) const;
    void WriteFlag(std::string_view section, std::string_view key, bool value);
    std::int32_t ReadNumber(std::string_view section, std::string_view key,
                            std::int32_t def) const;
    void WriteNumber(std::string_view section, std::string_view key, std::int32_t value);
    double ReadFraction(std::string_view section, std::string_view key, double def) const;
    std::vector<std::string> ReadSectionNames() const;
    bool SectionExists(std::string_view section) const;
    // Writes pending batched changes now; raises like a write.
    void Flush();

    // Collects the writes of one saver into a single replacement of the file.
    // finish() writes and raises; the destructor (reached on an error path)
    // still writes what was done so far, because the earlier writes of a
    // failing saver stay in effect, but swallows a second error.
    class Batch {
    public:
        explicit Batch(TIniFile& ini);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;
        void finish();

    private:
        TIniFile* ini_;
    };

    // Keeps every write to the file in memory, whatever batches open and
    // close meanwhile, so that several files can be replaced as one step.
    // Stage() writes the new text to a temporary file beside the target for
    // the caller to put in place, Kept() says it is in place; a Hold that
    // ends without Kept() drops the edits and the file is read anew.
    class Hold {
    public:
        explicit Hold(TIniFile& ini);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        bool Dirty() const;
        // The temporary file's path; raises like a write (nothing is left then).
        std::string Stage();
        // The file a staged text replaces (a symbolic link's target).
        std::string Target() const;
        void Kept();

    private:
        TIniFile* ini_;
    };

    // Test seam: called before each step of a replacement ("create", "write",
    // "sync", "rename"); a handler that returns false makes that step fail.
    using FaultHook = std::function<bool(std::string_view step, const std::string& path)>;
    static void SetFaultHookForTesting(FaultHook hook);

    // Benchmarks ask how much time went into reads (file loads included).
    static void SetReadTiming(bool on);
    static std::int64_t ReadNanoseconds();

private:
    Document& doc() const;
    void markDirty();
    void commit();

    std::string path_;
    mutable std::unique_ptr<Document> doc_;
    int batchDepth_ = 0;
    int holds_ = 0; // a Hold keeps every write in memory
    bool dirty_ = false;
    bool checkedWritable_ = false;
};

// Turns a Windows-1252 file of ours into UTF-8 with a byte-order mark (a new
// file starts that way), so it can hold any folder name the system has; the
// engine reads both. The file's text means the same afterwards. Raises like
// a write; does nothing when the file already starts with the mark.
void MakeUtf8File(const std::string& path);

// Removes the temporary files that saves of ended processes left in `dir`
// (only our own pattern, only plain files, never a live process's).
void RemoveInterruptedSaves(const std::string& dir);

// Value parsing shared with other readers of INI-like text.
std::optional<std::int32_t> ParseIniNumber(std::string_view text);
std::optional<double> ParseIniFraction(std::string_view text);

} // namespace ini
