#pragma once

#include <stdlib.h>

#include <QByteArray>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "capture/SyntheticCaptureSource.h"
#include "platform/LinuxServices.h"

// What the harnesses that open a window share.
namespace qhs::bench {

// The Linux services; with a count, a synthetic capture of that many datagrams in place of
// the live one.
inline SystemServices windowServices(int syntheticDatagrams = -1) {
    SystemServices services = linuxServices();
    if (syntheticDatagrams >= 0) {
        services.captureSource = [syntheticDatagrams] {
            return std::unique_ptr<CaptureSource>(
                std::make_unique<SyntheticCaptureSource>(syntheticDatagrams));
        };
    }
    return services;
}

// A kB figure of /proc/self/status ("VmRSS:" now, "VmHWM:" at its peak), or 0.
inline long statusKilobytes(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(field.size()));
        }
    }
    return 0;
}

// The process's resident memory now, in kB.
inline long residentKilobytes() {
    return statusKilobytes("VmRSS:");
}

// The longest gap between ticks of a 5 ms timer on the window thread: the longest the window
// was unresponsive while it ran.
class StallWatch {
  public:
    StallWatch() {
        ticks_.setInterval(5);
        QObject::connect(&ticks_, &QTimer::timeout,
                         [this] { longest_ = std::max(longest_, sinceTick_.restart()); });
        sinceTick_.start();
        ticks_.start();
    }
    void stop() { ticks_.stop(); }
    long long longestMilliseconds() const { return longest_; }

  private:
    QElapsedTimer sinceTick_;
    QTimer ticks_;
    qint64 longest_ = 0;
};

// Serves the window's events until `done` holds, sleeping between them (a 10 ms re-check).
template <typename Done>
void serveUntil(Done done) {
    QEventLoop loop;
    QTimer check;
    check.setInterval(10);
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start();
    if (!done()) {
        loop.exec();
    }
}

// A scratch folder for one run, removed at its end. Made before the QApplication: it is also
// the offscreen platform's runtime folder, which Qt wants when there is no session.
class OffscreenRun {
  public:
    explicit OffscreenRun(const std::string& name) {
        std::string pattern = "/tmp/qhs-" + name + "-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) {
            folder_ = pattern;
        }
        qputenv("QT_QPA_PLATFORM", "offscreen");
        qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder_.string()));
    }
    ~OffscreenRun() {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    OffscreenRun(const OffscreenRun&) = delete;
    OffscreenRun& operator=(const OffscreenRun&) = delete;

    bool ok() const { return !folder_.empty(); }
    const std::filesystem::path& folder() const { return folder_; }

  private:
    std::filesystem::path folder_;
};

}  // namespace qhs::bench
