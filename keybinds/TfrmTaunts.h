#pragma once
#include <QDialog>
#include <QStringList>

class QPlainTextEdit;

namespace keybinds {

// The voice and gesture commands, for copying into key fields.
QStringList TauntReferenceLines();

// Modeless reference window; closing hides it, the main window destroys it.
class TfrmTaunts final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmTaunts)
public:
    explicit TfrmTaunts(QWidget* parent);
    QPlainTextEdit* dxMemo1 = nullptr;
};

} // namespace keybinds
