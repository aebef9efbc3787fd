#include "ui/Prompter.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>

namespace ui {

Answer MessageBoxPrompter::Ask(PromptKind kind, const QString& text, Buttons buttons) {
    return Show(kind, text, buttons, std::nullopt);
}

Answer MessageBoxPrompter::AskDefault(PromptKind kind, const QString& text, Buttons buttons, Answer defaultAnswer) {
    return Show(kind, text, buttons, defaultAnswer);
}

Answer MessageBoxPrompter::Show(PromptKind kind, const QString& text, Buttons buttons,
                                std::optional<Answer> defaultAnswer) {
    QMessageBox box(parent_);
    box.setWindowTitle(QStringLiteral("Quorlex 2004"));
    box.setText(text);
    switch (kind) {
    case PromptKind::Information: box.setIcon(QMessageBox::Information); break;
    case PromptKind::Warning: box.setIcon(QMessageBox::Warning); break;
    case PromptKind::Error:
    case PromptKind::Stop: box.setIcon(QMessageBox::Critical); break;
    case PromptKind::Confirmation: box.setIcon(QMessageBox::Question); break;
    case PromptKind::Message: box.setIcon(QMessageBox::NoIcon); break;
    }
    switch (buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case Buttons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    }
    if (defaultAnswer) {
        const QMessageBox::StandardButton wanted = *defaultAnswer == Answer::Yes  ? QMessageBox::Yes
                                                   : *defaultAnswer == Answer::No ? QMessageBox::No
                                                   : *defaultAnswer == Answer::Ok ? QMessageBox::Ok
                                                                                  : QMessageBox::Cancel;
        if (box.button(wanted)) box.setDefaultButton(wanted);
    }
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Ok: return Answer::Ok;
    default: return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
}

void MessageBoxPrompter::InformationWithDetails(const QString& text, const QString& details) {
    if (details.isEmpty()) {
        Information(text);
        return;
    }
    QMessageBox box(parent_);
    box.setWindowTitle(QStringLiteral("Quorlex 2004"));
    box.setIcon(QMessageBox::Information);
    box.setText(text);
    box.setDetailedText(details);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

std::optional<QString> MessageBoxPrompter::InputText(const QString& caption, const QString& prompt,
                                                     const QString& initial) {
    bool ok = false;
    const QString text =
        QInputDialog::getText(parent_, caption, prompt, QLineEdit::Normal, initial, &ok);
    if (!ok) return std::nullopt;
    return text;
}

QString QtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        out << parts[i] + QStringLiteral(" (") +
                   QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
                   QLatin1Char(')');
    return out.join(QStringLiteral(";;"));
}

std::optional<QString> MessageBoxPrompter::OpenFile(const FileDialog& d) {
    const QString f = QFileDialog::getOpenFileName(parent_, d.caption, d.directory, QtFileFilter(d.filter));
    if (f.isEmpty()) return std::nullopt;
    return f;
}

std::optional<QString> MessageBoxPrompter::SaveFile(const FileDialog& d) {
    QFileDialog dlg(parent_, d.caption, d.directory, QtFileFilter(d.filter));
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setDefaultSuffix(d.defaultExtension);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return std::nullopt;
    return dlg.selectedFiles().constFirst();
}

std::optional<QString> MessageBoxPrompter::ChooseDirectory(const QString& caption, const QString& start) {
    const QString d = QFileDialog::getExistingDirectory(parent_, caption, start);
    if (d.isEmpty()) return std::nullopt;
    return d;
}

} // namespace ui
