#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <list>
#include <thread>

namespace qhs {

// A window's short-lived worker threads (Clear, save, name look-ups): each runs one piece of
// work and is joined on the window's thread as soon as it ends, so none outlives its work.
// Everything here is called on the window's thread.
class OperationThreads : public QObject {
    Q_OBJECT

  public:
    explicit OperationThreads(QObject* parent = nullptr) : QObject(parent) {}
    // Waits for every thread, serving the window meanwhile.
    ~OperationThreads() override;

    void start(std::function<void()> work);
    int running() const { return static_cast<int>(threads_.size()); }

    // Serves the window's events, sleeping between them, until `done()` holds; it is looked
    // at again whenever a thread ends and every `recheck`.
    void waitUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds recheck = std::chrono::milliseconds(5));
    void waitForAll() {
        waitUntil([this] { return threads_.empty(); });
    }

  signals:
    void threadEnded();

  private:
    std::list<std::jthread> threads_;
};

}  // namespace qhs
