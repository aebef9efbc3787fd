#pragma once
#include "ui/Prompter.h"

#include <QList>
#include <QString>
#include <deque>

namespace testsupport {

struct RecordedPrompt {
    ui::PromptKind kind;
    QString text;
    ui::Buttons buttons;
    std::optional<ui::Answer> defaultAnswer; // the answer Enter gives, when the asker chose one
};

// Answers questions from a script and records every prompt. A question with
// no scripted answer fails the test (QFAIL-like message) and answers Cancel/No.
class ScriptedPrompter final : public ui::Prompter {
public:
    ui::Answer Ask(ui::PromptKind kind, const QString& text, ui::Buttons buttons) override;
    ui::Answer AskDefault(ui::PromptKind kind, const QString& text, ui::Buttons buttons,
                          ui::Answer defaultAnswer) override;
    std::optional<QString> InputText(const QString&, const QString& prompt, const QString&) override;
    std::optional<QString> OpenFile(const ui::FileDialog& d) override;
    std::optional<QString> SaveFile(const ui::FileDialog& d) override;
    std::optional<QString> ChooseDirectory(const QString& caption, const QString& start) override;

    // Answers for questions (anything with more than an OK button), in order.
    void Answer(ui::Answer a) { answers_.push_back(a); }
    // A null QString answers Cancel.
    void AnswerFile(const QString& path) { files_.push_back(path); }
    // Text for the next input dialog; a null QString answers Cancel.
    void AnswerInput(const QString& text) { inputs_.push_back(text); }

    QList<RecordedPrompt> prompts;
    QList<ui::FileDialog> fileDialogs;
    QStringList inputDialogs; // "caption|prompt"
    QStringList unexpected; // questions asked without a scripted answer

    QStringList Texts() const;
    bool AllAnswersUsed() const { return answers_.empty() && files_.empty() && inputs_.empty(); }
    void Clear() { prompts.clear(); unexpected.clear(); }

private:
    ui::Answer Next(const QString& text, ui::Buttons buttons);
    std::deque<ui::Answer> answers_;
    std::deque<QString> files_;
    std::deque<QString> inputs_;
};

} // namespace testsupport
