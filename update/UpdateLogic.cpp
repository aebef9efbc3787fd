#include "update/UpdateLogic.h"

#include "update/updater/Checked.h"

#include <QFile>
#include <QStringList>
#include <array>
#include <cstring>
#include <limits>

namespace update {

namespace {

constexpr StatusText kStatuses[] = {
    {909, "Download update file : ", 0, 0},
    {910, "Download update files ?", 0, 0},
    {911, "Shutdown application to update executable files ?", 0, 0},
    {912, "Equal source and target files : %s", 10, 3},
    {913, "File not found : %s", 2, 1},
    {914, "Zero length source file : %s", 10, 2},
    {915, "Download : %s", 3, 0},
    {916, "Http status : %s", 6, 0},
    {917, "File not found : %s", 2, 1},
    {918, "Checking for Internet connection", 3, 0},
    {919, "Prompt to open new Internet connection", 3, 0},
    {920, "Opening Internet connection", 3, 0},
    {921, "Found open Internet connection", 3, 0},
    {922, "Cannot open Internet connection", 1, 0},
    {923, "Connect to host : %s", 3, 3},
    {924, "Cannot connect to FTP host : %s", 1, 0},
    {925, "Update control file not found", 2, 0},
    {926, "Update control file found", 3, 0},
    {927, "Invalid signature in update control file", 11, 4},
    {928, "Date based update found", 3, 0},
    {929, "New version found : %s", 5, 0},
    {930, "No new version found", 4, 0},
    {931, "Checksum based update found", 3, 0},
    {932, "File size based update found", 3, 0},
    {933, "Version based update found", 3, 0},
    {934, "Found message instruction", 3, 0},
    {935, "Found HTML dialog instruction", 7, 0},
    {936, "Found query instruction", 3, 0},
    {937, "Found whatsnew instruction", 12, 0},
    {938, "Whatsnew not accepted", 14, 0},
    {939, "Found license agreement instruction", 13, 0},
    {940, "License agreement not accepted", 0, 0},
    {941, "Found URL redirection instruction", 3, 0},
    {942, "Found URL show instruction", 3, 0},
    {943, "Found file update instruction", 3, 0},
    {944, "Version check : %s", 0, 0},
    {945, "Download update : %s", 0, 0},
    {946, "Cannot download update file : %s", 2, 0},
    {947, "Error decompressing CAB file : %s", 8, 0},
    {948, "Finished processing update control file", 3, 0},
    {949, "Closed Internet connection", 3, 0},
    {950, "Failed to spawn updater process : %s", 9, 0},
    {951, "Cannot connect to server for post", 16, 5},
    {952, "Cannot access resource for post", 17, 5},
    {953, "", 3, 0},
    {954, "", 3, 0},
    {955, "", 3, 0},
};

const std::array<std::uint32_t, 256>& crcTable() {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

std::optional<int> number(const QString& s) {
    bool ok = false;
    const int v = s.trimmed().toInt(&ok);
    if (!ok) return std::nullopt;
    return v;
}

// --- file version: PE resources and our ELF note ---

// Every offset and size below comes from the file: all sums go through
// checked arithmetic, so a huge value is a miss, never a wrapped pass.
struct Reader {
    QByteArray data;
    bool has(qint64 off, qint64 n) const { return checked::Within<qint64>(off, n, data.size()); }
    std::uint32_t u32(qint64 off) const {
        std::uint32_t v = 0;
        if (has(off, 4)) std::memcpy(&v, data.constData() + off, 4);
        return v;
    }
    std::uint16_t u16(qint64 off) const {
        std::uint16_t v = 0;
        if (has(off, 2)) std::memcpy(&v, data.constData() + off, 2);
        return v;
    }
    std::uint64_t u64(qint64 off) const {
        std::uint64_t v = 0;
        if (has(off, 8)) std::memcpy(&v, data.constData() + off, 8);
        return v;
    }
};

constexpr std::uint32_t kFixedSignature = 0xFEEF04BD;

// VS_FIXEDFILEINFO starts with the signature; the file version follows the struct version.
VersionNumber fixedInfoAt(const Reader& r, qint64 off, qint64 end) {
    for (qint64 p = off; p + 16 <= end; p += 4)
        if (r.u32(p) == kFixedSignature)
            return {static_cast<std::int32_t>(r.u32(p + 8)),
                    static_cast<std::int32_t>(r.u32(p + 12))};
    return {};
}

VersionNumber peVersion(const Reader& r) {
    if (r.u16(0) != 0x5A4D) return {};
    const qint64 pe = r.u32(0x3C);
    if (!r.has(pe, 24) || r.u32(pe) != 0x00004550) return {};
    const int sections = r.u16(pe + 6);
    const int optSize = r.u16(pe + 20);
    const qint64 opt = pe + 24;
    const std::uint16_t magic = r.u16(opt);
    const qint64 dirs = opt + (magic == 0x20B ? 112 : 96);
    const std::uint32_t rsrcRva = r.u32(dirs + 2 * 8);
    if (rsrcRva == 0) return {};
    const qint64 sectionTable = opt + optSize;
    auto toOffset = [&](std::uint32_t rva) -> qint64 {
        for (int i = 0; i < sections && i < 96; ++i) {
            const qint64 s = sectionTable + 40 * i;
            const std::uint64_t va = r.u32(s + 12), size = std::max(r.u32(s + 8), r.u32(s + 16)),
                                raw = r.u32(s + 20);
            if (rva >= va && rva < va + size) return static_cast<qint64>(raw + (rva - va));
        }
        return -1;
    };
    const qint64 root = toOffset(rsrcRva);
    if (root < 0) return {};
    // Resource tree: type -> name -> language -> data entry.
    auto firstEntry = [&](qint64 dir, std::optional<std::uint32_t> wantedId) -> std::int64_t {
        if (!r.has(dir, 16)) return -1;
        const int named = r.u16(dir + 12), ids = r.u16(dir + 14);
        for (int i = 0; i < named + ids && i < 4096; ++i) {
            const qint64 e = dir + 16 + 8 * i;
            if (wantedId && (i < named || r.u32(e) != *wantedId)) continue;
            return r.u32(e + 4);
        }
        return -1;
    };
    std::int64_t e = firstEntry(root, 16u); // RT_VERSION
    for (int level = 0; level < 2; ++level) {
        if (e < 0 || !(e & 0x80000000)) return {};
        e = firstEntry(root + (e & 0x7FFFFFFF), std::nullopt);
    }
    if (e < 0 || (e & 0x80000000)) return {};
    const qint64 entry = root + e;
    const qint64 data = toOffset(r.u32(entry));
    const qint64 size = r.u32(entry + 4);
    if (data < 0 || !r.has(data, std::min<qint64>(size, 64))) return {};
    return fixedInfoAt(r, data, std::min<qint64>(data + size, r.data.size()));
}

// A 64-bit field as a file offset or size; past qint64 it is no offset at all.
std::optional<qint64> offset64(std::uint64_t v) {
    if (v > static_cast<std::uint64_t>(std::numeric_limits<qint64>::max())) return std::nullopt;
    return static_cast<qint64>(v);
}

VersionNumber elfVersion(const Reader& r) {
    if (!r.has(0, 64) || r.u32(0) != 0x464C457F || r.data[5] != 1) return {}; // little-endian only
    const bool is64 = r.data[4] == 2;
    const auto shoff = is64 ? offset64(r.u64(0x28)) : std::optional<qint64>(r.u32(0x20));
    const qint64 shentsize = r.u16(is64 ? 0x3A : 0x2E);
    const int shnum = r.u16(is64 ? 0x3C : 0x30);
    if (!shoff || shentsize < (is64 ? 64 : 40)) return {};
    for (int i = 0; i < shnum && i < 4096; ++i) {
        const auto step = checked::Mul<qint64>(shentsize, i);
        const auto sh = step ? checked::Add(*shoff, *step) : std::nullopt;
        if (!sh || !r.has(*sh, shentsize) || r.u32(*sh + 4) != 7) continue; // SHT_NOTE
        const auto off = is64 ? offset64(r.u64(*sh + 24)) : std::optional<qint64>(r.u32(*sh + 16));
        const auto size = is64 ? offset64(r.u64(*sh + 32)) : std::optional<qint64>(r.u32(*sh + 20));
        if (!off || !size || !r.has(*off, *size)) continue;
        const qint64 end = *off + *size; // within the data: has() said so
        for (qint64 p = *off; r.has(p, 12) && p + 12 <= end;) {
            const qint64 namesz = r.u32(p), descsz = r.u32(p + 4);
            const qint64 name = p + 12, desc = name + ((namesz + 3) & ~qint64{3});
            if (!r.has(desc, descsz) || desc + descsz > end) break;
            if (namesz == 8 && std::memcmp(r.data.constData() + name, "Quorlex", 8) == 0)
                return fixedInfoAt(r, desc, desc + descsz);
            p = desc + ((descsz + 3) & ~qint64{3});
        }
    }
    return {};
}

} // namespace

VersionNumber ParseVersionString(const QString& text) {
    QChar sep;
    if (text.contains(QLatin1Char(',')))
        sep = QLatin1Char(',');
    else if (text.contains(QLatin1Char('.')))
        sep = QLatin1Char('.');
    else
        return {};
    const QStringList parts = text.split(sep);
    if (parts.size() != 4) return {};
    std::int64_t v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].toLongLong(&ok);
        if (!ok || parts[i].isEmpty()) return {};
        v[i] = ((v[i] % 65536) + 65536) % 65536;
    }
    return {static_cast<std::int32_t>(static_cast<std::uint32_t>(v[0] * 65536 + v[1])),
            static_cast<std::int32_t>(static_cast<std::uint32_t>(v[2] * 65536 + v[3]))};
}

