#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "analysis/PacketFilter.h"
#include "app/PublishedSettings.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

using test::address;
using test::Block;
using test::TestDatagram;

struct Outcome {
    bool accepted = false;
    std::string containsColumn;
    std::string lacksColumn;
};

TestDatagram tcp(std::uint16_t sourcePort, std::uint16_t destinationPort) {
    TestDatagram datagram;
    datagram.sourcePort = sourcePort;
    datagram.destinationPort = destinationPort;
    return datagram;
}

TestDatagram udp(std::uint16_t sourcePort, std::uint16_t destinationPort) {
    TestDatagram datagram = tcp(sourcePort, destinationPort);
    datagram.protocol = 17;
    return datagram;
}

TestDatagram between(std::uint32_t source, std::uint32_t destination) {
    TestDatagram datagram;
    datagram.source = source;
    datagram.destination = destination;
    return datagram;
}

TestDatagram carrying(std::string_view payload) {
    TestDatagram datagram;
    datagram.withPayload(payload);
    return datagram;
}

class PacketFilterTest : public ::testing::Test {
  protected:
    Outcome run(const std::vector<std::uint8_t>& bytes) {
        filter.refresh(applyFilters, record);
        const Block block(bytes);
        const FilterVerdict verdict = filter.accept(block.data(), block.length());
        return {verdict.accepted, std::string(verdict.containsColumn),
                std::string(verdict.lacksColumn)};
    }
    bool accepts(const TestDatagram& datagram) { return run(datagram.bytes()).accepted; }

    SettingsRecord record = defaultSettings();
    PacketFilter filter;
    bool applyFilters = true;
};

TEST_F(PacketFilterTest, ApplyOffAcceptsEverythingWithEmptyColumns) {
    applyFilters = false;
    record.filterAllowTcp = record.filterAllowUdp = record.filterAllowIcmp = 0;
    record.filterAllowOther = 0;
    setTextField(record.filterContains1, "never there");
    const Outcome outcome = run(carrying("payload").bytes());
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.containsColumn, "");
    EXPECT_EQ(outcome.lacksColumn, "");
}

TEST_F(PacketFilterTest, EachProtocolSwitchDropsOnlyItsProtocols) {
    const std::vector<std::uint8_t> protocols = {6, 17, 1, 0, 2, 255};
    auto acceptedProtocols = [&] {
        std::vector<std::uint8_t> accepted;
        for (const std::uint8_t protocol : protocols) {
            TestDatagram datagram;
            datagram.protocol = protocol;
            if (accepts(datagram)) {
                accepted.push_back(protocol);
            }
        }
        return accepted;
    };
    EXPECT_EQ(acceptedProtocols(), protocols);
    record.filterAllowTcp = 0;
    EXPECT_EQ(acceptedProtocols(), (std::vector<std::uint8_t>{17, 1, 0, 2, 255}));
    record.filterAllowTcp = 1;
    record.filterAllowUdp = 0;
    EXPECT_EQ(acceptedProtocols(), (std::vector<std::uint8_t>{6, 1, 0, 2, 255}));
    record.filterAllowUdp = 1;
    record.filterAllowIcmp = 0;
    EXPECT_EQ(acceptedProtocols(), (std::vector<std::uint8_t>{6, 17, 0, 2, 255}));
    record.filterAllowIcmp = 1;
    record.filterAllowOther = 0;
    EXPECT_EQ(acceptedProtocols(), (std::vector<std::uint8_t>{6, 17, 1}));
    record.filterAllowTcp = record.filterAllowUdp = record.filterAllowIcmp = 0;
    EXPECT_TRUE(acceptedProtocols().empty());
}

