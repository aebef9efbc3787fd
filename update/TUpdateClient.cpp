#include "update/TUpdateClient.h"

#include "ini/IniFile.h"
#include "platform/Files.h"
#include "platform/Network.h"
#include "platform/UserStore.h"
#include "ui/Prompter.h"
#include "net/CurlStream.h"
#include "platform/Shell.h"
#include "update/UpdateDialogs.h"
#include "update/updater/Unpack.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

namespace update {

namespace {

// A control file is a few kilobytes; a bigger one is no control file.
constexpr qint64 kMaxControlFile = 4 << 20;
// More sections than any update needs; bounds what a hostile count can cost.
constexpr int kMaxFiles = 4096;

std::string S(const QString& s) { return s.toStdString(); }
QString Q(const std::string& s) { return QString::fromStdString(s); }

QDateTime epoch1980() { return QDateTime(QDate(1980, 1, 1), QTime(0, 0)); }

} // namespace

QString NativePath(QString path) {
#ifndef Q_OS_WIN
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
    return path;
}

namespace {
// A command line of the control file, started without waiting.
void startCommandLine(const QString& command) {
    QStringList args = QProcess::splitCommand(NativePath(command));
    if (args.isEmpty()) return;
    const QString program = args.takeFirst();
    QProcess::startDetached(program, args);
}
} // namespace

TInetThread::TInetThread(TUpdateClient* client) : UpdateComponent(client) {}

// The thread's only work: hand the run to the UI thread and wait for it.
void TInetThread::run() {
    if (UpdateComponent)
        QMetaObject::invokeMethod(UpdateComponent, [c = UpdateComponent] { if (c) c->RunUpdate(); }, Qt::BlockingQueuedConnection);
}

TUpdateClient::TUpdateClient(QObject* owner) : QObject(owner) {}
TUpdateClient::~TUpdateClient() = default;

// ---------------------------------------------------------------- run

bool TUpdateClient::StartUpdate() {
    // A second run would start inside the first, whose transfers let the
    // event loop run; it is refused instead.
    if (running_) return false;
    running_ = true;
    auto* thread = new TInetThread(this);
    connect(thread, &QThread::finished, this, [this, thread] {
        thread->deleteLater();
        ThreadFinished();
    });
    thread->start();
    return true;
}

void TUpdateClient::RunUpdate() {
    ComponentFetched = false;
    FtpDirectorySet = false;
    ControlFilePath.clear();
    if (ConnectInternet() != 0) return;
    if (UpdateType == ftpUpdate && ConnectHost() == -1) ReportInternetError();
    if ((hostConnected || UpdateType == fileUpdate) && ReadControlFile() == 0) {
        if (CheckForUpdate() == 7) {
            RestartPending = false;
        } else if (ProcessActions() == 0) {
            int answer = 0;
            if (auto text = GetWhatsNewText()) answer = ShowWhatsNew(*text);
            if (auto eula = GetLicenseText(); eula && answer == 0) answer = ShowLicense(*eula);
            if (answer != 0) {
                RestartPending = false;
            } else if (ReadFileList() <= 0) {
                RestartPending = false;
            } else {
                FilterFileList();
                DownloadFiles();
                FinishUpdate();
                DisconnectInternet();
                if (OnSuccess) OnSuccess(this);
                return;
            }
        }
    }
    DisconnectInternet();
}

void TUpdateClient::ThreadFinished() {
    running_ = false;
    if (OnThreadUpdateDone) OnThreadUpdateDone(this);
    if (RestartPending && ComponentFetched) RestartApplication();
}

// ---------------------------------------------------------------- status

void TUpdateClient::ReportStatus(int id, const QString& argument, int statuscode, int errcode) {
    const StatusText* s = FindStatus(id);
    QString message = s ? QString::fromLatin1(s->text) : QString();
    message.replace(QStringLiteral("%s"), argument);
    if (OnStatus) OnStatus(this, message, statuscode, errcode);
    if (Logging) AppendLogLine(id, message, statuscode, errcode);
}

void TUpdateClient::AppendLogLine(int id, const QString& message, int statuscode, int errcode) {
    // A log that cannot be written is skipped: it never stops a run.
    QFile log(QDir(LogDirectory).filePath(QStringLiteral("QUPDATE.LOG")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    const QString line = Clock().toString(QStringLiteral("dd-MM-yyyy hh:mm:ss")) + QStringLiteral(" : [") +
                         QString::number(id) + QStringLiteral("] ") + message + QStringLiteral(" (Status:") +
                         QString::number(statuscode) + QStringLiteral(") (Error:") + QString::number(errcode) +
                         QStringLiteral(")\r\n");
    log.write(line.toUtf8());
}

namespace {
// The codes of a status as the table gives them.
struct Codes {
    int status, error;
};
Codes codes(int id) {
    const StatusText* s = FindStatus(id);
    return s ? Codes{s->statuscode, s->errcode} : Codes{0, 0};
}
} // namespace

#define REPORT(id, arg) ReportStatus((id), (arg), codes(id).status, codes(id).error)

// ---------------------------------------------------------------- connection

bool TUpdateClient::IsInternetConnected() { return platform::IsOnline(); }

int TUpdateClient::ConnectInternet() {
    sessionOpen = false;
    hostConnected = false;
    if (UpdateType == fileUpdate) return 0;
    REPORT(918, QString());
    if (!IsInternetConnected() && UpdateConnect == ucNoConnect) return 1;
    // Dialling up is the system's business here: it counts as done.
    if (!IsInternetConnected() && (UpdateConnect == ucConnectPrompt || UpdateConnect == ucConnectPromptHangup)) {
        REPORT(919, QString());
        Dialled = true;
    }
    if (!IsInternetConnected() && (UpdateConnect == ucConnectSilent || UpdateConnect == ucConnectSilentHangup)) {
        REPORT(920, QString());
        Dialled = true;
    }
    REPORT(921, QString());
    sessionOpen = OpenSession();
    if (!sessionOpen) {
        REPORT(922, QString());
        return 2;
    }
    if (UpdateType == httpUpdate) hostConnected = true;
    return 0;
}

int TUpdateClient::ConnectHost() {
    REPORT(923, Host);
    hostConnected = OpenHost();
    return hostConnected ? 0 : -1;
}

int TUpdateClient::DisconnectInternet() {
    if (UpdateType != fileUpdate) {
        if (UpdateType == ftpUpdate && hostConnected) {
            CloseHost();
            REPORT(954, QString());
            hostConnected = false;
        }
        if (sessionOpen) {
            CloseSession();
            REPORT(949, QString());
            sessionOpen = false;
            hostConnected = false;
        }
        if (Dialled && (UpdateConnect == ucConnectPromptHangup || UpdateConnect == ucConnectSilentHangup))
            REPORT(955, QString());
        REPORT(949, QString());
    }
    if (!ControlFilePath.isEmpty()) QFile::remove(ControlFilePath);
    return 0;
}

// ---------------------------------------------------------------- transfers

QString TUpdateClient::TempDir() const {
    QString t = QDir::tempPath();
    if (!t.endsWith(QLatin1Char('/'))) t += QLatin1Char('/');
    return t;
}

QString TUpdateClient::NewTempFile() {
    QTemporaryFile tmp(QDir(NativePath(TempDirectory)).filePath(QStringLiteral("QUPDXXXXXX.tmp")));
    tmp.setAutoRemove(false);
    if (!tmp.open()) return {};
    return tmp.fileName();
}

void TUpdateClient::DoFileDownloaded(const QString& filename) {
    if (OnFileDownloaded) OnFileDownloaded(this, filename);
}

QString TUpdateClient::AddProxyCredentials(const QString& url, const QString& user, const QString& password) {
    if (url.startsWith(QStringLiteral("HTTP://"), Qt::CaseInsensitive) && !user.isEmpty())
        return QStringLiteral("http://") + user + QLatin1Char(':') + password + QLatin1Char('@') + url.mid(7);
    return url;
}

bool TUpdateClient::CopyLocalFile(const QString& source, const QString& target) {
    if (source == target) {
        REPORT(912, source);
        return false;
    }
    QFile in(NativePath(source));
    if (!in.open(QIODevice::ReadOnly)) {
        REPORT(913, source);
        return false;
    }
    const qint64 length = in.size();
    if (length < 0 || (!in.isSequential() && !in.seek(0))) {
        REPORT(914, source);
        return false;
    }
    const QString tmpName = NewTempFile();
    if (tmpName.isEmpty()) return false;
    QFile out(tmpName);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QFile::remove(tmpName);
        return false;
    }
    qint64 total = 0;
    bool cancel = false, failed = false;
    std::vector<char> buffer(16384);
    for (;;) {
        const qint64 n = in.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n < 0) {
            failed = true;
            break;
        }
        const qint64 written = n > 0 ? out.write(buffer.data(), n) : 0;
        if (written > 0) total += written;
        if (OnFileProgress) OnFileProgress(this, source, static_cast<int>(total), static_cast<int>(length));
        if (OnProgressCancel) OnProgressCancel(this, cancel);
        QCoreApplication::processEvents();
        if (n == 0 || cancel) break;
        if (written < n) {
            failed = true;
            break;
        }
    }
    in.close();
    failed = !out.flush() || failed;
    out.close();
    if (cancel || failed) {
        QFile::remove(tmpName);
        return false;
    }
    const QString to = NativePath(target);
    if (OnFileReplacing && QFile::exists(to)) OnFileReplacing(this, to);
    QFile::remove(to);
    if (!QFile::rename(tmpName, to)) {
        QFile::remove(tmpName);
        return false;
    }
    return true;
}

bool TUpdateClient::DownloadFile(const QString& url, const QString& targetDir, bool compressed) {
    REPORT(915, url);
    const QString name = FileNameFromURL(url);
    if (UpdateType == fileUpdate) {
        const QString dir = NativePath(targetDir);
        const bool namesFile = !dir.isEmpty() && !dir.endsWith(QLatin1Char('/')) && !QFileInfo(dir).isDir();
        const QString target = namesFile ? dir : QDir(dir.isEmpty() ? QStringLiteral(".") : dir).filePath(name);
        if (!CopyLocalFile(url, target)) return false;
        DoFileDownloaded(target);
        if (compressed && !target.toUpper().contains(QStringLiteral(".CAB"))) ExpandLZFile(target);
        return true;
    }
    const QString realUrl = AddProxyCredentials(url, ProxyUserID, ProxyPassword);
    auto transfer = OpenTransfer();
    if (transfer) transfer->control = targetDir == TempDir();
    if (!transfer || !transfer->Open(TransferUrl(realUrl))) {
        REPORT(917, url);
        return false;
    }
    if (UpdateType == httpUpdate && transfer->HttpStatus() >= 300) {
        ReportStatus(916, QString::number(transfer->HttpStatus()), codes(916).status, transfer->HttpStatus());
        return false;
    }
    const QString target = QDir(NativePath(targetDir).isEmpty() ? QStringLiteral(".") : NativePath(targetDir)).filePath(FileNameFromURL(realUrl));
    const QString tmpName = NewTempFile();
    QFile out(tmpName);
    if (tmpName.isEmpty() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QFile::remove(tmpName);
        return false;
    }
    const qint64 expected = transfer->ExpectedSize();
    qint64 last = 4096, total = 0;
    bool cancel = false, failed = false, result = false;
    char buffer[4096];
    while (last > 0 && !cancel) {
        QCoreApplication::processEvents();
        last = transfer->Read(buffer, sizeof buffer);
        if (last < 0) {
            failed = true;
            break;
        }
        if (last > 0 && out.write(buffer, last) != last) {
            failed = true;
            break;
        }
        total += last;
        if (OnFileProgress) OnFileProgress(this, target, static_cast<int>(total), static_cast<int>(expected));
        if (OnProgressCancel) OnProgressCancel(this, cancel);
        if (last > 0) result = true;
    }
    transfer.reset();
    failed = !out.flush() || failed;
    out.close();
    if (cancel || failed) {
        QFile::remove(tmpName);
        return false;
    }
    if (OnFileReplacing && QFile::exists(target)) OnFileReplacing(this, target);
    QFile::remove(target);
    if (!QFile::rename(tmpName, target)) {
        QFile::remove(tmpName);
        return false;
    }
    DoFileDownloaded(target);
    if (compressed && QFileInfo(target).suffix().toUpper() != QStringLiteral("CAB")) ExpandLZFile(target);
    return result;
}

std::optional<QStringList> TUpdateClient::DownloadTextFile(const QString& url) {
    if (!DownloadFile(url, TempDir(), false)) return std::nullopt;
    const QString path = TempDir() + FileNameFromURL(url);
    QFile f(path);
    QStringList lines;
    if (f.open(QIODevice::ReadOnly)) {
        for (QByteArray line : f.readAll().split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            lines << QString::fromLatin1(line);
        }
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    }
    f.close();
    QFile::remove(path);
    return lines;
}

// ---------------------------------------------------------------- control file

ini::TIniFile& TUpdateClient::Control() {
    if (!control_ || Q(control_->FileName()) != ControlFilePath) control_ = std::make_unique<ini::TIniFile>(S(ControlFilePath));
    return *control_;
}

QString TUpdateClient::GetControlFileURL() {
    const QString last = LoadLastURL();
    return ResolvePrefixes(last.isEmpty() ? URL : last);
}

int TUpdateClient::ReadControlFile() {
    const QString url = GetControlFileURL();
    if (!DownloadFile(url, TempDir(), false)) {
        REPORT(925, QString());
        return 4;
    }
    const QString path = TempDir() + FileNameFromURL(url);
    if (QFileInfo(path).size() > kMaxControlFile) {
        QFile::remove(path);
        REPORT(925, QString());
        return 4;
    }
    REPORT(926, QString());
    ControlFilePath = path;
    auto& c = Control();
    int result = 0;
    if (SignatureCheck && Q(c.ReadText("update", "signature", "")) != Signature) {
        REPORT(927, QString());
        result = 5;
    }
    RestartPending = c.ReadNumber("application", "appupdate", 0) == 1;
    AppCommandLine = ResolvePrefixes(Q(c.ReadText("application", "appname", "")));
    if (AppCommandLine.isEmpty()) RestartPending = false;
    const auto blank = AppCommandLine.indexOf(QLatin1Char(' '));
    const QString program = blank < 0 ? AppCommandLine : AppCommandLine.left(blank);
    QString params = blank < 0 ? QString() : AppCommandLine.mid(blank + 1);
    if (OnSetAppParams) OnSetAppParams(this, params);
    if (!params.isEmpty()) AppCommandLine = program + QLatin1Char(' ') + params;
    if (AppCommandLine.contains(QLatin1Char(' '))) AppCommandLine = QLatin1Char('"') + AppCommandLine + QLatin1Char('"');
    AppComponents = ResolvePrefixes(Q(c.ReadText("application", "appcomps", "")));
    SilentRestart = c.ReadNumber("application", "silentrestart", 0) == 1;
    return result;
}

QDateTime TUpdateClient::ParseDateTime(const QString& date, const QString& time) const {
    return update::ParseDateTime(date, time, DateFormat, DateSeparator, TimeFormat, TimeSeparator);
}

int TUpdateClient::CheckForUpdate() {
    auto& c = Control();
    int result = 7;
    UpdateDescription = Q(c.ReadText("update", "descr", ""));
    const QString date = Q(c.ReadText("update", "date", ""));
    if (!date.isEmpty()) {
        REPORT(928, QString());
        UpdateDate = ParseDateTime(date, Q(c.ReadText("update", "time", "")));
        LocalDate = GetLastUpdateDate(ResolvePrefixes(Q(c.ReadText("update", "localversion", ""))));
        if (LocalDate >= UpdateDate) {
            REPORT(930, QString());
        } else {
            REPORT(929, platform::DateText(UpdateDate.date()));
            result = 6;
        }
    }
    if (!c.ReadText("update", "unconditional", "").empty() && result == 7) result = 8;
    QString newversion = Q(c.ReadText("update", "newversion", ""));
    if (!newversion.isEmpty() && result == 7) {
        const int newsize = c.ReadNumber("update", "newsize", 0);
        QString local = ResolvePrefixes(Q(c.ReadText("update", "localversion", "")));
        const int newchecksum = c.ReadNumber("update", "newchecksum", -1);
        if (!local.isEmpty()) {
            if (newchecksum != -1) {
                result = 10;
                REPORT(931, QString());
            } else if (newsize <= 0) {
                result = 11;
                REPORT(933, QString());
            } else {
                result = 9;
                REPORT(932, QString());
            }
        }
        if (IsNewVersion(newversion, local, newsize, newchecksum)) {
            REPORT(929, newversion);
        } else {
            REPORT(930, QString());
            result = 7;
        }
    }
    if (OnCustomValidate) {
        bool allow = true;
        OnCustomValidate(this, Q(c.ReadText("custom", "validatemsg", "")), Q(c.ReadText("custom", "validateparam", "")), allow);
        result = allow ? 12 : 7;
    }
    return result;
}

bool TUpdateClient::IsNewVersion(QString& newversion, QString& localfile, int newsize, int newchecksum) {
    if (newversion.isEmpty() && newsize == 0 && newchecksum == -1) return true;
    if (localfile.isEmpty() && VersionCheck == vcUpdateOnly) return true;
    const QString path = NativePath(localfile);
    if (newchecksum != -1) return (UseCRC32 ? FileCRC(path) : FileByteSum(path)) != newchecksum;
    if (newsize > 0) {
        QFile f(path);
        const qint64 s = f.open(QIODevice::ReadOnly) ? f.size() : -1;
        if (s == newsize) return false;
        if (s > 0) return true;
        return VersionCheck == vcAlways;
    }
    const VersionNumber local = GetFileVersionNumber(path);
    const VersionNumber fresh = ParseVersionString(newversion);
    if (fresh.ms == -1 || fresh.ls == -1) return false;
    if ((local.ms == -1 || local.ls == -1) && VersionCheck == vcUpdateOnly) return false;
    localfile = VersionText(local);
    newversion = VersionText(fresh);
    return fresh.ms > local.ms || (fresh.ms == local.ms && fresh.ls > local.ls);
}

QDateTime TUpdateClient::GetLastUpdateDate(const QString& localPath) {
    QDateTime result = epoch1980();
    if (!LastUrlMemory.Key.isEmpty() && !LastUrlMemory.Section.isEmpty()) {
        const QString date = platform::ReadUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastDate"));
        const QString time = platform::ReadUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastTime"));
        if (!date.isEmpty()) {
            const QDate d = QDate::fromString(date, platform::ShortDateFormat());
            if (d.isValid()) {
                result = QDateTime(d, QTime(0, 0));
                const QTime t = QTime::fromString(time, QStringLiteral("HH:mm:ss"));
                if (!time.isEmpty() && t.isValid()) result = result.addSecs(QTime(0, 0).secsTo(t));
            }
        }
        LastDateRead = true;
        return result;
    }
    if (!localPath.isEmpty()) {
        const QFileInfo info(NativePath(localPath));
        // A missing local file is older than any new date: it needs the update.
        return info.exists() ? info.lastModified() : QDateTime(QDate(1, 1, 1), QTime(0, 0));
    }
    return result;
}

void TUpdateClient::SaveLastUpdateDate(const QDateTime& when) {
    if (LastUrlMemory.Key.isEmpty() || LastUrlMemory.Section.isEmpty() || !LastUrlMemory.Save) return;
    platform::WriteUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastDate"),
                              when.date().toString(platform::ShortDateFormat()));
    if (when.time() != QTime(0, 0))
        platform::WriteUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastTime"),
                                  when.time().toString(QStringLiteral("HH:mm:ss")));
}

