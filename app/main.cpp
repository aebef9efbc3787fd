#include "app/TfrmMain.h"
#include "ui/Prompter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

namespace {

// After a self-update the updater keeps the previous program until this
// one proves it starts: it names a file in the update's private folder,
// and creating it says the window is up. A name outside that folder is
// ignored, so the variable cannot make us create files elsewhere.
void ReportStartedAfterUpdate() {
    const QString marker = qEnvironmentVariable("QUORLEX_UPDATE_STARTED");
    const QString runDir = qEnvironmentVariable("QUORLEX_UPDATE_DIR");
    qunsetenv("QUORLEX_UPDATE_STARTED");
    qunsetenv("QUORLEX_UPDATE_DIR");
    if (marker.isEmpty() || runDir.isEmpty()) return;
    const QString dir = QDir(runDir).canonicalPath();
    if (dir.isEmpty() || QFileInfo(QFileInfo(marker).absolutePath()).canonicalFilePath() != dir)
        return;
    QFile f(marker);
    if (f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) f.close();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorlex2004"));
    ui::MessageBoxPrompter prompter;
    app::TfrmMain w(app::DefaultStartupEnvironment(prompter));
    prompter.SetParent(&w);
    if (w.QuitRequested()) return 0;
    w.show();
    QTimer::singleShot(0, &w, &ReportStartedAfterUpdate);
    return QApplication::exec();
}
