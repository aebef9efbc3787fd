#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <memory>

namespace platform {

namespace {
QDate& fakeToday() {
    static QDate d;
    return d;
}
} // namespace

bool ReplaceFiles(const std::vector<std::pair<QString, QString>>& sourceToTarget) {
    std::vector<std::unique_ptr<QSaveFile>> staged;
    for (const auto& [source, target] : sourceToTarget) {
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly)) return false; // staged files are discarded unwritten
        const QByteArray bytes = in.readAll();
        if (in.error() != QFileDevice::NoError) return false;
        // A read-only target gets its write bit, as Windows' archive-only attribute.
        if (QFileInfo(target).exists() && !QFileInfo(target).isWritable())
            QFile::setPermissions(target, QFile::permissions(target) | QFileDevice::WriteOwner);
        auto out = std::make_unique<QSaveFile>(target);
        out->setDirectWriteFallback(false);
        if (!out->open(QIODevice::WriteOnly) || out->write(bytes) != bytes.size()) return false;
        staged.push_back(std::move(out));
    }
    bool ok = true;
    for (auto& out : staged) ok = out->commit() && ok;
    return ok;
}

bool ExchangeFiles(const QString& a, const QString& b) {
    const QString tmp = a + QStringLiteral(".exchange");
    QFile::remove(tmp);
    if (!QFile::copy(a, tmp)) return false;
    const bool ok = ReplaceFiles({{b, a}, {tmp, b}});
    QFile::remove(tmp);
    return ok;
}

QDate LastWriteDate(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.lastModified().date() : QDate();
}

QString FindIgnoringCase(const QString& dir, const QString& name) {
    const QDir d(dir);
    for (const QString& entry : d.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (entry.compare(name, Qt::CaseInsensitive) == 0) return d.filePath(entry);
    return d.filePath(name);
}

QString DashedDateFormat(const QString& shortFormat) {
    // Keep the fields of the format (d, M, y runs) in their order and put
    // "-" between them, whatever separators the locale uses.
    QString format;
    QChar last;
    for (const QChar c : shortFormat) {
        const bool field = c == QLatin1Char('d') || c == QLatin1Char('M') || c == QLatin1Char('y');
        if (!field) {
            last = QChar();
            continue;
        }
        if (c != last && !format.isEmpty() && !format.endsWith(QLatin1Char('-'))) format += QLatin1Char('-');
        format += c;
        last = c;
    }
    if (format.count(QLatin1Char('d')) == 0 || format.count(QLatin1Char('M')) == 0 || format.count(QLatin1Char('y')) == 0)
        format = QStringLiteral("d-M-yyyy");
    // Names of months or days would bring letters of the locale: numbers only.
    format.replace(QStringLiteral("dddd"), QStringLiteral("dd")).replace(QStringLiteral("ddd"), QStringLiteral("dd"));
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MM")).replace(QStringLiteral("MMM"), QStringLiteral("MM"));
    return format;
}

QString DateText(const QDate& date, const QString& shortFormat) {
    return QLocale::c().toString(date, DashedDateFormat(shortFormat));
}

QString ShortDateFormat() { return DashedDateFormat(QLocale::system().dateFormat(QLocale::ShortFormat)); }

QString DateText(const QDate& date) { return DateText(date, QLocale::system().dateFormat(QLocale::ShortFormat)); }

QDate Today() { return fakeToday().isValid() ? fakeToday() : QDate::currentDate(); }

void SetTodayForTesting(const QDate& date) { fakeToday() = date; }

} // namespace platform