TEST_F(PacketFilterTest, SizeBoundsTestTheIpTotalLengthNotTheCapturedLength) {
    auto withTotalLength = [](int totalLength, std::size_t payloadBytes) {
        TestDatagram datagram;
        datagram.payload.assign(payloadBytes, 'x');
        datagram.totalLength = totalLength;
        return datagram;
    };
    record.filterMinSize = 100;
    EXPECT_FALSE(accepts(withTotalLength(99, 200)));
    EXPECT_TRUE(accepts(withTotalLength(100, 0)));
    EXPECT_TRUE(accepts(withTotalLength(65535, 0)));
    record.filterMaxSize = 200;
    EXPECT_TRUE(accepts(withTotalLength(200, 500)));
    EXPECT_FALSE(accepts(withTotalLength(201, 0)));
}

TEST_F(PacketFilterTest, AddressListsEndAtTheirFirstZeroEntry) {
    const std::uint32_t a = address(10, 0, 0, 1), b = address(10, 0, 0, 2),
                        c = address(10, 0, 0, 3), d = address(10, 0, 0, 4);
    record.filterSourceIps[0] = a;
    record.filterSourceIps[1] = b;
    record.filterSourceIps[3] = c;  // after the zero at index 2: not in the list
    EXPECT_TRUE(accepts(between(a, d)));
    EXPECT_TRUE(accepts(between(b, d)));
    EXPECT_FALSE(accepts(between(c, d)));
    EXPECT_FALSE(accepts(between(d, a)));

    record = defaultSettings();
    record.filterDestIps[0] = d;
    EXPECT_TRUE(accepts(between(a, d)));
    EXPECT_FALSE(accepts(between(d, a)));
}

TEST_F(PacketFilterTest, MustNotAddressListsDropTheirAddresses) {
    const std::uint32_t a = address(10, 0, 0, 1), b = address(10, 0, 0, 2),
                        c = address(10, 0, 0, 3);
    record.filterSourceIpsNot[0] = a;
    record.filterDestIpsNot[0] = b;
    EXPECT_FALSE(accepts(between(a, c)));
    EXPECT_FALSE(accepts(between(c, b)));
    EXPECT_TRUE(accepts(between(b, a)));
    EXPECT_TRUE(accepts(between(c, c)));
}

TEST_F(PacketFilterTest, EitherAddressListNeedsEveryEntryAtOneEnd) {
    const std::uint32_t a = address(10, 0, 0, 1), b = address(10, 0, 0, 2),
                        c = address(10, 0, 0, 3);
    record.filterEitherIps[0] = a;
    EXPECT_TRUE(accepts(between(a, c)));
    EXPECT_TRUE(accepts(between(c, a)));
    EXPECT_FALSE(accepts(between(b, c)));

    record.filterEitherIps[1] = b;
    EXPECT_TRUE(accepts(between(a, b)));
    EXPECT_TRUE(accepts(between(b, a)));
    EXPECT_FALSE(accepts(between(a, c)));

    record.filterEitherIps[2] = c;
    EXPECT_FALSE(accepts(between(a, b)));
    EXPECT_FALSE(accepts(between(b, c)));
}

TEST_F(PacketFilterTest, PortListsAcceptAnyListedPortOnTcpAndUdp) {
    PacketFilter::parsePortList("80, 8080", record.filterSourcePorts);
    EXPECT_TRUE(accepts(tcp(80, 5000)));
    EXPECT_TRUE(accepts(tcp(8080, 5000)));
    EXPECT_FALSE(accepts(tcp(443, 5000)));
    EXPECT_TRUE(accepts(udp(8080, 5000)));
    EXPECT_FALSE(accepts(udp(443, 80)));
    // ICMP and other protocols skip the port filters, whatever their bytes 20 to 23 hold.
    TestDatagram icmp = tcp(443, 443);
    icmp.protocol = 1;
    std::vector<std::uint8_t> bytes = icmp.bytes();
    bytes[20] = 0x01;
    bytes[21] = 0xBB;
    EXPECT_TRUE(run(bytes).accepted);

    record = defaultSettings();
    PacketFilter::parsePortList("53", record.filterEitherPorts);
    EXPECT_TRUE(accepts(udp(53, 4000)));
    EXPECT_TRUE(accepts(udp(4000, 53)));
    EXPECT_FALSE(accepts(udp(4000, 4001)));

    record = defaultSettings();
    PacketFilter::parsePortList("22", record.filterDestPortsNot);
    EXPECT_FALSE(accepts(tcp(5000, 22)));
    EXPECT_TRUE(accepts(tcp(22, 5000)));
}