QString TUpdateClient::LoadLastURL() {
    if (LastUrlMemory.Key.isEmpty() || LastUrlMemory.Section.isEmpty() || !LastUrlMemory.Save) return {};
    return platform::ReadUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastURL"));
}

void TUpdateClient::SaveLastURL(const QString& url) {
    if (LastUrlMemory.Key.isEmpty() || LastUrlMemory.Section.isEmpty() || !LastUrlMemory.Save) return;
    platform::WriteUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastURL"), url);
}

QString TUpdateClient::ResolvePrefixes(QString value) {
    if (OnConvertPrefix) OnConvertPrefix(this, value);
    qsizetype open = -1;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (open < 0) {
            if (value[i] == QLatin1Char('{')) open = i;
            continue;
        }
        if (value[i] != QLatin1Char('}')) continue;
        const QString key = value.mid(open + 1, i - open - 1).toUpper();
        const QString replacement = GetPrefixValue(key);
        if (!replacement.isEmpty()) {
            value.replace(open, i - open + 1, replacement);
            i = open - 1; // go on at the first inserted character
        }
        open = -1;
    }
    return value;
}

QString TUpdateClient::GetPrefixValue(const QString& key) {
    QString dir;
    if (key == QStringLiteral("WIN"))
        dir = platform::WindowsDirectory();
    else if (key == QStringLiteral("APP"))
        dir = QDir::currentPath();
    else if (key == QStringLiteral("TMP"))
        dir = QDir::tempPath();
    else if (key == QStringLiteral("PF"))
        dir = platform::ProgramFilesDirectory();
    if (dir.isEmpty()) return {};
    if (!dir.endsWith(QLatin1Char('/')) && !dir.endsWith(QLatin1Char('\\'))) dir += QDir::separator();
    if (dir.size() > 3 && dir[1] == QLatin1Char(':'))
        dir.chop(1);
    else
        dir += QLatin1Char('.');
    return dir;
}

