#include "tests/support/LocalServer.h"

#include "tests/support/GameFolder.h"

#include <QFile>

namespace testsupport {

QString HttpServerScript() { return SourceDir() + QStringLiteral("/tests/support/http_server.py"); }
QString FtpServerScript() { return SourceDir() + QStringLiteral("/tests/support/ftp_server.py"); }

LocalServer::LocalServer(const QString& script, const QString& root) {
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    // Debian's python3 carries pyftpdlib; another python3 first on the PATH may not.
    const QString python = QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
    process_.start(python, {script, root});
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
