#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <thread>

#include "filemode/FileCapture.h"
#include "filemode/FileCaptureLoop.h"
#include "filemode/FileSegmentFilter.h"
#include "filemode/StreamFile.h"
#include "filemode/TcpSegments.h"
#include "support/Eventually.h"
#include "support/QueuedCaptureSource.h"
#include "support/ScriptedMemoryProbe.h"
#include "support/TempDir.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TcpSegment;
using Datagrams = std::vector<std::vector<std::uint8_t>>;

std::vector<std::string> fileContents(const fs::path& directory) {
    std::vector<std::string> contents;
    for (const auto& entry : fs::directory_iterator(directory)) {
        std::ifstream in(entry.path(), std::ios::binary);
        contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return contents;
}

// Fails its first receive with `error`, then hands out what is queued.
class FailingOnceSource : public QueuedCaptureSource {
  public:
    explicit FailingOnceSource(long error = ENOBUFS) : error_(error) {}
    ReceiveResult receive(const DatagramVisitor& visit) override {
        if (!failed_) {
            failed_ = true;
            return {false, 0, error_};
        }
        return QueuedCaptureSource::receive(visit);
    }

  private:
    long error_;
    bool failed_ = false;
};

class FileCaptureLoopTest : public testing::Test {
  protected:
    // Runs the capture thread until the datagrams are taken, then closes the source.
    void capture(const Datagrams& datagrams) {
        FailingOnceSource source;
        for (const auto& datagram : datagrams) {
            source.push(datagram);
        }
        FileCaptureHooks hooks;
        hooks.setStatus = [this](const std::string& status) { statuses.push_back(status); };
        hooks.startCompletion = [this] { ++completionStarts; };
        hooks.clock = [] { return std::int64_t{4242}; };
        state.captureRunning = true;
        std::thread loop([&] { runFileCapture(source, settings, table, state, hooks); });
        EXPECT_TRUE(source.waitUntilHandled());
        source.close();
        loop.join();
    }

    SettingsRecord settings = defaultSettings();
    StreamTable table;
    FileSnifferState state;
    std::vector<std::string> statuses;
    int completionStarts = 0;
};

TEST_F(FileCaptureLoopTest, OnlyTcpSegmentsWithDataAndAnAcknowledgementAreStored) {
    const auto bytes = [](std::uint32_t ack, const char* data, std::uint8_t protocol = 6) {
        TcpSegment segment = TcpSegment{}.acknowledging(ack).carrying(data);
        segment.protocol = protocol;
        return segment.bytes();
    };
    Datagrams datagrams = {bytes(1, ""),
                           bytes(0, "zero"),
                           bytes(5, "udp", 17),
                           bytes(6, "icmp", 1),
                           bytes(7, "abcd"),
                           bytes(8, "x"),
                           {},
                           bytes(9, "kept")};
    datagrams[4].resize(39);  // shorter than an IP and a TCP header
    datagrams[5][32] = 0x60;  // a 24-byte TCP header in a 41-byte datagram
    // A pure acknowledgement that the link padded to a minimum frame.
    datagrams.push_back(bytes(2, ""));
    datagrams.back().resize(60, 0xEE);

    table.fileSegment(99, datagrams[7].data(), 44, 1);  // cleared when capture starts
    table.countFileWritten();
    capture(datagrams);

    EXPECT_EQ(table.liveStreamCount(), 1) << "and a failed receive did not end the capture";
    EXPECT_EQ(table.streamKey(0), streamKeyOf(datagrams[7].data(), datagrams[7].size()));
    EXPECT_EQ(table.lastSegmentTime(0), 4242);
    EXPECT_EQ(table.filesWritten(), 0);
    EXPECT_EQ(completionStarts, 1);
    EXPECT_EQ(statuses, (std::vector<std::string>{"Status: Running", "Status: Stopped"}));
    EXPECT_FALSE(state.captureRunning);
    EXPECT_FALSE(state.stopRequested);
}

TEST_F(FileCaptureLoopTest, ACaptureWhoseInterfaceIsGoneEndsAsStopped) {
    for (const long gone : {ENETDOWN, ENODEV, EIO, EBADF}) {
        FailingOnceSource source(gone);
        FileCaptureHooks hooks;
        std::atomic<bool> ended{false};
        hooks.setStatus = [&](const std::string& status) {
            if (status == "Status: Stopped") {
                ended = true;
            }
        };
        state.captureRunning = true;
        std::thread loop([&] { runFileCapture(source, settings, table, state, hooks); });
        const bool endedByItself = eventually([&] { return ended.load(); });
        source.close();
        loop.join();
        EXPECT_TRUE(endedByItself) << "errno " << gone;
        EXPECT_FALSE(state.captureRunning);
    }
}

TEST_F(FileCaptureLoopTest, EachAddressAndPortFilterIsAppliedWhenInForce) {
    using Change = std::function<void(TcpSegment&)>;
    const Change otherSource = [](TcpSegment& t) { t.source = test::ipv4(10, 0, 0, 6); };
    const Change otherDestination = [](TcpSegment& t) { t.destination = test::ipv4(10, 0, 0, 8); };
    const Change otherSourcePort = [](TcpSegment& t) { t.sourcePort = 81; };
    const Change otherDestinationPort = [](TcpSegment& t) { t.destinationPort = 3001; };
    const std::pair<std::function<void(SettingsRecord&)>, Change> filters[] = {
        {[](SettingsRecord& s) { setTextField(s.fileSourceIpMust, "10.0.0.5"); }, otherSource},
        {[](SettingsRecord& s) { setTextField(s.fileSourceIpMustNot, "10.0.0.6"); }, otherSource},
        {[](SettingsRecord& s) { setTextField(s.fileDestIpMust, "10.0.0.9"); }, otherDestination},
        {[](SettingsRecord& s) { setTextField(s.fileDestIpMustNot, "10.0.0.8"); },
         otherDestination},
        {[](SettingsRecord& s) { s.fileSourcePortMust = 80; }, otherSourcePort},
        {[](SettingsRecord& s) { s.fileSourcePortMustNot = 81; }, otherSourcePort},
        {[](SettingsRecord& s) { s.fileDestPortMust = 3000; }, otherDestinationPort},
        {[](SettingsRecord& s) { s.fileDestPortMustNot = 3001; }, otherDestinationPort},
    };
    int filter = 0;
    for (const auto& [setFilter, makeDropped] : filters) {
        settings = defaultSettings();
        setFilter(settings);
        TcpSegment dropped = TcpSegment{}.acknowledging(20).carrying("dropped");
        makeDropped(dropped);
        const auto kept = TcpSegment{}.acknowledging(10).carrying("kept").bytes();
        capture({dropped.bytes(), kept});
        EXPECT_EQ(table.liveStreamCount(), 1) << "filter " << filter;
        EXPECT_EQ(table.streamKey(0), streamKeyOf(kept.data(), kept.size()))
            << "filter " << filter++;
    }
}

// IPv6 segments are streams keyed as IPv4 ones, by the acknowledgement number after the
// extension headers. The address filters hold IPv4 addresses: one that must be there keeps no
// IPv6 segment, one that must not never drops one; the port filters apply.
TEST_F(FileCaptureLoopTest, Ipv6SegmentsPassTheAddressFiltersAsNoListedAddress) {
    const std::vector<std::uint8_t> hopByHop = {6, 0, 1, 4, 0, 0, 0, 0};
    const auto ipv6 = [&](const TcpSegment& segment) {
        return test::asIpv6(segment.bytes(), 1, 2, hopByHop, 0);
    };
    const auto kept = ipv6(TcpSegment{}.acknowledging(10).carrying("kept"));
    const auto streams = [&](const std::function<void(SettingsRecord&)>& setFilter) {
        settings = defaultSettings();
        setFilter(settings);
        capture({kept});
        return table.liveStreamCount();
    };
    EXPECT_EQ(streams([](SettingsRecord&) {}), 1);
    EXPECT_EQ(table.streamKey(0), streamKeyOf(kept.data(), kept.size()));
    std::uint32_t rawAcknowledgement = 0;  // 8 bytes into TCP, after 40 + 8 bytes of IPv6
    std::memcpy(&rawAcknowledgement, kept.data() + 48 + 8, 4);
    EXPECT_EQ(table.streamKey(0), rawAcknowledgement);
    EXPECT_EQ(streams([](SettingsRecord& s) { setTextField(s.fileSourceIpMust, "10.0.0.5"); }), 0);
    EXPECT_EQ(streams([](SettingsRecord& s) { setTextField(s.fileDestIpMust, "10.0.0.9"); }), 0);
    EXPECT_EQ(streams([](SettingsRecord& s) { setTextField(s.fileSourceIpMustNot, "10.0.0.5"); }),
              1);
    EXPECT_EQ(streams([](SettingsRecord& s) { s.fileSourcePortMust = 81; }), 0);
    EXPECT_EQ(streams([](SettingsRecord& s) { s.fileDestPortMust = 3000; }), 1);
}

// A capture file: its datagrams with their time stamps, then its end.
class StampedSource : public CaptureSource {
  public:
    void add(std::vector<std::uint8_t> datagram, std::int64_t millisecondsSince1970) {
        datagrams_.emplace_back(std::move(datagram), millisecondsSince1970);
    }
    OpenOutcome open(const CaptureOptions&) override { return {}; }
    ReceiveResult receive(const DatagramVisitor& visit) override {
        if (next_ == datagrams_.size()) {
            return {false, 0, 0};
        }
        const auto& [datagram, stamp] = datagrams_[next_++];
        visit(datagram.data(), datagram.size());
        return {true, datagram.size(), 0, stamp * 1000000};
    }
    void close() override {}

  private:
    std::vector<std::pair<std::vector<std::uint8_t>, std::int64_t>> datagrams_;
    std::size_t next_ = 0;
};

// Read from a file, a stream completes once the datagrams' own time has passed its time-out,
// however fast the file is read: a later response with the same acknowledgement number is a
// file of its own, and each file is named at its completion on that clock. At the end of the
// file the streams still open complete at once.
TEST_F(FileCaptureLoopTest, ReadFromAFileStreamsCompleteOnTheDatagramsOwnTime) {
    TempDir directory;
    setTextField(settings.fileOutputDirectory, directory.path().string());
    setTextField(settings.fileNameTemplate, "%DAT");
    setTextField(settings.dateTimeTemplate, "%Y.%MY.%D %H24.%MN.%S.%MS");
    settings.fileOverwrite = 0;  // two files that complete at once keep both
    state.setOutputSettings(streamFileSettings(settings));
    state.currentAckTimeoutMs = 10000;
    const std::int64_t july2003 = 1058184000000;  // 2003-07-14 12:00:00 UTC
    StampedSource source;
    source.add(TcpSegment{}.acknowledging(1).carrying("HTTP/1.1 200 OK\r\n\r\nfirst").bytes(),
               july2003);
    source.add(TcpSegment{}.acknowledging(1).carrying("HTTP/1.1 200 OK\r\n\r\nsecond").bytes(),
               july2003 + 20000);
    // A segment of more than 64 KiB says 0 for its total length, as Linux sends it: it is
    // kept whole.
    TcpSegment large =
        TcpSegment{}.acknowledging(2).carrying("HTTP/1.1 200 OK\r\n\r\n" + std::string(70000, 'z'));
    large.destinationPort = 3001;
    std::vector<std::uint8_t> largeBytes = large.bytes();
    largeBytes[2] = largeBytes[3] = 0;
    source.add(largeBytes, july2003 + 30000);
    FileCaptureHooks hooks;
    hooks.timedBy = FileCaptureClock::DatagramStamps;
    state.captureRunning = true;
    runFileCapture(source, settings, table, state, hooks);

    const auto nameAt = [](std::int64_t milliseconds) {
        const LocalTime time = localTimeAt(std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::milliseconds(milliseconds))));
        return expandDateTime("%Y.%MY.%D %H24.%MN.%S.%MS", time) + ".txt";
    };
    std::map<std::string, std::string> written;
    for (const auto& entry : fs::directory_iterator(directory.path())) {
        std::ifstream in(entry.path(), std::ios::binary);
        written[entry.path().filename().string()].assign(std::istreambuf_iterator<char>(in), {});
    }
    const auto largeFile = std::find_if(written.begin(), written.end(), [](const auto& file) {
        return file.second == std::string(70000, 'z');
    });
    ASSERT_NE(largeFile, written.end());
    written.erase(largeFile);
    EXPECT_EQ(written,
              (std::map<std::string, std::string>{{nameAt(july2003 + 20000), "first"},
                                                  {nameAt(july2003 + 30000 + 10001), "second"}}));
    EXPECT_EQ(table.filesWritten(), 3);
    EXPECT_EQ(table.liveStreamCount(), 0);
    EXPECT_FALSE(state.captureRunning);
}

