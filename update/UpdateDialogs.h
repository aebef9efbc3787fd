#pragma once
#include <QDialog>
#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QTextBrowser;

namespace update {

// What's new: the text with OK and Cancel.
class TWhatsNewDialog final : public QDialog {
    Q_OBJECT
public:
    TWhatsNewDialog(const QStringList& text, const QString& caption, const QString& ok, const QString& cancel);
    QLabel* captionLabel = nullptr; // the caption again, above the text; none when empty
    QPlainTextEdit* memo = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
};

// The licence: the text, OK, and "accept" / "do not accept" (neither chosen at first).
class TLicenseDialog final : public QDialog {
    Q_OBJECT
public:
    TLicenseDialog(const QStringList& text, const QString& caption, const QString& ok, const QString& accept,
                   const QString& notAccept);
    bool Accepted() const;
    QLabel* captionLabel = nullptr;
    QPlainTextEdit* memo = nullptr;
    QPushButton* okButton = nullptr;
    QRadioButton* acceptRadio = nullptr;
    QRadioButton* notAcceptRadio = nullptr;
};

// An HTML page shown as it is: no scripts, nothing loaded by itself; a
// clicked link goes to the desktop's browser.
class THtmlDialog final : public QDialog {
    Q_OBJECT
public:
    explicit THtmlDialog(const QString& html);
    QTextBrowser* browser = nullptr;
};

} // namespace update
