// Applying an update: the files of the list, the control file's actions,
// the what's-new and licence texts, and the restart through the updater.
#include "update/TUpdateClient.h"

#include "ini/IniFile.h"
#include "net/CurlStream.h"
#include "platform/Shell.h"
#include "ui/Prompter.h"
#include "update/ClientInternal.h"
#include "update/UpdateDialogs.h"
#include "update/UpdateFiles.h"
#include "update/updater/System.h"
#include "update/updater/Unpack.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <string_view>

#if __has_include("updater_sha256.h")
#include "updater_sha256.h"
#endif

namespace update {

using namespace detail;

namespace {
// A command line of the control file, started without waiting.
void startCommandLine(const QString& command) {
    QStringList args = QProcess::splitCommand(NativePath(command));
    if (args.isEmpty()) return;
    const QString program = args.takeFirst();
    QProcess::startDetached(program, args);
}
} // namespace

bool TUpdateClient::IsComponent(const QString& name) const {
    // A whole name of the list: "g_NEW" is not part of "prog_NEW".
    return !name.isEmpty() && AppComponents.split(QLatin1Char(' '), Qt::SkipEmptyParts).contains(name);
}

QStringList TUpdateClient::Allowed() const {
    return AllowedFolders.isEmpty() ? QStringList{ProgramFolder()} : AllowedFolders;
}

QString TUpdateClient::EntryRefusal(const TFileDescription& entry) {
    const QString name = FileNameFromURL(entry.URL);
    if (!PlainFileName(name)) return QStringLiteral("no plain file name");
    if (UpdateType == httpUpdate && !FetchableUrl(entry.URL))
        return QStringLiteral("only http, https and ftp addresses are fetched");
    // The folder is resolved first; ".." is fine while the result stays inside.
    const QString dir = NativePath(entry.TargetDir);
    const QString target =
        QDir::cleanPath(QDir(dir.isEmpty() ? ProgramFolder() : dir).absoluteFilePath(name));
    // The updater starts a component as the program: its bytes must be the signed ones.
    if (IsComponent(name) && entry.Sha256.isEmpty())
        return QStringLiteral("a component is taken only with its sha256= in the control file");
    if (!files::IsInside(target, Allowed()))
        return QStringLiteral("target folder outside the program and game folders: ") +
               QFileInfo(target).absolutePath();
    return {};
}

int TUpdateClient::DownloadFiles() {
    TUpdatePrompting prompting = UpdateUpdate;
    bool ranBefore = false;
    auto& items = FileList.Items;
    for (std::size_t i = 0; i < items.size() && !aborted_; ++i) {
        const auto& e = items[i];
        const QString name = FileNameFromURL(e.URL);
        if (prompting == upPromptAll) {
            if (!prompter_ ||
                !prompter_->Confirm(QString::fromLatin1(FindStatus(909)->text) + name))
                continue;
            offerAccepted_ = true;
        } else if (prompting == upPromptOnce) {
            if (!prompter_ || !prompter_->Confirm(QString::fromLatin1(FindStatus(910)->text)))
                return 0;
            prompting = upSilent;
            offerAccepted_ = true;
        }
        RunBefore(ranBefore);
        FileList.CurrentIndex = static_cast<int>(i);
        QString url = e.URL;
        if (OnBeforeFileDownload)
            OnBeforeFileDownload(this, static_cast<int>(i) + 1, e.Description, url);
        if (const QString why = EntryRefusal(e); !why.isEmpty()) {
            Report(946, e.URL + QStringLiteral(" (") + why + QLatin1Char(')'));
            Failures << e.URL + QStringLiteral(": ") + why;
            RestartPending = false;
            continue;
        }
        Expect expect;
        expect.sha256 = e.Sha256;
        // newsize and newchecksum describe the file as it is used, so they
        // are checked on a file that arrives as it is.
        if (e.NewSize < 0) expect.size = -1; // unreadable: refused, not unchecked
        if (!e.Compressed) {
            expect.size = e.NewSize > 0 ? e.NewSize : expect.size;
            expect.checksum = e.NewCheckSum;
        }
        expect.maxBytes = !e.Compressed && e.NewSize > 0 ? e.NewSize : kMaxPlainFile;
        const auto failuresBefore = Failures.size();
        // The folder is opened once: the checks and the writes below all go through it.
        const files::Folder folder = OpenTarget(e.TargetDir, expect, e.URL);
        if (!folder.IsOpen() || !FetchInto(e.URL, folder, e.Compressed, expect)) {
            Report(946, e.URL);
            if (Failures.size() == failuresBefore)
                Failures << e.URL + QStringLiteral(": not fetched");
            RestartPending = false;
            continue;
        }
        if (IsComponent(name)) ComponentFetched = true;
        ApplyFetchedFile(e, folder, name);
    }
    return 0;
}

void TUpdateClient::RunBefore(bool& ran) {
    if (ran) return;
    ran = true;
    const QString before = ResolvePrefixes(Q(Control().ReadText("action", "runbefore", "")));
    if (before.isEmpty()) return;
    // A command of the update runs only once the player took the offer.
    if (!offerAccepted_) {
        Report(kFileRefused, before + QStringLiteral(" (runbefore is started only after the "
                                                     "offer was accepted)"));
        return;
    }
    startCommandLine(before);
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
        Report(941, QString());
        SaveLastURL(redirect);
    }
    if (Utility && ApplyPatch) ExtractPatcher();
    const QString command = ResolvePrefixes(Q(c.ReadText("action", "runafter", "")));
    if (!command.isEmpty()) startCommandLine(command);
    Report(948, QString());
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
        Report(934, QString());
        if (prompter_) prompter_->Information(msg);
    }
    const QString page = ResolvePrefixes(Q(c.ReadText("action", "htmldlg", "")));
    if (!page.isEmpty()) {
        Report(935, QString());
        QByteArray html;
        if (BrowsableUrl(page)) {
            net::Request r;
            r.url = page.toStdString();
            r.proxy = Proxy.toStdString();
            r.kind = net::Kind::Control;
            const auto got = net::FetchAll(r, kMaxTextFile, [this] {
                QCoreApplication::processEvents();
                return !aborted_;
            });
            if (got.ok && got.status < 300) html = QByteArray::fromStdString(got.body);
        } else if (const QString local = QFileInfo(NativePath(page)).absoluteFilePath();
                   FetchedFiles.contains(local) ||
                   (UpdateType == fileUpdate &&
                    files::IsInside(local,
                                    {QFileInfo(NativePath(GetControlFileURL())).absolutePath()}))) {
            // A file of this very update (fetched, or beside the control file
            // of an update from a folder), never any other file of the player's.
            QFile f(local);
            if (f.open(QIODevice::ReadOnly)) html = f.read(kMaxTextFile);
        } else {
            Report(kFileRefused, page + QStringLiteral(" (only a web page or a file this update "
                                                       "fetched is shown)"));
        }
        if (!html.isEmpty()) {
            THtmlDialog dialog(QString::fromUtf8(html));
            dialog.exec();
        }
    }
    if (aborted_) return -1;
    if (OnCustomProcess)
        OnCustomProcess(this, Q(c.ReadText("custom", "processmsg", "")),
                        Q(c.ReadText("custom", "processparam", "")));
    const QString question = ConvertNewlines(Q(c.ReadText("action", "query", "")));
    if (!question.isEmpty()) {
        Report(936, QString());
        const bool yes = prompter_ && prompter_->Ask(ui::PromptKind::Information, question,
                                                     ui::Buttons::YesNo) == ui::Answer::Yes;
        if (!yes) {
            RestartPending = false;
            result = -1;
        } else {
            offerAccepted_ = true;
        }
    }
    const QString url = ResolvePrefixes(Q(c.ReadText("action", "showURL", "")));
    if (!url.isEmpty()) {
        Report(942, QString());
        // Only a web page: never a local file or a program.
        if (BrowsableUrl(url))
            platform::ShellOpen(AddProxyCredentials(url, ProxyUserID, ProxyPassword));
        else
            Report(kFileRefused,
                   url + QStringLiteral(" (only http and https addresses are opened)"));
    }
    return result;
}

