// The main window's side of the self-update: the client's settings, the
// progress window of a run and the questions around a restart.
#include "app/TfrmMain.h"

#include "ini/IniFile.h"
#include "maintenance/TIniFilesPage.h"
#include "ui/Prompter.h"
#include "ui/TfrmProgress.h"
#include "update/TUpdateClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>

namespace app {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

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
    c->OnStatus = [this](update::TUpdateClient*, const QString& s, int code, int err) {
        UpdateClient1Status(s, code, err);
    };
    c->OnFileProgress = [this](update::TUpdateClient*, const QString& f, int pos, int size) {
        UpdateClient1FileProgress(f, pos, size);
    };
    c->OnAppRestart = [this](update::TUpdateClient*, bool& allow) {
        UpdateClient1AppRestart(allow);
    };
    // The updater takes over: end without the question about unsaved edits.
    c->OnAppDoClose = [this](update::TUpdateClient*) {
        exiting_ = true;
        close();
        QCoreApplication::quit();
    };
    // The download window is not left behind by a run that ends without a restart.
    c->OnFileReplacing = [this](update::TUpdateClient*, const QString& path) {
        KeepBeforeUpdate(path);
    };
    c->OnThreadUpdateDone = [this](update::TUpdateClient* client) {
        KeepUpdateInHistory();
        // The window was closed meanwhile: the run was the last thing to end.
        if (closed_) {
            delete splash_;
            QCoreApplication::quit();
            return;
        }
        if (!(client->RestartPending && client->ComponentFetched) && splash_ &&
            splash_->objectName() == QStringLiteral("frmUpdateProgress"))
            delete splash_;
        UpdateRunEnded(client);
    };
    c->OnProgressCancel = [this](update::TUpdateClient*, bool& cancel) {
        if (splash_ && splash_->Cancelled()) cancel = true;
    };
}

void TfrmMain::StartUpdate() {
    auto* c = UpdateClient1;
    if (ini_.SettingsIni) {
        // The demo and tests point the check at their own server.
        const QString url = Q(ini_.SettingsIni->ReadText("Quorlex", "UpdateURL", ""));
        c->URL = url.isEmpty() ? env_.updateUrl : url;
        // Another signing key: a minisign .pub file (beside the program when
        // relative) or the key's own line.
        const QString key = Q(ini_.SettingsIni->ReadText("Quorlex", "UpdateKey", "")).trimmed();
        QString keyText = key;
        if (!key.isEmpty()) {
            QFile file(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(key));
            if (file.open(QIODevice::ReadOnly)) keyText = QString::fromUtf8(file.read(4096));
        }
        c->PublicKey = keyText;
    }
    // Files of an update go to the program's folder or the game's, nowhere else.
    c->AppFolder =
        env_.programDir.isEmpty() ? QCoreApplication::applicationDirPath() : env_.programDir;
    c->AllowedFolders = {c->AppFolder};
    // The game's folder: the parent of its System folder, and of the player's own.
    for (const QString& system : {GameSystem(), SystemDir})
        if (!system.isEmpty())
            c->AllowedFolders << QFileInfo(QDir::cleanPath(system)).absolutePath();
    c->StartUpdate();
}

void TfrmMain::Checkforupdates1Click() {
    if (UpdateClient1->Running()) {
        prompter_.Information(QStringLiteral("An update check is already running."));
        return;
    }
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
        // A download can be stopped; the run ends at its next block.
        splash_->SetCancellable(true);
        splash_->show();
    }
    // A file that is not ours, or an updater that could not start, is told
    // whichever way the check began: it may be an attack, and it ends the run.
    if (statuscode == 11) {
        prompter_.Warning(
            QStringLiteral("The update could not be verified, so nothing of it was used.\n") +
            statusstr);
        ManualUpdateCheck = false;
        return;
    }
    if (statuscode == 9) {
        prompter_.Error(
            QStringLiteral("The update cannot be finished; Quorlex 2004 keeps running.\n") +
            statusstr);
        return;
    }
    if (!ManualUpdateCheck) return;
    // A folder that cannot be written, or a redirect not followed, is told
    // as that, not as a missing file.
    if (statuscode == 18 || statuscode == 19) {
        prompter_.Warning(statusstr);
        ManualUpdateCheck = false;
        return;
    }
    if (statuscode == 2) {
        // A download the player cancelled is told once, as cancelled, when the run ends.
        if (!(splash_ && splash_->Cancelled()))
            prompter_.Information(QStringLiteral("Update file not found\nCannot continue update"));
        ManualUpdateCheck = false;
    } else if (statuscode == 4) {
        prompter_.Information(QStringLiteral("No new version available"));
    }
}

void TfrmMain::UpdateClient1FileProgress(const QString& filename, int pos, int size) {
    if (!splash_) return;
    splash_->SetMaximum(size);
    splash_->SetPosition(pos);
    splash_->SetText(QStringLiteral("Downloading ") + QFileInfo(filename).fileName() +
                     QStringLiteral("..."));
    splash_->SetBytes(pos, size);
}

void TfrmMain::UpdateClient1AppRestart(bool& allow) {
    prompter_.Information(
        QStringLiteral("Press OK to finalize the update, and to restart the newest Quorlex 2004!"));
    // The restart ends the program: unsaved edits are asked about as closing asks.
    allow = MayEndWithEdits();
}

void TfrmMain::UpdateRunEnded(update::TUpdateClient* client) {
    // The end of a run that fetched something says what happened.
    if (client->RestartPending && client->ComponentFetched) return;
    const bool cancelled =
        !client->Failures.isEmpty() &&
        std::all_of(client->Failures.begin(), client->Failures.end(),
                    [](const QString& f) { return f.endsWith(QStringLiteral(": cancelled")); });
    if (cancelled) {
        prompter_.Information(QStringLiteral("The update was cancelled; nothing was replaced."));
    } else if (!client->Failures.isEmpty()) {
        prompter_.Warning(QStringLiteral("The update failed:\n") +
                          client->Failures.join(QLatin1Char('\n')));
    } else if (!client->FetchedFiles.isEmpty()) {
        QStringList names;
        for (const QString& f : client->FetchedFiles)
            names << QFileInfo(f).fileName();
        prompter_.Information(QStringLiteral("The update is done. Updated: ") +
                              names.join(QStringLiteral(", ")));
    }
}
} // namespace app