TEST_F(PacketFilterTest, PortListWithZeroInFirstPlaceIsOutOfForce) {
    PacketFilter::parsePortList("0,80", record.filterSourcePorts);
    EXPECT_TRUE(accepts(tcp(443, 5000)));

    // As a must-NOT list alone it excludes nothing: every list holds 0 at index 0.
    record = defaultSettings();
    PacketFilter::parsePortList("0,80", record.filterSourcePortsNot);
    EXPECT_TRUE(accepts(tcp(80, 81)));
    // With another list reaching index 1, the walk gets to the 80.
    PacketFilter::parsePortList("80,81", record.filterDestPorts);
    EXPECT_FALSE(accepts(tcp(80, 81)));
    EXPECT_TRUE(accepts(tcp(79, 81)));
}

TEST_F(PacketFilterTest, PortWalkEndsAtTheFirstIndexWhereAllFiveListsAreZero) {
    PacketFilter::parsePortList("80,0,443", record.filterDestPorts);
    EXPECT_TRUE(accepts(tcp(5000, 80)));
    EXPECT_FALSE(accepts(tcp(5000, 443)));
    // Another list non-zero at index 1 carries the walk on to the 443.
    PacketFilter::parsePortList("1,2", record.filterSourcePortsNot);
    EXPECT_TRUE(accepts(tcp(5000, 443)));
    EXPECT_FALSE(accepts(tcp(2, 443)));
}

TEST_F(PacketFilterTest, MustContainFoldsCaseOnlyWhenMatchCaseIsOff) {
    setTextField(record.filterContains1, "GET");
    const Outcome folded = run(carrying("get /index.html").bytes());
    EXPECT_TRUE(folded.accepted);
    EXPECT_EQ(folded.containsColumn, "get,,");
    EXPECT_EQ(folded.lacksColumn, ",,");

    filter.setMatchCase(true);
    EXPECT_FALSE(accepts(carrying("get /index.html")));
    const Outcome exact = run(carrying("GET /index.html").bytes());
    EXPECT_TRUE(exact.accepted);
    EXPECT_EQ(exact.containsColumn, "GET,,");

    filter.setMatchCase(false);
    EXPECT_TRUE(accepts(carrying("gEt /")));
}

TEST_F(PacketFilterTest, MustContainNeedsOneOfTheNonEmptyStrings) {
    setTextField(record.filterContains1, "alpha");
    setTextField(record.filterContains3, "gamma");
    filter.setMatchCase(true);
    const Outcome outcome = run(carrying("...gamma...").bytes());
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.containsColumn, "alpha,,gamma");
    EXPECT_TRUE(accepts(carrying("alpha")));
    EXPECT_FALSE(accepts(carrying("beta")));
}

TEST_F(PacketFilterTest, MustNotContainDropsOnAnyString) {
    setTextField(record.filterLacks2, "Bad");
    const Outcome outcome = run(carrying("all good").bytes());
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.containsColumn, ",,");
    EXPECT_EQ(outcome.lacksColumn, ",bad,");
    EXPECT_FALSE(accepts(carrying("a BAD one")));
}

TEST_F(PacketFilterTest, ZeroBytesMatchSpacesAndSplitWords) {
    setTextField(record.filterContains1, "GET");
    EXPECT_FALSE(accepts(carrying(std::string_view("G\0ET", 4))));
    setTextField(record.filterContains1, "G ET");
    EXPECT_TRUE(accepts(carrying(std::string_view("G\0ET", 4))));
}

TEST_F(PacketFilterTest, StringsAreSearchedInThePayloadOnly) {
    setTextField(record.filterContains1, "ABCD");
    filter.setMatchCase(true);
    std::vector<std::uint8_t> bytes = carrying("payload").bytes();
    std::copy_n("ABCD", 4, bytes.begin() + 24);  // the TCP sequence number
    EXPECT_FALSE(run(bytes).accepted);

    // Bytes past the captured length never count, whatever the spare bytes hold.
    const std::vector<std::uint8_t> shortOne = carrying("AB").bytes();
    const Block block(shortOne, 'C');
    filter.refresh(true, record);
    EXPECT_FALSE(filter.accept(block.data(), block.length()).accepted);
}

