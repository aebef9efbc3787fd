#include "update/updater/Unpack.h"

#include "update/updater/Checked.h"
#include "update/updater/System.h"

#include <mspack.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace unpack {

namespace {

// The one file libmspack is writing at a time: created by us beforehand
// (O_EXCL | O_NOFOLLOW under a fresh name), handed out when libmspack asks
// for that name, and closed by us.
struct Output {
    int fd = -1;
    std::string name;
    std::uint64_t written = 0;
    std::uint64_t cap = UINT64_MAX; // bytes kept for this file; more are ignored
};

struct File {
    int fd = -1;
    bool output = false;
};

// Our mspack_system: plain POSIX files, outputs only through Output, a cap
// on all bytes written and a cap on the memory libmspack holds at once.
struct System {
    mspack_system base{};
    std::size_t inUse = 0;
    std::size_t maxMemory = 0;
    std::uint64_t total = 0;
    std::uint64_t maxTotal = 0;
    bool overTotal = false;
    bool outOfMemory = false;
    Output* out = nullptr;

    // libmspack hands its callbacks copies of this structure (the cabinet
    // decompressor keeps one of its own), and free gets no system at all,
    // so the callbacks find the operation's state through the thread's
    // current System.
    static thread_local System* current;

    // Room before each block for its size, keeping malloc's alignment.
    static constexpr std::size_t kHeader = alignof(std::max_align_t);

    static mspack_file* open(mspack_system*, const char* name, int mode) {
        System* me = current;
        if (mode == MSPACK_SYS_OPEN_WRITE) {
            if (!me->out || me->out->fd < 0 || me->out->name != name) return nullptr;
            return reinterpret_cast<mspack_file*>(new File{me->out->fd, true});
        }
        if (mode != MSPACK_SYS_OPEN_READ)
            return nullptr; // libmspack needs neither update nor append here
        const int fd = sys::openRead(name);
        if (fd < 0) return nullptr;
        return reinterpret_cast<mspack_file*>(new File{fd, false});
    }
    static void close(mspack_file* file) {
        auto* f = reinterpret_cast<File*>(file);
        if (!f) return;
        if (!f->output) sys::close(f->fd);
        delete f;
    }
    static int read(mspack_file* file, void* buffer, int bytes) {
        auto* f = reinterpret_cast<File*>(file);
        if (bytes < 0) return -1;
        for (;;) {
            const ssize_t n = sys::read(f->fd, buffer, static_cast<std::size_t>(bytes));
            if (n < 0 && errno == EINTR) continue;
            return static_cast<int>(n);
        }
    }
    static int write(mspack_file* file, void* buffer, int bytes) {
        auto* f = reinterpret_cast<File*>(file);
        System* me = current;
        if (bytes < 0 || !f->output || !me->out) return -1;
        Output& o = *me->out;
        std::uint64_t n = static_cast<std::uint64_t>(bytes);
        if (o.written >= o.cap)
            n = 0;
        else if (n > o.cap - o.written)
            n = o.cap - o.written; // past the declared length: ignored
        const auto total = checked::Add(me->total, n);
        if (!total || *total > me->maxTotal) {
            me->overTotal = true;
            return -1;
        }
        const char* p = static_cast<const char*>(buffer);
        std::uint64_t left = n;
        while (left > 0) {
            const ssize_t w = sys::write(f->fd, p, static_cast<std::size_t>(left));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return -1;
            p += w;
            left -= static_cast<std::uint64_t>(w);
        }
        o.written += n;
        me->total = *total;
        return bytes; // an ignored tail still reads as written, so libmspack ends normally
    }
    static int seek(mspack_file* file, off_t offset, int mode) {
        auto* f = reinterpret_cast<File*>(file);
        const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET
                           : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR
                                                         : SEEK_END;
        return sys::seek(f->fd, offset, whence) < 0 ? -1 : 0;
    }
    static off_t tell(mspack_file* file) {
        return sys::seek(reinterpret_cast<File*>(file)->fd, 0, SEEK_CUR);
    }
    static void message(mspack_file*, const char*, ...) {}
    static void* alloc(mspack_system*, size_t bytes) {
        System* me = current;
        const auto withHeader = checked::Add(bytes, kHeader);
        const auto after = checked::Add(me->inUse, bytes);
        if (!withHeader || !after || *after > me->maxMemory) {
            me->outOfMemory = true;
            return nullptr;
        }
        auto* p = static_cast<unsigned char*>(std::malloc(*withHeader));
        if (!p) return nullptr;
        std::memcpy(p, &bytes, sizeof bytes);
        me->inUse = *after;
        return p + kHeader;
    }
    static void free(void* ptr) {
        if (!ptr) return;
        auto* p = static_cast<unsigned char*>(ptr) - kHeader;
        std::size_t bytes = 0;
        std::memcpy(&bytes, p, sizeof bytes);
        // The cap is on memory in use: what libmspack gives back is room again.
        if (System* me = current) me->inUse -= std::min(bytes, me->inUse);
        std::free(p);
    }
    static void copy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

