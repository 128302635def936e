#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PacketListFixture.h"
#include "packetmode/PacketContextMenu.h"

namespace qhs {
namespace {

using test::address;
using test::PacketListFixture;
using test::TestDatagram;

TEST(PacketContextMenu, OpensOnTheSelectionOffersTcpCommandsForTcpAndDeletesTheRowOnly) {
    PacketListFixture packets;
    packets.add(TestDatagram{});
    TestDatagram udp;
    udp.protocol = 17;
    packets.add(udp);
    packets.add(TestDatagram{});
    packets.table->lock().store().release(2);
    const auto open = [&packets](std::int32_t row) { return openPacketMenu(*packets.table, row); };
    EXPECT_FALSE(open(-1).opens());
    EXPECT_FALSE(open(3).opens());
    EXPECT_TRUE(open(0).tcpOptionsEnabled);
    EXPECT_FALSE(open(1).tcpOptionsEnabled);
    EXPECT_FALSE(open(2).tcpOptionsEnabled);  // no data: cannot be TCP

    const PacketMenuContext context = open(1);
    bool yes = false;
    const auto answer = [&yes](const UserMessage& question) {
        EXPECT_EQ(question.caption, "Delete from lis?");
        return yes;
    };
    EXPECT_FALSE(deleteContextRow(context, *packets.table, answer));
    EXPECT_EQ(packets.table->lock().list().rowCount(), 3);
    yes = true;
    packets.table->lock().list().removeRow(0);  // the context row moved up meanwhile
    EXPECT_TRUE(deleteContextRow(context, *packets.table, answer));
    EXPECT_EQ(packets.slotsInRowOrder(), std::vector<std::int32_t>{2});
    EXPECT_NE(packets.table->lock().store().packet(1), nullptr);
}

TEST(PacketContextMenu, ReverseResolveNamesTheAddressOrTellsWhatFailed) {
    PacketListFixture packets;
    TestDatagram datagram;
    datagram.source = address(192, 168, 7, 1);
    datagram.destination = address(10, 0, 0, 9);
    packets.add(datagram);
    packets.add(TestDatagram{});
    packets.table->lock().store().release(1);

    std::vector<std::array<std::uint8_t, 4>> looked;
    const ReverseResolver resolver =
        [&looked](const std::array<std::uint8_t, 4>& address) -> std::optional<std::string> {
        looked.push_back(address);
        if (address[0] == 10) {
            return std::nullopt;
        }
        return std::string("router.example");
    };
    const auto resolve = [&](std::optional<std::int32_t> slot, AddressField field) {
        return reverseResolve(*packets.table, slot, field, resolver);
    };

    EXPECT_EQ(resolve(0, AddressField::Source),
              (UserMessage{"IP:                   192.168.7.1\nDomain name: router.example",
                           "Host Info", MessageIcon::Information}));
    EXPECT_EQ(resolve(0, AddressField::Destination),
              (UserMessage{"Error looking up IP: 10.0.0.9", "Host Info", MessageIcon::Stop}));
    EXPECT_EQ(resolve(1, AddressField::Source),
              (UserMessage{"Error getting selection!", "Host Info", MessageIcon::None}));
    EXPECT_EQ(resolve(std::nullopt, AddressField::Source), std::nullopt);
    EXPECT_EQ(looked.size(), 2u);

    // An IPv6 datagram's address goes to the IPv6 look-up, never as four bytes of it.
    const std::int32_t ipv6 = packets.add(test::asIpv6(TestDatagram{}, 1, 2));
    const Ipv6ReverseResolver resolver6 =
        [](const std::array<std::uint8_t, 16>& address) -> std::optional<std::string> {
        return address[15] == 1 ? std::optional<std::string>("six.example") : std::nullopt;
    };
    EXPECT_EQ(reverseResolve(*packets.table, ipv6, AddressField::Source, resolver, resolver6),
              (UserMessage{"IP:                   fd00::1\nDomain name: six.example", "Host Info",
                           MessageIcon::Information}));
    EXPECT_EQ(reverseResolve(*packets.table, ipv6, AddressField::Destination, resolver, resolver6),
              (UserMessage{"Error looking up IP: fd00::2", "Host Info", MessageIcon::Stop}));
    EXPECT_EQ(looked.size(), 2u);
}

}  // namespace
}  // namespace qhs
