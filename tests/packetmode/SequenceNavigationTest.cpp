#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "PacketListFixture.h"
#include "packetmode/SequenceNavigation.h"

namespace qhs {
namespace {

using test::PacketListFixture;
using test::tcpSegment;

constexpr std::uint32_t Ack = 777;

class TcpWalk : public testing::Test {
  protected:
    SequenceWalkOutcome walk(SequenceCommand command, std::int32_t contextSlot) {
        return gotoSequence(command, contextSlot, *packets.table,
                            [this](const UserMessage& question) {
                                questions.push_back(question);
                                const bool yes = !answers.empty() && answers.front();
                                if (!answers.empty()) {
                                    answers.pop_front();
                                }
                                return yes;
                            });
    }
    std::int32_t add(std::uint32_t sequence, std::uint32_t acknowledgement = Ack) {
        return packets.add(tcpSegment(sequence, acknowledgement));
    }

    PacketListFixture packets;
    std::deque<bool> answers;
    std::vector<UserMessage> questions;
};

TEST_F(TcpWalk, WalksTheSequencesOfOneAcknowledgement) {
    add(5000, 1);  // another connection
    const std::int32_t s1000 = add(1000);
    const std::int32_t s1500 = add(1500);
    const std::int32_t s2000 = add(2000);

    EXPECT_EQ(walk(SequenceCommand::Next, s1500).selectSlot, s2000);
    EXPECT_EQ(walk(SequenceCommand::Previous, s1500).selectSlot, s1000);
    const SequenceWalkOutcome first = walk(SequenceCommand::First, s1500);
    EXPECT_EQ(first.selectRow, s1000);
    EXPECT_FALSE(first.message);
    EXPECT_EQ(walk(SequenceCommand::Last, s1500).selectSlot, s2000);

    const SequenceWalkOutcome next = walk(SequenceCommand::Next, s2000);
    EXPECT_EQ(next.selectRow, -1);
    EXPECT_EQ(next.message, (UserMessage{"No higher sequenced packet found.", "Found nothing",
                                         MessageIcon::Information}));
    // On the ends First and Last select the packet again and say so.
    const SequenceWalkOutcome again = walk(SequenceCommand::First, s1000);
    EXPECT_EQ(again.selectRow, s1000);
    EXPECT_EQ(again.message->text, "The currently selected packet has the first sequence.");
    EXPECT_EQ(walk(SequenceCommand::Last, s2000).message->caption, "Last sequence");
    EXPECT_TRUE(questions.empty());
}

TEST_F(TcpWalk, SequencesCompareAsPlainUnsignedNumbers) {
    const std::int32_t five = add(5);
    const std::int32_t nearTop = add(0xFFFFFFF0u);
    const std::int32_t top = add(0xFFFFFFFFu);
    const std::int32_t zero = add(0);
    EXPECT_EQ(walk(SequenceCommand::Next, five).selectSlot, nearTop);
    EXPECT_EQ(walk(SequenceCommand::Previous, nearTop).selectSlot, five);
    // The extreme values are sequences like any other, not markers for "nothing found".
    EXPECT_EQ(walk(SequenceCommand::Next, nearTop).selectSlot, top);
    EXPECT_EQ(walk(SequenceCommand::Previous, five).selectSlot, zero);
    EXPECT_EQ(walk(SequenceCommand::Last, zero).selectSlot, top);
    EXPECT_EQ(walk(SequenceCommand::First, top).selectSlot, zero);
}

TEST_F(TcpWalk, EqualSequencesKeepTheLowestSlotButFirstKeepsTheHighest) {
    const std::int32_t a = add(0);
    const std::int32_t b = add(0);
    const std::int32_t c = add(0);
    EXPECT_EQ(walk(SequenceCommand::First, a).selectSlot, c);
    // All at 0: the last sequence is the selected packet's own.
    EXPECT_EQ(walk(SequenceCommand::Last, b).selectSlot, a);
    EXPECT_EQ(walk(SequenceCommand::Previous, add(100)).selectSlot, a);
}

TEST_F(TcpWalk, ADeletedBestCandidateIsFreedOnYesAndLeftAloneOnNo) {
    const std::int32_t from = add(1500);
    const std::int32_t deleted = add(2000);
    const std::int32_t beyond = add(2500);
    packets.table->lock().list().removeRow(deleted);

    answers = {false};
    EXPECT_EQ(walk(SequenceCommand::Next, from).selectRow, -1);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_EQ(questions[0].caption, "Packet gone");
    EXPECT_NE(packets.table->lock().store().packet(deleted), nullptr);

    answers = {true};
    const SequenceWalkOutcome next = walk(SequenceCommand::Next, from);
    EXPECT_EQ(next.selectSlot, beyond);
    EXPECT_EQ(next.selectRow, 1);
    EXPECT_EQ(packets.table->lock().store().packet(deleted), nullptr);
    EXPECT_EQ(packets.table->lock().store().length(deleted), 0u);

    // With every candidate gone and freed, nothing is left to find.
    packets.table->lock().list().removeRow(1);
    answers = {true};
    EXPECT_EQ(walk(SequenceCommand::Last, from).message->text,
              "The currently selected packet has the last sequence.");
}

TEST_F(TcpWalk, RefusesContextPacketsBelow40BytesAndSkipsSuchCandidates) {
    const UserMessage refusal{
        "The selected packet does not seem to be a valid TCP packet, the operation will not "
        "continue.",
        "Invalid TCP packet", MessageIcon::Stop};
    std::vector<std::uint8_t> bytes = tcpSegment(1000, Ack);
    bytes.resize(39);
    const std::int32_t short39 = packets.add(bytes);
    bytes = tcpSegment(2000, Ack);
    const std::int32_t exact40 = packets.add(bytes);
    const std::int32_t released = add(3000);
    packets.table->lock().store().release(released);

    EXPECT_EQ(walk(SequenceCommand::Next, short39).message, refusal);
    EXPECT_EQ(walk(SequenceCommand::Next, released).message, refusal);
    EXPECT_EQ(walk(SequenceCommand::Next, -1).message, refusal);
    EXPECT_EQ(walk(SequenceCommand::Next, PacketStoreCapacity).message, refusal);
    // The 40-byte packet is accepted, and the 39-byte one is no candidate.
    EXPECT_EQ(walk(SequenceCommand::First, exact40).selectSlot, exact40);
    EXPECT_EQ(walk(SequenceCommand::Previous, exact40).message->caption, "Found nothing");
}

}  // namespace
}  // namespace qhs

namespace qhs {
namespace {

// IPv6 segments are walked by the TCP fields after their extension headers; an IPv6 datagram
// that is not TCP is no context to walk from.
TEST_F(TcpWalk, FollowsIpv6SegmentsAfterTheirExtensionHeaders) {
    const std::vector<std::uint8_t> destinationOptions = {6, 0, 1, 4, 0, 0, 0, 0};
    const auto add6 = [&](std::uint32_t sequence) {
        return packets.add(test::asIpv6(tcpSegment(sequence, Ack), 1, 2, destinationOptions, 60));
    };
    const std::int32_t s1000 = add6(1000);
    add(5000, 1);
    const std::int32_t s2000 = add6(2000);
    EXPECT_EQ(walk(SequenceCommand::Next, s1000).selectSlot, s2000);
    EXPECT_EQ(walk(SequenceCommand::Previous, s2000).selectSlot, s1000);

    test::TestDatagram echo;
    echo.protocol = 58;
    echo.payload.assign(40, 0);
    const std::int32_t notTcp = packets.add(test::asIpv6(echo));
    EXPECT_EQ(walk(SequenceCommand::Next, notTcp).message->caption, "Invalid TCP packet");
}

}  // namespace
}  // namespace qhs
