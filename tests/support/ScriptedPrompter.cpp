#include "tests/support/ScriptedPrompter.h"

namespace testsupport {

ui::Answer ScriptedPrompter::Ask(ui::PromptKind kind, const QString& text, ui::Buttons buttons) {
    prompts.push_back({kind, text, buttons, std::nullopt});
    return Next(text, buttons);
}

ui::Answer ScriptedPrompter::AskDefault(ui::PromptKind kind, const QString& text, ui::Buttons buttons,
                                        ui::Answer defaultAnswer) {
    prompts.push_back({kind, text, buttons, defaultAnswer});
    return Next(text, buttons);
}

ui::Answer ScriptedPrompter::Next(const QString& text, ui::Buttons buttons) {
    if (buttons == ui::Buttons::Ok) return ui::Answer::Ok;
    if (answers_.empty()) {
        unexpected << text;
        return buttons == ui::Buttons::YesNo ? ui::Answer::No : ui::Answer::Cancel;
    }
    const auto a = answers_.front();
    answers_.pop_front();
    return a;
}

std::optional<QString> ScriptedPrompter::InputText(const QString& caption, const QString& prompt, const QString&) {
    inputDialogs << caption + QStringLiteral("|") + prompt;
    if (inputs_.empty()) {
        unexpected << prompt;
        return std::nullopt;
    }
    const QString t = inputs_.front();
    inputs_.pop_front();
    if (t.isNull()) return std::nullopt;
    return t;
}

std::optional<QString> ScriptedPrompter::OpenFile(const ui::FileDialog& d) {
    fileDialogs.push_back(d);
    if (files_.empty()) return std::nullopt;
    const QString f = files_.front();
    files_.pop_front();
    if (f.isNull()) return std::nullopt;
    return f;
}

std::optional<QString> ScriptedPrompter::SaveFile(const ui::FileDialog& d) { return OpenFile(d); }

std::optional<QString> ScriptedPrompter::ChooseDirectory(const QString& caption, const QString& start) {
    ui::FileDialog d;
    d.caption = caption;
    d.directory = start;
    return OpenFile(d);
}

QStringList ScriptedPrompter::Texts() const {
    QStringList out;
    for (const auto& p : prompts) out << p.text;
    return out;
}

} // namespace testsupport
