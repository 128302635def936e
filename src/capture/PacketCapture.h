#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "app/WorkerThread.h"
#include "capture/CaptureSocket.h"
#include "capture/PacketCaptureLoop.h"

namespace qhs {

// Start and Stop of Packet Sniffer Mode: one capture source and one capture thread at a
// time, over the window's shared state, store, list and filter.
class PacketCapture {
  public:
    // `makeSource` opens a new source for each Start; `onCaptureThread` runs first on each
    // new capture thread (the window raises its priority there).
    PacketCapture(PacketCaptureContext context, CaptureSourceFactory makeSource,
                  std::function<void()> onCaptureThread = {});
    ~PacketCapture();
    PacketCapture(const PacketCapture&) = delete;
    PacketCapture& operator=(const PacketCapture&) = delete;

    // Does nothing while capturing. Otherwise opens a source on the stored interface and,
    // unless the address is no interface, starts the capture thread. The messages are for
    // the window to show.
    PacketCaptureStart start();
    // Closes the source and returns once the capture thread has cleared `capturing` and
    // ended.
    void stop();
    // Datagrams the system dropped before this window could take them, over every capture
    // since the window opened. Call from the thread that starts and stops.
    std::uint64_t droppedCount() const;
    // Joins the thread of a capture that ended by itself (store full, receive error), so it
    // does not wait for the next Start. Call from the thread that starts and stops.
    void joinIfEnded();

  private:
    void joinFinishedThread();

    PacketCaptureContext context_;
    CaptureSourceFactory makeSource_;
    std::function<void()> onCaptureThread_;
    std::unique_ptr<CaptureSource> source_;
    WorkerThread thread_;
    std::uint64_t droppedByEndedSources_ = 0;
};

// The window's side of a Clear; each hook but whileGuarded may wait for the window and is
// never called while the list guard is held.
struct ClearHooks {
    std::function<void()> stopSearch;
    // Empties the shown list and puts the progress bar (range 0 to `storedCount`) in its
    // place; from here on the window must not read any store slot until afterFree.
    std::function<void(std::int32_t storedCount)> beforeFree;
    // Runs under the list guard just before the slots are freed (the automatic log writes
    // what it has not yet written); must not wait for the window.
    std::function<void(const PacketStore& store)> whileGuarded;
    // Progress over the slots freed; must not wait for the window.
    std::function<void(std::int32_t slot)> progress;
    // Shows the list again and empties the detail view.
    std::function<void()> afterFree;
};

// Clears the list and frees every stored packet: the search is stopped, the allocation
// total reset, rows and slots emptied and the clear time noted together under the list guard.
void clearPackets(PacketTable& table, const ClearHooks& hooks);

}  // namespace qhs
