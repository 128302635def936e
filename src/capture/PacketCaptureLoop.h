#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "app/PublishedSettings.h"
#include "app/SettingsRecord.h"
#include "capture/CaptureSource.h"
#include "capture/PacketSnifferState.h"
#include "capture/PacketTable.h"

namespace qhs {

class PacketFilter;

inline constexpr const char* StatusStopped = "Stopped";
inline constexpr const char* StatusItemLimit = "Stopped/Item Limit Reached";
inline constexpr const char* StatusMemoryError = "Stopped/Memory Error";

// A datagram the filter let through, handed on where it lies instead of being kept: valid
// only during the call.
struct PassedPacket {
    std::span<const std::uint8_t> datagram;
    std::uint32_t originalLength = 0;  // as it was on the wire; more when the capture cut it
    std::int64_t arrivalNanoseconds = 0;
    std::string_view timeText;
};

// What the capture thread works on. setStatus must not block (the window may be waiting
// for the capture to end).
struct PacketCaptureContext {
    PacketSnifferState& state;
    PacketTable& table;
    PacketFilter& filter;
    const PublishedSettings& settings;
    std::function<void(const std::string& status)> setStatus;
    // When set, nothing is kept: each datagram the filter lets through is handed here, on the
    // capturing thread, and forgotten, so memory does not grow with the capture.
    std::function<void(const PassedPacket& packet)> passed = {};
    // Runs when the source failed (its interface disappeared, went down), with the error.
    std::function<void(long errorCode)> lost = {};
};

// The capture thread of Packet Sniffer Mode: receives datagrams from an opened source until
// it is closed or fails, the window quits, or the store is full or memory runs out. Each
// datagram the filter accepts becomes a list row and the next store slot, together under
// the list guard. `capturing` is clear when it returns.
void runPacketCapture(CaptureSource& source, PacketCaptureContext& context);

}  // namespace qhs
