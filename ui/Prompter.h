#pragma once
#include <QString>
#include <optional>

class QWidget;

namespace ui {

enum class PromptKind { Information, Warning, Error, Confirmation, Message, Stop };
enum class Buttons { Ok, YesNo, YesNoCancel, OkCancel };
enum class Answer { Ok, Yes, No, Cancel };

struct FileDialog {
    QString caption;
    QString directory;
    QString filter;           // "Ini files|*.ini" style, as the game tools write it
    QString defaultExtension; // save dialogs
    bool mustExist = false;
};

// Every message box, question and file dialog of the program goes through
// one of these, so the whole conversation with the user can be scripted.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual Answer Ask(PromptKind kind, const QString& text, Buttons buttons) = 0;
    // The same with the answer that Enter gives. A question whose Yes throws
    // edits away defaults to No, so a reflex Enter keeps them. Without an
    // override, the box's own default.
    virtual Answer AskDefault(PromptKind kind, const QString& text, Buttons buttons, Answer defaultAnswer) {
        (void)defaultAnswer;
        return Ask(kind, text, buttons);
    }
    virtual std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                             const QString& initial) = 0;
    virtual std::optional<QString> OpenFile(const FileDialog& dialog) = 0;
    virtual std::optional<QString> SaveFile(const FileDialog& dialog) = 0;
    virtual std::optional<QString> ChooseDirectory(const QString& caption, const QString& start) = 0;
    // An information box with a part the user may unfold; by default the
    // text alone.
    virtual void InformationWithDetails(const QString& text, const QString& details) {
        (void)details;
        Information(text);
    }

    void Information(const QString& text) { Ask(PromptKind::Information, text, Buttons::Ok); }
    void Warning(const QString& text) { Ask(PromptKind::Warning, text, Buttons::Ok); }
    void Error(const QString& text) { Ask(PromptKind::Error, text, Buttons::Ok); }
    void Message(const QString& text) { Ask(PromptKind::Message, text, Buttons::Ok); }
    void Stop(const QString& text) { Ask(PromptKind::Stop, text, Buttons::Ok); }
    bool Confirm(const QString& text) {
        return Ask(PromptKind::Confirmation, text, Buttons::YesNo) == Answer::Yes;
    }
    bool Confirm(const QString& text, Answer defaultAnswer) {
        return AskDefault(PromptKind::Confirmation, text, Buttons::YesNo, defaultAnswer) == Answer::Yes;
    }
};

// The real thing: QMessageBox and QFileDialog, parented to a window.
class MessageBoxPrompter final : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }
    Answer Ask(PromptKind kind, const QString& text, Buttons buttons) override;
    Answer AskDefault(PromptKind kind, const QString& text, Buttons buttons, Answer defaultAnswer) override;
    std::optional<QString> InputText(const QString& caption, const QString& prompt,
                                     const QString& initial) override;
    std::optional<QString> OpenFile(const FileDialog& dialog) override;
    std::optional<QString> SaveFile(const FileDialog& dialog) override;
    std::optional<QString> ChooseDirectory(const QString& caption, const QString& start) override;
    void InformationWithDetails(const QString& text, const QString& details) override;

private:
    Answer Show(PromptKind kind, const QString& text, Buttons buttons, std::optional<Answer> defaultAnswer);
    QWidget* parent_;
};

// "Ini files|*.ini|All|*" -> "Ini files (*.ini);;All (*)"
QString QtFileFilter(const QString& filter);

} // namespace ui
