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

TEST(PacketContextMenu, OpensOnTheSelectedRowAndOffersTcpCommandsForTcpOnly) {
    PacketListFixture packets;
    packets.add(TestDatagram{});
    TestDatagram udp;
    udp.protocol = 17;
    packets.add(udp);
    packets.add(TestDatagram{});
    packets.store->release(2);
    packets.list.removeRow(0);

    EXPECT_FALSE(openPacketMenu(*packets.store, packets.list, packets.listBusy, -1).opens());
    EXPECT_FALSE(openPacketMenu(*packets.store, packets.list, packets.listBusy, 2).opens());
    const PacketMenuContext onUdp =
        openPacketMenu(*packets.store, packets.list, packets.listBusy, 0);
    EXPECT_EQ(onUdp.row, 0);
    EXPECT_EQ(onUdp.slot, 1);
    EXPECT_FALSE(onUdp.tcpOptionsEnabled);
    EXPECT_FALSE(
        openPacketMenu(*packets.store, packets.list, packets.listBusy, 1).tcpOptionsEnabled);

    PacketListFixture tcp;
    tcp.add(TestDatagram{});
    EXPECT_TRUE(openPacketMenu(*tcp.store, tcp.list, tcp.listBusy, 0).tcpOptionsEnabled);
}

TEST(PacketContextMenu, DeleteAsksAndRemovesOnlyTheRow) {
    PacketListFixture packets;
    packets.add(TestDatagram{});
    packets.add(TestDatagram{});
    const PacketMenuContext context =
        openPacketMenu(*packets.store, packets.list, packets.listBusy, 1);
    std::vector<UserMessage> questions;
    const auto answer = [&questions](bool yes) {
        return [&questions, yes](const UserMessage& question) {
            questions.push_back(question);
            return yes;
        };
    };

    EXPECT_FALSE(deleteContextRow(context, packets.list, packets.listBusy, answer(false)));
    EXPECT_EQ(packets.list.rowCount(), 2);
    EXPECT_EQ(questions.at(0),
              (UserMessage{"Are you sure you wish to delete the selected packet from the list?",
                           "Delete from lis?", MessageIcon::Question}));

    EXPECT_TRUE(deleteContextRow(context, packets.list, packets.listBusy, answer(true)));
    EXPECT_EQ(packets.slotsInRowOrder(), std::vector<std::int32_t>{0});
    EXPECT_NE(packets.store->packet(1), nullptr);
    EXPECT_FALSE(
        deleteContextRow(PacketMenuContext{}, packets.list, packets.listBusy, answer(true)));
}

TEST(PacketContextMenu, ReverseResolveNamesTheAddressOrTellsWhatFailed) {
    PacketListFixture packets;
    TestDatagram datagram;
    datagram.source = address(192, 168, 7, 1);
    datagram.destination = address(10, 0, 0, 9);
    packets.add(datagram);
    packets.add(TestDatagram{});
    packets.store->release(1);

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
        return reverseResolve(*packets.store, packets.listBusy, slot, field, resolver);
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
}

}  // namespace
}  // namespace qhs