// The whole mode over a scripted source: Start, the two threads, Stop.
class FileCaptureTest : public testing::Test {
  protected:
    FileCaptureTest() {
        setTextField(settings.interfaceAddress, "10.0.0.9");
        setTextField(settings.fileOutputDirectory, directory.path().string());
        setTextField(settings.dateTimeTemplate, "%H24%MN%S%MS");
        capture.setAckTimeoutMs(200);
    }

    // A response in two segments, the second arriving first and the first twice.
    void pushResponse(std::uint32_t acknowledgement, const std::string& body) {
        const std::string all = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\n\r\n" + body;
        const std::size_t half = all.size() / 2;
        for (const std::size_t from : {half, std::size_t{0}, std::size_t{0}}) {
            source->push(TcpSegment{}
                             .acknowledging(acknowledgement)
                             .at(5000 + static_cast<std::uint32_t>(from))
                             .carrying(all.substr(from, from == 0 ? half : all.size() - half))
                             .bytes());
        }
    }

    std::vector<std::string> statuses() {
        std::lock_guard<std::mutex> lock(statusMutex);
        return statusTexts;
    }

    TempDir directory;
    SettingsRecord settings = defaultSettings();
    QueuedCaptureSource* source = nullptr;
    std::mutex statusMutex;
    std::vector<std::string> statusTexts;
    test::ScriptedMemoryProbe probe;
    FlooredSlabMemory memory{heapSlabMemory(), probe};
    FileCapture capture{[this] {
                            auto made = std::make_unique<QueuedCaptureSource>();
                            source = made.get();
                            return made;
                        },
                        [this](const std::string& status) {
                            std::lock_guard<std::mutex> lock(statusMutex);
                            statusTexts.push_back(status);
                        },
                        {},
                        memory};
};

