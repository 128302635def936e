#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <thread>

#include "filemode/FileSegmentFilter.h"
#include "filemode/FileSnifferState.h"
#include "filemode/StreamCompletion.h"
#include "filemode/StreamJoin.h"
#include "filemode/StreamTable.h"
#include "filemode/TcpSegments.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

using test::TcpSegment;

TcpSegment segment(std::uint32_t sequence, std::size_t length, char fill) {
    return TcpSegment{}.at(sequence).carrying(std::string(length, fill));
}

std::string joined(const std::vector<TcpSegment>& arrivals) {
    const JoinedStream stream = joinStream(test::chainOf(arrivals).get());
    EXPECT_EQ(stream.bytes[stream.length], 0) << "a zero byte follows the data";
    return test::textOf(stream.data());
}

std::string text(std::size_t length, char fill) {
    return std::string(length, fill);
}

TEST(StreamJoin, SegmentsAreJoinedInSequenceOrderUpToTheFirstGap) {
    const std::string whole = text(500, 'a') + text(500, 'b') + text(100, 'c');
    EXPECT_EQ(joined({segment(1500, 500, 'b'), segment(2000, 100, 'c'), segment(1000, 500, 'a')}),
              whole);
    EXPECT_EQ(joined({segment(2000, 100, 'c'), segment(1000, 500, 'a')}), text(500, 'a'));
    // A retransmitted segment counts once, as it first arrived.
    EXPECT_EQ(joined({segment(1000, 500, 'a'), segment(1500, 500, 'b'), segment(1000, 500, 'X'),
                      segment(2000, 100, 'c'), segment(1500, 500, 'Y')}),
              whole);
}

TEST(StreamJoin, WalkStartsAtTheFirstByteAndGoesOnAcrossTheWrap) {
    EXPECT_EQ(joined({segment(4294967000u, 400, 'h'), segment(104, 500, 'l')}),
              text(400, 'h') + text(500, 'l'));
    EXPECT_EQ(joined({segment(104, 500, 'l'), segment(4294967000u, 400, 'h')}),
              text(400, 'h') + text(500, 'l'))
        << "whichever arrived first";
    // After a gap the start is still the earliest byte, not the first segment past the gap.
    EXPECT_EQ(joined({segment(4294967000u, 296, 'h'), segment(500, 10, 'z'), segment(0, 100, 'w')}),
              text(296, 'h') + text(100, 'w'));
    // Near the top of the number space the expected number wraps to 0, where no segment is.
    EXPECT_EQ(joined({segment(4294967000u, 296, 'h'), segment(4294966990u, 10, 'g'),
                      segment(0xFFFFFFFFu, 1, 'x')}),
              text(10, 'g') + text(296, 'h'));
}

TEST(StreamJoin, OddSegmentsCannotMisleadTheWalk) {
    // Segments without data would lead back to themselves.
    EXPECT_EQ(joined({segment(1000, 0, ' '), segment(1000, 0, ' ')}), "");
    EXPECT_EQ(joined({segment(1000, 3, 'a'), segment(1003, 0, ' '), segment(1003, 2, 'b')}), "aaa");
    // Data starts after each segment's own TCP header.
    TcpSegment withOptions = segment(1000, 4, 'a');
    withOptions.tcpHeaderLength = 32;
    EXPECT_EQ(joined({withOptions, segment(1004, 2, 'c')}), "aaaacc");
}

TEST(StreamJoin, HundredThousandSegmentsJoinWholeAndAreFreed) {
    constexpr std::uint32_t Count = 100000;
    std::vector<TcpSegment> arrivals;
    for (std::uint32_t i = Count; i-- > 0;) {  // backwards: the worst order for a searching walk
        arrivals.push_back(segment(7 + i * 10, 10, static_cast<char>('a' + i % 26)));
    }
    const std::string data = joined(arrivals);
    ASSERT_EQ(data.size(), Count * 10);
    EXPECT_EQ(data.substr(0, 20), text(10, 'a') + text(10, 'b'));
}

class StreamTableTest : public testing::Test {
  protected:
    StreamTableTest() {
        StreamFileSettings output;
        output.directory = directory.path().string();
        output.fileNameTemplate = "%SIP-%DAT";
        output.dateTimeTemplate = "%H24%MN%S%MS";
        output.httpOnly = false;
        output.overwrite = true;
        state.setOutputSettings(output);
    }