    explicit System(const Limits& limits)
        : maxMemory(limits.maxMemory), maxTotal(limits.maxOutput) {
        current = this;
        base.open = &System::open;
        base.close = &System::close;
        base.read = &System::read;
        base.write = &System::write;
        base.seek = &System::seek;
        base.tell = &System::tell;
        base.message = &System::message;
        base.alloc = &System::alloc;
        base.free = &System::free;
        base.copy = &System::copy;
        base.null_ptr = nullptr;
    }
    ~System() { current = nullptr; }
    System(const System&) = delete;
    System& operator=(const System&) = delete;
};

thread_local System* System::current = nullptr;

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

// libmspack hands file offsets through our callbacks as off_t: a library
// built with another off_t size would seek and read garbage, so that is
// refused outright.
bool sameOffsets(std::string* error) {
    int result = MSPACK_ERR_OK;
    MSPACK_SYS_SELFTEST(result);
    if (result != MSPACK_ERR_OK) setError(error, "libmspack was built with another file offset size");
    return result == MSPACK_ERR_OK;
}

std::string dirOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A new, empty file under a fresh name in `dir` ("" or ending in '/'),
// never an existing file or link.
int createTemp(const std::string& dir, std::string& name) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char leaf[40];
        std::snprintf(leaf, sizeof leaf, ".quorlex-%016llx.tmp",
                      static_cast<unsigned long long>(rng()));
        name = dir + leaf;
        const int fd = sys::createNew(name);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// The mode a replacement takes: the old file's, or 0644 for a new one.
// Anything but a regular file (a link, a folder) at the target is refused.
bool targetMode(const std::string& target, unsigned& mode, std::string* error) {
    switch (sys::kindOf(target, &mode)) {
    case sys::Kind::Missing:
        mode = 0644;
        return true;
    case sys::Kind::Regular:
        return true;
    case sys::Kind::Unknown:
        setError(error, "cannot inspect " + target + ": " + std::strerror(errno));
        return false;
    default:
        setError(error, "refused: " + target + " is not a regular file");
        return false;
    }
}

// Gives the complete temporary file the target's mode, flushes it and
// renames it over the target. Closes fd; on failure removes temp when it
// is ours, and leaves it when it is the caller's. An fd of -1: the file is
// complete, given its mode and closed already.
bool commit(int fd, const std::string& temp, const std::string& target, std::string* error,
            bool ours = true, bool sync = true) {
    unsigned mode = 0644;
    bool ok = targetMode(target, mode, error);
    if (ok && fd >= 0 && (!sys::setMode(fd, mode) || !sys::sync(fd))) {
        setError(error, "cannot write " + target + ": " + std::strerror(errno));
        ok = false;
    }
    if (fd >= 0 && !sys::close(fd) && ok) {
        setError(error, "cannot write " + target + ": " + std::strerror(errno));
        ok = false;
    }
    if (ok && !sys::replace(temp, target)) {
        setError(error, "cannot replace " + target + ": " + std::strerror(errno));
        ok = false;
    }
    if (!ok) {
        if (ours) sys::remove(temp);
        return false;
    }
    if (sync) sys::syncDir(dirOf(target));
    return true;
}

void discard(int fd, const std::string& temp) {
    if (fd >= 0) sys::close(fd);
    if (!temp.empty()) sys::remove(temp);
}

// Creates `rel` (a checked member folder, '/'-separated) below `base`,
// where every level must be a real folder: a planted link would lead out.
bool makeMemberDirs(const std::string& base, const std::string& rel) {
    if (!base.empty()) {
        std::string cur;
        for (std::size_t pos = 0; pos <= base.size();) {
            const auto next = base.find('/', pos);
            cur = base.substr(0, next == std::string::npos ? base.size() : next);
            if (!cur.empty() && !sys::makeDir(cur)) return false;
            if (next == std::string::npos) break;
            pos = next + 1;
        }
    }
    std::string cur = base;
    for (std::size_t pos = 0; pos < rel.size();) {
        const auto next = rel.find('/', pos);
        const auto end = next == std::string::npos ? rel.size() : next;
        if (end > pos) {
            cur += rel.substr(pos, end - pos);
            if (!sys::makeDir(cur) || sys::kindOf(cur) != sys::Kind::Directory) return false;
            cur += '/';
        }
        pos = end + 1;
    }
    return true;
}

std::time_t memberTime(const mscabd_file* f) {
    std::tm tm{};
    tm.tm_year = f->date_y - 1900;
    tm.tm_mon = f->date_m - 1;
    tm.tm_mday = f->date_d;
    tm.tm_hour = f->time_h;
    tm.tm_min = f->time_m;
    tm.tm_sec = f->time_s;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// Members share their folder's data; two ranges over the same bytes would
// let a small cabinet write the same data again and again.
bool membersOverlap(const mscabd_cabinet* cab, std::string& which) {
    struct Range {
        const mscabd_folder* folder;
        std::uint64_t begin, end;
        const char* name;
    };
    std::vector<Range> ranges;
    for (const mscabd_file* f = cab->files; f; f = f->next)
        if (f->length > 0)
            ranges.push_back(
                {f->folder, f->offset, std::uint64_t{f->offset} + f->length, f->filename});
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) {
        return a.folder != b.folder ? std::less<const mscabd_folder*>()(a.folder, b.folder)
                                    : a.begin < b.begin;
    });
    for (std::size_t i = 1; i < ranges.size(); ++i)
        if (ranges[i].folder == ranges[i - 1].folder && ranges[i].begin < ranges[i - 1].end) {
            which = std::string(ranges[i - 1].name) + " and " + ranges[i].name;
            return true;
        }
    return false;
}

} // namespace

