#include "app/TfrmMain.h"
#include "ui/Prompter.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// After a self-update the updater keeps the previous program until this
// one proves it starts: it names a file in the update's private folder,
// and creating it says the program and its libraries are up. It is told
// before the start-up questions, which may wait on the player for longer
// than the updater waits. A name outside that folder is ignored, so the
// variable cannot make us create files elsewhere.
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
    ReportStartedAfterUpdate();
    ui::MessageBoxPrompter prompter;
    app::TfrmMain w(app::DefaultStartupEnvironment(prompter));
    prompter.SetParent(&w);
    if (w.QuitRequested()) return 0;
    w.show();
    return QApplication::exec();
}
