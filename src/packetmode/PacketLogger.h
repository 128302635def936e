#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/PublishedSettings.h"
#include "app/SettingsRecord.h"
#include "app/UserMessage.h"
#include "app/WorkerThread.h"
#include "capture/PacketSnifferState.h"
#include "capture/PacketTable.h"
#include "packetmode/RecordFile.h"

namespace qhs {

// The automatic packet log: while the Packet Sniffer window is open, a thread appends the
// records of newly stored datagrams to the log file every `logIntervalSeconds`, without
// header or trailer, starting again from slot 0 after a Clear. The settings are read at
// every use, so the general settings dialog takes effect at the next pass.
class PacketLogger {
  public:
    // Shows a write-error box and returns when the user has closed it. It runs on a thread
    // of its own, so an open box never stops logging; it must not wait for the list guard.
    using ErrorBox = std::function<void(const UserMessage&)>;

    PacketLogger(PacketSnifferState& state, PacketTable& table, const PublishedSettings& settings,
                 ErrorBox showError);
    // Stops the thread and waits for an open error box to be closed: show the box modal
    // to the window, so the window cannot close (and destroy the logger) while it is open.
    ~PacketLogger();
    PacketLogger(const PacketLogger&) = delete;
    PacketLogger& operator=(const PacketLogger&) = delete;

    // Starts the logging thread; it runs until `quitting` is set or stop() is called.
    void start();
    void stop();

    // One pass under the list guard: appends the slots stored since the last pass (all of
    // them after a Clear). Writes nothing and leaves the file unopened when nothing is new;
    // a file that cannot be opened skips the pass silently, to be tried again next time.
    // The thread calls this after each interval; tests call it directly.
    void logNewPackets();

    // Called by Clear while it holds the list guard, with the store it guards, before the
    // slots are freed: when logging is on, the slots stored since the last pass are logged
    // now rather than lost. At the window's close the errors are not reported, as no box can
    // be shown any more.
    void logBeforeClear(const PacketStore& store, bool reportErrors);

    std::int32_t loggedCount() const { return loggedCount_; }
    bool errorBoxOpen() const { return errorBoxOpen_; }

  private:
    struct PendingFile {
        RecordFile file;
        std::string path;
        int error = 0;
    };
    // Steps of a pass under the list guard; the file is left open for finish().
    void appendNewRecords(const PacketStore& store, PendingFile& pending);
    void finish(PendingFile& pending, bool reportErrors);
    void run(std::stop_token stop);
    bool shouldEnd(const std::stop_token& stop) const {
        return state_.quitting || stop.stop_requested();
    }
    bool autoLogOn() const { return settings_.latest()->autoLog != 0; }
    void waitInterval(const std::stop_token& stop);
    void showLogError(int errorCode, std::string path);

    PacketSnifferState& state_;
    PacketTable& table_;
    const PublishedSettings& settings_;
    ErrorBox showError_;

    // Written under the list guard by whichever thread runs a pass; read by tests.
    std::atomic<std::int32_t> loggedCount_{0};
    std::uint64_t seenClearTime_ = 0;

    std::atomic<bool> errorBoxOpen_{false};
    WorkerThread thread_;
    WorkerThread errorBoxThread_;
};

}  // namespace qhs
