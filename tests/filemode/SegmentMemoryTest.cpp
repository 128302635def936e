#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "filemode/FileCaptureLoop.h"
#include "filemode/FileSegmentFilter.h"
#include "filemode/SegmentNode.h"
#include "filemode/StreamTable.h"
#include "filemode/TcpSegments.h"

namespace qhs {
namespace {

// Heap slabs that count what is outstanding, and can be made to run out.
class CountingSlabMemory final : public SlabMemory {
  public:
    std::uint8_t* obtain(std::size_t bytes) override {
        const bool large = bytes >= SegmentMemory::LargeChunkBytes;
        if (large && largeRefused) {
            return nullptr;
        }
        ++obtained;
        largeObtained += large ? 1 : 0;
        return static_cast<std::uint8_t*>(std::calloc(bytes, 1));
    }
    bool back(std::uint8_t*, std::size_t) override { return true; }
    void release(std::uint8_t* slab, std::size_t) override {
        ++released;
        std::free(slab);
    }
    bool largeRefused = false;
    int obtained = 0;
    int largeObtained = 0;
    int released = 0;
};

std::vector<std::uint8_t> datagramOf(std::size_t length, std::size_t index) {
    std::vector<std::uint8_t> datagram(length);
    for (std::size_t at = 0; at < length; ++at) {
        datagram[at] = static_cast<std::uint8_t>(index * 31 + at);
    }
    return datagram;
}

TEST(StreamSegments, LongStreamKeepsEveryByteInOrderAndItsLargeChunksServeTheNext) {
    CountingSlabMemory slabs;
    {
        SegmentMemory memory(slabs);
        // 64 KB segments fill many large chunks; the odd lengths test the carving.
        std::vector<std::size_t> lengths{0, 1, 65535, 17};
        for (std::size_t i = 0; i < 1400; ++i) {
            lengths.push_back(i % 7 == 0 ? 1 + i : 65535);
        }
        StreamSegments stream(memory);
        for (std::size_t i = 0; i < lengths.size(); ++i) {
            const auto datagram = datagramOf(lengths[i], i);
            ASSERT_TRUE(stream.append(datagram.data(), static_cast<std::uint16_t>(lengths[i])));
        }
        std::size_t index = 0;
        for (const SegmentNode* node = stream.first(); node; node = node->next, ++index) {
            ASSERT_LT(index, lengths.size());
            ASSERT_EQ(node->length, lengths[index]);
            ASSERT_TRUE(std::vector<std::uint8_t>(node->data, node->data + node->length) ==
                        datagramOf(lengths[index], index))
                << "segment " << index;
        }
        EXPECT_EQ(index, lengths.size());
        const int largeChunks = slabs.largeObtained;
        ASSERT_GT(largeChunks, static_cast<int>(SegmentMemory::KeptLargeChunks));

        stream.release();
        EXPECT_TRUE(stream.empty());
        EXPECT_EQ(memory.keptChunkCount(), SegmentMemory::KeptLargeChunks);
        EXPECT_EQ(slabs.released, slabs.obtained - static_cast<int>(SegmentMemory::KeptLargeChunks));
        // The next long stream takes the kept chunks before any fresh one.
        StreamSegments next(memory);
        const auto datagram = datagramOf(65535, 0);
        for (int i = 0; i < 200; ++i) {
            ASSERT_TRUE(next.append(datagram.data(), 65535));
        }
        EXPECT_EQ(slabs.largeObtained, largeChunks);
    }
    EXPECT_EQ(slabs.released, slabs.obtained) << "every chunk goes back";
}

TEST(StreamSegments, SegmentWithoutMemoryIsDroppedAndTheStreamKeepsWhatItHad) {
    CountingSlabMemory slabs;
    slabs.largeRefused = true;
    StreamTable table(slabs);
    test::TcpSegment segment =
        test::TcpSegment{}.acknowledging(99).carrying(std::string(60000, 'd'));
    const std::vector<std::uint8_t> bytes = segment.bytes();
    const auto fileOne = [&] {
        return table.fileSegment(streamKeyOf(bytes.data(), bytes.size()), bytes.data(),
                                 static_cast<std::uint16_t>(bytes.size()), 5);
    };
    ASSERT_EQ(fileOne().outcome, SegmentFiling::Created);
    SegmentFilingResult filing;
    std::size_t stored = 1;
    // The small chunks are given; the first large one is refused.
    while ((filing = fileOne()).outcome == SegmentFiling::Appended) {
        ++stored;
    }
    EXPECT_EQ(filing.outcome, SegmentFiling::DataAllocationFailed);
    EXPECT_EQ(segmentAllocationMessage(filing).text,
              "Fatal memory allocation error #1\r\nGet ready to crash...");
    EXPECT_EQ(table.segmentCount(0), stored);
    slabs.largeRefused = false;
    EXPECT_EQ(fileOne().outcome, SegmentFiling::Appended) << "capture goes on";
    EXPECT_EQ(table.segmentCount(0), stored + 1);
}

}  // namespace
}  // namespace qhs
