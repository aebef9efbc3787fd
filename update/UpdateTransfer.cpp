// Transfers of the update client: the connection, fetching one file into
// its folder (checked before it replaces anything), the result post.
#include "update/TUpdateClient.h"

#include "net/CurlStream.h"
#include "platform/Network.h"
#include "ui/Prompter.h"
#include "update/ClientInternal.h"
#include "update/UpdateFiles.h"
#include "update/updater/System.h"
#include "update/updater/Unpack.h"

#include <curl/curl.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace update {

using namespace detail;

// ---------------------------------------------------------------- connection

bool TUpdateClient::IsInternetConnected() {
    return platform::IsOnline();
}

int TUpdateClient::ConnectInternet() {
    sessionOpen = false;
    hostConnected = false;
    if (UpdateType == fileUpdate) return 0;
    Report(918, QString());
    if (!IsInternetConnected() && UpdateConnect == ucNoConnect) return 1;
    // Dialling up is the system's business here: it counts as done.
    if (!IsInternetConnected() &&
        (UpdateConnect == ucConnectPrompt || UpdateConnect == ucConnectPromptHangup)) {
        Report(919, QString());
        Dialled = true;
    }
    if (!IsInternetConnected() &&
        (UpdateConnect == ucConnectSilent || UpdateConnect == ucConnectSilentHangup)) {
        Report(920, QString());
        Dialled = true;
    }
    Report(921, QString());
    sessionOpen = OpenSession();
    if (!sessionOpen) {
        Report(922, QString());
        return 2;
    }
    if (UpdateType == httpUpdate) hostConnected = true;
    return 0;
}

int TUpdateClient::ConnectHost() {
    Report(923, Host);
    hostConnected = OpenHost();
    return hostConnected ? 0 : -1;
}

int TUpdateClient::DisconnectInternet() {
    if (UpdateType != fileUpdate) {
        if (UpdateType == ftpUpdate && hostConnected) {
            CloseHost();
            Report(954, QString());
            hostConnected = false;
        }
        if (sessionOpen) {
            CloseSession();
            Report(949, QString());
            sessionOpen = false;
            hostConnected = false;
        }
        if (Dialled &&
            (UpdateConnect == ucConnectPromptHangup || UpdateConnect == ucConnectSilentHangup))
            Report(955, QString());
        Report(949, QString());
    }
    if (!ControlFilePath.isEmpty()) QFile::remove(ControlFilePath);
    return 0;
}

// ---------------------------------------------------------------- transfers

void TUpdateClient::DoFileDownloaded(const QString& filename) {
    if (OnFileDownloaded) OnFileDownloaded(this, filename);
}

QString TUpdateClient::AddProxyCredentials(const QString& url, const QString& user,
                                           const QString& password) {
    if (url.startsWith(QStringLiteral("HTTP://"), Qt::CaseInsensitive) && !user.isEmpty())
        return QStringLiteral("http://") + user + QLatin1Char(':') + password + QLatin1Char('@') +
               url.mid(7);
    return url;
}

bool TUpdateClient::Refuse(const QString& temp, const QString& url, const QString& why) {
    if (!temp.isEmpty()) QFile::remove(temp);
    Report(kFileRefused, url + QStringLiteral(" (") + why + QLatin1Char(')'));
    Failures << url + QStringLiteral(": ") + why;
    return false;
}

bool TUpdateClient::CopyLocalFile(const QString& source, const QString& target) {
    Expect e;
    const QFileInfo to(NativePath(target));
    if (QFileInfo(NativePath(source)).absoluteFilePath() == to.absoluteFilePath()) {
        Report(912, source);
        return false;
    }
    const files::Folder folder = OpenTarget(to.absolutePath(), e, source);
    return folder.IsOpen() && CopyLocal(source, folder, to.fileName(), false, e);
}

files::Folder TUpdateClient::OpenTarget(const QString& targetDir, const Expect& expect,
                                        const QString& url) {
    QString why;
    const QString dir = NativePath(targetDir);
    files::Folder folder =
        expect.text
            ? files::OpenFolderInside(dir, {RunFolder()}, true, &why)
            : files::OpenFolderInside(dir.isEmpty() ? ProgramFolder() : dir, Allowed(), true, &why);
    if (!folder.IsOpen()) Refuse({}, url, why);
    return folder;
}

