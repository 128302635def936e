// Opens a capture on 127.0.0.1 as the program does, sends itself a marked UDP datagram and
// waits for it. Exit codes: 0 captured it, 3 the privilege outcome, 4 capabilities were in
// effect outside the opening, 1 anything else. The tests run it as an ordinary user, with
// and without file capabilities.
#include <sys/capability.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureSocket.h"
#include "capture/ReceiveBuffer.h"
#include "platform/CaptureCapabilities.h"
#include "platform/PcapCaptureSource.h"
#include "support/LoopbackTraffic.h"

namespace {

bool captureCapabilitiesInEffect() {
    cap_t capabilities = cap_get_proc();
    bool inEffect = false;
    for (const cap_value_t capability : {CAP_NET_RAW, CAP_NET_ADMIN}) {
        cap_flag_value_t value = CAP_CLEAR;
        cap_get_flag(capabilities, capability, CAP_EFFECTIVE, &value);
        inEffect = inEffect || value == CAP_SET;
    }
    cap_free(capabilities);
    return inEffect;
}

}  // namespace

int main() {
    qhs::lowerCaptureCapabilities();
    if (captureCapabilitiesInEffect()) {
        return 4;
    }
    qhs::PcapCaptureSource probed;
    const qhs::ProbeResult probe = qhs::probeInterface(probed, "127.0.0.1");
    if (probe.outcome == qhs::ProbeOutcome::EndProcess && probe.messages.size() == 2 &&
        probe.messages[1].text == qhs::StartupPrivilegeErrorText) {
        return 3;
    }
    qhs::PcapCaptureSource source;
    std::atomic<bool> capturing{false};
    if (!qhs::openPacketCapture(source, "127.0.0.1", capturing).messages.empty()) {
        return 1;
    }
    if (captureCapabilitiesInEffect()) {
        return 4;
    }
    const std::string marker = "captured-by-an-ordinary-user";
    std::atomic<bool> seen{false};
    std::thread receiver([&] {
        std::vector<std::uint8_t> buffer(qhs::ReceiveBufferBytes);
        for (;;) {
            const qhs::ReceiveResult result =
                qhs::receiveCopy(source, buffer.data(), buffer.size());
            if (!result.ok) {
                return;
            }
            if (result.length == 28 + marker.size() &&
                std::memcmp(buffer.data() + 28, marker.data(), marker.size()) == 0) {
                seen = true;
                return;
            }
        }
    });
    for (int attempt = 0; attempt < 50 && !seen; ++attempt) {
        qhs::sendLoopbackUdp(40530, marker);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    source.close();
    receiver.join();
    return seen ? 0 : 1;
}