TEST_F(FileCaptureTest, DownloadIsWrittenOnceItsStreamTimesOut) {
    const FileCaptureStart start = capture.start(settings);
    ASSERT_TRUE(start.startThread);
    EXPECT_EQ(start.statusText, "Status: Starting...");
    EXPECT_FALSE(capture.start(settings).startThread) << "a second Start does nothing";

    const std::string body(3000, '\x89');
    pushResponse(1234, body);
    source->push(TcpSegment{}.acknowledging(99).carrying("GET /a.png HTTP/1.1\r\n\r\n").bytes());
    ASSERT_TRUE(eventually([&] { return capture.filesWritten() == 1; }));
    EXPECT_TRUE(eventually([&] { return capture.filesProcessing() == 0; }));
    EXPECT_EQ(fileContents(directory.path()), std::vector<std::string>{body})
        << "the request stream is not HTTP and not stored";
    EXPECT_EQ(fs::directory_iterator(directory.path())->path().extension(), ".png");

    capture.stop();
    EXPECT_FALSE(capture.captureRunning());
    EXPECT_EQ(statuses(), (std::vector<std::string>{"Status: Running", "Status: Stopped"}));
    EXPECT_EQ(capture.filesWritten(), 1) << "the counters keep their values after Stop";
}

TEST_F(FileCaptureTest, BelowTheMemoryFloorStreamsAreDroppedUnderOneBoxWhileCaptureGoesOn) {
    probe.setBelowFloor();
    ASSERT_TRUE(capture.start(settings).startThread);
    pushResponse(1, "first");
    pushResponse(2, "second");
    std::optional<UserMessage> message;
    ASSERT_TRUE(eventually([&] { return (message = capture.messages().takeNext()).has_value(); }));
    EXPECT_EQ(message->text, "Fatal memory allocation error #3\r\nGet ready to crash...");
    source->waitUntilDrained();
    EXPECT_FALSE(capture.messages().takeNext()) << "one box at a time";
    EXPECT_EQ(capture.messages().waitingCount(), 1u);

    // The box is still up: the capture thread did not wait for it.
    probe.setPlenty();
    probe.waitUntilReadingIsStale();
    pushResponse(3, "third");
    ASSERT_TRUE(eventually([&] { return capture.filesWritten() == 1; }));
    EXPECT_EQ(fileContents(directory.path()), std::vector<std::string>{"third"});
    capture.messages().dismiss();

    // A stream that outgrows the memory floor is dropped when it is joined.
    capture.stop();
    ASSERT_TRUE(capture.start(settings).startThread);
    pushResponse(4, std::string(100000, 'x'));
    ASSERT_TRUE(source->waitUntilHandled());
    probe.setBelowFloor();
    ASSERT_TRUE(eventually([&] { return (message = capture.messages().takeNext()).has_value(); }));
    EXPECT_EQ(message->text.substr(0, 45), "Memory allocation error #0\r\nError allocating ");
    capture.messages().dismiss();
    EXPECT_EQ(capture.filesWritten(), 0);
}

