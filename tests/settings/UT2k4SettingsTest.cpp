#include <QtTest>
class T : public QObject { Q_OBJECT };
QTEST_MAIN(T)
#include "UT2k4SettingsTest.moc"
