#pragma once
#include <QByteArray>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QCheckBox;
class QLabel;
class QPlainTextEdit;

namespace ui {
struct PageContext;
}

namespace maintenance {

class SaveHistory;

// A file as the raw page read it, line by line, so that a save can give back
// the bytes and line ends of every line the player left alone.
struct RawLine {
    QString text;    // as the editor shows it
    QByteArray body; // the file's bytes, without the line end
    QByteArray end;  // "\r\n", "\n", or empty for the last line
};
struct RawFile {
    bool utf8 = false;             // UTF-8 with a byte order mark; else Windows-1252
    QByteArray newline = "\r\n"; // for lines the player adds: the file's usual line end
    std::vector<RawLine> lines;
};
RawFile ParseRawFile(const QByteArray& bytes);
QByteArray RawFileBytes(const RawFile& file);

// The "Inifiles" tab: both INI files as plain text, side by side.
class TIniFilesPage final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TIniFilesPage)
public:
    // `reloadAllPages` brings every page in line with the files again.
    TIniFilesPage(ui::PageContext& ctx, std::function<void()> reloadAllPages, QWidget* parent = nullptr);

    // Fills both editors from the files, dropping edits. Raises when a file
    // cannot be read; the message names the file.
    void LoadRawIniText();
    // The shell's refill; with titles after its save. An editor whose text
    // the player edited keeps it.
    void Refill(bool withTitles);
    // Either editor's text differs from what it was filled with.
    bool RawTextChanged() const;
    // Writes each edited editor's text over its file, merged with what the
    // file holds now, so changes the other pages saved meanwhile stay.
    // Returns true when a file was written.
    bool WriteEditedText();

    QPlainTextEdit* reUser() const { return reUser_; }
    QPlainTextEdit* reUt2004() const { return reUt2004_; }

    // Saves the other pages' edits before the raw text is written, so the
    // reload that follows a raw save shows them instead of dropping them.
    void SetSavePages(std::function<bool()> savePages) { savePages_ = std::move(savePages); }
    // Where a raw save keeps the files' earlier versions.
    void SetHistory(SaveHistory* history) { history_ = history; }
    // The window's one way to write the player's files (guard, history, one
    // step); without it the page writes under its own history entry.
    using WriteFiles =
        std::function<bool(const QString& command, const std::function<bool()>& writes)>;
    void SetWriteFiles(WriteFiles writeFiles) { writeFiles_ = std::move(writeFiles); }

public slots:
    void btnSaveInisClick();
    void btnReloadInisClick();
    void cbWordWrapChange();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Side {
        QPlainTextEdit* editor = nullptr;
        RawFile base;        // the file as the editor was filled from it
        QString shown;       // the editor's text right after the fill
    };
    QString UserPath() const;
    QString EnginePath() const;
    QString PathOf(const Side& side) const;
    bool Edited(const Side& side) const;
    void Fill(Side& side, const QByteArray& bytes);
    // The merged text of an edited side, when it differs from the file.
    std::optional<QByteArray> MergedSide(Side& side);
    void Search(QPlainTextEdit* editor);

    ui::PageContext& ctx_;
    std::function<void()> reloadAllPages_;
    std::function<bool()> savePages_;
    WriteFiles writeFiles_;
    SaveHistory* history_ = nullptr;
    QPlainTextEdit* reUser_ = nullptr;
    QPlainTextEdit* reUt2004_ = nullptr;
    Side user_, engine_;
    QLabel* lblUserIni_ = nullptr;
    QLabel* lblUT2004ini_ = nullptr;
    QCheckBox* cbWordWrap_ = nullptr;
};

} // namespace maintenance