TEST_F(FileCaptureTest, StopDiscardsPendingStreamsAndTheNextStartCountsAfresh) {
    capture.setAckTimeoutMs(60000);
    ASSERT_TRUE(capture.start(settings).startThread);
    pushResponse(1, "pending");
    ASSERT_TRUE(eventually([&] { return capture.filesProcessing() == 1; }));
    capture.stop();
    EXPECT_EQ(capture.filesProcessing(), 1);
    EXPECT_TRUE(fileContents(directory.path()).empty());

    capture.setAckTimeoutMs(0);
    ASSERT_TRUE(capture.start(settings).startThread);
    EXPECT_TRUE(eventually([&] { return capture.filesProcessing() == 0; }));
    capture.stop();
    EXPECT_TRUE(fileContents(directory.path()).empty());
}

TEST_F(FileCaptureTest, WriteErrorHoldsCompletionUntilDismissedAndNewDirectoryIsUsed) {
    setTextField(settings.fileOutputDirectory, (directory.path() / "missing").string());
    ASSERT_TRUE(capture.start(settings).startThread);
    pushResponse(1, "first");
    std::optional<UserMessage> message;
    ASSERT_TRUE(eventually([&] { return (message = capture.messages().takeNext()).has_value(); }));
    EXPECT_EQ(message->text.substr(0, 27), "Error writing the file:\r\n\r\n");
    EXPECT_FALSE(capture.messages().takeNext()) << "one box at a time";

    // While the box is up the completion thread waits, and no other stream completes.
    capture.setOutputDirectory(directory.path().string());
    pushResponse(2, "second");
    // Nothing marks the moment a free completion thread would have written the stream: let
    // its time-out and a pass go by, with room to spare.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(capture.filesWritten(), 0);
    capture.messages().dismiss();
    ASSERT_TRUE(eventually([&] { return capture.filesWritten() == 1; }));
    EXPECT_EQ(fileContents(directory.path()), std::vector<std::string>{"second"});

    // Stop does not wait for a box that is still up.
    capture.setOutputDirectory((directory.path() / "missing").string());
    pushResponse(3, "third");
    ASSERT_TRUE(eventually([&] { return capture.messages().waitingCount() == 1; }));
    capture.stop();
    EXPECT_FALSE(capture.captureRunning());
}

}  // namespace
}  // namespace qhs