TEST_F(PacketFilterTest, EmptyPayloadFailsMustContainAndPassesMustNot) {
    TestDatagram headerOnly;
    std::vector<std::uint8_t> pastTheEnd = carrying("0123456789").bytes();
    pastTheEnd[32] = 0xF0;  // a 60-byte TCP header in a 50-byte datagram

    setTextField(record.filterContains1, "a");
    EXPECT_FALSE(accepts(headerOnly));
    EXPECT_FALSE(run(pastTheEnd).accepted);

    record = defaultSettings();
    setTextField(record.filterLacks1, "0");
    EXPECT_TRUE(accepts(headerOnly));
    EXPECT_TRUE(run(pastTheEnd).accepted);
}

TEST_F(PacketFilterTest, ColumnsStayEmptyWhenNoStringIsSet) {
    const Outcome outcome = run(carrying("anything").bytes());
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.containsColumn, "");
    EXPECT_EQ(outcome.lacksColumn, "");
}

TEST_F(PacketFilterTest, StringsLongerThanTheirFieldAreReadToCapacity) {
    std::fill(std::begin(record.filterContains1), std::end(record.filterContains1), 'q');
    const Outcome outcome = run(carrying(std::string(2000, 'q')).bytes());
    EXPECT_TRUE(outcome.accepted);
    EXPECT_EQ(outcome.containsColumn, std::string(1024, 'q') + ",,");
}

TEST_F(PacketFilterTest, ReloadKeepsTheApplySwitch) {
    const Block block(tcp(1024, 80).bytes());
    record.filterAllowTcp = 0;
    filter.refresh(false, record);
    filter.reload(record);
    EXPECT_TRUE(filter.accept(block.data(), block.length()).accepted);
    filter.refresh(true, defaultSettings());
    filter.reload(record);
    EXPECT_FALSE(filter.accept(block.data(), block.length()).accepted);
}

// Random short datagrams through a filter that runs every test, under the sanitizer.
TEST_F(PacketFilterTest, RandomShortDatagramsStayInsideTheirBlock) {
    record.filterSourceIpsNot[0] = address(1, 2, 3, 4);
    PacketFilter::parsePortList("1,2,3", record.filterDestPortsNot);
    PacketFilter::parsePortList("0,0,0,7", record.filterSourcePortsNot);
    setTextField(record.filterContains1, "a");
    setTextField(record.filterContains2, "\x01\x02");
    setTextField(record.filterLacks3, "zzz");
    filter.refresh(true, record);
    std::mt19937 random(99);
    int accepted = 0;
    for (int round = 0; round < 4000; ++round) {
        std::vector<std::uint8_t> bytes(random() % 61);
        for (auto& byte : bytes) {
            byte = static_cast<std::uint8_t>(random() % 8 == 0 ? 'a' : random());
        }
        if (bytes.size() > 9) {
            bytes[9] = std::array<std::uint8_t, 4>{1, 6, 17, 50}[random() % 4];
        }
        const Block block(bytes, static_cast<std::uint8_t>(random()));
        accepted += filter.accept(block.data(), block.length()).accepted;
    }
    EXPECT_GT(accepted, 0);
    EXPECT_TRUE(filter.accept(nullptr, 0).accepted == false);
}