bool TUpdateClient::CopyLocal(const QString& source, const files::Folder& folder,
                              const QString& name, bool compressed, const Expect& expect) {
    if (QFileInfo(NativePath(source)).absoluteFilePath() == folder.Shown(name)) {
        Report(912, source);
        return false;
    }
    QFile in(NativePath(source));
    if (!in.open(QIODevice::ReadOnly)) {
        Report(913, source);
        return false;
    }
    const qint64 length = in.size();
    if (length < 0 || (!in.isSequential() && !in.seek(0))) {
        Report(914, source);
        return false;
    }
    const auto tmp = files::CreateTempIn(folder.Path(), QStringLiteral(".QUPD"));
    if (tmp.fd < 0) {
        Failures << source + QStringLiteral(": cannot write to its folder (") +
                        files::ErrorText(tmp.error) + QLatin1Char(')');
        ReportStatus(kCannotWrite,
                     folder.Shown() + QStringLiteral(" (") + files::ErrorText(tmp.error) +
                         QLatin1Char(')'),
                     CodesOf(kCannotWrite).status, tmp.error);
        return false;
    }
    qint64 total = 0;
    bool cancel = false, failed = false, tooBig = false;
    std::vector<char> buffer(16384);
    for (;;) {
        const qint64 n = in.read(buffer.data(), static_cast<qint64>(buffer.size()));
        if (n < 0) {
            failed = true;
            break;
        }
        if (n > 0 && total + n > expect.maxBytes) {
            tooBig = true;
            break;
        }
        if (n > 0 && !files::WriteAll(tmp.fd, buffer.data(), n)) {
            failed = true;
            break;
        }
        total += n;
        if (OnFileProgress)
            OnFileProgress(this, source, static_cast<int>(total), static_cast<int>(length));
        if (OnProgressCancel) OnProgressCancel(this, cancel);
        if (aborted_) cancel = true;
        QCoreApplication::processEvents();
        if (n == 0 || cancel) break;
    }
    in.close();
    sys::close(tmp.fd);
    if (tooBig)
        return Refuse(tmp.path, source,
                      QStringLiteral("larger than %1 bytes").arg(expect.maxBytes));
    if (cancel || failed) {
        QFile::remove(tmp.path);
        return false;
    }
    return Land(tmp.path, total, folder, name, compressed, expect, source);
}

bool TUpdateClient::DownloadFile(const QString& url, const QString& targetDir, bool compressed) {
    Expect e;
    return Fetch(url, targetDir, compressed, e);
}

bool TUpdateClient::Fetch(const QString& url, const QString& targetDir, bool compressed,
                          const Expect& expect) {
    redirected_ = false;
    if (aborted_) return false;
    if (UpdateType == fileUpdate) {
        Report(915, url);
        const QString dir = NativePath(targetDir);
        const bool namesFile =
            !dir.isEmpty() && !dir.endsWith(QLatin1Char('/')) && !QFileInfo(dir).isDir();
        const QString name = namesFile ? QFileInfo(dir).fileName() : FileNameFromURL(url);
        if (!PlainFileName(name)) return Refuse({}, url, QStringLiteral("no plain file name"));
        const files::Folder folder =
            OpenTarget(namesFile ? QFileInfo(dir).absolutePath() : dir, expect, url);
        return folder.IsOpen() && CopyLocal(url, folder, name, compressed, expect);
    }
    if (!PlainFileName(FileNameFromURL(url))) {
        Report(915, url);
        return Refuse({}, url, QStringLiteral("no plain file name"));
    }
    const files::Folder folder = OpenTarget(targetDir, expect, url);
    return folder.IsOpen() && FetchInto(url, folder, compressed, expect);
}

