#pragma once
#include <QDialog>

class QLineEdit;

namespace ui {
class Prompter;
}

namespace instantaction {

// Asks for the Maps folder when the one next to System is missing.
class TfrmDirEdit final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmDirEdit)
public:
    TfrmDirEdit(const QString& searched, ui::Prompter& prompter, QWidget* parent = nullptr);
    QString Path() const;
    QLineEdit* edtPath = nullptr;
};

} // namespace instantaction
