#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <set>
#include <string_view>

#include "analysis/PortNameTable.h"

namespace qhs {
namespace {

constexpr std::uint8_t Icmp = 1;
constexpr std::uint8_t Tcp = 6;
constexpr std::uint8_t Udp = 17;

struct TellingRow {
    unsigned port;
    const char* tcp;  // nullptr: empty entry ("Unknown")
    const char* udp;
};

// Rows whose names the product fixes, several of them against the registry text.
constexpr TellingRow TellingRows[] = {
    {0, "Reserved", "Reserved"},
    {1, "Port Service Multiplexer", "Port Service Multiplexer"},
    {4, "Unassigned", "Unassigned"},
    {7, "Echo", "Echo"},
    {9, "Discard", "Discard"},
    {13, "Daytime (RFC 867)", "Daytime"},
    {15, "Unassigned [was netstat]", "Unassigned"},
    {20, "File Transfer [Default Data]", "File Transfer [Default Data]"},
    {21, "File Transfer [Control]", "File Transfer [Control]"},
    {22, "SSH Remote Login Protocol", "SSH Remote Login Protocol"},
    {23, "Telnet", "Telnet"},
    {25, "Simple Mail Transfer", "Simple Mail Transfer"},
    {43, "WhoIs", "Who Is"},
    {53, "Domain Name Server", "Domain Name Server"},
    {67, "Bootstrap Protocol Server", "Bootstrap Protocol Server"},
    {68, "Bootstrap Protocol Client", "Bootstrap Protocol Client"},
    {69, "Trivial File Transfer", "Trivial File Transfer"},
    {80, "World Wide Web HTTP", "World Wide Web HTTP"},
    {110, "Post Office Protocol - Version 3", "Post Office Protocol - Version 3"},
    {111, "SUN Remote Procedure Call", "SUN Remote Procedure Call"},
    {119, "Network News Transfer Protocol", "Network News Transfer Protocol"},
    {123, "Network Time Protocol", "Network Time Protocol"},
    {135, "DCE endpoint resolution", "DCE endpoint resolution"},
    {137, "NETBIOS Name Service", "NETBIOS Name Service"},
    {138, "NETBIOS Datagram Service", "NETBIOS Datagram Service"},
    {139, "NETBIOS Session Service", "NETBIOS Session Service"},
    {143, "Internet Message Access Protocol", "Internet Message Access Protocol"},
    {161, "SNMP", "SNMP"},
    {443, "HTTP protocol over TLS/SSL", "HTTP protocol over TLS/SSL"},
    {445, "Microsoft-DS", "Microsoft-DS"},
    {512, "Remote process execution", "used by mail system to notify users"},
    {513, "Remote Login", "maintains data bases showing who's"},
    {514, "Remote Shell", "BSD syslogd"},
    {555, "phAse Zero backdoor (Win 9x, NT) / dsf", "phAse Zero backdoor (Windows) / dsf"},
    {1023, "Reserved", "Reserved"},
    {1024, "Reserved", "Reserved"},
    {1080, "Socks", "Socks"},
    {1243, "SubSeven (Windows Trojan)", nullptr},
    {1433, "Microsoft-SQL-Server", "Microsoft-SQL-Server"},
    {1999, "cisco identification port / SubSeven (Windows Trojan) / Backdoor (Windows Trojan)",
     "cisco identification port"},
    {2115, "KDM / Bugs (Windows Trojan)", "KDM"},
    {2140, "IAS-REG", "IAS-REG / Deep Throat (Windows Trojan) / Deep Throat 2 (Windows Trojan)"},
    {3128, "squid-http", nullptr},
    {3150, "NetMike Assessor Administrator",
     "NetMike Assessor Administrator / Deep Throat (Windows Trojan) / Deep Throat 2 (Windows "
     "Trojan)"},
    {3389, "MS Terminal Server", "MS WBT Server"},
    {6000, "X-Windows", nullptr},
    {6667, "IRC", nullptr},
    {6776, "SubSeven/BackDoor-G (Windows Trojan)", nullptr},
    {8080, "HTTP", "HTTP"},
    {8888, "NewsEDGE server TCP (TCP 1)", "NewsEDGE server UDP (UDP 1)"},
    {12345, "Netbus (Windows Trojan)", nullptr},
    {12346, "NetBus (Windows Trojan)", nullptr},
    {27374, "Linux.Ramen.Worm (RedHat Linux)", "Linux.Ramen.Worm (RedHat Linux)"},
    {31337, "BO2K", "Back Orifice(Windows Trojan)"},
    {31338, nullptr, "Deep Back Orifice (Windows Trojan)"},
    {31789, nullptr, "Hack-A-Tack Remote Access Trojan (Windows Trojan)"},
    {40421, "Master's Paradise (Windows Trojan)", nullptr},
    {54320, "Orifice 2000 (TCP)", nullptr},
    {54321, nullptr, "Orifice 2000 (UDP)"},
    {65000, "distributed attack tool / Devil (Windows Trojan)", nullptr},
    {65301, "pcAnywhere-def", nullptr},
};

std::set<unsigned> portsWhoseName(const PortNameTable& table, bool (*matches)(std::string_view)) {
    std::set<unsigned> ports;
    for (unsigned port = 0; port < PortNameTable::EntryCount; ++port) {
        if (matches(table.name(static_cast<std::uint16_t>(port)))) {
            ports.insert(port);
        }
    }
    return ports;
}

bool isUnassigned(std::string_view name) {
    return name == "Unassigned";
}
bool isReserved(std::string_view name) {
    return name == "Reserved";
}
bool holdsTrojan(std::string_view name) {
    return name.find("Trojan") != std::string_view::npos;
}

void expectEntry(const PortNameTable& table, unsigned port, const char* expected) {
    const std::string_view name = table.name(static_cast<std::uint16_t>(port));
    if (expected == nullptr) {
        EXPECT_TRUE(name.empty()) << "port " << port << " has \"" << name << "\"";
        EXPECT_FALSE(table.hasName(static_cast<std::uint16_t>(port))) << port;
    } else {
        EXPECT_EQ(name, expected) << "port " << port;
        EXPECT_TRUE(table.hasName(static_cast<std::uint16_t>(port))) << port;
    }
}

TEST(PortNameTable, EveryTellingRowComesOutExactly) {
    ASSERT_EQ(std::size(TellingRows), 61u);
    for (const TellingRow& row : TellingRows) {
        expectEntry(TcpPortNameTable, row.port, row.tcp);
        expectEntry(UdpPortNameTable, row.port, row.udp);
    }
}

TEST(PortNameTable, NamesExistOnlyInTheirOwnTable) {
    EXPECT_EQ(portUseText(Tcp, 31338), "Unknown");
    EXPECT_EQ(portUseText(Tcp, 54321), "Unknown");
    EXPECT_EQ(portUseText(Udp, 65301), "Unknown");
    EXPECT_EQ(portUseText(Udp, 31338), "Deep Back Orifice (Windows Trojan)");
    EXPECT_EQ(portUseText(Tcp, 65301), "pcAnywhere-def");
}

TEST(PortNameTable, PortsTheRegistryLeavesOutAreUnknown) {
    for (std::uint16_t port : {750, 1008, 3097, 5236, 17007, 48620, 60000}) {
        EXPECT_TRUE(tcpPortName(port).empty()) << port;
        EXPECT_EQ(portUseText(Tcp, port), "Unknown") << port;
    }
    for (std::uint16_t port : {1008, 3097, 3868, 5000, 5001, 48620, 60000}) {
        EXPECT_TRUE(udpPortName(port).empty()) << port;
        EXPECT_EQ(portUseText(Udp, port), "Unknown") << port;
    }
}

TEST(PortNameTable, PortsAboveTheHighestNamedPortAreUnknown) {
    EXPECT_EQ(TcpPortNameTable.highestNamedPort(), 65301);
    EXPECT_EQ(UdpPortNameTable.highestNamedPort(), 54321);
    for (unsigned port = 65302; port <= 65535; ++port) {
        EXPECT_TRUE(tcpPortName(static_cast<std::uint16_t>(port)).empty()) << port;
    }
    for (unsigned port = 54322; port <= 65535; ++port) {
        EXPECT_TRUE(udpPortName(static_cast<std::uint16_t>(port)).empty()) << port;
    }
}

TEST(PortNameTable, FirstAndLastPort) {
    EXPECT_EQ(tcpPortName(0), "Reserved");
    EXPECT_EQ(udpPortName(0), "Reserved");
    EXPECT_EQ(portUseText(Tcp, 0), "Reserved");
    EXPECT_TRUE(tcpPortName(65535).empty());
    EXPECT_TRUE(udpPortName(65535).empty());
    EXPECT_EQ(portUseText(Tcp, 65535), "Unknown");
    EXPECT_EQ(portUseText(Udp, 65535), "Unknown");
    ASSERT_NE(tcpPortName(65535).data(), nullptr);  // an empty entry is still a C string
    EXPECT_EQ(tcpPortName(65535).data()[0], '\0');
}

TEST(PortNameTable, OtherProtocolsHaveEmptyUseFields) {
    EXPECT_EQ(portUseText(Icmp, 0), "");
    EXPECT_EQ(portUseText(Icmp, 80), "");
    EXPECT_EQ(portUseText(2, 0), "");
    EXPECT_EQ(portUseText(255, 443), "");
    EXPECT_NE(portUseText(Icmp, 0).data(), nullptr);
}

TEST(PortNameTable, UnassignedAndReservedAreExactlyTheWellKnownLists) {
    const std::set<unsigned> unassignedTcp{4, 6, 8, 10, 12, 14, 16, 26, 28, 30, 32, 34, 36, 40, 60};
    std::set<unsigned> unassignedUdp = unassignedTcp;
    unassignedUdp.insert(15);
    const std::set<unsigned> reserved{0, 1023, 1024};
    EXPECT_EQ(portsWhoseName(TcpPortNameTable, isUnassigned), unassignedTcp);
    EXPECT_EQ(portsWhoseName(UdpPortNameTable, isUnassigned), unassignedUdp);
    EXPECT_EQ(portsWhoseName(TcpPortNameTable, isReserved), reserved);
    EXPECT_EQ(portsWhoseName(UdpPortNameTable, isReserved), reserved);
    EXPECT_EQ(tcpPortName(15), "Unassigned [was netstat]");
}

TEST(PortNameTable, EntriesShareOneConstantText) {
    EXPECT_EQ(tcpPortName(4).data(), tcpPortName(60).data());
    EXPECT_EQ(tcpPortName(4).data(), udpPortName(15).data());
    EXPECT_EQ(tcpPortName(6001).data(), udpPortName(6063).data());
}

TEST(PortNameTable, TrojanAnnotatedPortsAreExactlyTheKnownOnes) {
    const std::set<unsigned> tcp{1011,  1243,  1999,  2115,  3129,  5000,  5001,  5400,  5401,
                                 5402,  5742,  6670,  6711,  6776,  10520, 12345, 12346, 12361,
                                 12362, 20034, 21554, 26274, 30100, 30101, 30102, 31785, 31787,
                                 34324, 40421, 40422, 40423, 40426, 47262, 65000};
    ASSERT_EQ(tcp.size(), 34u);
    const std::set<unsigned> udp{2140, 3150, 31337, 31338, 31789, 31791};
    EXPECT_EQ(portsWhoseName(TcpPortNameTable, holdsTrojan), tcp);
    EXPECT_EQ(portsWhoseName(UdpPortNameTable, holdsTrojan), udp);
}

TEST(PortNameTable, TrojanNamesCarryTheirSuffix) {
    EXPECT_EQ(tcpPortName(20034), "NetBus 2 Pro (Windows Trojan)");
    EXPECT_EQ(tcpPortName(21554), "Girlfriend (Windows Trojan)");
    EXPECT_EQ(tcpPortName(30100), "Netsphere (Windows Trojan)");
    EXPECT_EQ(tcpPortName(30102), "Netsphere (Windows Trojan)");
    EXPECT_EQ(tcpPortName(1011), "Doly Trojan (Windows Trojan)");
    EXPECT_EQ(tcpPortName(6711), "SubSeven (Windows Trojan)");
    EXPECT_EQ(tcpPortName(10520), "Acid Shivers (Windows Trojan)");
    EXPECT_EQ(tcpPortName(12361), "Whack-a-mole (Windows Trojan)");
    EXPECT_EQ(tcpPortName(34324), "BigGluck (Windows Trojan)");
    EXPECT_EQ(tcpPortName(40426), "Master's Paradise (Windows Trojan)");
    EXPECT_EQ(tcpPortName(47262), "Delta Source (Windows Trojan)");
    // The ports between annotated ones keep what the registry gives them.
    EXPECT_FALSE(holdsTrojan(tcpPortName(31786)));
    EXPECT_FALSE(holdsTrojan(tcpPortName(40424)));
    EXPECT_FALSE(holdsTrojan(tcpPortName(40425)));
}

TEST(PortNameTable, TrojanNamesFollowTheRegistryName) {
    EXPECT_EQ(tcpPortName(5400), "Excerpt Search / Blade Runner (Windows Trojan)");
    EXPECT_EQ(tcpPortName(5401), "Excerpt Search Secure / Blade Runner (Windows Trojan)");
    EXPECT_EQ(tcpPortName(5402), "MFTP / Blade Runner (Windows Trojan)");
    EXPECT_EQ(tcpPortName(5742), "IDA Discover Port 2 / WinCrash (Windows Trojan)");
    EXPECT_EQ(tcpPortName(6670), "Vocaltec Global Online Directory / Deep Throat (Windows Trojan)");
    EXPECT_EQ(tcpPortName(3129), "NetPort Discovery Port / Master's Paradise (Windows Trojan)");
    // The UDP side of those ports keeps the registry's name alone.
    EXPECT_EQ(udpPortName(5400), "Excerpt Search");
    EXPECT_EQ(udpPortName(6670), "Vocaltec Global Online Directory");
}

TEST(PortNameTable, AnnotationsInTheirOwnWording) {
    EXPECT_EQ(tcpPortName(31337), "BO2K");
    EXPECT_EQ(tcpPortName(54320), "Orifice 2000 (TCP)");
    EXPECT_EQ(tcpPortName(27665), "DDOS communication TCP");
    EXPECT_EQ(tcpPortName(27374), "Linux.Ramen.Worm (RedHat Linux)");
}

TEST(PortNameTable, RegistryRangesNameEveryPortOfTheRange) {
    for (unsigned port = 6001; port <= 6063; ++port) {
        EXPECT_EQ(tcpPortName(static_cast<std::uint16_t>(port)), "X Window System") << port;
        EXPECT_EQ(udpPortName(static_cast<std::uint16_t>(port)), "X Window System") << port;
    }
    EXPECT_EQ(tcpPortName(6000), "X-Windows");  // the product's own name holds over the range
    EXPECT_TRUE(udpPortName(6000).empty());
    EXPECT_NE(tcpPortName(6064), "X Window System");
    EXPECT_NE(tcpPortName(5999), "X Window System");
    for (std::uint16_t port : {6665, 6666, 6668, 6669}) {
        EXPECT_EQ(tcpPortName(port), "IRCU") << port;
        EXPECT_EQ(udpPortName(port), "IRCU") << port;
    }
    EXPECT_EQ(tcpPortName(6667), "IRC");
    EXPECT_TRUE(udpPortName(6667).empty());
}

TEST(PortNameTable, RegistryDescriptionsAreTrimmedAtTheEndsOnly) {
    EXPECT_EQ(tcpPortName(1080), "Socks");                       // "Socks    "
    EXPECT_EQ(tcpPortName(1433), "Microsoft-SQL-Server");        // one blank after it
    EXPECT_EQ(tcpPortName(126), "NXEdit");                       // tabs after the keyword
    EXPECT_EQ(udpPortName(1444), "Marcam  License Management");  // inner blanks kept
    EXPECT_EQ(tcpPortName(439), "dasp      Thomas Obermair");
    EXPECT_EQ(tcpPortName(24), "any private mail system");  // a line without keyword
    EXPECT_EQ(udpPortName(750), "kerberos version iv");
}

TEST(PortNameTable, FirstRegistryLineWithADescriptionWins) {
    EXPECT_EQ(tcpPortName(105), "CCSO name server protocol");
    EXPECT_EQ(tcpPortName(1701), "l2f");
    EXPECT_EQ(tcpPortName(9100), "PDL Data Streaming Port");
    EXPECT_EQ(tcpPortName(351), "MATIP Type B");
    // "ident 113/tcp" and "comsat 512/udp" have no description; the next line names the port.
    EXPECT_EQ(tcpPortName(113), "Authentication Service");
    EXPECT_EQ(udpPortName(512), "used by mail system to notify users");
}

TEST(PortNameTable, CommentedAndOtherProtocolLinesNameNothing) {
    EXPECT_EQ(tcpPortName(126), "NXEdit");  // not "#unitary 126/tcp Unisys Unitary Login"
    EXPECT_TRUE(udpPortName(1008).empty());
    EXPECT_TRUE(tcpPortName(3097).empty());  // only "#  3097/tcp Reserved" and an sctp line
    EXPECT_TRUE(udpPortName(3868).empty());
    EXPECT_EQ(tcpPortName(3868), "DIAMETER");
}

TEST(PortNameTable, NamesArePlainTextWithinTheOriginalLengths) {
    std::size_t longest[2] = {0, 0};
    const PortNameTable* tables[2] = {&TcpPortNameTable, &UdpPortNameTable};
    for (int t = 0; t < 2; ++t) {
        for (unsigned port = 0; port < PortNameTable::EntryCount; ++port) {
            const std::string_view name = tables[t]->name(static_cast<std::uint16_t>(port));
            ASSERT_EQ(name.data()[name.size()], '\0') << port;
            for (char c : name) {
                ASSERT_GE(static_cast<unsigned char>(c), 0x20) << port;
            }
            if (!name.empty()) {
                EXPECT_NE(name.front(), ' ') << port;
                EXPECT_NE(name.back(), ' ') << port;
            }
            longest[t] = std::max(longest[t], name.size());
        }
    }
    // The longest names: TCP 1999 (81 characters) and UDP 3150 (94).
    EXPECT_EQ(longest[0], 81u);
    EXPECT_EQ(longest[1], 94u);
    EXPECT_EQ(tcpPortName(1999).size(), 81u);
    EXPECT_EQ(udpPortName(3150).size(), 94u);
}

TEST(PortNameTable, CountsOfThisRegistryCut) {
    std::size_t named[2] = {0, 0};
    std::size_t wellKnown[2] = {0, 0};
    const PortNameTable* tables[2] = {&TcpPortNameTable, &UdpPortNameTable};
    for (int t = 0; t < 2; ++t) {
        for (unsigned port = 0; port < PortNameTable::EntryCount; ++port) {
            if (tables[t]->hasName(static_cast<std::uint16_t>(port))) {
                ++named[t];
                wellKnown[t] += port < 1024 ? 1 : 0;
            }
        }
        EXPECT_EQ(tables[t]->namedPortCount(), named[t]);
    }
    std::cout << "TCP names: " << named[0] << " (" << wellKnown[0]
              << " below 1024), UDP names: " << named[1] << " (" << wellKnown[1]
              << " below 1024)\n";
    // The 2003 registry with the overrides (tables made from an older registry had 3150 and
    // 3084). Change these when the data changes on purpose.
    EXPECT_EQ(named[0], 4195u);
    EXPECT_EQ(named[1], 4162u);
}

}  // namespace
}  // namespace qhs
