#include "update/updater/Unpack.h"

#include <mspack.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace unpack {

namespace {

constexpr std::size_t kMemoryCap = 256u << 20;

struct File {
    int fd = -1;
    std::int64_t written = 0;
    std::int64_t cap = -1; // output limit, -1 none
};

// Our mspack_system: plain POSIX files, outputs without following links,
// an output cap per file and a cap on all memory libmspack asks for.
struct System {
    mspack_system base{};
    std::size_t allocated = 0;
    std::int64_t nextCap = -1; // cap for the next file opened for writing

    // libmspack hands its callbacks copies of this structure (the cabinet
    // decompressor keeps one of its own), so the callbacks find the
    // operation's state through the thread's current System, not `self`.
    static thread_local System* current;
    static System* self(mspack_system*) { return current; }

    static mspack_file* open(mspack_system* s, const char* name, int mode) {
        int flags = O_CLOEXEC;
        switch (mode) {
        case MSPACK_SYS_OPEN_READ: flags |= O_RDONLY; break;
        case MSPACK_SYS_OPEN_WRITE: flags |= O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW; break;
        default: return nullptr; // libmspack needs neither update nor append here
        }
        const int fd = ::open(name, flags, 0644);
        if (fd < 0) return nullptr;
        auto* f = new File;
        f->fd = fd;
        if (mode == MSPACK_SYS_OPEN_WRITE) f->cap = self(s)->nextCap;
        return reinterpret_cast<mspack_file*>(f);
    }
    static void close(mspack_file* file) {
        auto* f = reinterpret_cast<File*>(file);
        if (!f) return;
        ::close(f->fd);
        delete f;
    }
    static int read(mspack_file* file, void* buffer, int bytes) {
        auto* f = reinterpret_cast<File*>(file);
        for (;;) {
            const ssize_t n = ::read(f->fd, buffer, static_cast<std::size_t>(bytes));
            if (n < 0 && errno == EINTR) continue;
            return static_cast<int>(n);
        }
    }
    static int write(mspack_file* file, void* buffer, int bytes) {
        auto* f = reinterpret_cast<File*>(file);
        if (bytes < 0) return -1;
        std::int64_t n = bytes;
        if (f->cap >= 0 && f->written + n > f->cap) n = f->cap - f->written; // past the declared length: cut
        const char* p = static_cast<const char*>(buffer);
        std::int64_t left = n;
        while (left > 0) {
            const ssize_t w = ::write(f->fd, p, static_cast<std::size_t>(left));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return -1;
            p += w;
            left -= w;
        }
        f->written += n;
        return bytes; // a cut stream still reads as written, so libmspack stops normally
    }
    static int seek(mspack_file* file, off_t offset, int mode) {
        auto* f = reinterpret_cast<File*>(file);
        const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR : SEEK_END;
        return ::lseek(f->fd, offset, whence) < 0 ? -1 : 0;
    }
    static off_t tell(mspack_file* file) { return ::lseek(reinterpret_cast<File*>(file)->fd, 0, SEEK_CUR); }
    static void message(mspack_file*, const char*, ...) {}
    static void* alloc(mspack_system* s, size_t bytes) {
        auto* me = self(s);
        if (bytes > kMemoryCap || me->allocated + bytes > kMemoryCap) return nullptr;
        auto* p = static_cast<std::size_t*>(std::malloc(bytes + sizeof(std::size_t)));
        if (!p) return nullptr;
        *p = bytes;
        me->allocated += bytes;
        return p + 1;
    }
    static void free(void* ptr) {
        if (!ptr) return;
        auto* p = static_cast<std::size_t*>(ptr) - 1;
        // The owner is not passed to free; the count is kept per system by alloc only.
        std::free(p);
    }
    static void copy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

