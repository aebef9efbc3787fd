#pragma once
#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace ui {
class Prompter;
}

namespace app {

class TfrmReadme final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmReadme)
public:
    TfrmReadme(const QString& programDir, ui::Prompter& prompter, QWidget* parent = nullptr);
    QPlainTextEdit* readmeMemo = nullptr;
    QPushButton* btnOk = nullptr;
};

} // namespace app
