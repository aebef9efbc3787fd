#pragma once
#include <QApplication>
#include <QTimer>
#include <functional>

namespace testsupport {

// Runs `drive` on the next modal dialog of type Dialog once it is open (a
// modal dialog blocks the caller, so the test has to act from the event loop).
template <class Dialog>
void WhenModal(std::function<void(Dialog*)> drive) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, drive] {
        if (auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            drive(d);
        }
    });
    timer->start();
}

} // namespace testsupport
