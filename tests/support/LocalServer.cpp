#include "tests/support/LocalServer.h"

#include "tests/support/GameFolder.h"

#include <QDir>
#include <QFile>
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

QString HttpServerScript() { return SourceDir() + QStringLiteral("/tests/support/http_server.py"); }
QString FtpServerScript() { return SourceDir() + QStringLiteral("/tests/support/ftp_server.py"); }

LocalServer::LocalServer(const QString& script, const QString& root) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start(Python(), {script, HostPath(root)});
    if (!process_.waitForStarted(10000)) return;
    for (int tries = 0; tries < 100 && !process_.canReadLine(); ++tries) process_.waitForReadyRead(100);
    port_ = QString::fromLatin1(process_.readLine()).trimmed().toInt();
}

LocalServer::~LocalServer() {
    process_.closeWriteChannel();
    if (!process_.waitForFinished(2000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

QStringList LocalServer::Lines() {
    process_.waitForReadyRead(50);
    QStringList out;
    while (process_.canReadLine()) out << QString::fromLatin1(process_.readLine()).trimmed();
    return out;
}

} // namespace testsupport
