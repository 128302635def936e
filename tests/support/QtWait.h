#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <cstdint>
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

// Counts the timeouts of the timers a widget holds as members, so a test can wait until a
// widget's polling timer has looked again rather than for a guessed time. Window thread.
class MemberTimerTicks : public QObject {
  public:
    template <typename Owner>
    explicit MemberTimerTicks(const Owner& owner)
        : begin_(reinterpret_cast<std::uintptr_t>(&owner)), end_(begin_ + sizeof(Owner)) {
        QCoreApplication::instance()->installEventFilter(this);
    }
    int ticks() const { return ticks_; }

  protected:
    // Counts a timeout as it arrives, before the timer's slot runs; waitUntil looks only
    // between events, so by then the slot has run too.
    bool eventFilter(QObject* watched, QEvent* event) override {
        const auto at = reinterpret_cast<std::uintptr_t>(watched);
        if (event->type() == QEvent::Timer && at >= begin_ && at < end_ &&
            qobject_cast<QTimer*>(watched) != nullptr) {
            ++ticks_;
        }
        return false;
    }

  private:
    std::uintptr_t begin_;
    std::uintptr_t end_;
    int ticks_ = 0;
};

}  // namespace qhs
