#include "maintenance/TIniFilesPage.h"

#include "maintenance/SaveHistory.h"

#include "ini/Cp1252.h"
#include "platform/FileJournal.h"
#include "platform/Files.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QVBoxLayout>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace maintenance {

namespace {

// toPlainText() turns non-breaking spaces into spaces; the raw text keeps
// every character, with paragraph separators where the lines end.
QString editorText(const QPlainTextEdit* e) {
    QString raw = e->document()->toRawText();
    raw.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return raw;
}

QPlainTextEdit* editor(const char* name, QWidget* parent) {
    auto* e = new QPlainTextEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    e->setLineWrapMode(QPlainTextEdit::NoWrap);
    e->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    return e;
}

QByteArray readBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error((QStringLiteral("Cannot read ") + path + QStringLiteral(": ") + f.errorString()).toStdString());
    return f.readAll();
}

void writeBytes(const QString& path, const QByteArray& bytes) {
    QSaveFile f(path);
    f.setDirectWriteFallback(false);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw std::runtime_error((QStringLiteral("Unable to write to ") + path).toStdString());
}

const QByteArray kBom = "\xEF\xBB\xBF";

QString decode(const RawFile& f, const QByteArray& body) {
    if (f.utf8) return QString::fromUtf8(body);
    return QString::fromStdString(ini::cp1252ToUtf8(std::string_view(body.constData(), body.size())));
}

QByteArray encode(const RawFile& f, const QString& text) {
    if (f.utf8) return text.toUtf8();
    return QByteArray::fromStdString(ini::utf8ToCp1252(text.toStdString()));
}

QStringList textsOf(const std::vector<RawLine>& lines) {
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(lines.size()));
    for (const auto& l : lines) texts << l.text;
    return texts;
}

// For each line of `a`, the line of `b` it stays as (longest common
// subsequence), or -1 when it was changed or removed. Very large rewrites
// skip the table and count every line between the common ends as changed.
std::vector<int> matchLines(const QStringList& a, const QStringList& b) {
    std::vector<int> match(static_cast<size_t>(a.size()), -1);
    qsizetype head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        match[static_cast<size_t>(head)] = static_cast<int>(head);
        ++head;
    }
    qsizetype tailA = a.size(), tailB = b.size();
    while (tailA > head && tailB > head && a[tailA - 1] == b[tailB - 1]) {
        --tailA;
        --tailB;
        match[static_cast<size_t>(tailA)] = static_cast<int>(tailB);
    }
    const qsizetype n = tailA - head, m = tailB - head;
    if (n == 0 || m == 0 || n * m > 4'000'000) return match;
    // lcs[i * (m + 1) + j]: common length of a[head + i..] and b[head + j..].
    std::vector<quint16> lcs(static_cast<size_t>((n + 1) * (m + 1)), 0);
    const auto at = [m](qsizetype i, qsizetype j) { return static_cast<size_t>(i * (m + 1) + j); };
    for (qsizetype i = n - 1; i >= 0; --i)
        for (qsizetype j = m - 1; j >= 0; --j)
            lcs[at(i, j)] = a[head + i] == b[head + j]
                                ? static_cast<quint16>(lcs[at(i + 1, j + 1)] + 1)
                                : std::max(lcs[at(i + 1, j)], lcs[at(i, j + 1)]);
    for (qsizetype i = 0, j = 0; i < n && j < m;) {
        if (a[head + i] == b[head + j]) {
            match[static_cast<size_t>(head + i)] = static_cast<int>(head + j);
            ++i;
            ++j;
        } else if (lcs[at(i + 1, j)] >= lcs[at(i, j + 1)]) {
            ++i;
        } else {
            ++j;
        }
    }
    return match;
}

