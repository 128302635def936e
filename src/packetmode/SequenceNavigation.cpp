#include "packetmode/SequenceNavigation.h"

#include <string>
#include <string_view>

#include "analysis/DatagramView.h"
#include "packetmode/PacketRowLookup.h"

namespace qhs {

namespace {

constexpr std::string_view InvalidTcpText =
    "The selected packet does not seem to be a valid TCP packet, the operation will not "
    "continue.";
constexpr std::string_view InvalidTcpCaption = "Invalid TCP packet";
constexpr std::string_view NothingFoundCaption = "Found nothing";
constexpr std::string_view PacketGoneCaption = "Packet gone";

struct CommandTexts {
    std::string_view notFound;
    std::string_view packetGone;
};

CommandTexts textsOf(SequenceCommand command) {
    switch (command) {
        case SequenceCommand::Next:
            return {"No higher sequenced packet found.",
                    "The next sequenced packet was found, but it must have been deleted from "
                    "the list.\r\n\r\nWould you like to attempt to find the next sequenced "
                    "packet?"};
        case SequenceCommand::Previous:
            return {"No previous sequenced packet found.",
                    "The previous sequenced packet was found, but it must have been deleted "
                    "from the list.\r\n\r\nWould you like to attempt to find the previous "
                    "sequenced packet?"};
        case SequenceCommand::First:
            return {"No packets with same ACK found.",
                    "The first sequenced packet was found, but is no longer in the "
                    "list.\r\n\r\nWould you like to find the next lowest sequenced packet?"};
        case SequenceCommand::Last:
            break;
    }
    return {"No packets with same ACK found.",
            "The last sequenced packet was found, but is no longer in the list.\r\n\r\nWould "
            "you like to find the next highest sequenced packet?"};
}

// Whether a candidate with sequence `s` becomes the best one. A separate "found" state
// instead of a start value of 0 or 4294967295 keeps candidates with exactly those sequences
// findable.
bool replacesBest(SequenceCommand command, std::uint32_t s, std::uint32_t selected, bool found,
                  std::uint32_t best) {
    switch (command) {
        case SequenceCommand::Next:
            return s > selected && (!found || s < best);
        case SequenceCommand::Previous:
            return s < selected && (!found || s > best);
        case SequenceCommand::First:
            return !found || s <= best;
        case SequenceCommand::Last:
            return !found || s > best;
    }
    return false;
}

std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

}  // namespace

std::optional<SequenceCandidate> findSequenceCandidate(const PacketStore& store,
                                                       SequenceCommand command,
                                                       std::uint32_t sequence,
                                                       std::uint32_t acknowledgement) {
    std::optional<SequenceCandidate> best;
    const std::int32_t count = store.storedCount();
    for (std::int32_t slot = 0; slot < count; ++slot) {
        const std::uint8_t* data = store.packet(slot);
        const std::uint32_t length = store.length(slot);
        // Offsets 24 to 31 lie inside every datagram of at least 40 bytes.
        if (data == nullptr || length < DatagramView::MinimumTcpNavigableLength) {
            continue;
        }
        std::uint32_t tcpOffset = DatagramView::IpHeaderLength;
        if ((data[0] >> 4) == 6) {
            // IPv6 has its TCP header after the extension headers; only TCP is walked.
            const DatagramView datagram(data, length);
            if (!datagram.isTcp() || !datagram.hasPorts() || !datagram.isTcpNavigable()) {
                continue;
            }
            tcpOffset = datagram.upperOffset();
        }
        if (readBigEndian32(data + tcpOffset + 8) != acknowledgement) {
            continue;
        }
        const std::uint32_t s = readBigEndian32(data + tcpOffset + 4);
        if (replacesBest(command, s, sequence, best.has_value(), best ? best->sequence : 0)) {
            best = SequenceCandidate{slot, s};
        }
    }
    return best;
}

SequenceWalkOutcome gotoSequence(SequenceCommand command, std::int32_t contextSlot,
                                 PacketTable& table,
                                 const std::function<bool(const UserMessage&)>& ask) {
    const CommandTexts texts = textsOf(command);
    for (;;) {
        SequenceCandidate gone;
        {
            const PacketTable::Access access = table.lock();
            const PacketStore& store = access.store();
            const PacketList& list = access.list();
            const DatagramView context(store.packet(contextSlot), store.length(contextSlot));
            // IPv4 is walked from any datagram of 40 bytes; IPv6 only from a TCP header.
            const bool walksIpv6 = context.isTcp() && context.hasPorts();
            if (!context.isTcpNavigable() || (context.isIpv6() && !walksIpv6)) {
                return {-1, -1,
                        UserMessage{std::string(InvalidTcpText), std::string(InvalidTcpCaption),
                                    MessageIcon::Stop}};
            }
            const std::uint32_t sequence = context.tcpSequence();
            const std::optional<SequenceCandidate> best =
                findSequenceCandidate(store, command, sequence, context.tcpAcknowledgement());
            if (!best) {
                return {-1, -1,
                        UserMessage{std::string(texts.notFound), std::string(NothingFoundCaption),
                                    MessageIcon::Information}};
            }
            const std::int32_t row = findRowOfSlot(list, best->slot);
            if (row >= 0) {
                SequenceWalkOutcome outcome{row, best->slot, std::nullopt};
                if (command == SequenceCommand::First && best->sequence == sequence) {
                    outcome.message =
                        UserMessage{"The currently selected packet has the first sequence.",
                                    "First sequence", MessageIcon::Information};
                } else if (command == SequenceCommand::Last && best->sequence == sequence) {
                    outcome.message =
                        UserMessage{"The currently selected packet has the last sequence.",
                                    "Last sequence", MessageIcon::Information};
                }
                return outcome;
            }
            gone = *best;
        }
        const UserMessage question{std::string(texts.packetGone), std::string(PacketGoneCaption),
                                   MessageIcon::Question};
        if (!ask(question)) {
            return {};
        }
        PacketTable::Access access = table.lock();
        // A Clear while the question was open may have filled the slot with a listed packet.
        if (findRowOfSlot(access.list(), gone.slot) >= 0) {
            continue;
        }
        access.store().release(gone.slot);
    }
}

}  // namespace qhs
