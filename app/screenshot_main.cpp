// Starts the real main window and saves one picture per tab, for looking at
// what a player sees. Usage: quorlex2004-screenshot OUTDIR
#include "app/TfrmMain.h"
#include "app/TfrmReview.h"
#include "ui/Prompter.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QSlider>
#include <QTimer>
#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>
#include <QTest>
#include <cstdio>

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
