#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "capture/CaptureSocket.h"
#include "platform/NetworkInterfaces.h"
#include "platform/PcapCaptureSource.h"
#include "support/CommandOutput.h"
#include "support/Eventually.h"
#include "support/RequireRoot.h"
#include "support/TempDir.h"
#include "support/ThreadWaits.h"

namespace qhs {
namespace {

void sendUdp(const std::string& to, std::uint16_t port, const std::string& payload) {
    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sender, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    ::inet_pton(AF_INET, to.c_str(), &target.sin_addr);
    ASSERT_EQ(::sendto(sender, payload.data(), payload.size(), 0,
                       reinterpret_cast<const sockaddr*>(&target), sizeof target),
              static_cast<ssize_t>(payload.size()));
    ::close(sender);
}

// Whether the receiving thread sits in the source's wait for the socket or close().
bool waitsForDatagrams(pid_t thread) {
    return thread != 0 && blockedInSystemCall(thread, {SYS_poll, SYS_ppoll});
}

struct Datagram {
    std::vector<std::uint8_t> bytes;
    std::int64_t arrivalNanoseconds = 0;
};

std::int64_t systemNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Sent after the datagrams a test looks for: loopback keeps the order, so once it has been
// received, so has everything sent before it.
const std::string FenceMarker = "quillharbour-fence";

bool isFence(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() == 28 + FenceMarker.size() && bytes[9] == 17 &&
           std::memcmp(bytes.data() + 28, FenceMarker.data(), FenceMarker.size()) == 0;
}

// Receives on `source` until it is closed, keeping every datagram; sets `fenceSeen` once the
// fence has arrived.
std::vector<Datagram> receiveAll(CaptureSource& source, std::atomic<bool>& fenceSeen) {
    std::vector<Datagram> received;
    std::vector<std::uint8_t> buffer(65540);
    for (;;) {
        const ReceiveResult result = receiveCopy(source, buffer.data(), buffer.size());
        if (!result.ok) {
            return received;
        }
        received.push_back({{buffer.begin(), buffer.begin() + static_cast<long>(result.length)},
                            result.arrivalNanoseconds});
        if (isFence(received.back().bytes)) {
            fenceSeen = true;
        }
    }
}

TEST(PcapCaptureSource, LoopbackUdpDatagramArrivesOnceWithTheIpHeaderFirst) {
    REQUIRE_ROOT();
    PcapCaptureSource source;
    std::atomic<bool> capturing{false};
    const PacketCaptureStart start = openPacketCapture(source, "127.0.0.1", capturing);
    ASSERT_TRUE(start.startThread);
    ASSERT_TRUE(start.messages.empty());

    std::vector<Datagram> received;
    std::atomic<bool> fenceSeen{false};
    std::thread receiver([&] { received = receiveAll(source, fenceSeen); });
    const std::string marker = "quillharbour-udp-marker";
    const std::int64_t sentAfter = systemNanoseconds();
    sendUdp("127.0.0.1", 40123, marker);
    const std::int64_t sentBefore = systemNanoseconds();
    sendUdp("127.0.0.1", 40123, FenceMarker);
    EXPECT_TRUE(eventually([&] { return fenceSeen.load(); }));
    source.close();
    receiver.join();

    int matches = 0;
    for (const Datagram& datagram : received) {
        const auto& bytes = datagram.bytes;
        ASSERT_GE(bytes.size(), 20u);
        EXPECT_EQ(bytes[0] >> 4, 4) << "every datagram starts with an IPv4 header";
        if (bytes.size() == 28 + marker.size() && bytes[9] == 17 &&
            std::memcmp(bytes.data() + 28, marker.data(), marker.size()) == 0) {
            ++matches;
            EXPECT_EQ(bytes[0], 0x45);
            EXPECT_EQ((bytes[22] << 8) | bytes[23], 40123);
            EXPECT_EQ(bytes[16], 127);
            EXPECT_EQ(bytes[19], 1);
            // Stamped by the kernel as it arrived, by the same clock the time texts read.
            EXPECT_GE(datagram.arrivalNanoseconds, sentAfter);
            EXPECT_LE(datagram.arrivalNanoseconds, sentBefore);
        }
    }
    EXPECT_EQ(matches, 1);
}

TEST(PcapCaptureSource, CloseFromAnotherThreadEndsABlockedReceiveAtOnce) {
    REQUIRE_ROOT();
    PcapCaptureSource source;
    ASSERT_EQ(source.open({"127.0.0.1", PacketCaptureBufferBytes}).status, OpenStatus::Opened);

    std::atomic<bool> returned{false};
    std::atomic<pid_t> receiverThread{0};
    ReceiveResult result;
    std::thread receiver([&] {
        receiverThread = currentThreadId();
        std::vector<std::uint8_t> buffer(65540);
        result = receiveCopy(source, buffer.data(), buffer.size());
        returned = true;
    });
    EXPECT_TRUE(eventually([&] { return waitsForDatagrams(receiverThread); }));
    EXPECT_FALSE(returned) << "nothing was sent, so the receive must still block";
    source.close();
    EXPECT_TRUE(eventually([&] { return returned.load(); })) << "close ends the receive";
    receiver.join();
    EXPECT_FALSE(result.ok);
    // Later receives fail at once as well.
    std::uint8_t buffer[64];
    EXPECT_FALSE(receiveCopy(source, buffer, sizeof buffer).ok);
}

TEST(PcapCaptureSource, BurstArrivesCompleteInOrderWithNoDrops) {
    REQUIRE_ROOT();
    PcapCaptureSource source;
    std::atomic<bool> capturing{false};
    ASSERT_TRUE(openPacketCapture(source, "127.0.0.1", capturing).startThread);

    std::vector<Datagram> received;
    std::atomic<bool> fenceSeen{false};
    std::atomic<bool> receiverDone{false};
    std::atomic<pid_t> receiverThread{0};
    std::thread receiver([&] {
        receiverThread = currentThreadId();
        received = receiveAll(source, fenceSeen);
        receiverDone = true;
    });

    // A bound receiver keeps the burst from raising port-unreachable replies.
    const int sink = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sink, 0);
    sockaddr_in sinkAddress{};
    sinkAddress.sin_family = AF_INET;
    sinkAddress.sin_port = htons(40124);
    sinkAddress.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(sink, reinterpret_cast<const sockaddr*>(&sinkAddress), sizeof sinkAddress), 0);
    const int sender = ::socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sender, 0);
    constexpr std::uint32_t burst = 20000;
    for (std::uint32_t sequence = 0; sequence < burst; ++sequence) {
        std::uint8_t payload[16] = {'b', 'u', 'r', 's', 't'};
        std::memcpy(payload + 8, &sequence, sizeof sequence);
        ASSERT_EQ(::sendto(sender, payload, sizeof payload, 0,
                           reinterpret_cast<const sockaddr*>(&sinkAddress), sizeof sinkAddress),
                  static_cast<ssize_t>(sizeof payload));
    }
    ::close(sender);
    sendUdp("127.0.0.1", 40124, FenceMarker);
    ::close(sink);
    // The fence comes in the last block, which the ring hands over partly filled once its
    // block timeout has passed; then the receive waits for more.
    EXPECT_TRUE(eventually([&] { return fenceSeen.load(); }));
    EXPECT_TRUE(eventually([&] { return waitsForDatagrams(receiverThread); }));
    EXPECT_FALSE(receiverDone) << "the receive must still be waiting for more";
    source.close();
    EXPECT_TRUE(eventually([&] { return receiverDone.load(); })) << "close ends the receive";
    receiver.join();

    std::uint32_t expected = 0;
    for (const Datagram& datagram : received) {
        const auto& bytes = datagram.bytes;
        if (bytes.size() != 28 + 16 || bytes[9] != 17 ||
            std::memcmp(bytes.data() + 28, "burst", 5) != 0) {
            continue;
        }
        std::uint32_t sequence = 0;
        std::memcpy(&sequence, bytes.data() + 36, sizeof sequence);
        ASSERT_EQ(sequence, expected) << "lost, repeated or out of order";
        ++expected;
    }
    EXPECT_EQ(expected, burst);
    EXPECT_EQ(source.droppedCount(), 0u);
}

