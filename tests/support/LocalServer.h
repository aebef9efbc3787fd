#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace testsupport {

// One of our test servers (tests/support/*.py) on 127.0.0.1, serving a
// folder; stopped when this goes away.
class LocalServer {
public:
    LocalServer(const QString& script, const QString& root);
    ~LocalServer();
    bool Started() const { return port_ > 0; }
    int Port() const { return port_; }
    QString Http(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(port_).arg(path);
    }
    // Lines the server printed after its port (the FTP server's CWD log).
    QStringList Lines();

private:
    QProcess process_;
    int port_ = 0;
#ifdef _WIN32
    QTemporaryDir channel_; // see channel.py
    int read_ = 0;          // lines of it handed out already
#endif
};

QString HttpServerScript();
// The host's Python 3, also from a Windows test under Wine.
QString Python();
// `path` as the host names it: the same under Linux; under Wine, the Unix
// path of a Windows one, for the host programs a test starts.
QString HostPath(const QString& path);
// Runs a Python script of the host with these arguments (host paths) and
// gives its exit code, or -1 when it did not end within the time.
int RunHostScript(const QString& script, const QStringList& args, int timeoutMs);
QString FtpServerScript();

} // namespace testsupport