QString TUpdateClient::FileNameFromURL(const QString& url) {
    QString name = url.mid(url.lastIndexOf(QLatin1Char('/')) + 1);
    name = name.mid(name.lastIndexOf(QLatin1Char('\\')) + 1);
    if (OnFileNameFromURL) {
        QString fname = name;
        OnFileNameFromURL(this, name, fname);
        name = fname;
    }
    return name;
}

int TUpdateClient::ReadFileList() {
    FileList.Items.clear();
    auto& c = Control();
    const int count = c.ReadNumber("files", "count", 0);
    if (count <= 0) return count;
    REPORT(943, QString());
    for (int n = 1; n <= std::min(count, kMaxFiles); ++n) {
        const std::string sec = "file" + std::to_string(n);
        TFileDescription d;
        d.URL = ResolvePrefixes(Q(c.ReadText(sec, "url", "")));
        d.LocalVersion = ResolvePrefixes(Q(c.ReadText(sec, "localversion", "")));
        d.NewVersion = Q(c.ReadText(sec, "newversion", ""));
        d.NewSize = c.ReadNumber(sec, "newsize", 0);
        d.NewCheckSum = c.ReadNumber(sec, "newchecksum", -1);
        d.NewCustomVer = Q(c.ReadText(sec, "customversion", ""));
        d.NewDate = Q(c.ReadText(sec, "date", ""));
        d.NewTime = Q(c.ReadText(sec, "time", ""));
        d.Description = Q(c.ReadText(sec, "descr", ""));
        d.TargetDir = ResolvePrefixes(Q(c.ReadText(sec, "targetdir", "")));
        if (!d.TargetDir.isEmpty() && !d.TargetDir.endsWith(QLatin1Char('\\'))) d.TargetDir += QLatin1Char('\\');
        d.Compressed = c.ReadNumber(sec, "compressed", 0) == 1;
        d.FileSize = c.ReadNumber(sec, "filesize", 0);
        FileList.Items.push_back(std::move(d));
    }
    return count;
}

