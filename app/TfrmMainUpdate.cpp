// The main window's side of the self-update: the client's settings, the
// progress window of a run and the questions around a restart.
#include "app/TfrmMain.h"

#include "ini/IniFile.h"
#include "ui/Prompter.h"
#include "ui/TfrmProgress.h"
#include "update/TUpdateClient.h"

#include <QCoreApplication>

namespace app {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

} // namespace

void TfrmMain::ConfigureUpdateClient() {
    auto* c = UpdateClient1 = new update::TUpdateClient(this);
    c->setObjectName(QStringLiteral("UpdateClient1"));
    c->ApplyPatch = true;
    c->UpdateType = update::httpUpdate;
    c->UpdateConnect = update::ucConnectPrompt;
    c->UpdateUpdate = update::upSilent;
    c->VersionCheck = update::vcUpdateOnly;
    c->TempDirectory = QStringLiteral(".");
    c->Signature = QStringLiteral("QuorlexUpdate");
    c->DateFormat = QStringLiteral("dd/mm/yyyy");
    c->TimeFormat = QStringLiteral("hh:nn");
    c->Port = 21;
    c->URL = env_.updateUrl;
    c->SetPrompter(&prompter_);
    c->OnStatus = [this](update::TUpdateClient*, const QString& s, int code, int err) { UpdateClient1Status(s, code, err); };
    c->OnFileProgress = [this](update::TUpdateClient*, const QString& f, int pos, int size) { UpdateClient1FileProgress(f, pos, size); };
    c->OnAppRestart = [this](update::TUpdateClient*, bool& allow) { UpdateClient1AppRestart(allow); };
    // The updater takes over: end without the question about unsaved edits.
    c->OnAppDoClose = [this](update::TUpdateClient*) {
        exiting_ = true;
        close();
        QCoreApplication::quit();
    };
    // The download window is not left behind by a run that ends without a restart.
    c->OnFileReplacing = [this](update::TUpdateClient*, const QString& path) { KeepBeforeUpdate(path); };
    c->OnThreadUpdateDone = [this](update::TUpdateClient* client) {
        KeepUpdateInHistory();
        if (!(client->RestartPending && client->ComponentFetched) && splash_ && splash_->objectName() == QStringLiteral("frmUpdateProgress"))
            delete splash_;
    };
}

void TfrmMain::StartUpdate() {
    if (ini_.SettingsIni) {
        // The demo and tests point the check at their own server.
        const QString url = Q(ini_.SettingsIni->ReadText("Quorlex", "UpdateURL", ""));
        UpdateClient1->URL = url.isEmpty() ? env_.updateUrl : url;
    }
    UpdateClient1->StartUpdate();
}

void TfrmMain::Checkforupdates1Click() {
    ManualUpdateCheck = true;
    StartUpdate();
}

void TfrmMain::UpdateClient1Status(const QString& statusstr, int statuscode, int) {
    if (statusstr.toLower() == QStringLiteral("found file update instruction")) {
        // The window this replaces (the start-up splash, say) goes: one window shows progress.
        delete splash_;
        splash_ = new ui::TfrmProgress(this);
        splash_->setObjectName(QStringLiteral("frmUpdateProgress"));
        splash_->SetText(QStringLiteral("Initializing...."));
        splash_->show();
    }
    if (!ManualUpdateCheck) return;
    if (statuscode == 2) {
        prompter_.Information(QStringLiteral("Update file not found\nCannot continue update"));
        ManualUpdateCheck = false;
    } else if (statuscode == 4) {
        prompter_.Information(QStringLiteral("No new version available"));
    }
}

void TfrmMain::UpdateClient1FileProgress(const QString&, int pos, int size) {
    if (!splash_) return;
    splash_->SetMaximum(size);
    splash_->SetPosition(pos);
    splash_->SetText(QStringLiteral("Downloading files..."));
}

void TfrmMain::UpdateClient1AppRestart(bool& allow) {
    prompter_.Information(QStringLiteral("Press OK to finalize the update, and to restart the newest Quorlex 2004!"));
    allow = true;
}
} // namespace app