QString VersionText(VersionNumber v) {
    const auto ms = static_cast<std::uint32_t>(v.ms), ls = static_cast<std::uint32_t>(v.ls);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(ms >> 16)
        .arg(ms & 0xFFFF)
        .arg(ls >> 16)
        .arg(ls & 0xFFFF);
}

VersionNumber GetFileVersionNumber(const QString& path) {
    if (path.size() > 255) return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    // Version blocks sit in the first megabytes of a program; bound the read.
    return VersionFromBytes(f.read(64 << 20));
}

VersionNumber VersionFromBytes(const QByteArray& bytes) {
    const Reader r{bytes};
    const VersionNumber pe = peVersion(r);
    if (pe.ms != -1 || pe.ls != -1) return pe;
    return elfVersion(r);
}

std::int32_t FileByteSum(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return -1;
    std::uint32_t sum = 0xFFFFFFFF;
    while (!f.atEnd()) {
        const QByteArray block = f.read(4096);
        if (block.isEmpty()) break;
        for (char c : block)
            sum += static_cast<unsigned char>(c);
    }
    return static_cast<std::int32_t>(sum);
}

std::uint32_t CrcOfBytes(std::span<const unsigned char> bytes, std::uint32_t c) {
    const auto& t = crcTable();
    for (unsigned char b : bytes)
        c = c + (t[(c ^ b) & 0xFF] ^ (c >> 8));
    return c;
}