void TUpdateClient::ExpandLZFile(const QString& path) {
    const std::string p = NativePath(path).toStdString();
    if (!unpack::IsSzdd(p)) {
        // Expanding a plain file in place would destroy it: it is kept as fetched.
        if (Logging)
            AppendLogLine(0, QStringLiteral("Not SZDD compressed, kept as it is : ") + path, 3, 0);
        return;
    }
    if (!unpack::ExpandSzdd(p).empty()) QFile::remove(NativePath(path));
}

int TUpdateClient::ExtractCabinet(const QString& cabinet, const QString& destination) {
    return unpack::ExtractCabinet(NativePath(cabinet).toStdString(),
                                  NativePath(destination).toStdString())
               ? 0
               : -1;
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

void TUpdateClient::ApplyFetchedFile(const TFileDescription& e, const files::Folder& folder,
                                     const QString& name) {
    const QString path = folder.Path(name);
    const QString ext = QFileInfo(name).suffix().toUpper();
    if (ExtractCAB && ext == QStringLiteral("CAB") && !IsComponent(name)) {
        if (ExtractCabinet(path, folder.Path()) != 0) {
            Report(947, folder.Shown(name));
            Failures << folder.Shown(name) + QStringLiteral(": the cabinet cannot be extracted");
        } else if (!KeepIntermediateFiles)
            QFile::remove(path);
    }
    if (ApplyPatch && ext == QStringLiteral("PAT") && !e.LocalVersion.isEmpty() &&
        !IsComponent(name)) {
        // Only the patcher beside the program, never one found through PATH.
        const QString patcher = QDir(ProgramFolder()).filePath(QStringLiteral("patcher.exe"));
        if (QFileInfo(patcher).isFile())
            RunAndWait(QLatin1Char('"') + patcher + QStringLiteral("\" \"") + path +
                       QStringLiteral("\" \"") + e.LocalVersion + QLatin1Char('"'));
        else
            Report(kFileRefused, folder.Shown(name) + QStringLiteral(" (no patcher.exe beside ") +
                                     QStringLiteral("the program)"));
        if (!KeepIntermediateFiles) QFile::remove(path);
    }
}

QString TUpdateClient::UpdaterPath() const {
    return folder_.isEmpty() ? QString() : QDir(folder_).filePath(QStringLiteral("upd.exe"));
}

void TUpdateClient::ExtractUpdater() {
    const QString folder = RunFolder();
    if (folder.isEmpty()) throw std::runtime_error("Cannot make a private folder for the updater");
    QFile resource(QStringLiteral(":/UPD"));
    const QString packed = QDir(folder).filePath(QStringLiteral("upd.ex_"));
    QFile::remove(packed); // ours, from an earlier attempt: the folder is private
    const auto out = files::CreateNew(packed);
    const QByteArray bytes = resource.open(QIODevice::ReadOnly) ? resource.readAll() : QByteArray();
    const bool written =
        out.fd >= 0 && !bytes.isEmpty() && files::WriteAll(out.fd, bytes.constData(), bytes.size());
    const int writeError = out.fd < 0 ? out.error : errno;
    if (out.fd >= 0) sys::close(out.fd);
    if (!written)
        throw std::runtime_error((QStringLiteral("Cannot write the updater to ") + packed +
                                  QStringLiteral(": ") + files::ErrorText(writeError))
                                     .toStdString());
    QFile::remove(QDir(folder).filePath(QStringLiteral("upd.exe")));
    std::string error;
    const std::string expanded = unpack::ExpandSzdd(packed.toStdString(), &error);
    QFile::remove(packed);
    if (expanded.empty() || QString::fromStdString(expanded) != UpdaterPath())
        throw std::runtime_error(
            (QStringLiteral("Cannot expand the updater: ") + QString::fromStdString(error))
                .toStdString());
#ifdef QUORLEX_UPDATER_SHA256
    // Only the updater this program was built with is started.
    if (files::Sha256OfFile(UpdaterPath()) != QByteArray(QUORLEX_UPDATER_SHA256).toLower()) {
        QFile::remove(UpdaterPath());
        throw std::runtime_error("The expanded updater is not the one this program carries");
    }
#endif
    QFile updater(UpdaterPath());
    if (!updater.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        throw std::runtime_error(
            (QStringLiteral("Cannot make the updater executable: ") + updater.errorString())
                .toStdString());
}

QStringList TUpdateClient::UpdaterArguments(qint64 pid) const {
    QStringList args{QString::number(pid),
                     AppProgram.isEmpty() ? QStringLiteral("null") : AppProgram};
    args << NativePath(AppComponents).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!AppParams.isEmpty()) args << QStringLiteral("--") << AppParams;
    return args;
}

int TUpdateClient::SpawnUpdater(const QString& program, const QStringList& args,
                                const QString& folder, const QString& workDir) {
    std::vector<std::string> argv{program.toStdString()};
    for (const QString& a : args)
        argv.push_back(a.toStdString());
    std::vector<std::string> env;
    for (const auto& e : sys::environment())
        if (std::string_view(e).rfind("QUORLEX_UPDATE_DIR=", 0) != 0) env.push_back(e);
    env.push_back("QUORLEX_UPDATE_DIR=" + folder.toStdString());
    // Its own session: the updater outlives us and whatever terminal we had.
    std::string why;
    return sys::spawn(argv, env, false, &why, workDir.toStdString()) < 0 ? (errno ? errno : ENOEXEC)
                                                                         : 0;
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
        Report(kUpdaterRefused, QString::fromStdString(e.what()));
        return;
    }
    const QStringList args = UpdaterArguments(QCoreApplication::applicationPid());
    const int error = StartProcess ? StartProcess(UpdaterPath(), args)
                                   : SpawnUpdater(UpdaterPath(), args, folder_, ProgramFolder());
    if (error != 0) {
        // The program keeps running: nobody would start it again.
        ReportStatus(950, files::ErrorText(error), CodesOf(950).status, error);
        return;
    }
    keepFolder_ = true;
    if (OnAppDoClose)
        OnAppDoClose(this);
    else
        QCoreApplication::quit();
}

