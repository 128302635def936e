#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string_view>

#include "analysis/ProtocolNameTable.h"

namespace qhs {
namespace {

constexpr std::string_view Default = "\xBF\x3F";  // "¿?" in Windows-1252

// The 164 slots without a name: 55-61, 63, 68, 99 and 101-254.
std::set<unsigned> defaultSlots() {
    std::set<unsigned> slots{63, 68, 99};
    for (unsigned i = 55; i <= 61; ++i) {
        slots.insert(i);
    }
    for (unsigned i = 101; i <= 254; ++i) {
        slots.insert(i);
    }
    return slots;
}

TEST(ProtocolNameTable, NamesOfCommonAndOddlyNamedProtocols) {
    EXPECT_EQ(protocolName(0), "");
    EXPECT_EQ(protocolName(1), "ICMP");
    EXPECT_EQ(protocolName(6), "TCP");
    EXPECT_EQ(protocolName(17), "UDP");
    EXPECT_EQ(protocolName(255), "Reserved");
    // RFC 1700 names, not today's.
    EXPECT_EQ(protocolName(41), "SIP");
    EXPECT_EQ(protocolName(50), "SIPP-ESP");
    EXPECT_EQ(protocolName(51), "SIPP-AH");
    EXPECT_EQ(protocolName(39), "TP++");
    EXPECT_EQ(protocolName(93), "AX.25");
    EXPECT_EQ(protocolName(90), "Sprite-RPC");
}

TEST(ProtocolNameTable, DefaultTextIsTheTwoBytesBf3f) {
    ASSERT_EQ(ProtocolNameTable::DefaultName, Default);
    const std::string_view name = protocolName(55);
    ASSERT_EQ(name.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(name[0]), 0xBF);
    EXPECT_EQ(static_cast<unsigned char>(name[1]), 0x3F);
}

TEST(ProtocolNameTable, ExactlyTheUnnamedSlotsHoldTheDefault) {
    const std::set<unsigned> expected = defaultSlots();
    ASSERT_EQ(expected.size(), 164u);
    unsigned named = 0;
    for (unsigned protocol = 0; protocol < ProtocolNameTable::SlotCount; ++protocol) {
        SCOPED_TRACE(protocol);
        const std::string_view name = protocolName(static_cast<std::uint8_t>(protocol));
        EXPECT_EQ(name == Default, expected.count(protocol) == 1);
        if (protocol != 0 && name != Default) {
            ++named;
        }
    }
    EXPECT_EQ(named, 91u);
}

TEST(ProtocolNameTable, ProtocolByteAbove127IndexesAsUnsigned) {
    // The protocol byte as it sits in a captured datagram, read through a plain char.
    char datagram[20] = {};
    datagram[9] = static_cast<char>(200);
    EXPECT_EQ(protocolName(datagram[9]), Default);
    EXPECT_EQ(protocolName(datagram[9]).data(), protocolName(200).data());
    datagram[9] = static_cast<char>(0xFF);
    EXPECT_EQ(protocolName(datagram[9]), "Reserved");
}

TEST(ProtocolNameTable, EveryNameFitsATwelveByteSlot) {
    for (unsigned protocol = 0; protocol < ProtocolNameTable::SlotCount; ++protocol) {
        SCOPED_TRACE(protocol);
        const std::string_view name = protocolName(static_cast<std::uint8_t>(protocol));
        EXPECT_LT(name.size(), ProtocolNameTable::SlotSize);
        EXPECT_EQ(name.data()[name.size()], '\0');
    }
    EXPECT_EQ(protocolName(10).size(), 11u);
    EXPECT_EQ(protocolName(82).size(), 11u);
}

}  // namespace
}  // namespace qhs
