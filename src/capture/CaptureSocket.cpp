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

// Binding a socket that was never made fails as "not a socket"; report the code of that.
long bindErrorCode(const BindResult& bind) {
    return bind.status == BindStatus::NotASocket ? ENOTSOCK : bind.errorCode;
}

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
    if (const long error = source.createSocket(); error != 0) {
        start.messages.push_back(message(socketCreationErrorText(error)));
    }
    const BindResult bind = source.bindToInterface(interfaceAddress);
    if (bind.status == BindStatus::NotAnInterface) {
        source.close();
        capturing.store(false);
        start.messages.push_back(message(packetListenErrorText(interfaceAddress)));
        return start;
    }
    if (bind.status != BindStatus::Bound) {
        start.messages.push_back(message(otherSocketErrorText(bindErrorCode(bind))));
    }
    source.setLargeReceiveBuffer();
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
    if (const long error = source.createSocket(); error != 0) {
        start.statusText = "Status: Error Starting";
        capturing.store(false);
        start.messages.push_back(message(socketCreationErrorText(error)));
        return start;
    }
    const BindResult bind = source.bindToInterface(interfaceAddress);
    if (bind.status == BindStatus::NotAnInterface) {
        capturing.store(false);
        source.close();
        start.statusText = "Status: Error Starting";
        start.messages.push_back(message(fileListenErrorText(interfaceAddress)));
        return start;
    }
    if (bind.status != BindStatus::Bound) {
        start.messages.push_back(message(otherSocketErrorText(bindErrorCode(bind))));
    }
    source.setLargeReceiveBuffer();
    start.startThread = true;
    return start;
}

ProbeResult probeInterface(CaptureSource& source, const std::string& interfaceAddress) {
    ProbeResult probe;
    if (const long error = source.createSocket(); error != 0) {
        probe.messages.push_back(message(socketCreationErrorText(error)));
    }
    const BindResult bind = source.bindToInterface(interfaceAddress);
    switch (bind.status) {
        case BindStatus::Bound:
            break;
        case BindStatus::NotAnInterface:
            probe.outcome = ProbeOutcome::ChooseInterface;
            break;
        case BindStatus::NotASocket:
            probe.outcome = ProbeOutcome::EndProcess;
            probe.messages.push_back(message(StartupPrivilegeErrorText, MessageIcon::Stop));
            break;
        case BindStatus::OtherError:
            probe.outcome = ProbeOutcome::EndProcess;
            probe.messages.push_back(message(formatted("Startup error: %ld", bind.errorCode)));
            break;
    }
    source.close();
    return probe;
}

}  // namespace qhs