bool SafeMemberName(const std::string& raw) {
    if (raw.empty()) return false;
    if (raw[0] == '/' || raw[0] == '\\') return false;
    if (raw.size() >= 2 && raw[1] == ':') return false; // a drive letter
    std::string part;
    for (std::size_t i = 0; i <= raw.size(); ++i) {
        const char c = i < raw.size() ? raw[i] : '/';
        if (static_cast<unsigned char>(c) < 32 || c == 127) return false;
        if (c == '/' || c == '\\') {
            if (part == ".." || part == ".") return false;
            part.clear();
        } else {
            part += c;
        }
    }
    return true;
}

bool IsSzdd(const std::string& path) {
    static const unsigned char magic[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
    unsigned char head[8] = {};
    const int fd = sys::openRead(path);
    if (fd < 0) return false;
    const int n = sys::read(fd, head, 8);
    sys::close(fd);
    return n == 8 && std::memcmp(head, magic, 8) == 0;
}

std::string ExpandedSzddName(const std::string& path, char storedChar) {
    const auto c = static_cast<unsigned char>(storedChar);
    if (c < 32 || c == 127 || storedChar == '/' || storedChar == '\\') return {};
    const auto slash = path.rfind('/');
    if (path.empty() || path.back() == '/' ||
        (slash != std::string::npos && slash + 1 == path.size()))
        return {};
    std::string out = path;
    out.back() = storedChar;
    if (out == path) return {};
    const std::string leaf = out.substr(slash == std::string::npos ? 0 : slash + 1);
    if (leaf == "." || leaf == "..") return {};
    return out;
}

std::string ExpandedSzddName(const std::string& path) {
    if (!IsSzdd(path)) return {};
    unsigned char head[10] = {};
    const int fd = sys::openRead(path);
    if (fd < 0) return {};
    const int n = sys::read(fd, head, sizeof head);
    sys::close(fd);
    return n == 10 && head[8] == 'A' ? ExpandedSzddName(path, static_cast<char>(head[9]))
                                     : std::string();
}

std::string ExpandSzdd(const std::string& path, std::string* error) {
    return ExpandSzdd(path, error, Limits{});
}

std::string ExpandSzdd(const std::string& path, std::string* error, const Limits& limits) {
    if (!IsSzdd(path)) {
        setError(error, "not an SZDD file");
        return {};
    }
    if (!sameOffsets(error)) return {};
    System sys(limits);
    msszdd_decompressor* d = mspack_create_szdd_decompressor(&sys.base);
    if (!d) {
        setError(error, "out of memory");
        return {};
    }
    std::string result;
    msszddd_header* h = d->open(d, const_cast<char*>(path.c_str()));
    if (!h) {
        setError(error, "cannot read the SZDD header");
        mspack_destroy_szdd_decompressor(d);
        return {};
    }
    const std::string out = ExpandedSzddName(path, h->missing_char);
    unsigned mode = 0644;
    if (out.empty()) {
        setError(error, "the header gives no usable expanded name for " + path);
    } else if (h->length < 0 || static_cast<std::uint64_t>(h->length) > limits.maxOutput) {
        setError(error, "declared length out of bounds: " + std::to_string(h->length));
    } else if (targetMode(out, mode, error)) {
        Output o;
        o.fd = createTemp(dirOf(out), o.name);
        o.cap = static_cast<std::uint64_t>(h->length);
        if (o.fd < 0) {
            setError(error, "cannot create a file beside " + out + ": " + std::strerror(errno));
        } else {
            sys.out = &o;
            const int rc = d->extract(d, h, const_cast<char*>(o.name.c_str()));
            sys.out = nullptr;
            if (rc != MSPACK_ERR_OK) {
                setError(error, "expansion failed (libmspack error " + std::to_string(rc) + ")");
                discard(o.fd, o.name);
            } else if (o.written != o.cap) {
                // A cut-off download expands to less than it declares.
                setError(error, "truncated: " + std::to_string(o.written) + " of " +
                                    std::to_string(o.cap) + " declared bytes");
                discard(o.fd, o.name);
            } else if (commit(o.fd, o.name, out, error)) {
                result = out;
            }
        }
    }
    d->close(d, h);
    mspack_destroy_szdd_decompressor(d);
    return result;
}

bool ExtractCabinet(const std::string& cabinet, const std::string& destination, std::string* error,
                    const Limits& limits) {
    if (!sameOffsets(error)) return false;
    System sys(limits);
    mscab_decompressor* d = mspack_create_cab_decompressor(&sys.base);
    if (!d) {
        setError(error, "out of memory");
        return false;
    }
    mscabd_cabinet* cab = d->open(d, const_cast<char*>(cabinet.c_str()));
    if (!cab) {
        setError(error, "not a cabinet");
        mspack_destroy_cab_decompressor(d);
        return false;
    }
    bool ok = true;
    // The whole cabinet is judged before anything is written.
    std::uint64_t total = 0;
    for (mscabd_file* f = cab->files; f && ok; f = f->next) {
        if (!SafeMemberName(f->filename)) {
            setError(error, std::string("refused member name: ") + f->filename);
            ok = false;
        } else if (const auto sum = checked::Add<std::uint64_t>(total, f->length);
                   !sum || *sum > limits.maxOutput) {
            setError(error, "refused: the members add up to more than " +
                                std::to_string(limits.maxOutput) + " bytes");
            ok = false;
        } else {
            total = *sum;
        }
    }
    if (std::string which; ok && membersOverlap(cab, which)) {
        setError(error, "refused: overlapping members " + which);
        ok = false;
    }
    std::string dest = destination;
    if (!dest.empty() && dest.back() != '/') dest += '/';
    struct Pending {
        int fd;
        std::string temp, target;
    };
    std::vector<Pending> pending;
    for (mscabd_file* f = cab->files; f && ok; f = f->next) {
        std::string name = f->filename;
        std::replace(name.begin(), name.end(), '\\', '/');
        const std::string target = dest + name;
        unsigned mode = 0644;
        if (!makeMemberDirs(dest, dirOf(name))) {
            setError(error, "cannot create the folder of " + target);
            ok = false;
            break;
        }
        if (!targetMode(target, mode, error)) {
            ok = false;
            break;
        }
        Output o;
        o.fd = createTemp(dirOf(target), o.name);
        o.cap = f->length;
        if (o.fd < 0) {
            setError(error, "cannot create a file beside " + target + ": " + std::strerror(errno));
            ok = false;
            break;
        }
        pending.push_back({o.fd, o.name, target});
        sys.out = &o;
        const int rc = d->extract(d, f, const_cast<char*>(o.name.c_str()));
        sys.out = nullptr;
        if (rc != MSPACK_ERR_OK || o.written != f->length) {
            setError(error, sys.overTotal ? std::string("refused: output past ") +
                                                std::to_string(limits.maxOutput) + " bytes"
                            : sys.outOfMemory ? "cannot extract " + name + ": memory limit reached"
                                              : "cannot extract " + name + " (libmspack error " +
                                                    std::to_string(rc) + ")");
            ok = false;
            break;
        }
        sys::setTimes(o.fd, memberTime(f));
        // Closed now, complete: a cabinet of thousands of members stays
        // below the open-file limit (2,048 on Windows) until all go into place.
        const bool done = sys::setMode(o.fd, mode) && sys::sync(o.fd);
        const bool closed = sys::close(o.fd);
        pending.back().fd = -1;
        if (!done || !closed) {
            setError(error, "cannot write " + target + ": " + std::strerror(errno));
            ok = false;
            break;
        }
    }
    d->close(d, cab);
    mspack_destroy_cab_decompressor(d);
    // All complete: into place. A failed commit has cleaned up after itself.
    std::size_t i = 0;
    std::vector<std::string> folders;
    for (; ok && i < pending.size(); ++i) {
        ok = commit(pending[i].fd, pending[i].temp, pending[i].target, error, true, false);
        folders.push_back(dirOf(pending[i].target));
    }
    for (; i < pending.size(); ++i)
        discard(pending[i].fd, pending[i].temp);
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    for (const auto& folder : folders)
        sys::syncDir(folder);
    return ok;
}

bool ReplaceFile(const std::string& source, const std::string& target, std::string* error) {
    const int fd = sys::openRead(source);
    if (fd < 0 || !sys::isRegular(fd)) {
        setError(error, "cannot open " + source +
                            (fd < 0 ? std::string(": ") + std::strerror(errno) : std::string()));
        if (fd >= 0) sys::close(fd);
        return false;
    }
    return commit(fd, source, target, error, false);
}

std::vector<unsigned char> CompressSzdd(const std::vector<unsigned char>& data, char missingChar) {
    std::vector<unsigned char> out = {
        'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', static_cast<unsigned char>(missingChar)};
    const auto n = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<unsigned char>(n >> (8 * i)));
    // Greedy LZSS: the last position of each 3-byte prefix is the candidate.
    constexpr int kWindow = 4096, kMin = 3, kMax = 18, kStart = 4096 - 16, kReach = 4096 - kMax;
    std::vector<int> last(1 << 16, -1);
    auto hash = [&](std::size_t i) {
        return ((data[i] << 8) ^ (data[i + 1] << 4) ^ data[i + 2]) & 0xFFFF;
    };
    std::size_t i = 0;
    while (i < data.size()) {
        const std::size_t controlAt = out.size();
        out.push_back(0);
        unsigned char control = 0;
        for (int bit = 0; bit < 8 && i < data.size(); ++bit) {
            int bestLen = 0;
            std::size_t bestPos = 0;
            if (i + kMin <= data.size()) {
                const int cand = last[hash(i)];
                if (cand >= 0 &&
                    i - static_cast<std::size_t>(cand) <= static_cast<std::size_t>(kReach)) {
                    int len = 0;
                    while (len < kMax && i + len < data.size() && data[cand + len] == data[i + len])
                        ++len;
                    if (len >= kMin) {
                        bestLen = len;
                        bestPos = static_cast<std::size_t>(cand);
                    }
                }
            }
            const std::size_t step = bestLen ? static_cast<std::size_t>(bestLen) : 1;
            for (std::size_t k = 0; k < step; ++k)
                if (i + k + kMin <= data.size()) last[hash(i + k)] = static_cast<int>(i + k);
            if (bestLen) {
                const int pos = static_cast<int>((kStart + bestPos) % kWindow);
                out.push_back(static_cast<unsigned char>(pos & 0xFF));
                out.push_back(static_cast<unsigned char>(((pos >> 4) & 0xF0) | (bestLen - kMin)));
            } else {
                control |= static_cast<unsigned char>(1 << bit);
                out.push_back(data[i]);
            }
            i += step;
        }
        out[controlAt] = control;
    }
    return out;
}

} // namespace unpack