int TUpdateClient::FilterFileList() {
    auto& items = FileList.Items;
    for (std::size_t i = 0; i < items.size();) {
        auto& e = items[i];
        bool keep = true;
        if (!e.LocalVersion.isEmpty() && !e.NewDate.isEmpty()) {
            const QFileInfo local(NativePath(e.LocalVersion));
            // A missing local file counts as older than any new date.
            keep = !local.exists() || local.lastModified() < ParseDateTime(e.NewDate, e.NewTime);
        } else {
            QString nv = e.NewVersion, lv = e.LocalVersion;
            keep = IsNewVersion(nv, lv, e.NewSize, e.NewCheckSum);
            if (keep && OnFileVersionCheck && !e.NewCustomVer.isEmpty()) {
                bool isNew = true;
                OnFileVersionCheck(this, e.NewCustomVer, e.LocalVersion, isNew);
                keep = isNew;
            }
        }
        if (keep)
            ++i;
        else
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (OnGetFileList) {
        QStringList list;
        for (const auto& e : items) list << e.Description;
        OnGetFileList(this, list);
        for (qsizetype i = std::min<qsizetype>(list.size(), static_cast<qsizetype>(items.size())) - 1; i >= 0; --i)
            if (list[i].isEmpty()) items.erase(items.begin() + i);
    }
    return items.empty() ? -1 : 0;
}

// ---------------------------------------------------------------- applying

bool TUpdateClient::IsComponent(const QString& name) const {
    return !name.isEmpty() && AppComponents.toUpper().contains(name.toUpper());
}

// An entry may only put a plain file into its target folder: a file name
// with a path, or a target folder that climbs out with "..", is refused.
bool TUpdateClient::SafeEntry(const TFileDescription& entry) const {
    const QString name = const_cast<TUpdateClient*>(this)->FileNameFromURL(entry.URL);
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name)
        if (c.unicode() < 32) return false;
    for (const QString& part : NativePath(entry.TargetDir).split(QLatin1Char('/')))
        if (part == QStringLiteral("..")) return false;
    return true;
}

