#pragma once
#include <QDialog>
#include <QUrl>

class QPushButton;
class QTextBrowser;

namespace ui {
class Prompter;
}

namespace app {

// The user's guide that ships beside the program (guide/UserGuide.md), with
// its pictures; links to the web open in the desktop's browser.
class TfrmGuide final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmGuide)
public:
    TfrmGuide(const QString& programDir, QWidget* parent = nullptr);
    // False when the guide is missing or unreadable: the dialog is empty then.
    bool Loaded() const { return loaded_; }
    static QString GuidePath(const QString& programDir);
    QTextBrowser* browser = nullptr;
    QPushButton* btnClose = nullptr;

private:
    void FitPictures();
    QUrl guideUrl_;
    bool loaded_ = false;
};

} // namespace app
