#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "filemode/FileSegmentFilter.h"
#include "filemode/StreamCompletion.h"
#include "filemode/StreamFile.h"
#include "filemode/TcpSegments.h"
#include "support/TempDir.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;
using test::TcpSegment;

// Bad network data of every kind must never crash, read or write out of bounds (the
// sanitizer build checks) or put a file anywhere but directly in the output directory.
class FileModeRobustness : public testing::Test {
  protected:
    FileModeRobustness() {
        fs::create_directory(directory());
        StreamFileSettings output;
        output.directory = directory().string();
        output.fileNameTemplate = "%SIP to %DIP - [%DAT]";
        output.dateTimeTemplate = "%Y.%MY.%D - %H24:%MN:%S.%MS";
        output.httpOnly = false;
        output.overwrite = true;
        state.setOutputSettings(output);
        state.currentAckTimeoutMs = 0;
    }
    void TearDown() override {
        for (const auto& entry : fs::recursive_directory_iterator(root.path())) {
            if (entry.path() != directory()) {
                EXPECT_EQ(entry.path().parent_path(), directory()) << entry.path();
                EXPECT_TRUE(entry.is_regular_file()) << entry.path();
            }
        }
    }

    fs::path directory() const { return root.path() / "out"; }

    // Files a datagram as the capture thread does, whatever its bytes.
    void offer(std::vector<std::uint8_t> datagram) {
        const std::size_t length = datagramLength(datagram.data(), datagram.size());
        if (filter.accepts(datagram.data(), length)) {
            table.fileSegment(streamKeyOf(datagram.data(), length), datagram.data(),
                              static_cast<std::uint16_t>(length), ++clock);
        }
    }

    StreamFileOutcome writeJoined(const std::string& joined) {
        const auto first = test::chainOf({TcpSegment{}});
        return writeStreamFile(test::bytesOf(joined), *first, state.outputSettings()).outcome;
    }
    // Stored as a file, whole or marked as cut short.
    bool written(const std::string& joined) {
        const StreamFileOutcome outcome = writeJoined(joined);
        return outcome == StreamFileOutcome::Written ||
               outcome == StreamFileOutcome::WrittenIncomplete;
    }

    TempDir root;
    SettingsRecord settings = defaultSettings();
    FileSegmentFilter filter{settings};
    StreamTable table;
    FileSnifferState state;
    std::int64_t clock = 1;
    std::mt19937 random{20030714};
};

TEST_F(FileModeRobustness, RandomDatagramsAndSegmentsAreHandledSafely) {
    const auto byte = [&] { return static_cast<std::uint8_t>(random()); };
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 300; ++i) {
            std::vector<std::uint8_t> datagram(random() % 1600);
            if (i % 3 != 0) {
                // A well-formed segment with random numbers, header length and payload.
                TcpSegment segment;
                segment.acknowledgement = 1 + random() % 40;
                segment.sequence = static_cast<std::uint32_t>(random());
                segment.tcpHeaderLength = (byte() % 16) * 4;
                segment.payload.resize(datagram.size());
                datagram = segment.bytes();
            }
            for (std::size_t at = i % 3 ? 40 : 0; at < datagram.size(); ++at) {
                datagram[at] = byte();
            }
            if (i % 5 == 0 && datagram.size() >= 4) {  // a false total length
                datagram[2] = byte();
                datagram[3] = byte();
            }
            offer(datagram);
        }
        runCompletionPass(table, state, clock + 1);
    }
    EXPECT_EQ(table.liveStreamCount(), 0);
}

TEST_F(FileModeRobustness, EveryTruncationOfAResponseIsHandledSafely) {
    const std::string response =
        "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n"
        "4\r\nabcd\r\n1A;x=y\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n";
    for (std::size_t cut = 0; cut <= response.size(); ++cut) {
        std::vector<std::uint8_t> datagram = TcpSegment{}.carrying(response.substr(0, cut)).bytes();
        offer(datagram);
        datagram.resize(std::min(datagram.size(), cut));  // cut inside the headers as well
        offer(datagram);
        runCompletionPass(table, state, clock + 1);
        EXPECT_TRUE(written(response.substr(0, cut)));
    }
    EXPECT_EQ(writeJoined(response), StreamFileOutcome::Written);
    EXPECT_EQ(writeJoined(response.substr(0, response.size() - 6)),
              StreamFileOutcome::WrittenIncomplete);
}

TEST_F(FileModeRobustness, RandomResponsesAssembledFromHttpPiecesAreHandledSafely) {
    const std::vector<std::string> pieces = {"HTTP/1.1 200 OK\r\n",
                                             "HTTP/1.0 200 OK\n",
                                             "Transfer-Encoding: chunked\r\n",
                                             "Content-Type: ",
                                             "Content-Encoding: gzip\r\n",
                                             "text/../../",
                                             "/",
                                             "\\",
                                             "..",
                                             "\r\n",
                                             "\n",
                                             "\r",
                                             "\r\n\r\n",
                                             "\n\n",
                                             ";",
                                             " ",
                                             "\t",
                                             "FFFFFFFF\r\n",
                                             "7fffffff\r\n",
                                             "0x10\r\n",
                                             "1A;ext\r\n",
                                             "0\r\n",
                                             "zz\r\n",
                                             "-1\r\n",
                                             "abcdefghijklmnop",
                                             std::string("\0\x01\xFF", 3),
                                             std::string(150, 'c')};
    for (int round = 0; round < 3000; ++round) {
        std::string joined = round % 2 ? "HTTP/1.1 200 OK\r\n" : "";
        for (auto count = 1 + random() % 40; count > 0; --count) {
            joined += pieces[random() % pieces.size()];
        }
        EXPECT_TRUE(written(joined)) << joined;
    }
}

TEST_F(FileModeRobustness, HugeHeaderBlocksAndBlankRunsAreHandledSafely) {
    constexpr std::size_t TenMegabytes = 10 * 1024 * 1024;
    const std::string status = "HTTP/1.1 200 OK\r\n";
    std::string unended = status;  // headers that never end: stored whole
    while (unended.size() < TenMegabytes) {
        unended += "X-Filler: 0123456789abcdef0123456789abcdef\r\n";
    }
    EXPECT_TRUE(written(unended));
    EXPECT_TRUE(written(status + "X: y\r\nContent-Type: a/" + std::string(TenMegabytes, '/') +
                        "x\r\n\r\nbody"));

    // Ten megabytes of blank lines in a chunked body are read through once, not once a line.
    const std::string chunked = status + "Server: x\r\nTransfer-Encoding: chunked\r\n\r\n";
    EXPECT_TRUE(written(chunked + std::string(TenMegabytes, '\r') + "\n1\r\nz\r\n0\r\n"));
    std::string blankLines = chunked;
    while (blankLines.size() < TenMegabytes) {
        blankLines += "\r\n";
    }
    EXPECT_TRUE(written(blankLines + "1\r\nz\r\n"));
}

}  // namespace
}  // namespace qhs
