#pragma once
#include "update/UpdateLogic.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <functional>
#include <memory>
#include <vector>

namespace ini {
class TIniFile;
}
namespace ui {
class Prompter;
}
namespace update::files {
class Folder;
}
namespace net {
class Session;
}

namespace update {

enum TUpdateType { ftpUpdate, httpUpdate, fileUpdate };
enum TUpdateConnect {
    ucNoConnect,
    ucConnectPrompt,
    ucConnectSilent,
    ucConnectPromptHangup,
    ucConnectSilentHangup
};
enum TUpdatePrompting { upPromptOnce, upPromptAll, upSilent };
enum TUpdateVersionCheck { vcUpdateOnly, vcAlways };

struct TLastUrlMemory {
    bool Save = false;
    QString Key;
    QString Section;
};

struct TResultPost {
    QString Server;
    QString Action;
    QString Data;
    bool Enabled = false;
    QString ResponseText;
};

struct TFileDescription {
    QString URL;
    QString NewVersion;
    int NewSize = 0;
    int NewCheckSum = -1;
    QString NewCustomVer;
    QString NewDate;
    QString NewTime;
    QString LocalVersion;
    QString Description;
    QString TargetDir;
    bool Compressed = false;
    int FileSize = 0;
    // Lower-case hex SHA-256 of the file as fetched; empty when not given.
    QString Sha256;
};

struct TFileList {
    std::vector<TFileDescription> Items;
    int CurrentIndex = 0;
};

// The carrier of the patch utility; the client only asks whether one is set.
class TUpdateUtility final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
};

class TUpdateClient;

// Hands a run to the UI thread and waits for it there; the run starts at
// the next turn of the event loop, ThreadFinished follows on the UI thread.
class TInetThread final : public QThread {
    Q_OBJECT
public:
    explicit TInetThread(TUpdateClient* client);
    QPointer<TUpdateClient> UpdateComponent;

protected:
    void run() override;
};

// The self-update client: control file, decisions, transfers, reports.
class TUpdateClient : public QObject {
    Q_OBJECT
public:
    explicit TUpdateClient(QObject* owner = nullptr);
    ~TUpdateClient() override;

    // ---- published properties, defaults as constructed ----
    bool ApplyPatch = false;
    QString DateFormat = QStringLiteral("dd/mm/yyyy");
    QChar DateSeparator = QLatin1Char('/');
    bool ExtractCAB = false;
    QString FTPDirectory;
    bool FTPPassive = false;
    QString Host;
    bool HTTPKeepAliveAuthentication = false;
    bool KeepIntermediateFiles = false;
    bool Logging = false;
    TLastUrlMemory LastUrlMemory;
    QString Password;
    int Port = 21;
    TResultPost ResultPost;
    QString Proxy;
    QString ProxyUserID;
    QString ProxyPassword;
    QString Signature = QStringLiteral("QuorlexUpdate");
    bool SignatureCheck = false;
    QString TempDirectory = QStringLiteral(".");
    QString TimeFormat = QStringLiteral("hh:nn");
    QChar TimeSeparator = QLatin1Char(':');
    TUpdateType UpdateType = ftpUpdate;
    TUpdateConnect UpdateConnect = ucNoConnect;
    TUpdatePrompting UpdateUpdate = upPromptOnce;
    QString URL;
    QString UserID;
    bool UseCRC32 = false;
    QPointer<TUpdateUtility> Utility;
    TUpdateVersionCheck VersionCheck = vcUpdateOnly;

    // ---- what makes a run trustworthy ----
    // The minisign public key (a .pub file's text or its base64 line) that
    // control files must be signed with; empty: the release key.
    QString PublicKey;
    // Where the signing time of the last accepted control file is kept
    // (the user store), so an older file cannot be replayed.
    QString SignatureMemoryKey = QStringLiteral("Software\\Quorlex\\Quorlex2004");
    QString SignatureMemorySection = QStringLiteral("Update");
    // Folders that fetched files may go to (the program's and the game's);
    // empty: the program's folder.
    QStringList AllowedFolders;
    // The program that `appname` must name; empty: this process's own.
    QString OwnExecutable;
    // The program's folder (empty: the folder of OwnExecutable, else of
    // this process's file): what {APP} stands for, where a file without a
    // target folder goes and where the updater works, whatever folder we
    // were started from.
    QString AppFolder;
    QString ProgramFolder() const;