int TUpdateClient::DownloadFiles() {
    TUpdatePrompting prompting = UpdateUpdate;
    auto& items = FileList.Items;
    for (std::size_t i = 0; i < items.size(); ++i) {
        const auto& e = items[i];
        const QString name = FileNameFromURL(e.URL);
        if (prompting == upPromptAll) {
            if (!prompter_ || !prompter_->Confirm(QString::fromLatin1(FindStatus(909)->text) + name)) continue;
        } else if (prompting == upPromptOnce) {
            if (!prompter_ || !prompter_->Confirm(QString::fromLatin1(FindStatus(910)->text))) return 0;
            prompting = upSilent;
        }
        FileList.CurrentIndex = static_cast<int>(i);
        QString url = e.URL;
        if (OnBeforeFileDownload) OnBeforeFileDownload(this, static_cast<int>(i) + 1, e.Description, url);
        if (!SafeEntry(e)) {
            REPORT(946, e.URL);
            RestartPending = false;
            continue;
        }
        if (!e.TargetDir.isEmpty() && !QFileInfo(NativePath(e.TargetDir)).isDir()) CreateDirectoryPath(e.TargetDir);
        if (!DownloadFile(e.URL, e.TargetDir, e.Compressed)) {
            REPORT(946, e.URL);
            RestartPending = false;
            continue;
        }
        if (IsComponent(name)) ComponentFetched = true;
        ApplyFetchedFile(e, name);
    }
    return 0;
}

