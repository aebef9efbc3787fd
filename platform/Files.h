#pragma once
#include <QByteArray>
#include <QDate>
#include <QFileDevice>
#include <QString>
#include <QStringList>
#include <utility>
#include <vector>

namespace platform {

// Replaces each target by a copy of its source, all or nothing, also across
// a crash: every copy is staged and made durable beside its target first,
// and several targets are moved into place under a journal that the next
// write to the folder, or the next start, completes or undoes. A read-only
// target is replaced all the same. A copy is never more open than its
// source: an existing target keeps its mode narrowed to the source's, a new
// one gets the source's. False when anything failed; the targets are then as
// they were.
bool ReplaceFiles(const std::vector<std::pair<QString, QString>>& sourceToTarget);

// Swaps the contents of each pair of files, all pairs as one change of the
// kind above; at no moment is either version of a file only in memory.
bool ExchangeFiles(const std::vector<std::pair<QString, QString>>& pairs);
bool ExchangeFiles(const QString& a, const QString& b);

// Completes or undoes a replacement in `dir` that an ended run left half
// done, and removes that run's temporary files. To be called before the
// folder's files are read at start-up. Returns the names of what looked like
// such a run's journal but was left alone: not the user's own, writable by
// others, or naming files outside `dir`.
QStringList RecoverInterruptedReplacements(const QString& dir);

// Writes a new file (nothing may be at `path`) that has `permissions` from the
// moment it exists, and makes its bytes durable.
bool WriteNewFile(const QString& path, const QByteArray& bytes,
                  QFileDevice::Permissions permissions);

// Makes a folder, and any missing folder above it, readable by its owner
// only; an existing folder of the user's is narrowed to that.
bool MakePrivateFolder(const QString& path);

// Replaces `path` by a file holding `data` that only this user may read or
// write (0600). The bytes go to a new file of a fresh name beside it, made
// with O_EXCL and never through a link, which is then renamed over `path`:
// a symbolic link there is replaced, never followed, and a failure at any
// step leaves the old file whole. False when anything failed.
bool WriteOwnFile(const QString& path, const QByteArray& data);

// The date of a file's last change; invalid when there is no such file.
QDate LastWriteDate(const QString& path);

// The first file of a folder whose name equals `name` ignoring case, as a
// full path; `dir` + `name` when there is none.
QString FindIgnoringCase(const QString& dir, const QString& name);

// Dates in file names: the short date format of the user's locale with "-"
// between day, month and year, and nothing a file name may not hold.
QString DateText(const QDate& date, const QString& shortFormat);
QString DateText(const QDate& date); // with the user's format
// The QDate pattern behind DateText, for reading such dates back.
QString DashedDateFormat(const QString& shortFormat);
QString ShortDateFormat(); // of the user's locale
QDate Today();
void SetTodayForTesting(const QDate& date); // invalid date: the real clock again

// A file the player made read-only: no write bit, or not writable by us.
// Root's access to a file without write bits does not count, as the
// game's own platform honours the attribute whoever runs it.
bool IsReadOnlyFile(const QString& path);

} // namespace platform