std::optional<QStringList> TUpdateClient::GetWhatsNewText() {
    const QString file = Q(Control().ReadText("whatsnew", "file", ""));
    if (file.isEmpty()) return std::nullopt;
    Report(937, QString());
    return DownloadTextFile(file);
}

std::optional<QStringList> TUpdateClient::GetLicenseText() {
    const QString file = Q(Control().ReadText("eula", "file", ""));
    if (file.isEmpty()) return std::nullopt;
    Report(939, QString());
    return DownloadTextFile(file);
}

int TUpdateClient::ShowWhatsNew(QStringList& text) {
    if (OnDownloadedWhatsNew) {
        int res = 0;
        OnDownloadedWhatsNew(this, text, res);
        return res == 1 ? 0 : -1;
    }
    auto& c = Control();
    TWhatsNewDialog dialog(text, Q(c.ReadText("whatsnew", "caption", "")),
                           Q(c.ReadText("whatsnew", "okbtn", "OK")),
                           Q(c.ReadText("whatsnew", "cancelbtn", "Cancel")));
    if (dialog.exec() != QDialog::Accepted) {
        Report(938, QString());
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
    TLicenseDialog dialog(text, Q(c.ReadText("eula", "caption", "")),
                          Q(c.ReadText("eula", "okbtn", "OK")),
                          Q(c.ReadText("eula", "accept", "I accept")),
                          Q(c.ReadText("eula", "notaccept", "I do not accept")));
    dialog.exec();
    return dialog.Accepted() ? 0 : -1;
}

} // namespace update
