#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "app/UserMessage.h"
#include "capture/CaptureSource.h"

namespace qhs {

// What the Start button of the Packet Sniffer window does with a new capture source.
struct PacketCaptureStart {
    OpenOutcome opening;
    bool startThread = false;  // run the capture thread on the source
    std::vector<UserMessage> messages;
};

// What the Start button of the File Sniffer window does.
struct FileCaptureStart {
    OpenOutcome opening;
    bool startThread = false;
    std::string statusText;  // empty: leave the status as it is
    std::vector<UserMessage> messages;
};

// What a main window does after probing the stored interface when it opens.
enum class ProbeOutcome {
    Usable,           // go on
    ChooseInterface,  // open the interface selection at once
    EndProcess,       // end the process with exit code 0 after the messages
};

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::Usable;
    std::vector<UserMessage> messages;
};

// The Start of the Packet Sniffer window: sets `capturing` and opens `source` on the address.
// A lack of privilege is reported as the failed socket creation it is and the capture thread
// still starts (it ends at its first receive); an address that is not an interface clears
// `capturing` and starts nothing.
PacketCaptureStart openPacketCapture(CaptureSource& source, const std::string& interfaceAddress,
                                     std::atomic<bool>& capturing);

// The File Sniffer variant: does nothing while capturing, and stops at the first failure.
FileCaptureStart openFileCapture(CaptureSource& source, const std::string& interfaceAddress,
                                 std::atomic<bool>& capturing);

// Opens and closes `source` on the address to learn whether it can capture there.
ProbeResult probeInterface(CaptureSource& source, const std::string& interfaceAddress);

std::string socketCreationErrorText(long errorCode);
std::string packetListenErrorText(const std::string& interfaceAddress);
std::string fileListenErrorText(const std::string& interfaceAddress);
std::string otherSocketErrorText(long errorCode);

inline constexpr const char* StartupPrivilegeErrorText =
    "Startup error.\r\n\r\nMake sure raw sockets are enabled on your system (this is so by "
    "default).\r\nNote: Administrative access to this computer may be required, make sure you "
    "are logged on with an administrative account.";

}  // namespace qhs
