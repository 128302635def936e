#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/UserMessage.h"
#include "capture/PacketTable.h"

namespace qhs {

// The packet the context menu was opened on. A row of -1 means no menu opens.
struct PacketMenuContext {
    std::int32_t row = -1;
    std::int32_t slot = -1;
    // "TCP specific options" is greyed unless the datagram is TCP; a slot without data
    // cannot be TCP.
    bool tcpOptionsEnabled = false;

    bool opens() const { return row >= 0; }
};

// The context of the menu for the list's selection mark (-1 when there is none). Takes the
// list guard for the moment it reads the row and the protocol byte.
PacketMenuContext openPacketMenu(PacketTable& table, std::int32_t selectionMark);

// "&Delete packet from list": asks (Yes/No, true for Yes) and on Yes removes the context row,
// found again by its slot in case it moved. The store slot keeps its datagram. Returns
// whether a row was removed.
bool deleteContextRow(const PacketMenuContext& context, PacketTable& table,
                      const std::function<bool(const UserMessage& question)>& ask);

// Where an address lies in the datagram.
enum class AddressField : std::uint32_t { Source = 12, Destination = 16 };

// The reverse host lookup: the official name of an IPv4 address (first byte = first number
// of the dotted form), or nothing when the lookup fails. A platform call that may wait.
using ReverseResolver =
    std::function<std::optional<std::string>(const std::array<std::uint8_t, 4>& address)>;
// The same for an IPv6 address.
using Ipv6ReverseResolver =
    std::function<std::optional<std::string>(const std::array<std::uint8_t, 16>& address)>;

// "Reverse resolve ...", on a thread of its own: the message to show (caption "Host Info")
// for the slot of the selection mark as it is now, or nothing when there is no selection.
// The address is copied under the list guard; the lookup runs without it.
// An IPv6 datagram's address goes to `ipv6Resolver`, and is written as RFC 5952 writes it.
std::optional<UserMessage> reverseResolve(PacketTable& table,
                                          std::optional<std::int32_t> selectedSlot,
                                          AddressField field, const ReverseResolver& resolver,
                                          const Ipv6ReverseResolver& ipv6Resolver = {});

}  // namespace qhs
