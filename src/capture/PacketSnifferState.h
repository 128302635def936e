#pragma once

#include <atomic>

namespace qhs {

// Run-time state shared by the Packet Sniffer window and its threads.
struct PacketSnifferState {
    std::atomic<bool> capturing{false};        // a capture thread is running
    std::atomic<bool> quitting{false};         // the window is closing; threads end
    std::atomic<bool> newPacketSignal{false};  // set per stored packet, taken by the notifier
};

}  // namespace qhs
