#include "packetmode/PacketContextMenu.h"

#include <cstdio>

#include "analysis/DatagramView.h"
#include "analysis/Ipv6View.h"
#include "packetmode/PacketRowLookup.h"

namespace qhs {

namespace {

constexpr std::string_view DeleteQuestion =
    "Are you sure you wish to delete the selected packet from the list?";
constexpr std::string_view DeleteCaption = "Delete from lis?";
constexpr std::string_view HostInfoCaption = "Host Info";
constexpr std::string_view NoSelectionText = "Error getting selection!";

std::string formatAddress(const char* format, const std::array<std::uint8_t, 4>& address) {
    char text[64];
    const int length =
        std::snprintf(text, sizeof text, format, unsigned{address[0]}, unsigned{address[1]},
                      unsigned{address[2]}, unsigned{address[3]});
    return std::string(text, static_cast<std::size_t>(length));
}

}  // namespace

PacketMenuContext openPacketMenu(PacketTable& table, std::int32_t selectionMark) {
    const PacketTable::Access access = table.lock();
    const PacketStore& store = access.store();
    const PacketList& list = access.list();
    PacketMenuContext context;
    if (selectionMark < 0 || selectionMark >= list.rowCount()) {
        return context;
    }
    context.row = selectionMark;
    context.slot = list.row(selectionMark).slot;
    const DatagramView datagram(store.packet(context.slot), store.length(context.slot));
    context.tcpOptionsEnabled = datagram.hasData() && datagram.isTcp();
    return context;
}

bool deleteContextRow(const PacketMenuContext& context, PacketTable& table,
                      const std::function<bool(const UserMessage&)>& ask) {
    if (!context.opens()) {
        return false;
    }
    const UserMessage question{std::string(DeleteQuestion), std::string(DeleteCaption),
                               MessageIcon::Question};
    if (!ask(question)) {
        return false;
    }
    PacketTable::Access access = table.lock();
    return removeRowOfSlot(access.list(), context.slot, context.row);
}

std::optional<UserMessage> reverseResolve(PacketTable& table,
                                          std::optional<std::int32_t> selectedSlot,
                                          AddressField field, const ReverseResolver& resolver,
                                          const Ipv6ReverseResolver& ipv6Resolver) {
    if (!selectedSlot) {
        return std::nullopt;
    }
    std::optional<std::array<std::uint8_t, 4>> address;
    std::optional<std::array<std::uint8_t, 16>> ipv6Address;
    {
        const PacketTable::Access access = table.lock();
        const PacketStore& store = access.store();
        const DatagramView datagram(store.packet(*selectedSlot), store.length(*selectedSlot));
        const bool source = field == AddressField::Source;
        if (datagram.isIpv6()) {
            ipv6Address = source ? datagram.sourceAddress6() : datagram.destinationAddress6();
        } else if (datagram.hasData()) {
            address = source ? datagram.sourceAddressBytes() : datagram.destinationAddressBytes();
        }
    }
    if (ipv6Address) {
        const std::string text = ipv6AddressText(*ipv6Address);
        const std::optional<std::string> name =
            ipv6Resolver ? ipv6Resolver(*ipv6Address) : std::nullopt;
        if (!name) {
            return UserMessage{"Error looking up IP: " + text, std::string(HostInfoCaption),
                               MessageIcon::Stop};
        }
        return UserMessage{"IP:                   " + text + "\nDomain name: " + *name,
                           std::string(HostInfoCaption), MessageIcon::Information};
    }
    if (!address) {
        return UserMessage{std::string(NoSelectionText), std::string(HostInfoCaption),
                           MessageIcon::None};
    }
    const std::optional<std::string> name = resolver(*address);
    if (!name) {
        return UserMessage{formatAddress("Error looking up IP: %u.%u.%u.%u", *address),
                           std::string(HostInfoCaption), MessageIcon::Stop};
    }
    return UserMessage{
        formatAddress("IP:                   %u.%u.%u.%u\nDomain name: ", *address) + *name,
        std::string(HostInfoCaption), MessageIcon::Information};
}

}  // namespace qhs
