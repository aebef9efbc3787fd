#include "tests/support/LocalServer.h"

#include "tests/support/GameFolder.h"

#include <QDir>
#include <QFile>
#include <QThread>
#ifdef _WIN32
#include <windows.h>
#endif

namespace testsupport {

QString Python() {
#ifdef _WIN32
    // Under Wine the host's Python runs as it is, from the drive that maps the root.
    if (QFile::exists(QStringLiteral("Z:/usr/bin/python3")))
        return QStringLiteral("Z:/usr/bin/python3");
#endif
    // Debian's python3 carries pyftpdlib; another python3 first on the PATH may not.
    return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                             : QStringLiteral("python3");
}

QString HostPath(const QString& path) {
#ifdef _WIN32
    // A host program started under Wine gets its arguments as they are, so
    // a Windows path is turned into the host's own first, by Wine itself.
    using ToUnix = char*(__cdecl*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (toUnix) {
        const std::wstring wide =
            QDir::toNativeSeparators(QDir(path).absolutePath()).toStdWString();
        if (char* unix = toUnix(wide.c_str())) {
            const QString out = QString::fromUtf8(unix);
            ::HeapFree(::GetProcessHeap(), 0, unix);
            return out;
        }
    }
#endif
    return path;
}

int RunHostScript(const QString& script, const QStringList& args, int timeoutMs) {
    QProcess p;
#ifdef _WIN32
    const QTemporaryDir folder;
    const QString result = folder.filePath(QStringLiteral("result"));
    p.start(Python(), QStringList{HostPath(SourceDir() + QStringLiteral("/tests/support/run_script.py")),
                                  HostPath(result), HostPath(script)} +
                          args);
    if (!p.waitForStarted(10000)) return -1;
    for (int waited = 0; waited < timeoutMs && !QFile::exists(result); waited += 100) QThread::msleep(100);
    bool ok = false;
    const int code = ReadAll(result).trimmed().toInt(&ok);
    p.kill(); // Wine's handle of a host program does not end with it
    return ok ? code : -1;
#else
    p.start(Python(), QStringList{script} + args);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit) return -1;
    return p.exitCode();
#endif
}

QString HttpServerScript() { return SourceDir() + QStringLiteral("/tests/support/http_server.py"); }
QString FtpServerScript() { return SourceDir() + QStringLiteral("/tests/support/ftp_server.py"); }

#ifdef _WIN32
namespace {
// The complete lines the server wrote to its channel folder so far.
QStringList ChannelLines(const QString& folder) {
    QByteArray text = ReadAll(folder + QStringLiteral("/out"));
    text.truncate(text.lastIndexOf('\n') + 1);
    QStringList lines;
    for (const QByteArray& line : text.split('\n'))
        if (!line.isEmpty()) lines << QString::fromUtf8(line).trimmed();
    return lines;
}
} // namespace
#endif

LocalServer::LocalServer(const QString& script, const QString& root) {
#ifdef _WIN32
    // Under Wine a host program gets no pipes of ours: it talks through a folder.
    WriteAll(channel_.filePath(QStringLiteral("alive")), "");
    process_.start(Python(), {HostPath(script), HostPath(root), HostPath(channel_.path())});
    if (!process_.waitForStarted(10000)) return;
    for (int tries = 0; tries < 100 && port_ <= 0; ++tries) {
        const QStringList lines = ChannelLines(channel_.path());
        if (!lines.isEmpty()) port_ = lines.first().toInt();
        if (port_ <= 0) QThread::msleep(100);
    }
    read_ = 1;
    if (port_ <= 0) qWarning("test server %s did not start", qPrintable(script));
#else
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(Python(), {HostPath(script), HostPath(root)});
    if (!process_.waitForStarted(10000)) return;
    for (int tries = 0; tries < 100 && !process_.canReadLine(); ++tries) process_.waitForReadyRead(100);
    port_ = QString::fromLatin1(process_.readLine()).trimmed().toInt();
    if (port_ <= 0)
        qWarning("test server %s did not start: %s", qPrintable(script),
                 process_.readAllStandardError().constData());
#endif
}

LocalServer::~LocalServer() {
#ifdef _WIN32
    QFile::remove(channel_.filePath(QStringLiteral("alive")));
    QThread::msleep(300); // it looks every 100 ms
#else
    process_.closeWriteChannel();
#endif
    if (!process_.waitForFinished(2000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

QStringList LocalServer::Lines() {
#ifdef _WIN32
    QThread::msleep(50);
    const QStringList lines = ChannelLines(channel_.path());
    const QStringList out = lines.mid(read_);
    read_ = int(lines.size());
    return out;
#else
    process_.waitForReadyRead(50);
    QStringList out;
    while (process_.canReadLine()) out << QString::fromLatin1(process_.readLine()).trimmed();
    return out;
#endif
}

} // namespace testsupport
