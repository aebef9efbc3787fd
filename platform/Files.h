#pragma once
#include <QDate>
#include <QString>
#include <utility>
#include <vector>

namespace platform {

// Replaces each target by a copy of its source, all or nothing as far as the
// disk allows: every copy is written to a temporary file beside its target
// first, and only when all of them are complete are they moved into place.
// A read-only target is replaced all the same. False when anything failed.
bool ReplaceFiles(const std::vector<std::pair<QString, QString>>& sourceToTarget);

// Swaps two files' contents in place of each other (each replaced in one step).
bool ExchangeFiles(const QString& a, const QString& b);

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

} // namespace platform
