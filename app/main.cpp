#include "app/TfrmMain.h"
#include "ui/Prompter.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quorlex2004"));
    ui::MessageBoxPrompter prompter;
    app::TfrmMain w(app::DefaultStartupEnvironment(prompter));
    prompter.SetParent(&w);
    if (w.QuitRequested()) return 0;
    w.show();
    return QApplication::exec();
}
