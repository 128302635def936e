#include "capture/CaptureSocket.h"

#include <cerrno>
#include <cstdio>

namespace qhs {

namespace {

std::string formatted(const char* format, long value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

UserMessage message(std::string text, MessageIcon icon = MessageIcon::None) {
    UserMessage box;
    box.text = std::move(text);
    box.icon = icon;
    return box;
}

// Without the privilege there is no socket, so what would have been bound to the interface
// fails as "not a socket".
constexpr long UnopenedSocketErrorCode = ENOTSOCK;

}  // namespace

std::string socketCreationErrorText(long errorCode) {
    return formatted("Error code %ld while attempting to create socket.", errorCode);
}

std::string otherSocketErrorText(long errorCode) {
    return formatted("Error: %ld", errorCode);
}

std::string packetListenErrorText(const std::string& interfaceAddress) {
    return "Unable to listen on the interface: " + interfaceAddress +
           "\r\nThe chosen interface must be a NIC or Modem.\r\nMake sure your NIC is "
           "enabled.\r\nNote: Windows 2000 (or higher) is required.\r\nYou must be logged on "
           "with an administrative account.";
}

std::string fileListenErrorText(const std::string& interfaceAddress) {
    return "Unable to listen on the interface: " + interfaceAddress +
           "\r\nThe chosen interface must be a NIC or Modem.\r\nMake sure your NIC is "
           "enabled.\r\nMake sure the chosen interface is still valid.\r\nNote: Windows 2000 "
           "(or higher) is required.\r\nYou must be logged on with an administrative account.";
}

PacketCaptureStart openPacketCapture(CaptureSource& source, const std::string& interfaceAddress,
                                     std::atomic<bool>& capturing) {
    PacketCaptureStart start;
    capturing.store(true);
    start.opening = source.open({interfaceAddress, PacketCaptureBufferBytes});
    switch (start.opening.status) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::NoPermission:
            start.messages.push_back(message(socketCreationErrorText(start.opening.errorCode)));
            start.messages.push_back(message(otherSocketErrorText(UnopenedSocketErrorCode)));
            break;
        case OpenStatus::NoSuchInterface:
            source.close();
            capturing.store(false);
            start.messages.push_back(message(packetListenErrorText(interfaceAddress)));
            return start;
        case OpenStatus::OtherError:
        case OpenStatus::BadFilter:  // the windows set no filter
            start.messages.push_back(message(otherSocketErrorText(start.opening.errorCode)));
            break;
    }
    start.startThread = true;
    return start;
}

FileCaptureStart openFileCapture(CaptureSource& source, const std::string& interfaceAddress,
                                 std::atomic<bool>& capturing) {
    FileCaptureStart start;
    if (capturing.load()) {
        return start;
    }
    capturing.store(true);
    start.statusText = "Status: Starting...";
    start.opening = source.open({interfaceAddress, FileCaptureBufferBytes});
    switch (start.opening.status) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::NoPermission:
        case OpenStatus::NoSuchInterface:
            capturing.store(false);
            source.close();
            start.statusText = "Status: Error Starting";
            start.messages.push_back(message(start.opening.status == OpenStatus::NoPermission
                                                 ? socketCreationErrorText(start.opening.errorCode)
                                                 : fileListenErrorText(interfaceAddress)));
            return start;
        case OpenStatus::OtherError:
        case OpenStatus::BadFilter:  // the windows set no filter
            start.messages.push_back(message(otherSocketErrorText(start.opening.errorCode)));
            break;
    }
    start.startThread = true;
    return start;
}

ProbeResult probeInterface(CaptureSource& source, const std::string& interfaceAddress) {
    ProbeResult probe;
    // Opened only to be closed again, it needs no large buffer.
    const OpenOutcome opening = source.open({interfaceAddress, 0});
    switch (opening.status) {
        case OpenStatus::Opened:
            break;
        case OpenStatus::NoSuchInterface:
            probe.outcome = ProbeOutcome::ChooseInterface;
            break;
        case OpenStatus::NoPermission:
            probe.outcome = ProbeOutcome::EndProcess;
            probe.messages.push_back(message(socketCreationErrorText(opening.errorCode)));
            probe.messages.push_back(message(StartupPrivilegeErrorText, MessageIcon::Stop));
            break;
        case OpenStatus::OtherError:
        case OpenStatus::BadFilter:  // the windows set no filter
            probe.outcome = ProbeOutcome::EndProcess;
            probe.messages.push_back(message(formatted("Startup error: %ld", opening.errorCode)));
            break;
    }
    source.close();
    return probe;
}

}  // namespace qhs