// Calls `chunk(b0, b1, o0, o1)` for every stretch between lines that stayed
// (base lines [b0, b1) became other lines [o0, o1)), then `kept(b, o)` for
// the line that ends it; the last stretch ends at the ends of both.
template <class Chunk, class Kept>
void walk(const std::vector<int>& match, int otherSize, Chunk chunk, Kept kept) {
    int b0 = 0, o0 = 0;
    for (int b = 0; b <= static_cast<int>(match.size()); ++b) {
        const bool end = b == static_cast<int>(match.size());
        if (!end && match[static_cast<size_t>(b)] < 0) continue;
        const int o = end ? otherSize : match[static_cast<size_t>(b)];
        chunk(b0, b, o0, o);
        if (end) break;
        kept(b, o);
        b0 = b + 1;
        o0 = o + 1;
    }
}

// The editor's text as file lines: a line the player left alone keeps its
// bytes and line end; a changed line keeps the line end of the line it
// replaced; an added line gets the file's usual one.
std::vector<RawLine> linesFromText(const RawFile& base, const QString& text) {
    const QStringList texts = text.split(QLatin1Char('\n'));
    std::vector<RawLine> out(static_cast<size_t>(texts.size()));
    const auto line = [&](int o) -> RawLine& { return out[static_cast<size_t>(o)]; };
    walk(
        matchLines(textsOf(base.lines), texts), static_cast<int>(texts.size()),
        [&](int b0, int b1, int o0, int o1) {
            for (int o = o0; o < o1; ++o) {
                const int b = b0 + (o - o0);
                line(o) = {texts[o], encode(base, texts[o]), b < b1 ? base.lines[static_cast<size_t>(b)].end : QByteArray()};
            }
        },
        [&](int b, int o) { line(o) = base.lines[static_cast<size_t>(b)]; });
    for (size_t o = 0; o < out.size(); ++o) {
        const bool last = o + 1 == out.size();
        if (last) out[o].end.clear();
        else if (out[o].end.isEmpty()) out[o].end = base.newline;
    }
    return out;
}

bool sameTexts(const std::vector<RawLine>& lines, int from, int to, const std::vector<RawLine>& other, int oFrom, int oTo) {
    if (to - from != oTo - oFrom) return false;
    for (int i = 0; i < to - from; ++i)
        if (lines[static_cast<size_t>(from + i)].text != other[static_cast<size_t>(oFrom + i)].text) return false;
    return true;
}

// Three-way merge by lines: `base` is what the editor was filled from,
// `ours` the editor's lines, `theirs` the file now. A stretch changed on one
// side only takes that side; a stretch both changed differently is a
// conflict, resolved for `ours` when `oursWins`. Returns the conflict count.
int merge(const RawFile& base, const std::vector<RawLine>& ours, const RawFile& theirs, bool oursWins,
          std::vector<RawLine>& out) {
    const QStringList baseTexts = textsOf(base.lines);
    const std::vector<int> toOurs = matchLines(baseTexts, textsOf(ours));
    const std::vector<int> toTheirs = matchLines(baseTexts, textsOf(theirs.lines));
    // Lines kept on both sides anchor the merge.
    std::vector<int> anchors(toOurs.size(), -1);
    for (size_t b = 0; b < toOurs.size(); ++b)
        if (toOurs[b] >= 0 && toTheirs[b] >= 0) anchors[b] = static_cast<int>(b);
    int conflicts = 0;
    int o0 = 0, t0 = 0;
    walk(
        anchors, static_cast<int>(base.lines.size()),
        [&](int b0, int b1, int, int) {
            const int o1 = b1 < static_cast<int>(toOurs.size()) ? toOurs[static_cast<size_t>(b1)] : static_cast<int>(ours.size());
            const int t1 = b1 < static_cast<int>(toTheirs.size()) ? toTheirs[static_cast<size_t>(b1)] : static_cast<int>(theirs.lines.size());
            const bool oursChanged = !sameTexts(ours, o0, o1, base.lines, b0, b1);
            const bool theirsChanged = !sameTexts(theirs.lines, t0, t1, base.lines, b0, b1);
            bool takeOurs = oursChanged && !theirsChanged;
            if (oursChanged && theirsChanged && !sameTexts(ours, o0, o1, theirs.lines, t0, t1)) {
                ++conflicts;
                takeOurs = oursWins;
            }
            if (takeOurs)
                out.insert(out.end(), ours.begin() + o0, ours.begin() + o1);
            else
                out.insert(out.end(), theirs.lines.begin() + t0, theirs.lines.begin() + t1);
            o0 = o1;
            t0 = t1;
        },
        [&](int b, int) {
            const RawLine& o = ours[static_cast<size_t>(toOurs[static_cast<size_t>(b)])];
            RawLine line = theirs.lines[static_cast<size_t>(toTheirs[static_cast<size_t>(b)])];
            // The player may have joined the last line to the file's end.
            if (o.end != base.lines[static_cast<size_t>(b)].end) line.end = o.end;
            out.push_back(line);
            ++o0;
            ++t0;
        });
    // Every line but the last ends, whichever side it came from.
    for (size_t i = 0; i + 1 < out.size(); ++i)
        if (out[i].end.isEmpty()) out[i].end = theirs.newline;
    return conflicts;
}

} // namespace

