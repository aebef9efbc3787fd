#include "update/TUpdateClient.h"

#include "ini/IniFile.h"
#include "net/CurlStream.h"
#include "platform/Files.h"
#include "platform/UserStore.h"
#include "update/ClientInternal.h"
#include "update/Signature.h"
#include "update/UpdateFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#ifndef QUORLEX_BUILD_TIME
#define QUORLEX_BUILD_TIME 0
#endif

namespace update {

namespace {
constexpr qint64 kBuiltAt = QUORLEX_BUILD_TIME;
} // namespace

using namespace detail;

namespace {
QDateTime epoch1980() {
    return QDateTime(QDate(1980, 1, 1), QTime(0, 0));
}
} // namespace

QString NativePath(QString path) {
#ifndef Q_OS_WIN
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
#endif
    return path;
}

TInetThread::TInetThread(TUpdateClient* client) : UpdateComponent(client) {}

// The thread's only work: hand the run to the UI thread and wait for it.
void TInetThread::run() {
    if (UpdateComponent)
        QMetaObject::invokeMethod(
            UpdateComponent,
            [c = UpdateComponent] {
                if (c) c->RunUpdate();
            },
            Qt::BlockingQueuedConnection);
}

TUpdateClient::TUpdateClient(QObject* owner) : QObject(owner) {}
TUpdateClient::~TUpdateClient() {
    // A started updater still works in its folder (its start marker goes there).
    if (!keepFolder_) files::RemovePrivateFolder(folder_);
}

// ---------------------------------------------------------------- run

bool TUpdateClient::StartUpdate() {
    // A second run would start inside the first, whose transfers let the
    // event loop run; it is refused instead.
    if (running_) return false;
    running_ = true;
    aborted_ = false;
    auto* thread = new TInetThread(this);
    // The thread goes when it is done, also after we are gone: a run handed
    // to us that never started ends with us, and the thread with it.
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    connect(thread, &QThread::finished, this, [this] { ThreadFinished(); });
    thread->start();
    return true;
}

void TUpdateClient::Abort() {
    aborted_ = true;
    RestartPending = false;
    // A transfer waiting on a stalled server ends now, not at its time limit.
    net::CancelAll();
}

void TUpdateClient::RunUpdate() {
    FetchedFiles.clear();
    Failures.clear();
    ComponentFetched = false;
    offerAccepted_ = false;
    FtpDirectorySet = false;
    ControlFilePath.clear();
    if (ConnectInternet() != 0) return;
    if (UpdateType == ftpUpdate && ConnectHost() == -1) ReportInternetError();
    if ((hostConnected || UpdateType == fileUpdate) && ReadControlFile() == 0 && !aborted_) {
        if (CheckForUpdate() == 7 || aborted_) {
            RestartPending = false;
        } else if (ProcessActions() == 0 && !aborted_) {
            int answer = 0;
            if (auto text = GetWhatsNewText()) {
                answer = ShowWhatsNew(*text);
                if (answer == 0) offerAccepted_ = true;
            }
            if (auto eula = GetLicenseText(); eula && answer == 0) {
                answer = ShowLicense(*eula);
                if (answer == 0) offerAccepted_ = true;
            }
            if (answer != 0 || aborted_) {
                RestartPending = false;
            } else if (ReadFileList() <= 0) {
                RestartPending = false;
            } else {
                FilterFileList();
                DownloadFiles();
                if (!aborted_) FinishUpdate();
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
    if (RestartPending && ComponentFetched && !aborted_) RestartApplication();
    // The updater runs from the run's folder; without it the folder goes.
    if (!keepFolder_) {
        files::RemovePrivateFolder(folder_);
        folder_.clear();
    }
}

QString TUpdateClient::RunFolder() {
    if (folder_.isEmpty() || !QFileInfo(folder_).isDir()) {
        QString error;
        int errnum = 0;
        folder_ = files::MakePrivateFolder(&error, &errnum);
        keepFolder_ = false;
        if (folder_.isEmpty())
            ReportStatus(kCannotWrite,
                         QDir::tempPath() + QStringLiteral(" (") + error + QLatin1Char(')'),
                         CodesOf(kCannotWrite).status, errnum);
    }
    return folder_;
}

// ---------------------------------------------------------------- status

void TUpdateClient::Report(int id, const QString& argument) {
    ReportStatus(id, argument, CodesOf(id).status, CodesOf(id).error);
}

void TUpdateClient::ReportStatus(int id, const QString& argument, int statuscode, int errcode) {
    const char* text = CodesOf(id).text;
    QString message = text ? QString::fromLatin1(text) : QString();
    message.replace(QStringLiteral("%s"), argument);
    // After an abort the player has gone: what fails now is our own doing.
    if (OnStatus && !aborted_) OnStatus(this, message, statuscode, errcode);
    if (Logging) AppendLogLine(id, message, statuscode, errcode);
}

void TUpdateClient::AppendLogLine(int id, const QString& message, int statuscode, int errcode) {
    // A log that cannot be written is skipped: it never stops a run.
    QFile log(QDir(LogDirectory).filePath(QStringLiteral("QUPDATE.LOG")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    const QString line = Clock().toString(QStringLiteral("dd-MM-yyyy hh:mm:ss")) +
                         QStringLiteral(" : [") + QString::number(id) + QStringLiteral("] ") +
                         message + QStringLiteral(" (Status:") + QString::number(statuscode) +
                         QStringLiteral(") (Error:") + QString::number(errcode) +
                         QStringLiteral(")\r\n");
    log.write(line.toUtf8());
}

// ---------------------------------------------------------------- control file

ini::TIniFile& TUpdateClient::Control() {
    if (!control_ || Q(control_->FileName()) != ControlFilePath)
        control_ = std::make_unique<ini::TIniFile>(S(ControlFilePath));
    return *control_;
}

QString TUpdateClient::GetControlFileURL() {
    const QString last = LoadLastURL();
    return ResolvePrefixes(last.isEmpty() ? URL : last);
}

int TUpdateClient::ReadControlFile() {
    // Nothing of an earlier run's file may lead to a restart from this one.
    RestartPending = false;
    SignedTime = -1;
    const QString url = GetControlFileURL();
    const QString folder = RunFolder();
    Expect e;
    e.maxBytes = kMaxControlFile;
    e.text = true;
    if (folder.isEmpty() || !Fetch(url, folder, false, e)) {
        if (!redirected_) Report(925); // a redirect was told as what it is
        return 4;
    }
    const QString path = QDir(folder).filePath(FileNameFromURL(url));
    Report(926);
    // Nothing of a file that is not signed with our key is acted on.
    if (!VerifyControlFile(url, path)) {
        QFile::remove(path);
        return 5;
    }
    ControlFilePath = path;
    auto& c = Control();
    int result = 0;
    if (SignatureCheck && Q(c.ReadText("update", "signature", "")) != Signature) {
        Report(927);
        result = 5;
    }
    ReadRestart(c);
    SilentRestart = c.ReadNumber("application", "silentrestart", 0) == 1;
    return result;
}

bool TUpdateClient::VerifyControlFile(const QString& url, const QString& path) {
    const QString sigUrl = url + QStringLiteral(".minisig");
    const QString sigPath = QDir(RunFolder()).filePath(FileNameFromURL(sigUrl));
    Expect e;
    e.maxBytes = kMaxSignatureFile;
    e.text = true;
    QString why, lastSignedName;
    if (!Fetch(sigUrl, RunFolder(), false, e)) {
        why = QStringLiteral("no signature (") + sigUrl + QLatin1Char(')');
    } else {
        QFile data(path), sig(sigPath);
        const bool read = data.open(QIODevice::ReadOnly) && sig.open(QIODevice::ReadOnly);
        const auto key = minisign::ParsePublicKey(PublicKey.isEmpty() ? minisign::ReleasePublicKey()
                                                                      : PublicKey.toUtf8());
        if (!read) {
            why = QStringLiteral("the files cannot be read");
        } else if (!key) {
            why = QStringLiteral("the update key is not a minisign public key");
        } else if (minisign::IsDemoKey(*key) && !minisign::DemoKeyAllowed()) {
            // Its secret half is published: outside the demo anyone could sign with it.
            why = QStringLiteral("the demo key is trusted only while the demo runs");
        } else {
            const auto verdict = minisign::Verify(data.readAll(), sig.readAll(), *key);
            // One record per key, so a file of one key cannot lock out another's.
            lastSignedName = QStringLiteral("LastSignedTime-") + minisign::KeyIdText(*key);
            const qint64 last = platform::ReadUserString(SignatureMemoryKey, SignatureMemorySection,
                                                         lastSignedName)
                                    .toLongLong();
            // A day of clock difference is allowed; a time beyond it would
            // make every later genuine file look replayed.
            const qint64 latest = QDateTime::currentSecsSinceEpoch() + 24 * 3600;
            if (!verdict.ok)
                why = verdict.error;
            else if (verdict.timestamp < 0)
                why = QStringLiteral("the trusted comment carries no signing time");
            else if (verdict.timestamp > latest)
                why = QStringLiteral("signed at a time still to come");
            else if (verdict.timestamp < last)
                why = QStringLiteral("signed before the last accepted control file, so it may be "
                                     "an old one replayed");
            else if (verdict.expires >= 0 && QDateTime::currentSecsSinceEpoch() > verdict.expires)
                why = QStringLiteral("its offer expired on ") +
                      QDateTime::fromSecsSinceEpoch(verdict.expires).toString(Qt::ISODate);
            else if (verdict.timestamp < kBuiltAt)
                why = QStringLiteral("signed before this program was built, so it may be an old "
                                     "one replayed");
            else
                SignedTime = verdict.timestamp;
        }
    }
    QFile::remove(sigPath);
    if (SignedTime < 0) {
        Report(kNotVerified, why);
        return false;
    }
    platform::WriteUserString(SignatureMemoryKey, SignatureMemorySection, lastSignedName,
                              QString::number(SignedTime));
    return true;
}

bool TUpdateClient::ReadRestart(ini::TIniFile& c) {
    RestartPending = c.ReadNumber("application", "appupdate", 0) == 1;
    AppProgram.clear();
    AppParams.clear();
    AppCommandLine = ResolvePrefixes(Q(c.ReadText("application", "appname", "")));
    AppComponents = ResolvePrefixes(Q(c.ReadText("application", "appcomps", "")));
    if (AppCommandLine.isEmpty()) RestartPending = false;
    const QString own =
        QFileInfo(OwnExecutable.isEmpty() ? QCoreApplication::applicationFilePath() : OwnExecutable)
            .canonicalFilePath();
    auto isOwn = [&](const QString& p) {
        return !own.isEmpty() && QFileInfo(NativePath(p)).canonicalFilePath() == own;
    };
    // A program path may hold blanks: the program is the longest part
    // before a blank that names it (or a quoted part), the rest its arguments.
    QString program = AppCommandLine, params;
    if (AppCommandLine.startsWith(QLatin1Char('"')) &&
        AppCommandLine.indexOf(QLatin1Char('"'), 1) > 0) {
        const qsizetype close = AppCommandLine.indexOf(QLatin1Char('"'), 1);
        program = AppCommandLine.mid(1, close - 1);
        params = AppCommandLine.mid(close + 1).trimmed();
    } else if (!isOwn(AppCommandLine)) {
        const qsizetype first = AppCommandLine.indexOf(QLatin1Char(' '));
        program = first < 0 ? AppCommandLine : AppCommandLine.left(first);
        params = first < 0 ? QString() : AppCommandLine.mid(first + 1);
        for (qsizetype at = AppCommandLine.lastIndexOf(QLatin1Char(' ')); at > 0;
             at = AppCommandLine.lastIndexOf(QLatin1Char(' '), at - 1))
            if (isOwn(AppCommandLine.left(at))) {
                program = AppCommandLine.left(at);
                params = AppCommandLine.mid(at + 1);
                break;
            }
    }
    if (OnSetAppParams) OnSetAppParams(this, params);
    if (!params.isEmpty()) AppCommandLine = program + QLatin1Char(' ') + params;
    if (AppCommandLine.contains(QLatin1Char(' ')))
        AppCommandLine = QLatin1Char('"') + AppCommandLine + QLatin1Char('"');
    bool ok = true;
    if (!program.isEmpty()) {
        AppProgram = NativePath(program);
        AppParams = QProcess::splitCommand(params);
        if (!isOwn(program)) {
            Report(kRestartRefused,
                   QStringLiteral("appname does not name this program: ") + program);
            ok = false;
        }
    }
    for (const QString& name : AppComponents.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (!PlainFileName(name)) {
            Report(kRestartRefused, QStringLiteral("appcomps names more than a file: ") + name);
            ok = false;
        }
    if (!ok) RestartPending = false;
    return ok;
}

QDateTime TUpdateClient::ParseDateTime(const QString& date, const QString& time) const {
    // The order of hours, minutes and seconds comes from TimeFormat ("nn"
    // are minutes); the time is handed on as hours:minutes:seconds.
    QString order;
    for (const QChar ch : TimeFormat.toLower())
        if ((ch == QLatin1Char('h') || ch == QLatin1Char('n') || ch == QLatin1Char('s')) &&
            !order.contains(ch))
            order += ch;
    QString normal;
    const QStringList parts = time.split(TimeSeparator);
    if (!time.isEmpty() && order.contains(QLatin1Char('h')) && order.contains(QLatin1Char('n')) &&
        parts.size() == order.size()) {
        QString h, n, sec = QStringLiteral("0");
        for (qsizetype i = 0; i < order.size(); ++i) {
            if (order[i] == QLatin1Char('h')) h = parts[i];
            if (order[i] == QLatin1Char('n')) n = parts[i];
            if (order[i] == QLatin1Char('s')) sec = parts[i];
        }
        normal = h + QLatin1Char(':') + n + QLatin1Char(':') + sec;
    } else if (!time.isEmpty()) {
        normal = QStringLiteral("x"); // does not parse: nothing is added
    }
    return update::ParseDateTime(date, normal, DateFormat, DateSeparator, TimeFormat,
                                 QLatin1Char(':'));
}

int TUpdateClient::CheckForUpdate() {
    auto& c = Control();
    int result = 7;
    UpdateDescription = Q(c.ReadText("update", "descr", ""));
    const QString date = Q(c.ReadText("update", "date", ""));
    if (!date.isEmpty()) {
        Report(928, QString());
        UpdateDate = ParseDateTime(date, Q(c.ReadText("update", "time", "")));
        LocalDate = GetLastUpdateDate(ResolvePrefixes(Q(c.ReadText("update", "localversion", ""))));
        if (LocalDate >= UpdateDate) {
            Report(930, QString());
        } else {
            Report(929, platform::DateText(UpdateDate.date()));
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
                Report(931, QString());
            } else if (newsize <= 0) {
                result = 11;
                Report(933, QString());
            } else {
                result = 9;
                Report(932, QString());
            }
        }
        if (IsNewVersion(newversion, local, newsize, newchecksum)) {
            Report(929, newversion);
        } else {
            Report(930, QString());
            result = 7;
        }
    }
    if (OnCustomValidate) {
        bool allow = true;
        OnCustomValidate(this, Q(c.ReadText("custom", "validatemsg", "")),
                         Q(c.ReadText("custom", "validateparam", "")), allow);
        result = allow ? 12 : 7;
    }
    return result;
}

bool TUpdateClient::IsNewVersion(QString& newversion, QString& localfile, int newsize,
                                 int newchecksum) {
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
        const QString date = platform::ReadUserString(LastUrlMemory.Key, LastUrlMemory.Section,
                                                      QStringLiteral("LastDate"));
        const QString time = platform::ReadUserString(LastUrlMemory.Key, LastUrlMemory.Section,
                                                      QStringLiteral("LastTime"));
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
    if (LastUrlMemory.Key.isEmpty() || LastUrlMemory.Section.isEmpty() || !LastUrlMemory.Save)
        return;
    platform::WriteUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastDate"),
                              when.date().toString(platform::ShortDateFormat()));
    if (when.time() != QTime(0, 0))
        platform::WriteUserString(LastUrlMemory.Key, LastUrlMemory.Section,
                                  QStringLiteral("LastTime"),
                                  when.time().toString(QStringLiteral("HH:mm:ss")));
}

QString TUpdateClient::LoadLastURL() {
    if (LastUrlMemory.Key.isEmpty() || LastUrlMemory.Section.isEmpty() || !LastUrlMemory.Save)
        return {};
    return platform::ReadUserString(LastUrlMemory.Key, LastUrlMemory.Section,
                                    QStringLiteral("LastURL"));
}

void TUpdateClient::SaveLastURL(const QString& url) {
    if (LastUrlMemory.Key.isEmpty() || LastUrlMemory.Section.isEmpty() || !LastUrlMemory.Save)
        return;
    platform::WriteUserString(LastUrlMemory.Key, LastUrlMemory.Section, QStringLiteral("LastURL"),
                              url);
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
            // Go on after the inserted text: a folder whose name holds
            // "{APP}" would otherwise be replaced again and again.
            i = open + replacement.size() - 1;
        }
        open = -1;
    }
    return value;
}

QString TUpdateClient::ProgramFolder() const {
    if (!AppFolder.isEmpty()) return QDir::cleanPath(AppFolder);
    return QFileInfo(OwnExecutable.isEmpty() ? QCoreApplication::applicationFilePath()
                                             : OwnExecutable)
        .absolutePath();
}

QString TUpdateClient::GetPrefixValue(const QString& key) {
    QString dir;
    if (key == QStringLiteral("WIN"))
        dir = platform::WindowsDirectory();
    else if (key == QStringLiteral("APP"))
        dir = ProgramFolder();
    else if (key == QStringLiteral("TMP"))
        dir = QDir::tempPath();
    else if (key == QStringLiteral("PF"))
        dir = platform::ProgramFilesDirectory();
    if (dir.isEmpty()) return {};
    if (!dir.endsWith(QLatin1Char('/')) && !dir.endsWith(QLatin1Char('\\')))
        dir += QDir::separator();
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
    Report(943, QString());
    for (int n = 1; n <= std::min(count, kMaxFiles); ++n) {
        const std::string sec = "file" + std::to_string(n);
        TFileDescription d;
        d.URL = ResolvePrefixes(Q(c.ReadText(sec, "url", "")));
        d.LocalVersion = ResolvePrefixes(Q(c.ReadText(sec, "localversion", "")));
        d.NewVersion = Q(c.ReadText(sec, "newversion", ""));
        // A size that does not read as one is no "no size check": the entry is refused.
        const QString size = Q(c.ReadText(sec, "newsize", "")).trimmed();
        bool sizeRead = true;
        d.NewSize = size.isEmpty() ? 0 : size.toInt(&sizeRead);
        if (!sizeRead || d.NewSize < 0) d.NewSize = -1;
        d.NewCheckSum = c.ReadNumber(sec, "newchecksum", -1);
        d.NewCustomVer = Q(c.ReadText(sec, "customversion", ""));
        d.NewDate = Q(c.ReadText(sec, "date", ""));
        d.NewTime = Q(c.ReadText(sec, "time", ""));
        d.Description = Q(c.ReadText(sec, "descr", ""));
        d.TargetDir = ResolvePrefixes(Q(c.ReadText(sec, "targetdir", "")));
        if (!d.TargetDir.isEmpty() && !d.TargetDir.endsWith(QLatin1Char('\\')))
            d.TargetDir += QLatin1Char('\\');
        d.Compressed = c.ReadNumber(sec, "compressed", 0) == 1;
        d.FileSize = c.ReadNumber(sec, "filesize", 0);
        d.Sha256 = Q(c.ReadText(sec, "sha256", "")).trimmed().toLower();
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
        for (const auto& e : items)
            list << e.Description;
        OnGetFileList(this, list);
        for (qsizetype i =
                 std::min<qsizetype>(list.size(), static_cast<qsizetype>(items.size())) - 1;
             i >= 0; --i)
            if (list[i].isEmpty()) items.erase(items.begin() + i);
    }
    return items.empty() ? -1 : 0;
}

} // namespace update