std::int32_t FileCRC(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return 0;
    std::uint32_t c = 0xFFFFFFFF;
    while (!f.atEnd()) {
        const QByteArray block = f.read(4096);
        if (block.isEmpty()) break;
        c = CrcOfBytes({reinterpret_cast<const unsigned char*>(block.constData()),
                        static_cast<std::size_t>(block.size())},
                       c);
    }
    return static_cast<std::int32_t>(~c);
}

QDateTime ParseDateTime(const QString& date, const QString& time, const QString& dateFormat,
                        QChar dateSeparator, const QString& timeFormat, QChar timeSeparator) {
    QDateTime result(QDate(1980, 1, 1), QTime(0, 0));
    // The order of day, month and year comes from the pattern; the parts from the separator.
    QString order;
    for (const QChar c : dateFormat.toLower())
        if ((c == QLatin1Char('d') || c == QLatin1Char('m') || c == QLatin1Char('y')) &&
            !order.contains(c))
            order += c;
    const QStringList parts = date.split(dateSeparator);
    if (order.size() == 3 && parts.size() == 3) {
        int d = 0, m = 0, y = 0;
        bool ok = true;
        for (int i = 0; i < 3 && ok; ++i) {
            const auto v = number(parts[i]);
            ok = v.has_value();
            if (!ok) break;
            if (order[i] == QLatin1Char('d')) d = *v;
            if (order[i] == QLatin1Char('m')) m = *v;
            if (order[i] == QLatin1Char('y')) y = *v;
        }
        if (ok && parts[order.indexOf(QLatin1Char('y'))].trimmed().size() <= 2)
            y += y < 50 ? 2000 : 1900;
        const QDate parsed(y, m, d);
        if (ok && parsed.isValid()) result.setDate(parsed);
    }
    if (!time.isEmpty()) {
        Q_UNUSED(timeFormat);
        const QStringList t = time.split(timeSeparator);
        if (t.size() >= 2 && t.size() <= 3) {
            const auto h = number(t[0]), n = number(t[1]);
            const auto s = t.size() == 3 ? number(t[2]) : std::optional<int>(0);
            if (h && n && s) {
                const QTime parsed(*h, *n, *s);
                if (parsed.isValid()) result = result.addSecs(QTime(0, 0).secsTo(parsed));
            }
        }
    }
    return result;
}

const StatusText* FindStatus(int id) {
    for (const auto& s : kStatuses)
        if (s.id == id) return &s;
    return nullptr;
}

std::span<const StatusText> StatusTable() {
    return kStatuses;
}

} // namespace update
