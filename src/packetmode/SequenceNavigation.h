#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "app/UserMessage.h"
#include "capture/PacketTable.h"

namespace qhs {

// Walking along a TCP connection: among the stored datagrams of at least 40 bytes that
// carry the same acknowledgement number as the context packet (whatever their protocol
// byte, and whether or not their row is still listed), find the one with the next,
// previous, lowest or highest sequence number. Sequence numbers compare as plain unsigned
// 32-bit numbers, without wrap-around.
enum class SequenceCommand { Next, Previous, First, Last };

struct SequenceCandidate {
    std::int32_t slot = -1;
    std::uint32_t sequence = 0;
};

// One walk over slots 0 to storedCount - 1 for a packet with `sequence` and `acknowledgement`.
// Next takes the smallest sequence above `sequence`, Previous the largest below it, First the
// smallest of all and Last the largest of all. On equal sequences Next, Previous and Last
// keep the lowest slot and First the highest. The caller holds the list guard.
std::optional<SequenceCandidate> findSequenceCandidate(const PacketStore& store,
                                                       SequenceCommand command,
                                                       std::uint32_t sequence,
                                                       std::uint32_t acknowledgement);

// What the window does after a walk: select a row (selection mark and hot row, scrolled into
// view; the detail view follows), then show a message (OK button, owned by the window).
struct SequenceWalkOutcome {
    std::int32_t selectRow = -1;  // -1: the selection stays
    std::int32_t selectSlot = -1;
    std::optional<UserMessage> message;
};

// A TCP command of the context menu for the packet in `contextSlot`, on the window's thread.
// When the best candidate's row was deleted, `ask` puts the "Packet gone" question (true for
// Yes): Yes releases that slot, so it drops out of every later walk, save, log and search,
// and walks again; No ends with nothing to do. The list guard is held for each walk but not
// while asking.
SequenceWalkOutcome gotoSequence(SequenceCommand command, std::int32_t contextSlot,
                                 PacketTable& table,
                                 const std::function<bool(const UserMessage& question)>& ask);

inline SequenceWalkOutcome gotoNextSequence(std::int32_t contextSlot, PacketTable& table,
                                            const std::function<bool(const UserMessage&)>& ask) {
    return gotoSequence(SequenceCommand::Next, contextSlot, table, ask);
}
inline SequenceWalkOutcome gotoPreviousSequence(
    std::int32_t contextSlot, PacketTable& table,
    const std::function<bool(const UserMessage&)>& ask) {
    return gotoSequence(SequenceCommand::Previous, contextSlot, table, ask);
}
inline SequenceWalkOutcome gotoFirstSequence(std::int32_t contextSlot, PacketTable& table,
                                             const std::function<bool(const UserMessage&)>& ask) {
    return gotoSequence(SequenceCommand::First, contextSlot, table, ask);
}
inline SequenceWalkOutcome gotoLastSequence(std::int32_t contextSlot, PacketTable& table,
                                            const std::function<bool(const UserMessage&)>& ask) {
    return gotoSequence(SequenceCommand::Last, contextSlot, table, ask);
}

}  // namespace qhs