// One thread publishes new settings, one refreshes from the published copies, one accepts:
// every verdict must belong wholly to one of the two settings.
TEST(PacketFilterConcurrency, RefreshRacingAcceptNeverMixesTwoSettings) {
    const std::uint32_t first = address(10, 0, 0, 1), second = address(10, 0, 0, 2);
    SettingsRecord settingsA = defaultSettings();
    settingsA.filterSourceIps[0] = first;
    setTextField(settingsA.filterContains1, "alpha");
    SettingsRecord settingsB = defaultSettings();
    settingsB.filterSourceIps[0] = second;
    setTextField(settingsB.filterLacks2, "omega");

    PublishedSettings published(settingsA);
    PacketFilter filter;
    filter.refresh(true, published.current());
    std::atomic<bool> done{false};

    std::thread writer([&] {
        for (int i = 0; !done; ++i) {
            published.replace(i % 2 == 0 ? settingsB : settingsA);
        }
    });
    std::thread refresher([&] {
        SettingsView view(published);
        for (int i = 0; !done; ++i) {
            filter.refresh(true, view.get());
            filter.setMatchCase(i % 3 == 0);
        }
    });

    TestDatagram fromFirst = between(first, second).withPayload("alpha omega");
    TestDatagram fromSecond = between(second, first).withPayload("alpha");
    const Block blockFromFirst(fromFirst.bytes());
    const Block blockFromSecond(fromSecond.bytes());
    int mixed = 0;
    int acceptedUnderA = 0;
    int acceptedUnderB = 0;
    // Until both settings were seen often, within a bound for a loaded machine.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (int i = 0; i < 200000 || std::min(acceptedUnderA, acceptedUnderB) < 1000; ++i) {
        if (std::chrono::steady_clock::now() > deadline) {
            break;
        }
        // Under A only the first passes ("alpha,," / ",,"), under B only the second
        // (",," / ",omega,").
        const FilterVerdict a = filter.accept(blockFromFirst.data(), blockFromFirst.length());
        if (a.accepted) {
            acceptedUnderA++;
            mixed += a.containsColumn != "alpha,," || a.lacksColumn != ",,";
        }
        const FilterVerdict b = filter.accept(blockFromSecond.data(), blockFromSecond.length());
        if (b.accepted) {
            acceptedUnderB++;
            mixed += b.containsColumn != ",," || b.lacksColumn != ",omega,";
        }
    }
    done = true;
    writer.join();
    refresher.join();
    EXPECT_EQ(mixed, 0);
    EXPECT_GT(acceptedUnderA, 0);
    EXPECT_GT(acceptedUnderB, 0);
}

TEST(PortList, DigitRunsSeparatedByAnythingElse) {
    std::uint16_t ports[FilterListLength];
    PacketFilter::parsePortList("80, ,443;8080", ports);
    EXPECT_EQ(ports[0], 80);
    EXPECT_EQ(ports[1], 443);
    EXPECT_EQ(ports[2], 8080);
    EXPECT_EQ(ports[3], 0);
    EXPECT_EQ(PacketFilter::formatPortList(ports), "80,443,8080");

    PacketFilter::parsePortList("-80 x70000", ports);
    EXPECT_EQ(ports[0], 80);
    EXPECT_EQ(ports[1], 4464);
    // A number of any length keeps its true value modulo 65536.
    PacketFilter::parsePortList("12345678901234567890123", ports);
    EXPECT_EQ(ports[0], 17611);
}

TEST(PortList, EmptyAndSeparatorOnlyTextsGiveAnEmptyList) {
    std::uint16_t ports[FilterListLength];
    for (const char* text : {"", ", ;, -", "abc"}) {
        std::fill(std::begin(ports), std::end(ports), std::uint16_t{9});
        PacketFilter::parsePortList(text, ports);
        EXPECT_EQ(std::count(std::begin(ports), std::end(ports), 0), 100) << text;
        EXPECT_EQ(PacketFilter::formatPortList(ports), "");
    }
}

TEST(PortList, KeepsTheFirstHundredNumbersAndZeros) {
    std::string text;
    for (int i = 1; i <= 500; ++i) {
        text += std::to_string(i) + ",";
    }
    std::uint16_t ports[FilterListLength];
    PacketFilter::parsePortList(text, ports);
    EXPECT_EQ(ports[0], 1);
    EXPECT_EQ(ports[99], 100);

    PacketFilter::parsePortList("80,0,443", ports);
    EXPECT_EQ(ports[1], 0);
    EXPECT_EQ(ports[2], 443);
    EXPECT_EQ(PacketFilter::formatPortList(ports), "80");
}

