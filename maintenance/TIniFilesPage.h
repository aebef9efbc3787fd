#pragma once
#include <QWidget>
#include <functional>

class QCheckBox;
class QLabel;
class QPlainTextEdit;

namespace ui {
struct PageContext;
}

namespace maintenance {

// The "Inifiles" tab: both INI files as plain text, side by side.
class TIniFilesPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TIniFilesPage)
public:
    // `reloadAllPages` brings every page in line with the files again.
    TIniFilesPage(ui::PageContext& ctx, std::function<void()> reloadAllPages, QWidget* parent = nullptr);

    // Raises when a file cannot be read; the message names the file.
    void LoadRawIniText();
    // The shell's refill; with titles after its save.
    void Refill(bool withTitles);

    QPlainTextEdit* reUser() const { return reUser_; }
    QPlainTextEdit* reUt2004() const { return reUt2004_; }

public slots:
    void btnSaveInisClick();
    void btnReloadInisClick();
    void cbWordWrapChange();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString UserPath() const;
    QString EnginePath() const;
    void Search(QPlainTextEdit* editor);

    ui::PageContext& ctx_;
    std::function<void()> reloadAllPages_;
    QPlainTextEdit* reUser_ = nullptr;
    QPlainTextEdit* reUt2004_ = nullptr;
    QLabel* lblUserIni_ = nullptr;
    QLabel* lblUT2004ini_ = nullptr;
    QCheckBox* cbWordWrap_ = nullptr;
};

// File bytes (Windows-1252, any line ends) to editor text and back (CR LF).
QString IniTextFromBytes(const QByteArray& bytes);
QByteArray IniBytesFromText(const QString& text);

} // namespace maintenance