bool TUpdateClient::FetchInto(const QString& url, const files::Folder& folder, bool compressed,
                              const Expect& expect) {
    redirected_ = false;
    if (aborted_) return false;
    if (UpdateType == fileUpdate) {
        Report(915, url);
        return CopyLocal(url, folder, FileNameFromURL(url), compressed, expect);
    }
    Report(915, url);
    const QString name = FileNameFromURL(url);
    const QString realUrl = AddProxyCredentials(url, ProxyUserID, ProxyPassword);
    auto transfer = OpenTransfer();
    // The size cap is ours, while the body arrives: the transport's own
    // would fail a declared length before we could say why.
    if (transfer) transfer->control = expect.text;
    // Only web and FTP addresses: never a local file, nor another protocol.
    if (UpdateType == httpUpdate && !FetchableUrl(url)) {
        Report(917, url);
        return Refuse({}, url, QStringLiteral("only http, https and ftp addresses are fetched"));
    }
    if (!PlainFileName(name)) return Refuse({}, url, QStringLiteral("no plain file name"));
    if (!transfer || !transfer->Open(TransferUrl(realUrl))) {
        Report(917, url);
        return false;
    }
    // A redirect is not followed (it could lead anywhere): told as such,
    // since the file may well be there.
    if (UpdateType == httpUpdate && transfer->HttpStatus() >= 300 && transfer->HttpStatus() < 400) {
        const QString why =
            QStringLiteral("the server redirects it (HTTP %1), which is not followed")
                .arg(transfer->HttpStatus());
        if (!expect.text) Failures << url + QStringLiteral(": ") + why; // a file of the list
        redirected_ = true;
        ReportStatus(kRedirected, url + QStringLiteral(" (") + why + QLatin1Char(')'),
                     CodesOf(kRedirected).status, transfer->HttpStatus());
        return false;
    }
    if (UpdateType == httpUpdate && transfer->HttpStatus() >= 300) {
        ReportStatus(916, QString::number(transfer->HttpStatus()), CodesOf(916).status,
                     transfer->HttpStatus());
        return false;
    }
    if (transfer->ExpectedSize() > expect.maxBytes)
        return Refuse({}, url, QStringLiteral("larger than %1 bytes").arg(expect.maxBytes));
    const QString target = folder.Shown(name);
    const auto tmp = files::CreateTempIn(folder.Path(), QStringLiteral(".QUPD"));
    if (tmp.fd < 0) {
        Failures << url + QStringLiteral(": cannot write to its folder (") +
                        files::ErrorText(tmp.error) + QLatin1Char(')');
        ReportStatus(kCannotWrite,
                     folder.Shown() + QStringLiteral(" (") + files::ErrorText(tmp.error) +
                         QLatin1Char(')'),
                     CodesOf(kCannotWrite).status, tmp.error);
        return false;
    }
    const qint64 expected = transfer->ExpectedSize();
    qint64 last = 4096, total = 0;
    bool cancel = false, failed = false, tooBig = false;
    int writeError = 0;
    char buffer[4096];
    while (last > 0 && !cancel) {
        QCoreApplication::processEvents();
        last = transfer->Read(buffer, sizeof buffer);
        if (last < 0) {
            failed = true;
            break;
        }
        // The cap holds while the file arrives, not after it filled the disk.
        if (total + last > expect.maxBytes) {
            tooBig = true;
            break;
        }
        if (last > 0 && !files::WriteAll(tmp.fd, buffer, last)) {
            failed = true;
            writeError = errno;
            break;
        }
        total += last;
        if (OnFileProgress)
            OnFileProgress(this, target, static_cast<int>(std::min<qint64>(total, INT_MAX)),
                           static_cast<int>(std::min<qint64>(expected, INT_MAX)));
        if (OnProgressCancel) OnProgressCancel(this, cancel);
        if (aborted_) cancel = true;
    }
    transfer.reset();
    sys::close(tmp.fd);
    if (cancel) Failures << url + QStringLiteral(": cancelled");
    // A full disk is told as what it is, not as a file the server lacks.
    if (writeError != 0) {
        Failures << url + QStringLiteral(": cannot write to its folder (") +
                        files::ErrorText(writeError) + QLatin1Char(')');
        ReportStatus(kCannotWrite,
                     folder.Shown() + QStringLiteral(" (") + files::ErrorText(writeError) +
                         QLatin1Char(')'),
                     CodesOf(kCannotWrite).status, writeError);
    }
    if (tooBig)
        return Refuse(tmp.path, url, QStringLiteral("larger than %1 bytes").arg(expect.maxBytes));
    if (cancel || failed) {
        QFile::remove(tmp.path);
        return false;
    }
    return Land(tmp.path, total, folder, name, compressed, expect, url);
}

bool TUpdateClient::ReplacesProgram(const files::Folder& folder, const QString& name) const {
    if (RunsAsProgram(name)) return true;
    const QFileInfo own(OwnExecutable.isEmpty() ? QCoreApplication::applicationFilePath()
                                                : OwnExecutable);
    const QFileInfo there(folder.Path(name));
    if (!there.exists()) return false;
    // Our own file, or a file without a type that is already marked as a
    // program (as Linux programs are; on some mounts every file has the mark).
    return there.canonicalFilePath() == own.canonicalFilePath() ||
           (there.isFile() && !name.contains(QLatin1Char('.')) &&
            there.permissions() & (QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther));
}

