#pragma once
#include <QDialog>

class QLabel;

namespace app {

class TfrmAbout final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TfrmAbout)
public:
    explicit TfrmAbout(QWidget* parent = nullptr);
    QLabel* lblVersion = nullptr;
    QLabel* Label3 = nullptr; // home page
    QLabel* Label5 = nullptr; // e-mail
    QLabel* Label7 = nullptr; // chat

public slots:
    void Label3Click();
    void Label5Click();
    void Label7Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
};

} // namespace app
