// Starts the real main window and saves one picture per tab, for looking at
// what a player sees. Usage: quorlex2004-screenshot OUTDIR
#include "app/TfrmInit.h"
#include "app/TfrmMain.h"
#include "app/TfrmReview.h"
#include "ini/IniFile.h"
#include "platform/Installs.h"
#include "platform/Registry.h"
#include "ui/Prompter.h"
#include "ui/TfrmProgress.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <functional>

namespace {

// Nobody is there to answer: say what would have been asked and go on.
class LoggingPrompter final : public ui::Prompter {
public:
    ui::Answer Ask(ui::PromptKind, const QString& text, ui::Buttons buttons) override {
        std::fprintf(stderr, "prompt: %s\n", qPrintable(text));
        return buttons == ui::Buttons::Ok ? ui::Answer::Ok : ui::Answer::No;
    }
    std::optional<QString> InputText(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    std::optional<QString> OpenFile(const ui::FileDialog&) override { return std::nullopt; }
    std::optional<QString> SaveFile(const ui::FileDialog&) override { return std::nullopt; }
    std::optional<QString> ChooseDirectory(const QString&, const QString&) override { return std::nullopt; }
};

// A window as it opens, then shrunk to its smallest size: what a player
// sees at first and what is left at the least room.
bool SaveBothSizes(QWidget* window, const QString& out, const QString& name) {
    QTest::qWait(150);
    const QString file = QStringLiteral("%1/%2.png").arg(out, name);
    if (!window->grab().save(file)) return false;
    std::printf("%s\n", qPrintable(file));
    const QSize smallest = window->minimumSizeHint().expandedTo(window->minimumSize());
    if (smallest.isValid() && smallest != window->size()) {
        window->resize(smallest);
        QTest::qWait(150);
        const QString min = QStringLiteral("%1/min-%2.png").arg(out, name);
        if (!window->grab().save(min)) return false;
        std::printf("%s\n", qPrintable(min));
    }
    return true;
}

// Opens a modal dialog through `open` and saves it once it shows.
bool SaveModal(const QString& out, const QString& name, const std::function<void()>& open) {
    bool saved = false;
    QTimer::singleShot(300, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            saved = SaveBothSizes(dialog, out, name);
            dialog->reject();
        }
    });
    open();
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    LoggingPrompter prompter;
    app::TfrmMain w(app::DefaultStartupEnvironment(prompter));
    if (w.QuitRequested()) return 1;
    w.show();
    // Time for the banner feed and its picture to arrive.
    QTest::qWait(2500);
    auto* tabs = w.PageCtrl();
    // Each tab at the default size, then at the window's minimum size.
    for (const bool minimum : {false, true}) {
        if (minimum) {
            w.resize(w.minimumSize());
            QTest::qWait(200);
        }
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QTest::qWait(150);
            const QString file = QStringLiteral("%1/%2%3-%4.png")
                                     .arg(out, minimum ? QStringLiteral("min-") : QString())
                                     .arg(i + 1)
                                     .arg(tabs->widget(i)->objectName());
            if (!w.grab().save(file)) return 1;
            std::printf("%s\n", qPrintable(file));
        }
    }
    // Each menu as it drops down.
    for (QMenu* menu : w.menuBar()->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        if (menu->objectName().isEmpty()) continue;
        menu->popup(w.mapToGlobal(QPoint(0, 0)));
        QTest::qWait(100);
        const QString file = QStringLiteral("%1/menu-%2.png").arg(out, menu->objectName());
        if (!menu->grab().save(file)) return 1;
        menu->hide();
        std::printf("%s\n", qPrintable(file));
    }
    // The dialogs a player meets.
    if (!SaveModal(out, QStringLiteral("dialog-options"), [&] { w.UT2k4Dir1Click(); })) return 1;
    if (!SaveModal(out, QStringLiteral("dialog-about"), [&] { w.Abouty1Click(); })) return 1;
    if (!SaveModal(out, QStringLiteral("dialog-backupmanager"), [&] { w.Backupmanager1Click(); })) return 1;
    {
        // The setup of a first start: nothing remembered yet.
        QTemporaryDir scratch;
        const auto home = platform::HomeEnvironment::FromProcess();
        ini::TIniFile fresh((scratch.path() + QStringLiteral("/Quorlex2004.ini")).toStdString());
        auto installs = platform::FindInstalls(home, nullptr, platform::NativeInstallCandidates(QDir::homePath()));
        if (installs.empty()) {
            // This machine has no game: show the list as it looks with the demo found.
            platform::Install demo;
            demo.kind = platform::InstallKind::Native;
            demo.label = QStringLiteral("Native Linux");
            demo.gameDir = QDir::cleanPath(w.GameSystem() + QStringLiteral(".."));
            demo.playerDir = demo.GameSystemDir();
            installs.push_back(demo);
        }
        app::TfrmInit setup(std::move(installs), home, fresh, &w);
        setup.show();
        if (!SaveBothSizes(&setup, out, QStringLiteral("dialog-setup"))) return 1;
    }
    {
        w.auntlist1Click();
        QTest::qWait(150);
        QWidget* taunts = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (top->isVisible() && top != &w && top->inherits("keybinds::TfrmTaunts")) taunts = top;
        if (!taunts || !SaveBothSizes(taunts, out, QStringLiteral("dialog-taunts"))) return 1;
        taunts->close();
    }
    {
        // The download window of an update, half way through a file.
        ui::TfrmProgress download(&w);
        download.SetText(QStringLiteral("Downloading quorlex2004.exe_NEW"));
        download.SetMaximum(3400000);
        download.SetPosition(1700000);
        download.SetBytes(1700000, 3400000);
        download.SetCancellable(true);
        download.show();
        if (!SaveBothSizes(&download, out, QStringLiteral("dialog-download"))) return 1;
    }
    {
        // The single-key editor with a key caught.
        tabs->setCurrentIndex(0);
        w.resize(1180, 760);
        if (auto* own = w.findChild<QLineEdit*>(QStringLiteral("edtCharNoCheck"))) {
            own->setFocus();
            QTest::keyClick(own, Qt::Key_M);
            QTest::qWait(100);
            QWidget* box = own->parentWidget();
            const QString file = QStringLiteral("%1/keyeditor.png").arg(out);
            if (!box->grab().save(file)) return 1;
            std::printf("%s\n", qPrintable(file));
        }
    }
    // An edit, the review of what a save writes, the save, and the history.
    w.resize(1180, 760);
    tabs->setCurrentIndex(0);
    if (auto* space = w.findChild<QLineEdit*>(QStringLiteral("edtSpace"))) space->setText(QStringLiteral("Jump | Taunt"));
    if (auto* fov = w.findChild<QSlider*>(QStringLiteral("tbVOF"))) fov->setValue(100);
    {
        app::TfrmReview review(QStringLiteral("Review changes"), w.PendingReview(), true, &w);
        review.show();
        QTest::qWait(150);
        const QString file = QStringLiteral("%1/dialog-review.png").arg(out);
        if (!review.grab().save(file)) return 1;
        std::printf("%s\n", qPrintable(file));
    }
    w.Save1Click();
    bool grabbed = false;
    QTimer::singleShot(300, [&] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            const QString file = QStringLiteral("%1/dialog-history.png").arg(out);
            grabbed = dialog->grab().save(file);
            std::printf("%s\n", qPrintable(file));
            dialog->close();
        }
    });
    w.Savehistory1Click();
    return grabbed ? 0 : 1;
}