    // ---- events: optional, sender first, flags by reference ----
    using Sender = TUpdateClient*;
    std::function<void(Sender, const QString& filename, int pos, int size)> OnFileProgress;
    std::function<void(Sender, const QString& filename)> OnFileDownloaded;
    // A file is about to be replaced by a fetched one (it still holds its old bytes).
    std::function<void(Sender, const QString& path)> OnFileReplacing;
    std::function<void(Sender, const QString& newversion, const QString& localversion, bool& IsNew)>
        OnFileVersionCheck;
    std::function<void(Sender, bool& AllowPostResult)> OnProcessPostResult;
    std::function<void(Sender, const QString& action)> OnProgress;
    std::function<void(Sender, bool& cancel)> OnProgressCancel;
    std::function<void(Sender, const QString& statusstr, int statuscode, int errcode)> OnStatus;
    std::function<void(Sender)> OnThreadUpdateDone;
    std::function<void(Sender, bool& allow)> OnAppRestart;
    std::function<void(Sender)> OnAppDoClose;
    std::function<void(Sender, int FileIdx, const QString& FileDescription, QString& URL)>
        OnBeforeFileDownload;
    std::function<void(Sender, const QString& msg, const QString& param, bool& allow)>
        OnCustomValidate;
    std::function<void(Sender, const QString& msg, const QString& param)> OnCustomProcess;
    std::function<void(Sender, QStringList& list)> OnGetFileList;
    std::function<void(Sender, QString& path)> OnConvertPrefix;
    std::function<void(Sender, QString& AppParams)> OnSetAppParams;
    std::function<void(Sender, QStringList& Text, int& Res)> OnDownloadedWhatsNew;
    std::function<void(Sender, QStringList& Text, int& Res)> OnDownloadedEULA;
    std::function<void(Sender, const QString& URL, QString& FName)> OnFileNameFromURL;
    std::function<void(Sender)> OnSuccess;

    // Questions of a run go here; none asked when unset.
    void SetPrompter(ui::Prompter* prompter) { prompter_ = prompter; }

    // ---- run ----
    // Refused (false) while a run is active.
    bool StartUpdate();
    bool Running() const { return running_; }
    // Ends the run at its next step, saying nothing more and restarting
    // nothing: the player closed the program.
    void Abort();
    bool Aborted() const { return aborted_; }
    void RunUpdate();
    void ThreadFinished();

    // ---- virtual operations ----
    virtual int ShowWhatsNew(QStringList& text);
    virtual int ShowLicense(QStringList& text);
    virtual void ReportStatus(int id, const QString& argument, int statuscode, int errcode);
    // Writes upd.ex_ to the temp folder and expands it to upd.exe; raises
    // when it cannot be written.
    virtual void ExtractUpdater();
    // The application carries no patch utility; a carrier would write it here.
    virtual void ExtractPatcher() {}
    virtual bool IsNewVersion(QString& newversion, QString& localfile, int newsize,
                              int newchecksum);
    virtual void DoFileDownloaded(const QString& filename);
    virtual int ConnectInternet();
    virtual int DisconnectInternet();
    virtual int ConnectHost();
    virtual QString GetControlFileURL();
    virtual int ReadControlFile();
    virtual int CheckForUpdate();
    virtual int ProcessActions();
    virtual std::optional<QStringList> GetWhatsNewText();
    virtual std::optional<QStringList> GetLicenseText();
    virtual int ReadFileList();
    virtual int FilterFileList();
    virtual int DownloadFiles();
    virtual QString GetPrefixValue(const QString& key);

    // ---- non-virtual operations ----
    QDateTime GetLastUpdateDate(const QString& localPath);
    void SaveLastUpdateDate(const QDateTime& when);
    QString LoadLastURL();
    void SaveLastURL(const QString& url);
    QString ResolvePrefixes(QString value);
    QString FileNameFromURL(const QString& url);
    QDateTime ParseDateTime(const QString& date, const QString& time) const;
    bool DownloadFile(const QString& url, const QString& targetDir, bool compressed);
    bool CopyLocalFile(const QString& source, const QString& target);
    static QString AddProxyCredentials(const QString& url, const QString& user,
                                       const QString& password);
    // Overridable like the other steps, so the offline paths can be tried
    // without taking the machine off the network.
    virtual bool IsInternetConnected();
    void FinishUpdate();
    void RestartApplication();
    static QString ConvertNewlines(QString text);
    // Starts a command line and waits: true when it ran and exited with 0.
    static bool RunAndWait(const QString& commandLine);
    int ExtractCabinet(const QString& cabinet, const QString& destination);
    // The updater's path once ExtractUpdater has run.
    QString UpdaterPath() const;
    bool CreateDirectoryPath(const QString& directory);
    // SZDD expansion of a fetched file, and cabinets and patches after a
    // fetch; the applying part of the client fills these in.
    virtual void ExpandLZFile(const QString& path);
    virtual void ApplyFetchedFile(const TFileDescription& entry, const files::Folder& folder,
                                  const QString& name);
    // How the updater is started (an argument list, never a shell); tests
    // watch it instead. Answers 0 when started, else the errno.
    std::function<int(const QString& program, const QStringList& args)> StartProcess;
    // The updater's arguments: process id, program or "null", components,
    // then "--" and the program's own arguments.
    QStringList UpdaterArguments(qint64 pid) const;
    // The private folder of this run (created on first use, mode 0700);
    // empty when it cannot be made.
    QString RunFolder();
    // Starts the updater with posix_spawn, its run folder in
    // QUORLEX_UPDATE_DIR; 0 or the errno.
    // `workDir`: the updater's current folder (empty: ours).
    static int SpawnUpdater(const QString& program, const QStringList& args, const QString& folder,
                            const QString& workDir = {});
    // The form post of results.
    virtual void PostUpdateResults();
    // The transport's last error to OnStatus (statuscode 1), else a message box.
    virtual void ReportInternetError();
    std::optional<QStringList> DownloadTextFile(const QString& url);