RawFile ParseRawFile(const QByteArray& bytes) {
    RawFile file;
    file.utf8 = bytes.startsWith(kBom);
    const QByteArray content = file.utf8 ? bytes.mid(kBom.size()) : bytes;
    int crlf = 0, lf = 0;
    for (QByteArray body : content.split('\n')) {
        if (!file.lines.empty()) {
            // The previous line ended at this split.
            QByteArray& prev = file.lines.back().body;
            const bool cr = prev.endsWith('\r');
            if (cr) prev.chop(1);
            file.lines.back().end = cr ? "\r\n" : "\n";
            file.lines.back().text = decode(file, prev);
            ++(cr ? crlf : lf);
        }
        file.lines.push_back({QString(), body, QByteArray()});
    }
    file.lines.back().text = decode(file, file.lines.back().body);
    if (lf > crlf) file.newline = "\n";
    return file;
}

QByteArray RawFileBytes(const RawFile& file) {
    QByteArray out = file.utf8 ? kBom : QByteArray();
    for (const auto& line : file.lines) out += line.body + line.end;
    return out;
}

TIniFilesPage::TIniFilesPage(ui::PageContext& ctx, std::function<void()> reloadAllPages, QWidget* parent)
    : QWidget(parent), ctx_(ctx), reloadAllPages_(std::move(reloadAllPages)) {
    setObjectName(QStringLiteral("tabIniFiles"));
    auto* layout = new QVBoxLayout(this);
    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    auto* left = new QWidget(splitter);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    lblUserIni_ = new QLabel(QStringLiteral("User.ini"), left);
    lblUserIni_->setObjectName(QStringLiteral("lblUserIni"));
    reUser_ = user_.editor = editor("reUser", left);
    leftLayout->addWidget(lblUserIni_);
    leftLayout->addWidget(reUser_);
    auto* right = new QWidget(splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    lblUT2004ini_ = new QLabel(QStringLiteral("UT2004.ini"), right);
    lblUT2004ini_->setObjectName(QStringLiteral("lblUT2004ini"));
    reUt2004_ = engine_.editor = editor("reUt2004", right);
    rightLayout->addWidget(lblUT2004ini_);
    rightLayout->addWidget(reUt2004_);
    splitter->addWidget(left);
    splitter->addWidget(right);
    layout->addWidget(splitter, 1);

    auto* buttons = new QHBoxLayout;
    auto* save = new QPushButton(QStringLiteral("Save"), this);
    save->setObjectName(QStringLiteral("btnSaveInis"));
    auto* reload = new QPushButton(QStringLiteral("Reload"), this);
    reload->setObjectName(QStringLiteral("btnReloadInis"));
    cbWordWrap_ = new QCheckBox(QStringLiteral("Wordwrap"), this);
    cbWordWrap_->setObjectName(QStringLiteral("cbWordWrap"));
    buttons->addWidget(save);
    buttons->addWidget(reload);
    buttons->addWidget(cbWordWrap_);
    buttons->addStretch();
    layout->addLayout(buttons);
    connect(save, &QPushButton::clicked, this, [this] { ctx_.guarded([this] { btnSaveInisClick(); }); });
    connect(reload, &QPushButton::clicked, this, [this] { ctx_.guarded([this] { btnReloadInisClick(); }); });
    connect(cbWordWrap_, &QCheckBox::toggled, this, &TIniFilesPage::cbWordWrapChange);
    reUser_->installEventFilter(this);
    reUt2004_->installEventFilter(this);
}

QString TIniFilesPage::UserPath() const { return ctx_.state.SystemDir + ctx_.state.CurrentUserIniName; }
QString TIniFilesPage::EnginePath() const { return ctx_.state.SystemDir + QStringLiteral("UT2004.ini"); }

QString TIniFilesPage::PathOf(const Side& side) const { return &side == &user_ ? UserPath() : EnginePath(); }

void TIniFilesPage::Fill(Side& side, const QByteArray& bytes) {
    side.base = ParseRawFile(bytes);
    side.editor->setPlainText(textsOf(side.base.lines).join(QLatin1Char('\n')));
    side.shown = editorText(side.editor);
    // Lines count as the player's only when he changes them: take them as
    // the editor shows them, should it show a character differently.
    const QStringList shownLines = side.shown.split(QLatin1Char('\n'));
    if (shownLines.size() == static_cast<qsizetype>(side.base.lines.size()))
        for (size_t i = 0; i < side.base.lines.size(); ++i) side.base.lines[i].text = shownLines[static_cast<qsizetype>(i)];
}

bool TIniFilesPage::Edited(const Side& side) const { return editorText(side.editor) != side.shown; }

bool TIniFilesPage::RawTextChanged() const { return Edited(user_) || Edited(engine_); }

void TIniFilesPage::LoadRawIniText() {
    const QByteArray user = readBytes(UserPath());
    const QByteArray engine = readBytes(EnginePath());
    Fill(user_, user);
    Fill(engine_, engine);
}

void TIniFilesPage::Refill(bool withTitles) {
    for (Side* side : {&user_, &engine_})
        if (!Edited(*side)) Fill(*side, readBytes(PathOf(*side)));
    if (!withTitles) return;
    lblUserIni_->setText(ctx_.state.CurrentUserIniName);
    lblUT2004ini_->setText(QStringLiteral("UT2004.ini"));
}

// The file may have changed since the editor was filled: the other pages
// save into the same files. Their changes and the player's text are merged
// line by line; only where both changed the same lines is he asked.
std::optional<QByteArray> TIniFilesPage::MergedSide(Side& side) {
    if (!Edited(side)) return std::nullopt;
    const QString path = PathOf(side);
    const QByteArray current = readBytes(path);
    const RawFile theirs = ParseRawFile(current);
    const std::vector<RawLine> ours = linesFromText(side.base, editorText(side.editor));
    RawFile merged;
    merged.utf8 = side.base.utf8;
    if (merge(side.base, ours, theirs, true, merged.lines) > 0 &&
        !ctx_.prompter.Confirm(QFileInfo(path).fileName() +
                               QStringLiteral(" was also changed by the other pages, in lines you edited "
                                              "here.\nDo you want to keep your text for those lines?\n(No keeps "
                                              "what the other pages saved there; the rest of both is kept.)"))) {
        merged.lines.clear();
        merge(side.base, ours, theirs, false, merged.lines);
    }
    const QByteArray bytes = RawFileBytes(merged);
    if (bytes == current) {
        Fill(side, bytes);
        return std::nullopt;
    }
    return bytes;
}

bool TIniFilesPage::WriteEditedText() {
    // Both texts go into their files as one crash-safe step, as a save's do.
    std::vector<std::pair<Side*, QByteArray>> texts;
    for (Side* side : {&user_, &engine_})
        if (auto bytes = MergedSide(*side)) texts.emplace_back(side, *bytes);
    if (texts.empty()) return false;
    QTemporaryDir stage;
    std::vector<std::pair<QString, QString>> replacements;
    for (const auto& [side, bytes] : texts) {
        const QString path = PathOf(*side);
        if (platform::IsReadOnlyFile(path))
            throw std::runtime_error((QStringLiteral("Unable to write to ") + path +
                                      QStringLiteral(" (the file is read-only)"))
                                         .toStdString());
        const QString staged = stage.filePath(QFileInfo(path).fileName());
        writeBytes(staged, bytes);
        // The file keeps its own mode: a copy is never taken as more private than it is.
        QFile::setPermissions(staged,
                              QFile::permissions(path) | QFile::WriteOwner | QFile::ReadOwner);
        replacements.emplace_back(staged, path);
    }
    if (!stage.isValid() || !platform::journal::Replace(replacements))
        throw std::runtime_error((QStringLiteral("Unable to write to ") +
                                  PathOf(*texts.front().first) + QStringLiteral(" (") +
                                  QString::fromLocal8Bit(std::strerror(errno)) + QLatin1Char(')'))
                                     .toStdString());
    for (const auto& [side, bytes] : texts)
        Fill(*side, bytes);
    return true;
}

void TIniFilesPage::btnSaveInisClick() {
    if (!ctx_.prompter.Confirm(QStringLiteral("Are you sure you want to save the ini files?")))
        return;
    if (savePages_ && !savePages_()) return; // the failing saver has told why; the raw text stays unsaved
    const auto write = [this] {
        WriteEditedText();
        return true;
    };
    if (writeFiles_) {
        if (!writeFiles_(QStringLiteral("Save the ini files"), write)) return;
    } else {
        HistoryScope history(history_, QStringLiteral("Save the ini files"),
                             {UserPath(), EnginePath()});
        write();
    }
    reloadAllPages_();
}

void TIniFilesPage::btnReloadInisClick() {
    if (!ctx_.prompter.Confirm(
            QStringLiteral("Reloading will undo all the changes you made. Are you sure you want to reload?"),
            ui::Answer::No))
        return;
    LoadRawIniText();
    reloadAllPages_();
    ctx_.prompter.Information(QStringLiteral("The ini files have been reloaded"));
}

void TIniFilesPage::cbWordWrapChange() {
    const auto mode = cbWordWrap_->isChecked() ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap;
    reUser_->setLineWrapMode(mode);
    reUt2004_->setLineWrapMode(mode);
}

bool TIniFilesPage::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == reUser_ || watched == reUt2004_) && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const auto mods = key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
        if (key->key() == Qt::Key_F && mods == Qt::ControlModifier) {
            ctx_.guarded([&] { Search(static_cast<QPlainTextEdit*>(watched)); });
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The whole text is searched: a match past the first 99999 characters is
// still a match, and reporting it "not found" would be wrong.
void TIniFilesPage::Search(QPlainTextEdit* editor) {
    const auto text = ctx_.prompter.InputText(QStringLiteral("Search for"), QStringLiteral("Text"), QString());
    if (!text || text->isEmpty()) return;
    const QString all = editorText(editor);
    const auto at = all.indexOf(*text, 0, Qt::CaseInsensitive);
    if (at < 0) {
        ctx_.prompter.Message(*text + QStringLiteral(" not found"));
        return;
    }
    QTextCursor cursor(editor->document());
    cursor.setPosition(static_cast<int>(at));
    cursor.setPosition(static_cast<int>(at + text->size()), QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
}

} // namespace maintenance