    SegmentFilingResult file(const TcpSegment& segment, std::int64_t now) {
        const std::vector<std::uint8_t> bytes = segment.bytes();
        return table.fileSegment(streamKeyOf(bytes.data(), bytes.size()), bytes.data(),
                                 static_cast<std::uint16_t>(bytes.size()), now);
    }
    SegmentFilingResult file(std::uint32_t acknowledgement, std::int64_t now) {
        return file(TcpSegment{}.acknowledging(acknowledgement).carrying("data"), now);
    }

    int slotOf(std::uint32_t acknowledgement) {
        const std::vector<std::uint8_t> bytes = TcpSegment{}.acknowledging(acknowledgement).bytes();
        const std::uint32_t key = streamKeyOf(bytes.data(), bytes.size());
        for (int slot = 0; slot < StreamSlotCount; ++slot) {
            if (table.lastSegmentTime(slot) != 0 && table.streamKey(slot) == key) {
                return slot;
            }
        }
        return NoStreamSlot;
    }

    TempDir directory;
    StreamTable table;
    FileSnifferState state;
};

TEST_F(StreamTableTest, SegmentsOfOneAcknowledgementNumberShareAStream) {
    TcpSegment otherConnection = TcpSegment{}.acknowledging(555).carrying("two");
    otherConnection.source = test::ipv4(192, 168, 1, 1);
    otherConnection.sourcePort = 8080;
    EXPECT_EQ(file(555, 10).outcome, SegmentFiling::Created);
    EXPECT_EQ(file(otherConnection, 20).outcome, SegmentFiling::Appended);
    EXPECT_EQ(file(556, 30).outcome, SegmentFiling::Created);
    EXPECT_EQ(table.liveStreamCount(), 2);
    EXPECT_EQ(table.segmentCount(slotOf(555)), 2u);
    EXPECT_EQ(table.lastSegmentTime(slotOf(555)), 20);
}

TEST_F(StreamTableTest, StreamPastItsDataLimitReleasesItsSegmentsAndGivesNoFile) {
    table.setStreamDataLimit(100000);
    const TcpSegment big = TcpSegment{}.acknowledging(7).carrying(std::string(60000, 'z'));
    EXPECT_EQ(file(big, 10).outcome, SegmentFiling::Created);
    EXPECT_EQ(file(big, 11).outcome, SegmentFiling::BeyondMaximumSize);
    EXPECT_EQ(file(big, 12).outcome, SegmentFiling::BeyondMaximumSize) << "no new stream";
    const int slot = slotOf(7);
    ASSERT_NE(slot, NoStreamSlot);
    EXPECT_EQ(table.segmentCount(slot), 0u) << "its memory went back at once";
    EXPECT_EQ(file(8, 13).outcome, SegmentFiling::Created);
    EXPECT_NE(slotOf(8), slot);

    state.currentAckTimeoutMs = 0;
    EXPECT_EQ(runCompletionPass(table, state, 1000), 2);
    EXPECT_EQ(table.liveStreamCount(), 0);
    EXPECT_EQ(table.filesWritten(), 1) << "only the small stream";
    // The slot serves a new stream as usual.
    EXPECT_EQ(file(big, 2000).outcome, SegmentFiling::Created);
    EXPECT_EQ(table.segmentCount(slotOf(7)), 1u);
}

TEST_F(StreamTableTest, FullTableDropsNewStreamsUntilASlotIsFreed) {
    state.currentAckTimeoutMs = 0;
    for (std::uint32_t ack = 1; ack <= StreamSlotCount; ++ack) {
        ASSERT_EQ(file(ack, ack == 3 ? 50 : 1000).outcome, SegmentFiling::Created);
    }
    EXPECT_EQ(file(5000, 2000).outcome, SegmentFiling::TableFull);
    EXPECT_EQ(file(7, 2000).outcome, SegmentFiling::Appended) << "known streams still grow";
    // Only the stream of acknowledgement 3, in slot 2, is old enough to complete.
    EXPECT_EQ(runCompletionPass(table, state, 500), StreamSlotCount);
    EXPECT_EQ(table.freeSlot(), 2);
    EXPECT_EQ(file(5000, 2001).outcome, SegmentFiling::Created);
    EXPECT_EQ(slotOf(5000), 2);
    EXPECT_EQ(table.freeSlot(), NoStreamSlot);
}

