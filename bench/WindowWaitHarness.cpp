// What the Packet Sniffer window's thread spends while its workers run: with one million
// synthetic packets stored, (1) while a save writes them, and (2) while closing waits for a
// Clear of all of them. Prints the window thread's CPU time over the wall time of each, in
// milliseconds of CPU per second.
//   build/bench/bench_window_waits
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "WindowHarness.h"
#include "capture/SyntheticCaptureSource.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketSnifferDialog.h"
#include "support/ScriptedDialogService.h"

namespace {

double threadCpuMilliseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void report(const char* what, double cpuMs, qint64 wallMs) {
    std::printf("%s: %lld ms, window thread CPU %.0f ms (%.0f ms per second)\n", what,
                static_cast<long long>(wallMs), cpuMs,
                wallMs > 0 ? cpuMs * 1000.0 / static_cast<double>(wallMs) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
    const qhs::bench::OffscreenRun run("window-waits");
    if (!run.ok()) {
        return 2;
    }
    const std::filesystem::path& folder = run.folder();
    QApplication application(argc, argv);
    qhs::ScriptedDialogService user;
    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "127.0.0.1");
    qhs::PublishedSettings published(settings);
    qhs::PacketSnifferDialog window(published, (folder / "waits.QHS").string(),
                                    qhs::bench::windowServices(qhs::PacketStoreCapacity));
    window.initialize();
    window.show();
    window.startCapture();
    qhs::bench::serveUntil(
        [&] { return window.table().storedCount() == qhs::PacketStoreCapacity; });
    window.stopCapture();
    qhs::bench::serveUntil([&] { return window.model().rowCount() == qhs::PacketStoreCapacity; });

    // The save writes once the picker and the options dialog are done: measured from there.
    const QString savedPath = QString::fromStdString((folder / "saved.txt").string());
    user.pickedPaths = {savedPath};
    window.saveList();
    qhs::bench::serveUntil([&] { return window.activeSaves() > 0; });
    QElapsedTimer wall;
    wall.start();
    double cpuBefore = threadCpuMilliseconds();
    qhs::bench::serveUntil([&] { return window.runningSaveThreads() == 0; });
    report("save of 1,000,000 packets", threadCpuMilliseconds() - cpuBefore, wall.elapsed());

    // Closing right after a Clear of a million waits for the clear thread.
    window.clearPackets();
    wall.restart();
    cpuBefore = threadCpuMilliseconds();
    window.closeWindow();
    report("close while a Clear of 1,000,000 runs", threadCpuMilliseconds() - cpuBefore,
           wall.elapsed());
    return 0;
}
