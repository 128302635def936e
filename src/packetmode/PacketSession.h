#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "analysis/PacketFilter.h"
#include "app/PublishedSettings.h"
#include "app/SoundPlayer.h"
#include "capture/CaptureFile.h"
#include "capture/PacketCapture.h"
#include "capture/PacketSnifferState.h"
#include "capture/PacketTable.h"
#include "capture/SystemServices.h"
#include "packetmode/NewPacketNotifier.h"
#include "packetmode/PacketListSave.h"
#include "packetmode/PacketLogger.h"

namespace qhs {

// What a Packet Sniffer session tells its client. Each is called on a worker thread.
struct PacketSessionReports {
    // A status line of the capture ("Listening on: ...", then how it ended); must not block.
    std::function<void(const std::string& status)> status;
    // When set, the session keeps no packets: each one the filter lets through is handed
    // here, on the capturing thread, and forgotten (a run from the command line).
    std::function<void(const PassedPacket& packet)> passed;
    // The capture's source failed (its interface disappeared or went down): the error.
    std::function<void(long errorCode)> lost;
    // A box of the automatic log, which waits until it is closed.
    std::function<void(const UserMessage& message)> logError;
};

// The client's part in reading a capture file into the list; each may be unset.
struct CaptureFileReadHooks {
    // Whether the whole file is checked before the list is touched. Without the check, a
    // damaged file gives every whole packet before the damage (and is read only once).
    bool checkFirst = true;
    // The file opened and its check begins.
    std::function<void()> checking;
    // Progress over both passes, from 0 to CaptureFileProgressSteps.
    std::function<void(int step)> progress;
    // The file is sound: whether to go on, with `held` packets in the list to be replaced.
    std::function<bool(std::int32_t held)> proceed;
    // Just before the list is replaced: the client ends its capture (stop() on its own
    // thread) and waits for a clear of its own to end.
    std::function<void()> replacing;
    // The client's part in clearing the packets held (see ClearHooks).
    ClearHooks clear;
    // The reading itself begins.
    std::function<void()> loading;
    // The list holds the file's packets, `statusText` says so; Start and Clear wait for this.
    std::function<void(const std::string& statusText)> loaded;
};

inline constexpr int CaptureFileProgressSteps = 1000;

// How reading a capture file ended.
struct CaptureFileRead {
    // What was wrong with the file: its check failed, or its read was cut short.
    std::optional<std::string> fault;
    // Set once the list was replaced: what was read, and the status line that says so.
    std::optional<CaptureFileLoad> load;
    std::string statusText;
};

// One run of Packet Sniffer Mode without its window: the run-time state, the store and its
// list, the filter, the capture, the automatic log and the new-packet sound, with the
// window's commands as operations. The window and the command line are its clients; the
// system's services are handed in. start(), stop(), droppedCount() and joinIfEnded() are
// for one thread, the client's; the other operations run on whichever thread calls them.
class PacketSession {
  public:
    PacketSession(PublishedSettings& settings, const SystemServices& services,
                  PacketSessionReports reports);
    // Ends the capture and the companions.
    ~PacketSession();
    PacketSession(const PacketSession&) = delete;
    PacketSession& operator=(const PacketSession&) = delete;

    PacketSnifferState& state() { return state_; }
    PacketTable& table() { return table_; }
    PacketFilter& filter() { return filter_; }
    PacketLogger& logger() { return *logger_; }

    // The automatic log and the new-packet sound, which work beside every capture.
    void startCompanions();
    void setSoundOnNewPacket(bool on) { soundOnNewPacket_ = on; }

    // Start: does nothing while capturing or while a file is read into the list.
    PacketCaptureStart start();
    // Stop: returns once the capture thread has ended.
    void stop();
    // Joins a capture that ended by itself (store full, memory, receive error).
    void joinIfEnded() { capture_.joinIfEnded(); }
    // Datagrams the system dropped over every capture of this session.
    std::uint64_t droppedCount() const { return capture_.droppedCount(); }

    // Clear, on the calling thread: the automatic log first writes what it has not yet
    // written (its errors reported unless the session is ending).
    void clear(ClearHooks hooks, bool reportLogErrors = true);
    // Save: the stored packets as the text list.
    SaveOutcome save(const std::string& path, std::atomic<bool>& cancel,
                     const SaveHooks& hooks = {});
    // Export: the stored packets as a pcap file.
    SaveOutcome exportCaptureFile(const std::string& path, std::atomic<bool>& cancel,
                                  const SaveHooks& hooks = {});
    // Open capture file: the whole file is checked first, so a bad one leaves the list as it
    // was; then it replaces the list as if captured.
    CaptureFileRead readCaptureFile(const std::string& path, const CaptureFileReadHooks& hooks);
    bool readingFile() const { return readingFile_.load(); }

    // Ends the session as its window closes: the capture, the log and the sound end, and the
    // store is freed (the log writing what it has not yet written).
    void end();

  private:
    PublishedSettings& settings_;
    SystemServices services_;
    PacketSessionReports reports_;
    PacketSnifferState state_;
    PacketTable table_;
    PacketFilter filter_;
    PacketCaptureContext context_;
    PacketCapture capture_;
    std::unique_ptr<SoundPlayer> soundPlayer_;
    std::atomic<bool> soundOnNewPacket_{false};
    std::unique_ptr<NewPacketNotifier> notifier_;
    std::unique_ptr<PacketLogger> logger_;
    std::atomic<bool> readingFile_{false};
};

}  // namespace qhs
