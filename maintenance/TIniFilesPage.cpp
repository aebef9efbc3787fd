#include "maintenance/TIniFilesPage.h"

#include "ini/Cp1252.h"
#include "ui/PageContext.h"
#include "ui/Prompter.h"

#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QSplitter>
#include <QTextDocument>
#include <QVBoxLayout>
#include <stdexcept>

namespace maintenance {

QString IniTextFromBytes(const QByteArray& bytes) {
    QStringList lines;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        lines << QString::fromStdString(ini::cp1252ToUtf8(std::string_view(line.constData(), line.size())));
    }
    return lines.join(QLatin1Char('\n'));
}

QByteArray IniBytesFromText(const QString& text) {
    QByteArray out;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0) out += "\r\n";
        out += QByteArray::fromStdString(ini::utf8ToCp1252(lines[i].toStdString()));
    }
    return out;
}

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

QString readText(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw std::runtime_error((QStringLiteral("Cannot read ") + path + QStringLiteral(": ") + f.errorString()).toStdString());
    return IniTextFromBytes(f.readAll());
}

void writeText(const QString& path, const QString& text) {
    QSaveFile f(path);
    f.setDirectWriteFallback(false);
    const QByteArray bytes = IniBytesFromText(text);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw std::runtime_error((QStringLiteral("Unable to write to ") + path).toStdString());
}

} // namespace

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
    reUser_ = editor("reUser", left);
    leftLayout->addWidget(lblUserIni_);
    leftLayout->addWidget(reUser_);
    auto* right = new QWidget(splitter);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    lblUT2004ini_ = new QLabel(QStringLiteral("UT2004.ini"), right);
    lblUT2004ini_->setObjectName(QStringLiteral("lblUT2004ini"));
    reUt2004_ = editor("reUt2004", right);
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

void TIniFilesPage::LoadRawIniText() {
    const QString user = readText(UserPath());
    const QString engine = readText(EnginePath());
    reUser_->setPlainText(user);
    reUt2004_->setPlainText(engine);
}

void TIniFilesPage::Refill(bool withTitles) {
    LoadRawIniText();
    if (!withTitles) return;
    lblUserIni_->setText(ctx_.state.CurrentUserIniName);
    lblUT2004ini_->setText(QStringLiteral("UT2004.ini"));
}

void TIniFilesPage::btnSaveInisClick() {
    if (!ctx_.prompter.Confirm(QStringLiteral("Are you sure you want to save the ini files?"))) return;
    writeText(UserPath(), editorText(reUser_));
    writeText(EnginePath(), editorText(reUt2004_));
    reloadAllPages_();
}

void TIniFilesPage::btnReloadInisClick() {
    if (!ctx_.prompter.Confirm(
            QStringLiteral("Reloading will undo all the changes you made. Are you sure you want to reload?")))
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
