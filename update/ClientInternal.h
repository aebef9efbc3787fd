#pragma once
// Shared by the files of TUpdateClient only.
#include "update/UpdateLogic.h"

#include <QString>
#include <string>

namespace update::detail {

inline std::string S(const QString& s) {
    return s.toStdString();
}
inline QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// The caps of what a run may fetch.
constexpr qint64 kMaxControlFile = 1 << 20;
constexpr qint64 kMaxSignatureFile = 64 << 10;
constexpr qint64 kMaxTextFile = 1 << 20;
constexpr qint64 kMaxPlainFile = qint64(1) << 30;
// More sections than any update needs; bounds what a hostile count can cost.
constexpr int kMaxFiles = 4096;

// Statuses of the checks this client adds to the table: what was refused and why.
enum ExtraStatus {
    kNotVerified = 960, // the control file's signature
    kFileRefused = 961, // a fetched file that is not what the control file says
    kUpdaterRefused = 962,
    kCannotWrite = 963,
    kRestartRefused = 964,
    kRedirected = 965,
};
struct Codes {
    const char* text = nullptr;
    int status = 0, error = 0;
};
inline Codes CodesOf(int id) {
    switch (id) {
    case kNotVerified:
        return {"Update control file could not be verified : %s", 11, 4};
    case kFileRefused:
        return {"Update file refused : %s", 15, 0};
    case kUpdaterRefused:
        return {"Updater refused : %s", 9, 0};
    case kCannotWrite:
        return {"Cannot write to folder : %s", 18, 0};
    case kRestartRefused:
        return {"Restart refused : %s", 9, 0};
    case kRedirected:
        return {"Update file moved : %s", 19, 0};
    default:
        break;
    }
    const StatusText* s = FindStatus(id);
    return s ? Codes{s->text, s->statuscode, s->errcode} : Codes{};
}

// Only these may be fetched; file://, dict:// and the like never.
inline bool FetchableUrl(const QString& url) {
    for (const char* scheme : {"http://", "https://", "ftp://"})
        if (url.startsWith(QLatin1String(scheme), Qt::CaseInsensitive)) return true;
    return false;
}
// Only these may be opened in the browser.
inline bool BrowsableUrl(const QString& url) {
    return url.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) ||
           url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}
// A file name and nothing else: no folder, no "..", no control character.
inline bool PlainFileName(const QString& name) {
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")) return false;
    for (const QChar c : name)
        if (c.unicode() < 32 || c == QLatin1Char('/') || c == QLatin1Char('\\')) return false;
    return true;
}

// A file that the program or the game runs. Put in place directly it
// would be a program handed over without the updater's safeguards.
inline bool RunsAsProgram(const QString& name) {
    const QString n = name.toLower();
    const QString ext = n.mid(n.lastIndexOf(QLatin1Char('.')) + 1);
    for (const char* e : {"exe", "dll", "so", "com", "bat", "cmd", "sh", "scr", "msi", "pif"})
        if (n.contains(QLatin1Char('.')) && ext == QLatin1String(e)) return true;
    if (n.contains(QLatin1String(".so."))) return true;
    for (const char* b : {"upd", "ut2004", "ucc", "quorlex2004"})
        if (n == QLatin1String(b)) return true;
    return n.startsWith(QLatin1String("ut2004-bin")) || n.startsWith(QLatin1String("ucc-bin"));
}

} // namespace update::detail