bool TUpdateClient::Land(const QString& temp, qint64 total, const files::Folder& folder,
                         const QString& name, bool compressed, const Expect& expect,
                         const QString& url) {
    const QString target = folder.Path(name), shown = folder.Shown(name);
    // Nothing replaces a file before it is shown to be the one the signed
    // control file describes.
    if (expect.size < 0) return Refuse(temp, url, QStringLiteral("newsize is not a size"));
    if (total == 0 && !expect.text) return Refuse(temp, url, QStringLiteral("empty"));
    if (expect.size > 0 && total != expect.size)
        return Refuse(temp, url,
                      QStringLiteral("%1 bytes where newsize says %2").arg(total).arg(expect.size));
    if (!expect.sha256.isEmpty() && files::Sha256OfFile(temp) != expect.sha256.toLatin1())
        return Refuse(temp, url, QStringLiteral("its SHA-256 differs from the control file's"));
    if (expect.checksum != -1 && (UseCRC32 ? FileCRC(temp) : FileByteSum(temp)) != expect.checksum)
        return Refuse(temp, url, QStringLiteral("its checksum differs from newchecksum"));
    // A page where a file was expected is what a captive portal sends; a
    // file whose SHA-256 matched is the signed one, whatever it looks like.
    const QString suffix = QFileInfo(target).suffix().toLower();
    if (!expect.text && expect.sha256.isEmpty() && suffix != QStringLiteral("htm") &&
        suffix != QStringLiteral("html") && files::LooksLikeHtml(temp))
        return Refuse(temp, url, QStringLiteral("a web page came in place of the file"));
    // A program goes through the updater, under a name of its own, with
    // its SHA-256; it is never written over in place.
    if (!expect.text && ReplacesProgram(folder, name))
        return Refuse(temp, url,
                      QStringLiteral("%1 is a program file, replaced only through the updater as "
                                     "a component with its sha256=")
                          .arg(name));
    // A component is expanded by the updater, which keeps the program it
    // replaces until the new one has started.
    if (compressed && QFileInfo(name).suffix().toUpper() != QStringLiteral("CAB") &&
        !IsComponent(name))
        return ExpandInPlace(temp, folder, name, url);
    if (OnFileReplacing && QFile::exists(target)) OnFileReplacing(this, shown);
    QString error;
    if (!files::ReplaceAtomically(temp, target, &error))
        return Refuse({}, url,
                      QStringLiteral("cannot replace ") + shown + QStringLiteral(": ") + error);
    DoFileDownloaded(shown);
    if (!expect.text) FetchedFiles << shown;
    return true;
}

bool TUpdateClient::ExpandInPlace(const QString& temp, const files::Folder& folder,
                                  const QString& name, const QString& url) {
    const QString target = folder.Shown(name);
    // The expanded name: the fetched name with its last character replaced
    // by the one the header stores; a file that would expand onto its own
    // name, or is no SZDD file, is kept as fetched.
    QFile f(temp);
    QByteArray head;
    if (f.open(QIODevice::ReadOnly)) head = f.read(14);
    f.close();
    QString expanded;
    if (unpack::IsSzdd(temp.toStdString()) && head.size() >= 10) {
        const char c = head[9];
        if (c != '\0')
            expanded = name.chopped(1) + QChar::fromLatin1(c);
        else if (name.endsWith(QLatin1Char('_')))
            expanded = name.chopped(1);
    }
    if (expanded.isEmpty() || expanded == name || !PlainFileName(expanded)) {
        if (Logging)
            AppendLogLine(0, QStringLiteral("Not SZDD compressed, kept as it is : ") + target, 3,
                          0);
        QString error;
        if (!files::ReplaceAtomically(temp, folder.Path(name), &error))
            return Refuse({}, url, error);
        DoFileDownloaded(target);
        FetchedFiles << target;
        return true;
    }
    // Expanded in a private folder beside the target, so the result is
    // renamed over the old file in one step.
    const QString stage = files::MakeFolderIn(folder, QStringLiteral(".QUPD-"));
    if (stage.isEmpty())
        return Refuse(temp, url, QStringLiteral("cannot expand in ") + folder.Shown());
    const QString packed = QDir(stage).filePath(QStringLiteral("file_"));
    bool ok = QFile::rename(temp, packed);
    std::string error;
    const std::string out = ok ? unpack::ExpandSzdd(packed.toStdString(), &error) : std::string();
    const QString result = folder.Path(expanded), shown = folder.Shown(expanded);
    QString replaceError;
    if (out.empty()) {
        files::RemovePrivateFolder(stage);
        QFile::remove(temp);
        return Refuse({}, url,
                      QStringLiteral("cannot be expanded: ") + QString::fromStdString(error));
    }
    if (ReplacesProgram(folder, expanded)) {
        files::RemovePrivateFolder(stage);
        return Refuse({}, url,
                      QStringLiteral("%1 is a program file, replaced only through the updater as "
                                     "a component with its sha256=")
                          .arg(expanded));
    }
    if (OnFileReplacing && QFile::exists(result)) OnFileReplacing(this, shown);
    ok = files::ReplaceAtomically(QString::fromStdString(out), result, &replaceError);
    files::RemovePrivateFolder(stage);
    if (!ok)
        return Refuse({}, url,
                      QStringLiteral("cannot replace ") + shown + QStringLiteral(": ") +
                          replaceError);
    DoFileDownloaded(shown);
    FetchedFiles << shown;
    return true;
}

