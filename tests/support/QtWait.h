#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace qhs {

// Serves the window's events until `done` holds; false when it does not within the time.
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

}  // namespace qhs