TEST(PortList, AnyTextParsesAndFormatsBackToTheSameList) {
    std::mt19937 random(5);
    std::uint16_t ports[FilterListLength];
    std::uint16_t again[FilterListLength];
    for (int round = 0; round < 2000; ++round) {
        std::string text(random() % 1200, ' ');
        for (char& c : text) {
            c = random() % 3 == 0 ? static_cast<char>(random())
                                  : static_cast<char>('0' + random() % 10);
        }
        PacketFilter::parsePortList(text, ports);
        PacketFilter::parsePortList(PacketFilter::formatPortList(ports), again);
        const auto firstZero = std::find(std::begin(ports), std::end(ports), 0);
        ASSERT_TRUE(std::equal(std::begin(ports), firstZero, std::begin(again)));
        ASSERT_TRUE(std::all_of(again + (firstZero - std::begin(ports)), std::end(again),
                                [](std::uint16_t port) { return port == 0; }));
    }
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// The address lists hold IPv4 addresses: one of addresses that must be there takes no IPv6
// datagram, one that must not never drops one. Ports, protocols, sizes and strings apply to
// IPv6 as to IPv4, the protocol taken from the end of the extension chain.
TEST_F(PacketFilterTest, Ipv6PassesTheAddressListsAsNoListedAddressAndTheRestAsIpv4) {
    const auto v6 = [](const TestDatagram& datagram) { return test::asIpv6(datagram); };
    const std::uint32_t a = address(10, 0, 0, 1);
    for (int list = 0; list < 3; ++list) {
        record = defaultSettings();
        (list == 0 ? record.filterSourceIps[0]
                   : (list == 1 ? record.filterDestIps[0] : record.filterEitherIps[0])) = a;
        EXPECT_FALSE(run(v6(between(a, a))).accepted) << list;
    }
    record = defaultSettings();
    record.filterSourceIpsNot[0] = a;
    record.filterDestIpsNot[0] = a;
    EXPECT_TRUE(run(v6(between(a, a))).accepted);

    record = defaultSettings();
    PacketFilter::parsePortList("443", record.filterDestPorts);
    EXPECT_TRUE(run(v6(tcp(5000, 443))).accepted);
    EXPECT_FALSE(run(v6(udp(5000, 53))).accepted);
    // UDP after hop-by-hop options is UDP, and its ports are read after them.
    const std::vector<std::uint8_t> hopByHop = {17, 0, 1, 4, 0, 0, 0, 0};
    EXPECT_TRUE(run(test::asIpv6(udp(5000, 443), 1, 2, hopByHop, 0)).accepted);
    EXPECT_FALSE(run(test::asIpv6(udp(5000, 53), 1, 2, hopByHop, 0)).accepted);

    record = defaultSettings();
    record.filterAllowUdp = 0;
    EXPECT_FALSE(run(test::asIpv6(udp(5000, 443), 1, 2, hopByHop, 0)).accepted);
    EXPECT_TRUE(run(v6(tcp(5000, 443))).accepted);
    record = defaultSettings();
    record.filterAllowIcmp = 0;  // ICMPv6 is IPv6's ICMP
    TestDatagram echo;
    echo.protocol = 58;
    EXPECT_FALSE(run(v6(echo)).accepted);
    record.filterAllowIcmp = 1;
    record.filterAllowOther = 0;
    EXPECT_TRUE(run(v6(echo)).accepted);

    record = defaultSettings();
    record.filterMinSize = 61;  // 40 + 20 of TCP + 1
    EXPECT_FALSE(run(v6(tcp(1, 2))).accepted);
    EXPECT_TRUE(run(v6(carrying("x"))).accepted);
    record = defaultSettings();
    setTextField(record.filterContains1, "needle");
    EXPECT_TRUE(run(v6(carrying("a needle"))).accepted);
    EXPECT_FALSE(run(v6(carrying("a pin"))).accepted);
}

}  // namespace
}  // namespace qhs