TEST_F(StreamTableTest, StreamCompletesOnceItsNewestSegmentIsOlderThanTheTimeOut) {
    const auto liveAfterPass = [&](std::int32_t timeout, std::int64_t last, std::int64_t now) {
        state.currentAckTimeoutMs = timeout;
        file(1, last);
        runCompletionPass(table, state, now);
        const int live = table.liveStreamCount();
        runCompletionPass(table, state, INT64_MAX / 2);
        return live;
    };
    EXPECT_EQ(liveAfterPass(10000, 5000, 15000), 1);
    EXPECT_EQ(liveAfterPass(10000, 5000, 15001), 0);
    EXPECT_EQ(liveAfterPass(0, 5000, 5000), 1);
    EXPECT_EQ(liveAfterPass(0, 5000, 5001), 0);
    // The comparison is signed, and no time-out overflows it.
    EXPECT_EQ(liveAfterPass(-5, 5000, 5000), 0);
    EXPECT_EQ(liveAfterPass(INT32_MIN, 5000, 1), 0);
    EXPECT_EQ(liveAfterPass(INT32_MAX, 5000, 5000 + std::int64_t{INT32_MAX}), 1);

    state.currentAckTimeoutMs = 100;
    file(1, 4000);
    file(1, 5000);
    EXPECT_EQ(runCompletionPass(table, state, 5100), 1);
    EXPECT_EQ(runCompletionPass(table, state, 5101), 1) << "counted in the pass that ends it";
    EXPECT_EQ(table.filesProcessing(), 1);
    EXPECT_EQ(runCompletionPass(table, state, 5102), 0);
    EXPECT_EQ(table.filesWritten(), 8);
}

TEST_F(StreamTableTest, SegmentForAStreamBeingCompletedStartsANewStream) {
    file(TcpSegment{}.acknowledging(900).carrying("old"), 100);
    ASSERT_EQ(table.examineSlot(0, 1000, 10), SlotState::Completing);
    EXPECT_EQ(file(TcpSegment{}.acknowledging(900).carrying("new"), 1001).outcome,
              SegmentFiling::Created);
    EXPECT_EQ(slotOf(900), 1);
    EXPECT_EQ(table.examineSlot(1, 1001, 10), SlotState::Live);
    EXPECT_EQ(test::textOf(segmentData(*table.completingStream()).bytes), "old");
    table.finishCompleting();
    EXPECT_EQ(table.segmentCount(0), 0u);
    EXPECT_EQ(table.freeSlot(), 0);
}

TEST_F(StreamTableTest, CompletedStreamIsWrittenFromItsJoinedData) {
    state.currentAckTimeoutMs = 0;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nwor";
    const auto headLength = static_cast<std::uint32_t>(head.size());
    file(TcpSegment{}.at(1000 + headLength).carrying("ld"), 10);
    file(TcpSegment{}.at(1000).carrying(head), 11);
    file(TcpSegment{}.at(1000).carrying(text(headLength, '?')), 12);
    runCompletionPass(table, state, 20);
    EXPECT_EQ(table.filesWritten(), 1);
    const std::filesystem::directory_entry written =
        *std::filesystem::directory_iterator(directory.path());
    EXPECT_EQ(written.path().extension(), ".plain");
    EXPECT_EQ(written.path().filename().string().substr(0, 9), "10.0.0.5-");
    EXPECT_EQ(written.file_size(), 5u);
}

TEST_F(StreamTableTest, EverySegmentIsCompletedOnceOrDroppedWhileBothThreadsWork) {
    constexpr int Segments = 100000;
    std::atomic<bool> filing{true};
    std::size_t completed = 0;
    std::thread completion([&] {
        // Completes every stream it finds, counting their segments, until filing ends and
        // the table is empty.
        for (;;) {
            const bool lastRound = !filing.load();
            for (int slot = 0; slot < StreamSlotCount; ++slot) {
                if (table.examineSlot(slot, INT64_MAX / 2, 0) == SlotState::Completing) {
                    for (const SegmentNode* node = table.completingStream(); node;
                         node = node->next) {
                        ++completed;
                    }
                    table.finishCompleting();
                }
            }
            if (lastRound) {
                return;
            }
        }
    });
    int dropped = 0;
    for (int i = 0; i < Segments; ++i) {
        const auto outcome = file(static_cast<std::uint32_t>(1 + i % 1500), 1 + i).outcome;
        dropped += outcome == SegmentFiling::TableFull ? 1 : 0;
    }
    filing = false;
    completion.join();
    EXPECT_EQ(table.liveStreamCount(), 0);
    EXPECT_EQ(completed + static_cast<std::size_t>(dropped), std::size_t{Segments});
}

}  // namespace
}  // namespace qhs