TEST(PcapCaptureSource, AddressesNoInterfaceOwnsAreNotAnInterface) {
    REQUIRE_ROOT();
    for (const std::string& address :
         std::vector<std::string>{"", "10.255.255.1", "127.0.0", "abc", "1.2.3.256", "127.0.0.1x",
                                  " 127.0.0.1", "127.1", "0x7f.0.0.1", std::string(2000, '9')}) {
        PcapCaptureSource source;
        EXPECT_EQ(source.open({address, PacketCaptureBufferBytes}).status,
                  OpenStatus::NoSuchInterface)
            << '"' << address << '"';
        PcapCaptureSource probed;
        EXPECT_EQ(probeInterface(probed, address).outcome, ProbeOutcome::ChooseInterface);
    }
}

TEST(PcapCaptureSource, ProbeOfLoopbackIsUsable) {
    REQUIRE_ROOT();
    PcapCaptureSource source;
    const ProbeResult probe = probeInterface(source, "127.0.0.1");
    EXPECT_EQ(probe.outcome, ProbeOutcome::Usable);
    EXPECT_TRUE(probe.messages.empty());
}

TEST(PcapCaptureSource, UnprivilegedProcessGetsThePrivilegeOutcome) {
    REQUIRE_ROOT();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Drop to an ordinary user, then probe as a window would when it opens.
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(10);
        }
        PcapCaptureSource source;
        const ProbeResult probe = probeInterface(source, "127.0.0.1");
        const bool privilegeOutcome = probe.outcome == ProbeOutcome::EndProcess &&
                                      probe.messages.size() == 2 &&
                                      probe.messages[1].icon == MessageIcon::Stop &&
                                      probe.messages[1].text == StartupPrivilegeErrorText;
        if (!privilegeOutcome) {
            ::_exit(11);
        }
        // As libpcap does, the lack of privilege is told before a missing interface.
        PcapCaptureSource elsewhere;
        const OpenOutcome opening = elsewhere.open({"10.255.255.1", PacketCaptureBufferBytes});
        ::_exit(opening.status == OpenStatus::NoPermission && opening.errorCode == EPERM ? 0 : 12);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// Runs the capture helper as the ordinary user "nobody" and gives its exit code.
