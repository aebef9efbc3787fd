#include <QtTest>
class KeyBindsReadTest : public QObject {
    Q_OBJECT
private slots:
    void placeholder() {}
};
QTEST_MAIN(KeyBindsReadTest)
#include "KeyBindsReadTest.moc"
