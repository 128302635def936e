#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

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
    const auto chain = test::chainOf(arrivals);
    const JoinedStream stream = joinStream(chain.get());
    EXPECT_TRUE(stream.allocated());
    EXPECT_EQ(stream.bytes[stream.length], 0) << "a zero byte follows the data";
    return test::textOf(stream.data());
}

TEST(StreamJoin, SegmentsAreJoinedInSequenceOrderWhateverTheirArrival) {
    const std::string expected =
        std::string(500, 'a') + std::string(500, 'b') + std::string(100, 'c');
    EXPECT_EQ(joined({segment(1500, 500, 'b'), segment(2000, 100, 'c'), segment(1000, 500, 'a')}),
              expected);
    EXPECT_EQ(joined({segment(1000, 500, 'a'), segment(1500, 500, 'b'), segment(2000, 100, 'c')}),
              expected);
}

TEST(StreamJoin, DataEndsAtTheFirstGap) {
    EXPECT_EQ(joined({segment(2000, 100, 'c'), segment(1000, 500, 'a')}), std::string(500, 'a'));
}

TEST(StreamJoin, RetransmittedSegmentCountsOnceAsItFirstArrived) {
    EXPECT_EQ(joined({segment(1000, 500, 'a'), segment(1500, 500, 'b'), segment(1000, 500, 'X'),
                      segment(2000, 100, 'c'), segment(1500, 500, 'Y')}),
              std::string(500, 'a') + std::string(500, 'b') + std::string(100, 'c'));
}

TEST(StreamJoin, WalkStartsAtTheLowestNumberEvenAcrossTheWrap) {
    EXPECT_EQ(joined({segment(4294967000u, 400, 'h'), segment(104, 500, 'l')}),
              std::string(500, 'l'));
    EXPECT_EQ(joined({segment(4294967196u, 100, 'h'), segment(0, 10, 'z')}), std::string(10, 'z'));
    // Near the top of the number space the expected number wraps to 0, where no segment is.
    EXPECT_EQ(joined({segment(4294967000u, 296, 'h'), segment(4294966990u, 10, 'g'),
                      segment(0xFFFFFFFFu, 1, 'x')}),
              std::string(10, 'g') + std::string(296, 'h'));
    EXPECT_EQ(joined({segment(4294967290u, 6, 'h'), segment(4294967280u, 10, 'g')}),
              std::string(10, 'g') + std::string(6, 'h'));
}

TEST(StreamJoin, SegmentsWithoutDataCannotMakeTheWalkCircle) {
    EXPECT_EQ(joined({segment(1000, 0, ' '), segment(1000, 0, ' ')}), "");
    EXPECT_EQ(joined({segment(1000, 3, 'a'), segment(1003, 0, ' '), segment(1003, 2, 'b')}), "aaa");
}

TEST(StreamJoin, DataStartsAfterTheTcpHeaderOfEachSegment) {
    TcpSegment withOptions = segment(1000, 4, 'a');
    withOptions.tcpHeaderLength = 32;
    TcpSegment headerPastEnd = segment(1004, 4, 'b');
    headerPastEnd.tcpHeaderLength = 60;  // 20 + 60 lies past the 44 bytes captured
    EXPECT_EQ(joined({withOptions, segment(1004, 2, 'c'), headerPastEnd}), "aaaacc");
}

TEST(StreamJoin, HundredThousandSegmentsJoinWholeAndAreFreed) {
    constexpr std::uint32_t Count = 100000;
    std::vector<TcpSegment> arrivals;
    arrivals.reserve(Count);
    // Arriving backwards, the worst order for a walk that searches the chain each step.
    for (std::uint32_t i = Count; i-- > 0;) {
        arrivals.push_back(segment(7 + i * 10, 10, static_cast<char>('a' + i % 26)));
    }
    const std::string data = joined(arrivals);
    ASSERT_EQ(data.size(), Count * 10);
    EXPECT_EQ(data.substr(0, 10), std::string(10, 'a'));
    EXPECT_EQ(data.substr(data.size() - 10),
              std::string(10, static_cast<char>('a' + (Count - 1) % 26)));
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
        std::uint32_t key;
        std::memcpy(&key, bytes.data() + 28, 4);
        return table.fileSegment(key, bytes.data(), static_cast<std::uint16_t>(bytes.size()), now);
    }

    int slotOf(std::uint32_t acknowledgement) {
        const auto bytes = TcpSegment{}.acknowledging(acknowledgement).bytes();
        std::uint32_t key;
        std::memcpy(&key, bytes.data() + 28, 4);
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
    TcpSegment fromA = TcpSegment{}.acknowledging(555).carrying("one");
    TcpSegment fromB = fromA;
    fromB.source = test::ipv4(192, 168, 1, 1);
    fromB.sourcePort = 8080;
    EXPECT_EQ(file(fromA, 10).outcome, SegmentFiling::Created);
    EXPECT_EQ(file(fromB, 20).outcome, SegmentFiling::Appended);
    EXPECT_EQ(file(TcpSegment{}.acknowledging(556).carrying("x"), 30).outcome,
              SegmentFiling::Created);
    EXPECT_EQ(table.liveStreamCount(), 2);
    EXPECT_EQ(table.segmentCount(slotOf(555)), 2u);
    EXPECT_EQ(table.lastSegmentTime(slotOf(555)), 20);
    EXPECT_EQ(table.freeSlot(), 2);
}