bool TUpdateClient::CreateDirectoryPath(const QString& directory) {
    QString dir = NativePath(directory);
    if (dir.endsWith(QLatin1Char('/'))) dir.chop(1);
    if (dir.size() < 3 || QFileInfo(dir).isDir()) return true;
    return QDir().mkpath(dir);
}

void TUpdateClient::FinishUpdate() {
    auto& c = Control();
    if (ResultPost.Enabled) {
        PostUpdateResults();
        bool allow = true;
        if (OnProcessPostResult) OnProcessPostResult(this, allow);
    }
    if (LastDateRead) SaveLastUpdateDate(UpdateDate);
    const QString redirect = Q(c.ReadText("action", "updateURL", ""));
    if (!redirect.isEmpty()) {
        REPORT(941, QString());
        SaveLastURL(redirect);
    }
    if (Utility && ApplyPatch) ExtractPatcher();
    const QString command = ResolvePrefixes(Q(c.ReadText("action", "runafter", "")));
    if (!command.isEmpty()) startCommandLine(command);
    REPORT(948, QString());
}

QString TUpdateClient::ConvertNewlines(QString text) {
    // Shown in message boxes, so a real line break.
    return text.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

int TUpdateClient::ProcessActions() {
    auto& c = Control();
    int result = 0;
    const QString msg = ConvertNewlines(Q(c.ReadText("action", "msg", "")));
    if (!msg.isEmpty()) {
        REPORT(934, QString());
        if (prompter_) prompter_->Information(msg);
    }
    const QString page = ResolvePrefixes(Q(c.ReadText("action", "htmldlg", "")));
    if (!page.isEmpty()) {
        REPORT(935, QString());
        QByteArray html;
        if (page.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
            page.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive)) {
            net::Request r;
            r.url = page.toStdString();
            r.proxy = Proxy.toStdString();
            r.kind = net::Kind::Control;
            const auto got = net::FetchAll(r, 4 << 20, [] {
                QCoreApplication::processEvents();
                return true;
            });
            if (got.ok && got.status < 300) html = QByteArray::fromStdString(got.body);
        } else {
            QFile f(NativePath(page));
            if (f.open(QIODevice::ReadOnly)) html = f.read(4 << 20);
        }
        if (!html.isEmpty()) {
            THtmlDialog dialog(QString::fromUtf8(html));
            dialog.exec();
        }
    }
    if (const QString before = ResolvePrefixes(Q(c.ReadText("action", "runbefore", ""))); !before.isEmpty())
        startCommandLine(before);
    if (OnCustomProcess)
        OnCustomProcess(this, Q(c.ReadText("custom", "processmsg", "")), Q(c.ReadText("custom", "processparam", "")));
    const QString question = ConvertNewlines(Q(c.ReadText("action", "query", "")));
    if (!question.isEmpty()) {
        REPORT(936, QString());
        const bool yes = prompter_ && prompter_->Ask(ui::PromptKind::Information, question, ui::Buttons::YesNo) == ui::Answer::Yes;
        if (!yes) {
            RestartPending = false;
            result = -1;
        }
    }
    const QString url = ResolvePrefixes(Q(c.ReadText("action", "showURL", "")));
    if (!url.isEmpty()) {
        REPORT(942, QString());
        platform::ShellOpen(AddProxyCredentials(url, ProxyUserID, ProxyPassword));
    }
    return result;
}

void TUpdateClient::ExpandLZFile(const QString& path) {
    const std::string p = NativePath(path).toStdString();
    if (!unpack::IsSzdd(p)) {
        // Expanding a plain file in place would destroy it: it is kept as fetched.
        if (Logging) AppendLogLine(0, QStringLiteral("Not SZDD compressed, kept as it is : ") + path, 3, 0);
        return;
    }
    if (!unpack::ExpandSzdd(p).empty()) QFile::remove(NativePath(path));
}

int TUpdateClient::ExtractCabinet(const QString& cabinet, const QString& destination) {
    return unpack::ExtractCabinet(NativePath(cabinet).toStdString(), NativePath(destination).toStdString()) ? 0 : -1;
}