    ~System() { current = nullptr; }
    System() {
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
};

thread_local System* System::current = nullptr;

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

std::string dirOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool makeDirs(const std::string& dir) {
    if (dir.empty()) return true;
    std::string cur;
    std::size_t pos = 0;
    while (pos <= dir.size()) {
        const auto next = dir.find('/', pos);
        cur = dir.substr(0, next == std::string::npos ? dir.size() : next);
        if (!cur.empty() && ::mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
        if (next == std::string::npos) break;
        pos = next + 1;
    }
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const auto n = std::fread(head, 1, 8, f);
    std::fclose(f);
    return n == 8 && std::memcmp(head, magic, 8) == 0;
}

std::string ExpandSzdd(const std::string& path, std::string* error) {
    if (!IsSzdd(path)) {
        setError(error, "not an SZDD file");
        return {};
    }
    System sys;
    msszdd_decompressor* d = mspack_create_szdd_decompressor(&sys.base);
    if (!d) {
        setError(error, "out of memory");
        return {};
    }
    std::string result;
    if (msszddd_header* h = d->open(d, const_cast<char*>(path.c_str()))) {
        std::string out = path;
        if (!out.empty() && out.back() == '_' && h->missing_char != '\0') out.back() = h->missing_char;
        else if (!out.empty() && out.back() == '_') out.pop_back();
        if (out == path) out += ".out";
        sys.nextCap = h->length;
        if (d->extract(d, h, const_cast<char*>(out.c_str())) == MSPACK_ERR_OK)
            result = out;
        else
            setError(error, "expansion failed");
        d->close(d, h);
    } else {
        setError(error, "cannot read the SZDD header");
    }
    mspack_destroy_szdd_decompressor(d);
    return result;
}

bool ExtractCabinet(const std::string& cabinet, const std::string& destination, std::string* error) {
    System sys;
    mscab_decompressor* d = mspack_create_cab_decompressor(&sys.base);
    if (!d) {
        setError(error, "out of memory");
        return false;
    }
    bool ok = false;
    if (mscabd_cabinet* cab = d->open(d, const_cast<char*>(cabinet.c_str()))) {
        ok = true;
        // Every name is checked before anything is written.
        for (mscabd_file* f = cab->files; f && ok; f = f->next)
            if (!SafeMemberName(f->filename)) {
                setError(error, std::string("refused member name: ") + f->filename);
                ok = false;
            }
        std::string dest = destination;
        if (!dest.empty() && dest.back() != '/') dest += '/';
        for (mscabd_file* f = cab->files; f && ok; f = f->next) {
            std::string name = f->filename;
            for (char& c : name)
                if (c == '\\') c = '/';
            const std::string target = dest + name;
            if (!makeDirs(dirOf(target))) {
                setError(error, "cannot create the folder of " + target);
                ok = false;
                break;
            }
            sys.nextCap = f->length;
            if (const int rc = d->extract(d, f, const_cast<char*>(target.c_str())); rc != MSPACK_ERR_OK) {
                setError(error, "cannot extract " + name + " (libmspack error " + std::to_string(rc) + ")");
                ok = false;
                break;
            }
            std::tm tm{};
            tm.tm_year = f->date_y - 1900;
            tm.tm_mon = f->date_m - 1;
            tm.tm_mday = f->date_d;
            tm.tm_hour = f->time_h;
            tm.tm_min = f->time_m;
            tm.tm_sec = f->time_s;
            tm.tm_isdst = -1;
            const std::time_t when = std::mktime(&tm);
            timespec times[2] = {{when, 0}, {when, 0}};
            ::utimensat(AT_FDCWD, target.c_str(), times, AT_SYMLINK_NOFOLLOW);
        }
        d->close(d, cab);
    } else {
        setError(error, "not a cabinet");
    }
    mspack_destroy_cab_decompressor(d);
    return ok;
}

std::vector<unsigned char> CompressSzdd(const std::vector<unsigned char>& data, char missingChar) {
    std::vector<unsigned char> out = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', static_cast<unsigned char>(missingChar)};
    const auto n = static_cast<std::uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(n >> (8 * i)));
    // Greedy LZSS: the last position of each 3-byte prefix is the candidate.
    constexpr int kWindow = 4096, kMin = 3, kMax = 18, kStart = 4096 - 16, kReach = 4096 - kMax;
    std::vector<int> last(1 << 16, -1);
    auto hash = [&](std::size_t i) { return ((data[i] << 8) ^ (data[i + 1] << 4) ^ data[i + 2]) & 0xFFFF; };
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
                if (cand >= 0 && i - static_cast<std::size_t>(cand) <= static_cast<std::size_t>(kReach)) {
                    int len = 0;
                    while (len < kMax && i + len < data.size() && data[cand + len] == data[i + len]) ++len;
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