TEST_F(StreamTableTest, FullTableDropsNewStreamsUntilASlotIsFreed) {
    state.currentAckTimeoutMs = 0;
    for (std::uint32_t ack = 1; ack <= StreamSlotCount; ++ack) {
        ASSERT_EQ(file(TcpSegment{}.acknowledging(ack).carrying("d"), ack == 3 ? 50 : 1000).outcome,
                  SegmentFiling::Created);
    }
    EXPECT_EQ(table.freeSlot(), NoStreamSlot);
    EXPECT_EQ(file(TcpSegment{}.acknowledging(5000).carrying("d"), 2000).outcome,
              SegmentFiling::TableFull);
    EXPECT_EQ(file(TcpSegment{}.acknowledging(7).carrying("d"), 2000).outcome,
              SegmentFiling::Appended)
        << "known streams still grow";

    // Only the stream of acknowledgement 3 (slot 2) is old enough to complete.
    EXPECT_EQ(runCompletionPass(table, state, 500), StreamSlotCount);
    EXPECT_EQ(table.freeSlot(), 2);
    EXPECT_EQ(file(TcpSegment{}.acknowledging(5000).carrying("d"), 2001).outcome,
              SegmentFiling::Created);
    EXPECT_EQ(slotOf(5000), 2);
    EXPECT_EQ(table.freeSlot(), NoStreamSlot);
}

TEST_F(StreamTableTest, StreamCompletesOnceItsNewestSegmentIsOlderThanTheTimeOut) {
    state.currentAckTimeoutMs = 10000;
    file(TcpSegment{}.carrying("first"), 4000);
    file(TcpSegment{}.carrying("second"), 5000);
    EXPECT_EQ(runCompletionPass(table, state, 15000), 1);
    EXPECT_EQ(table.liveStreamCount(), 1);
    EXPECT_EQ(table.filesWritten(), 0);
    EXPECT_EQ(runCompletionPass(table, state, 15001), 1) << "counted in the pass that ends it";
    EXPECT_EQ(table.liveStreamCount(), 0);
    EXPECT_EQ(table.filesWritten(), 1);
    EXPECT_EQ(runCompletionPass(table, state, 15002), 0);
    EXPECT_EQ(table.filesProcessing(), 0);

    state.currentAckTimeoutMs = 0;
    file(TcpSegment{}.carrying("zero"), 5000);
    runCompletionPass(table, state, 5000);
    EXPECT_EQ(table.liveStreamCount(), 1);
    runCompletionPass(table, state, 5001);
    EXPECT_EQ(table.liveStreamCount(), 0);
}

TEST_F(StreamTableTest, TimeOutComparisonIsSignedAndCannotOverflow) {
    state.currentAckTimeoutMs = -5;
    file(TcpSegment{}.carrying("a"), 5000);
    runCompletionPass(table, state, 5000);
    EXPECT_EQ(table.liveStreamCount(), 0) << "a negative time-out completes at once";

    state.currentAckTimeoutMs = INT32_MIN;
    file(TcpSegment{}.carrying("b"), 5000);
    runCompletionPass(table, state, 1);
    EXPECT_EQ(table.liveStreamCount(), 0);

    state.currentAckTimeoutMs = INT32_MAX;
    file(TcpSegment{}.carrying("c"), 5000);
    runCompletionPass(table, state, 5000 + std::int64_t{INT32_MAX});
    EXPECT_EQ(table.liveStreamCount(), 1);
    runCompletionPass(table, state, 5001 + std::int64_t{INT32_MAX});
    EXPECT_EQ(table.liveStreamCount(), 0);
}

TEST_F(StreamTableTest, SegmentForAStreamBeingCompletedStartsANewStream) {
    file(TcpSegment{}.acknowledging(900).carrying("old"), 100);
    ASSERT_EQ(table.examineSlot(0, 1000, 10), SlotState::Completing);
    EXPECT_EQ(table.streamKey(0), 0u);
    EXPECT_EQ(file(TcpSegment{}.acknowledging(900).carrying("new"), 1001).outcome,
              SegmentFiling::Created);
    EXPECT_EQ(slotOf(900), 1);
    EXPECT_EQ(table.examineSlot(1, 1001, 10), SlotState::Live);

    ASSERT_NE(table.completingStream(), nullptr);
    EXPECT_EQ(test::textOf(segmentData(*table.completingStream()).bytes), "old");
    table.finishCompleting();
    EXPECT_EQ(table.segmentCount(0), 0u);
    EXPECT_EQ(table.freeSlot(), 0);
    EXPECT_EQ(table.segmentCount(1), 1u);
}

TEST_F(StreamTableTest, CompletedStreamIsWrittenFromItsJoinedData) {
    state.currentAckTimeoutMs = 0;
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nwor";
    const auto headLength = static_cast<std::uint32_t>(head.size());
    file(TcpSegment{}.at(1000 + headLength).carrying("ld"), 10);
    file(TcpSegment{}.at(1000).carrying(head), 11);
    file(TcpSegment{}.at(1000).carrying(std::string(headLength, '?')), 12);
    runCompletionPass(table, state, 20);
    EXPECT_EQ(table.filesWritten(), 1);
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory.path())) {
        files.push_back(entry.path());
    }
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].extension(), ".plain");
    EXPECT_EQ(files[0].filename().string().substr(0, 9), "10.0.0.5-");
    EXPECT_EQ(std::filesystem::file_size(files[0]), 5u);
}

}  // namespace
}  // namespace qhs
