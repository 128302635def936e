#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "capture/PacketCaptureLoop.h"
#include "capture/TimeTextCache.h"

namespace qhs {

// Turns datagrams into list rows and store slots, as a capture does and a capture file read
// does: each datagram is copied once, into a block carved from the store's arena; the filter
// decides; the row and its slot appear together under the list guard, and the time text is
// kept once per millisecond and shared. The settings are read whole, as last published.
class PacketIntake {
  public:
    enum class Outcome { Stored, Passed, Filtered, StoreFull, NoMemory };

    explicit PacketIntake(PacketCaptureContext& context);

    // Memory for a datagram of `length` bytes, or null when memory ran out; valid until
    // take().
    std::uint8_t* allocate(std::size_t length);
    // Takes the datagram written to the last block allocate() gave: stored as the next slot
    // with its arrival time (nanoseconds since 1970 by the system clock), handed on to the
    // context's `passed` (which keeps nothing), or let go. `originalLength` is its length on
    // the wire when the capture cut it (0: not cut).
    Outcome take(std::size_t length, std::int64_t arrivalNanoseconds,
                 std::size_t originalLength = 0);

    const SettingsRecord& settings() { return settings_.get(); }

  private:
    PacketCaptureContext& context_;
    SettingsView settings_;
    PacketArena& arena_;
    TimeTextCache timeTexts_;
    std::uint8_t* block_ = nullptr;
    std::vector<std::uint8_t> passing_;  // the one block of a capture that keeps nothing
    std::size_t blockBytes_ = 0;
    const char* storedTime_ = nullptr;
    std::uint64_t storedTimeVersion_ = 0;
    std::uint64_t storedTimeClears_ = 0;
};

}  // namespace qhs