    // ---- run state ----
    bool Dialled = false;
    bool FtpDirectorySet = false;
    QString ControlFilePath;
    bool RestartPending = false;
    QString AppCommandLine;
    QString AppComponents;
    bool SilentRestart = false;
    bool ComponentFetched = false;
    QDateTime UpdateDate;
    QDateTime LocalDate;
    bool LastDateRead = false;
    QString UpdateDescription; // [update] descr
    QString AppProgram;        // the program of `appname`, one path
    QStringList AppParams;     // its arguments
    qint64 SignedTime = -1;    // signing time of the verified control file
    // What the last run did, for the message at its end.
    QStringList FetchedFiles;
    QStringList Failures;
    TFileList FileList;
    bool sessionOpen = false; // the transport's session of this run
    bool hostConnected = false;

    // Where the log goes (the current directory by default); tests move it.
    QString LogDirectory = QStringLiteral(".");
    // The local clock of log lines; tests fix it.
    std::function<QDateTime()> Clock = [] { return QDateTime::currentDateTime(); };

public:
    // Transfers of http and ftp runs; the base has none (a later transport
    // overrides these). Returns nullopt when no request could be opened.
    struct Transfer {
        virtual ~Transfer() = default;
        // Opens the request; false when it could not be opened.
        virtual bool Open(const QString& url) = 0;
        // Control and text files: the whole transfer is capped in time.
        bool control = false;
        virtual int HttpStatus() const { return 200; }
        virtual qint64 ExpectedSize() const = 0;
        // Up to 4096 bytes; -1 on failure, 0 at the end.
        virtual qint64 Read(char* buffer, qint64 max) = 0;
    };

protected:
    virtual std::unique_ptr<Transfer> OpenTransfer();
    virtual bool OpenSession();
    virtual void CloseSession();
    virtual bool OpenHost();
    virtual void CloseHost();

    ini::TIniFile& Control();
    QString FtpBase() const;
    QString TransferUrl(const QString& url);
    // Why an entry may not be fetched where it asks; empty when it may.
    QString EntryRefusal(const TFileDescription& entry);
    void AppendLogLine(int id, const QString& message, int statuscode, int errcode);
    bool IsComponent(const QString& name) const;
    void Report(int id, const QString& argument = {});

    // What a fetched file must be before it replaces anything.
    struct Expect {
        qint64 maxBytes = qint64(1) << 30;
        qint64 size = 0;   // newsize; 0: not given, -1: not a size
        int checksum = -1; // newchecksum; -1: not given
        QString sha256;    // empty: not given
        bool text = false; // control, signature and text files
    };
    // Whether putting `name` in place would replace a program file.
    bool ReplacesProgram(const files::Folder& folder, const QString& name) const;
    bool CopyLocal(const QString& source, const files::Folder& folder, const QString& name,
                   bool compressed, const Expect& expect);
    bool Fetch(const QString& url, const QString& targetDir, bool compressed, const Expect& expect);
    bool FetchInto(const QString& url, const files::Folder& folder, bool compressed,
                   const Expect& expect);
    // The folder a fetch writes to, opened once: the run's private one for
    // texts, else inside the allowed folders. Refused (and told) when not.
    files::Folder OpenTarget(const QString& targetDir, const Expect& expect, const QString& url);
    // A finished temporary file in the target's folder: checked, then put in place.
    bool Land(const QString& temp, qint64 total, const files::Folder& folder, const QString& name,
              bool compressed, const Expect& expect, const QString& url);
    bool Refuse(const QString& temp, const QString& url, const QString& why);
    bool ExpandInPlace(const QString& temp, const files::Folder& folder, const QString& name,
                       const QString& url);
    bool VerifyControlFile(const QString& url, const QString& path);
    bool ReadRestart(ini::TIniFile& c);
    QStringList Allowed() const;
    // Starts runbefore once per run, and only after the offer was taken.
    void RunBefore(bool& ran);
    bool offerAccepted_ = false; // the player said Yes to this run's offer
    QString folder_; // the private folder of the run
    bool keepFolder_ = false;

    ui::Prompter* prompter_ = nullptr;
    std::unique_ptr<ini::TIniFile> control_;
    std::unique_ptr<net::Session> session_;
    QString lastError_;
    int lastErrorCode_ = 0;
    bool running_ = false;
    bool aborted_ = false;
    bool redirected_ = false;  // the last fetch met a redirect it did not follow
};

// Windows paths of a control file as paths of this system.
QString NativePath(QString path);

} // namespace update