int runCaptureHelperAsNobody(const std::string& helper) {
    const pid_t child = ::fork();
    if (child == 0) {
        const gid_t noGroups[] = {65534};
        if (::setgroups(1, noGroups) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(10);
        }
        ::execl(helper.c_str(), helper.c_str(), static_cast<char*>(nullptr));
        ::_exit(11);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

TEST(PcapCaptureSource, OrdinaryUserCapturesThroughFileCapabilitiesAndWithoutThemCannot) {
    REQUIRE_ROOT();
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    const auto plain = dir.path() / "capture_as_user";
    const auto granted = dir.path() / "capture_as_user_with_capabilities";
    std::filesystem::copy_file(CAPTURE_AS_USER_PATH, plain);
    std::filesystem::copy_file(CAPTURE_AS_USER_PATH, granted);
    ASSERT_EQ(commandOutput("setcap cap_net_raw=p '" + granted.string() + "' 2>&1"), "");
    // The capabilities are permitted only: raised while the capture opens, never before or
    // after it (exit code 4).
    EXPECT_EQ(runCaptureHelperAsNobody(granted.string()), 0);
    EXPECT_EQ(runCaptureHelperAsNobody(plain.string()), 3);
}

TEST(PcapCaptureSource, TestsRunInAPrivateNetworkWithOnlyLoopback) {
    REQUIRE_ROOT();
    ifaddrs* list = nullptr;
    ASSERT_EQ(::getifaddrs(&list), 0);
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        EXPECT_STREQ(entry->ifa_name, "lo");
    }
    ::freeifaddrs(list);
    const std::optional<OwningInterface> owner = interfaceForAddress("127.0.0.1");
    ASSERT_TRUE(owner.has_value());
    EXPECT_EQ(owner->name, "lo");
    EXPECT_TRUE(owner->loopback);
}

TEST(DottedAddress, OnlyFourDecimalPartsAreAccepted) {
    std::uint32_t value = 0;
    EXPECT_TRUE(parseDottedAddress("127.0.0.1", value));
    EXPECT_EQ(value, htonl(0x7F000001));
    EXPECT_TRUE(parseDottedAddress("255.255.255.255", value));
    EXPECT_FALSE(parseDottedAddress("256.0.0.1", value));
    EXPECT_FALSE(parseDottedAddress("1.2.3", value));
    EXPECT_FALSE(parseDottedAddress("", value));
}

}  // namespace
}  // namespace qhs
