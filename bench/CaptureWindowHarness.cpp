// Pushes one million synthetic datagrams through the capture path with the Packet Sniffer
// window open (offscreen) and reports: datagrams per second through the loop, the time until
// the list shows all of them, the longest stall of the window's event loop, the memory per
// stored packet beyond its block, and how long a Clear of one million takes.
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <string>

#include "WindowHarness.h"
#include "app/WindowThread.h"
#include "capture/SyntheticCaptureSource.h"
#include "packetmode/PacketListModel.h"
#include "packetmode/PacketSnifferDialog.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    qhs::SettingsRecord settings = qhs::defaultSettings();
    qhs::setTextField(settings.interfaceAddress, "127.0.0.1");
    settings.soundOnNewPacket = 0;
    qhs::PublishedSettings published(settings);
    qhs::PacketSnifferDialog window(published, "/tmp/qhs-harness.QHS",
                                    qhs::bench::windowServices(qhs::PacketStoreCapacity));
    window.initialize();
    window.resize(1000, 700);
    window.show();
    QApplication::processEvents();

    qhs::bench::StallWatch stalls;

    const long residentBefore = qhs::bench::residentKilobytes();
    QElapsedTimer clock;
    clock.start();
    window.startCapture();
    qint64 storedAt = -1;
    qhs::serveEventsUntil(
        [&] {
            if (storedAt < 0 && window.table().storedCount() >= qhs::PacketStoreCapacity) {
                storedAt = clock.elapsed();
            }
            return window.model().rowCount() >= qhs::PacketStoreCapacity ||
                   clock.elapsed() >= 120000;
        },
        std::chrono::milliseconds(1));
    const qint64 shownAt = clock.elapsed();
    if (storedAt < 0) {
        storedAt = shownAt;
    }
    const long residentAfter = qhs::bench::residentKilobytes();
    const double blockBytes = static_cast<double>(window.table().allocatedBytes());
    const double overheadPerPacket =
        ((residentAfter - residentBefore) * 1024.0 - blockBytes) / qhs::PacketStoreCapacity;

    QElapsedTimer clearClock;
    clearClock.start();
    window.clearPackets();
    qhs::serveEventsUntil([&] { return !window.clearRunning(); }, std::chrono::milliseconds(1));
    const qint64 clearMs = clearClock.elapsed();

    std::printf("datagrams through the loop: %.0f per second (%lld ms for 1,000,000)\n",
                qhs::PacketStoreCapacity * 1000.0 / static_cast<double>(storedAt),
                static_cast<long long>(storedAt));
    std::printf("list shows all rows after:  %lld ms\n", static_cast<long long>(shownAt));
    std::printf("longest event-loop stall:   %lld ms\n", stalls.longestMilliseconds());
    std::printf("memory per packet beyond its length + 44: %.1f bytes\n", overheadPerPacket);
    std::printf("clear of 1,000,000 packets: %lld ms\n", static_cast<long long>(clearMs));
    window.closeWindow();
    return 0;
}
