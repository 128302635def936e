#pragma once

#include <functional>
#include <string>

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

// What the capture thread works on. setStatus must not block (the window may be waiting
// for the capture to end).
struct PacketCaptureContext {
    PacketSnifferState& state;
    PacketTable& table;
    PacketFilter& filter;
    const PublishedSettings& settings;
    std::function<void(const std::string& status)> setStatus;
    // Runs on the storing thread after each new slot, outside the list guard; may be unset.
    std::function<void(std::int32_t slot)> stored = {};
};

// The capture thread of Packet Sniffer Mode: receives datagrams from an opened source until
// it is closed or fails, the window quits, or the store is full or memory runs out. Each
// datagram the filter accepts becomes a list row and the next store slot, together under
// the list guard. `capturing` is clear when it returns.
void runPacketCapture(CaptureSource& source, PacketCaptureContext& context);

}  // namespace qhs