bool TUpdateClient::RunAndWait(const QString& commandLine) {
    QStringList args = QProcess::splitCommand(NativePath(commandLine));
    if (args.isEmpty()) return false;
    QProcess p;
    p.setProgram(args.takeFirst());
    p.setArguments(args);
    p.start();
    if (!p.waitForStarted(-1)) return false;
    p.waitForFinished(-1);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void TUpdateClient::ApplyFetchedFile(const TFileDescription& e, const QString& name) {
    const QString dir = NativePath(e.TargetDir);
    const QString path = QDir(dir.isEmpty() ? QStringLiteral(".") : dir).filePath(name);
    const QString ext = QFileInfo(name).suffix().toUpper();
    if (ExtractCAB && ext == QStringLiteral("CAB") && !IsComponent(name)) {
        if (ExtractCabinet(path, dir) != 0)
            REPORT(947, e.TargetDir + name);
        else if (!KeepIntermediateFiles)
            QFile::remove(path);
    }
    if (ApplyPatch && ext == QStringLiteral("PAT") && !e.LocalVersion.isEmpty() && !IsComponent(name)) {
        RunAndWait(QStringLiteral("patcher.exe ") + name + QLatin1Char(' ') + e.LocalVersion);
        if (!KeepIntermediateFiles) QFile::remove(path);
    }
}

QString TUpdateClient::UpdaterPath() const { return TempDir() + QStringLiteral("upd.exe"); }

void TUpdateClient::ExtractUpdater() {
    QFile resource(QStringLiteral(":/UPD"));
    const QString packed = TempDir() + QStringLiteral("upd.ex_");
    QFile out(packed);
    if (!resource.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(resource.readAll()) != resource.size() || !out.flush())
        throw std::runtime_error((QStringLiteral("Cannot write the updater to ") + packed).toStdString());
    out.close();
    QFile::remove(UpdaterPath());
    ExpandLZFile(packed);
    if (!QFile::exists(UpdaterPath())) throw std::runtime_error((QStringLiteral("Cannot write the updater to ") + UpdaterPath()).toStdString());
    QFile::setPermissions(UpdaterPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                                             QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
}

void TUpdateClient::RestartApplication() {
    if (OnProgressCancel) {
        bool cancel = false;
        OnProgressCancel(this, cancel);
        if (cancel) return;
    }
    bool allow = true;
    if (OnAppRestart)
        OnAppRestart(this, allow);
    else if (!SilentRestart)
        allow = prompter_ && prompter_->Confirm(QString::fromLatin1(FindStatus(911)->text));
    if (!allow) return;
    try {
        ExtractUpdater();
    } catch (const std::exception& e) {
        // Without the updater nothing can be replaced: the application stays.
        if (prompter_) prompter_->Error(QString::fromStdString(e.what()));
        return;
    }
    const QString commandLine = QStringLiteral("%1 %2 %3").arg(QString::number(QCoreApplication::applicationPid()),
                                                                AppCommandLine.isEmpty() ? QStringLiteral("null") : NativePath(AppCommandLine),
                                                                NativePath(AppComponents));
    const QStringList args = QProcess::splitCommand(commandLine);
    const bool started = StartProcess ? StartProcess(UpdaterPath(), args) : QProcess::startDetached(UpdaterPath(), args);
    if (!started) ReportStatus(950, QStringLiteral("cannot start ") + UpdaterPath(), codes(950).status, errno);
    if (OnAppDoClose)
        OnAppDoClose(this);
    else
        QCoreApplication::quit();
}

std::optional<QStringList> TUpdateClient::GetWhatsNewText() {
    const QString file = Q(Control().ReadText("whatsnew", "file", ""));
    if (file.isEmpty()) return std::nullopt;
    REPORT(937, QString());
    return DownloadTextFile(file);
}

std::optional<QStringList> TUpdateClient::GetLicenseText() {
    const QString file = Q(Control().ReadText("eula", "file", ""));
    if (file.isEmpty()) return std::nullopt;
    REPORT(939, QString());
    return DownloadTextFile(file);
}

int TUpdateClient::ShowWhatsNew(QStringList& text) {
    if (OnDownloadedWhatsNew) {
        int res = 0;
        OnDownloadedWhatsNew(this, text, res);
        return res == 1 ? 0 : -1;
    }
    auto& c = Control();
    TWhatsNewDialog dialog(text, Q(c.ReadText("whatsnew", "caption", "")), Q(c.ReadText("whatsnew", "okbtn", "Ok")),
                           Q(c.ReadText("whatsnew", "cancelbtn", "Cancel")));
    if (dialog.exec() != QDialog::Accepted) {
        REPORT(938, QString());
        return -1;
    }
    return 0;
}

int TUpdateClient::ShowLicense(QStringList& text) {
    if (OnDownloadedEULA) {
        int res = 0;
        OnDownloadedEULA(this, text, res);
        return res == 1 ? 0 : -1;
    }
    auto& c = Control();
    TLicenseDialog dialog(text, Q(c.ReadText("eula", "caption", "")), Q(c.ReadText("eula", "okbtn", "Ok")),
                          Q(c.ReadText("eula", "accept", "I accept")), Q(c.ReadText("eula", "notaccept", "I do not accept")));
    dialog.exec();
    return dialog.Accepted() ? 0 : -1;
}

} // namespace update

// ---------------------------------------------------------------- network transport

#include "net/CurlStream.h"

namespace update {

namespace {

class CurlTransfer final : public TUpdateClient::Transfer {
public:
    CurlTransfer(net::Session& s, net::Request base, QString& error, int& code)
        : s_(s), base_(std::move(base)), error_(error), code_(code) {}
    ~CurlTransfer() override { s_.Close(); }
    bool Open(const QString& url) override {
        base_.url = url.toStdString();
        base_.kind = control ? net::Kind::Control : net::Kind::File;
        base_.maxBytes = control ? kMaxControlFile + 1 : 0; // an endless control file never fills the disk
        const bool ok = s_.Open(base_);
        if (!ok) {
            error_ = QString::fromStdString(s_.Error());
            code_ = s_.ErrorCode();
        }
        return ok;
    }
    int HttpStatus() const override { return static_cast<int>(s_.Status()); }
    qint64 ExpectedSize() const override { return std::max<qint64>(0, s_.ContentLength()); }
    qint64 Read(char* buffer, qint64 max) override {
        const auto n = s_.Read(buffer, max);
        if (n < 0) {
            error_ = QString::fromStdString(s_.Error());
            code_ = s_.ErrorCode();
        }
        return n;
    }

private:
    net::Session& s_;
    net::Request base_;
    QString& error_;
    int& code_;
};

} // namespace

bool TUpdateClient::OpenSession() {
    session_ = std::make_unique<net::Session>();
    return true;
}

void TUpdateClient::CloseSession() { session_.reset(); }

QString TUpdateClient::FtpBase() const {
    return QStringLiteral("ftp://%1:%2/").arg(Host).arg(Port);
}

bool TUpdateClient::OpenHost() {
    if (!session_ || Host.isEmpty()) return false;
    net::Request r;
    r.url = FtpBase().toStdString();
    if (!UserID.isEmpty() && !Password.isEmpty()) r.userPwd = (UserID + QLatin1Char(':') + Password).toStdString();
    r.ftpPassive = FTPPassive;
    r.noBody = true;
    const bool ok = session_->Open(r);
    if (!ok) {
        lastError_ = QString::fromStdString(session_->Error());
        lastErrorCode_ = session_->ErrorCode();
    }
    session_->Close();
    return ok;
}

void TUpdateClient::CloseHost() {}

std::unique_ptr<TUpdateClient::Transfer> TUpdateClient::OpenTransfer() {
    if (!session_) return nullptr;
    net::Request r;
    r.proxy = Proxy.toStdString();
    r.keepAlive = HTTPKeepAliveAuthentication;
    if (UpdateType == ftpUpdate) {
        if (!UserID.isEmpty() && !Password.isEmpty()) r.userPwd = (UserID + QLatin1Char(':') + Password).toStdString();
        r.ftpPassive = FTPPassive;
    }
    return std::make_unique<CurlTransfer>(*session_, r, lastError_, lastErrorCode_);
}

QString TUpdateClient::TransferUrl(const QString& url) {
    if (UpdateType != ftpUpdate) return url;
    // The file is taken from the current FTP folder, entered once per run.
    QString dir;
    if (!FTPDirectory.isEmpty()) {
        dir = NativePath(ResolvePrefixes(FTPDirectory));
        FtpDirectorySet = true;
        while (dir.startsWith(QLatin1Char('/'))) dir.remove(0, 1);
        if (!dir.isEmpty() && !dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    }
    return FtpBase() + dir + FileNameFromURL(url);
}

void TUpdateClient::ReportInternetError() {
    if (lastErrorCode_ == 0) return;
    const QString text = lastError_;
    const int code = lastErrorCode_;
    lastErrorCode_ = 0;
    if (OnStatus)
        OnStatus(this, text, 1, code);
    else if (prompter_)
        prompter_->Error(text);
}

void TUpdateClient::PostUpdateResults() {
    if (ResultPost.Server.isEmpty() || ResultPost.Action.isEmpty()) return;
    net::Request r;
    QString action = ResultPost.Action;
    if (!action.startsWith(QLatin1Char('/'))) action.prepend(QLatin1Char('/'));
    // Port 80 unless the server names its own ("host:port").
    const QString server = ResultPost.Server.contains(QLatin1Char(':')) ? ResultPost.Server : ResultPost.Server + QStringLiteral(":80");
    r.url = (QStringLiteral("http://") + server + action).toStdString();
    r.postBody = ResultPost.Data.isEmpty() ? std::string(" ") : ResultPost.Data.toStdString();
    r.kind = net::Kind::Control;
    net::Session s;
    if (!s.Open(r)) {
        const bool unreachable = s.ErrorCode() == CURLE_COULDNT_CONNECT || s.ErrorCode() == CURLE_COULDNT_RESOLVE_HOST ||
                                 s.ErrorCode() == CURLE_OPERATION_TIMEDOUT;
        REPORT(unreachable ? 951 : 952, QString());
        return;
    }
    ResultPost.ResponseText.clear();
    char buffer[4096];
    for (;;) {
        QCoreApplication::processEvents();
        const auto n = s.Read(buffer, sizeof buffer);
        if (n <= 0) break;
        ResultPost.ResponseText += QString::fromUtf8(buffer, static_cast<qsizetype>(n));
    }
}

} // namespace update