std::optional<QStringList> TUpdateClient::DownloadTextFile(const QString& url) {
    // A folder of their own, so a text named like the control file cannot replace it.
    const QString run = RunFolder();
    const QString folder = run.isEmpty() ? QString() : QDir(run).filePath(QStringLiteral("texts"));
    Expect e;
    e.maxBytes = kMaxTextFile;
    e.text = true;
    if (folder.isEmpty() || !QDir().mkpath(folder) || !Fetch(url, folder, false, e))
        return std::nullopt;
    const QString path = QDir(folder).filePath(FileNameFromURL(url));
    QFile f(path);
    QStringList lines;
    if (f.open(QIODevice::ReadOnly)) {
        for (QByteArray line : f.read(kMaxTextFile).split('\n')) {
            if (line.endsWith('\r')) line.chop(1);
            lines << QString::fromLatin1(line);
        }
        if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    }
    f.close();
    QFile::remove(path);
    return lines;
}

// ---------------------------------------------------------------- network transport

namespace {

class CurlTransfer final : public TUpdateClient::Transfer {
public:
    CurlTransfer(net::Session& s, net::Request base, QString& error, int& code)
        : s_(s), base_(std::move(base)), error_(error), code_(code) {}
    ~CurlTransfer() override { s_.Close(); }
    bool Open(const QString& url) override {
        base_.url = url.toStdString();
        base_.kind = control ? net::Kind::Control : net::Kind::File;
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

void TUpdateClient::CloseSession() {
    session_.reset();
}

QString TUpdateClient::FtpBase() const {
    return QStringLiteral("ftp://%1:%2/").arg(Host).arg(Port);
}

bool TUpdateClient::OpenHost() {
    if (!session_ || Host.isEmpty()) return false;
    net::Request r;
    r.url = FtpBase().toStdString();
    if (!UserID.isEmpty() && !Password.isEmpty())
        r.userPwd = (UserID + QLatin1Char(':') + Password).toStdString();
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
        if (!UserID.isEmpty() && !Password.isEmpty())
            r.userPwd = (UserID + QLatin1Char(':') + Password).toStdString();
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
        while (dir.startsWith(QLatin1Char('/')))
            dir.remove(0, 1);
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
    const QString server = ResultPost.Server.contains(QLatin1Char(':'))
                               ? ResultPost.Server
                               : ResultPost.Server + QStringLiteral(":80");
    r.url = (QStringLiteral("http://") + server + action).toStdString();
    r.agent = "QuorlexUpdatePost";
    r.post = true;
    r.postBody = ResultPost.Data.toStdString();
    r.kind = net::Kind::Control;
    net::Session s;
    if (!s.Open(r)) {
        const bool unreachable = s.ErrorCode() == CURLE_COULDNT_CONNECT ||
                                 s.ErrorCode() == CURLE_COULDNT_RESOLVE_HOST ||
                                 s.ErrorCode() == CURLE_OPERATION_TIMEDOUT;
        Report(unreachable ? 951 : 952, QString());
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
