#pragma once
#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>
#include <span>

// The pure parts of the update client: versions, checksums, dates, statuses.
namespace update {

struct VersionNumber {
    std::int32_t ms = -1;
    std::int32_t ls = -1;
};

// "a.b.c.d" or "a,b,c,d"; (-1, -1) unless valid. Each part modulo 65536.
VersionNumber ParseVersionString(const QString& text);
// The file version of a PE file's version resource, or of the version note
// our own ELF programs carry; (-1, -1) when there is none.
VersionNumber GetFileVersionNumber(const QString& path);
// The same for a file's bytes already in memory.
VersionNumber VersionFromBytes(const QByteArray& bytes);
QString VersionText(VersionNumber v); // A.B.C.D, unsigned parts

// Sum of all bytes starting at 0xFFFFFFFF; -1 when the file cannot be read.
std::int32_t FileByteSum(const QString& path);
// The update site's checksum: a CRC-32 whose running value is added to the
// table step; "abc" gives 0x6C8D9D41. 0 when the file cannot be read.
std::int32_t FileCRC(const QString& path);
std::uint32_t CrcOfBytes(std::span<const unsigned char> bytes, std::uint32_t running = 0xFFFFFFFF);

// Date and time in the control file's patterns ("dd/mm/yyyy" with "/",
// "hh:nn" with ":"); 1 January 1980 when the date does not parse, nothing
// added when the time does not.
QDateTime ParseDateTime(const QString& date, const QString& time, const QString& dateFormat,
                        QChar dateSeparator, const QString& timeFormat, QChar timeSeparator);

struct StatusText {
    int id;
    const char* text;
    int statuscode;
    int errcode;
};
// The status table 909..955; nullptr for a number it does not hold.
const StatusText* FindStatus(int id);
std::span<const StatusText> StatusTable();

} // namespace update
