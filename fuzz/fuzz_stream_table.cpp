// Captured segments through the stream table and its completion passes, as File Sniffer
// Mode files them. The first byte holds the switches; then each datagram is a time step
// byte (its top bit asks for a completion pass), a 16-bit big-endian length and the bytes.
// Datagrams pass the segment filter of the capture loop first, as they do there.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "app/SettingsRecord.h"
#include "filemode/FileSegmentFilter.h"
#include "filemode/FileSnifferState.h"
#include "filemode/StreamCompletion.h"
#include "filemode/StreamTable.h"

using namespace qhs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::ScratchFolder scratch("streams");
    static const ScopedLocalTimeSource fixedTime(&fuzz::fixedLocalTime);
    static StreamTable table;
    static FileSnifferState state;
    static const SettingsRecord settings = defaultSettings();
    static const FileSegmentFilter filter(settings);
    constexpr std::int32_t AckTimeoutMs = 50;
    if (size < 1) {
        return 0;
    }
    const std::uint8_t switches = data[0];
    scratch.empty();
    table.clear();
    table.resetCounters();
    table.setStreamDataLimit((switches & 4) != 0 ? 1000 : 0);
    // A failed write shows a box and waits for it; here nobody answers, so none may wait.
    state.messages.release();
    state.currentAckTimeoutMs.store(AckTimeoutMs);
    StreamFileSettings output = streamFileSettings(settings);
    output.directory = scratch.path().string();
    output.httpOnly = (switches & 1) != 0;
    output.overwrite = (switches & 2) != 0;
    state.setOutputSettings(output);

    std::int64_t now = 1;
    long streamsCreated = 0;
    std::size_t at = 1;
    while (at + 3 <= size) {
        const std::uint8_t step = data[at];
        const std::size_t length =
            std::min<std::size_t>((std::size_t{data[at + 1]} << 8) | data[at + 2], size - at - 3);
        at += 3;
        // An exact copy, so that any read past the captured bytes is caught.
        const auto datagram = std::make_unique<std::uint8_t[]>(length == 0 ? 1 : length);
        std::memcpy(datagram.get(), data + at, length);
        at += length;
        now += step & 0x7F;
        const std::size_t kept = datagramLength(datagram.get(), length);
        if (kept <= 0xFFFF && filter.accepts(datagram.get(), kept)) {
            const SegmentFilingResult filing = table.fileSegment(
                streamKeyOf(datagram.get(), kept), datagram.get(), static_cast<std::uint16_t>(kept), now);
            streamsCreated += filing.outcome == SegmentFiling::Created ? 1 : 0;
        }
        if ((step & 0x80) != 0) {
            const std::int32_t processing = runCompletionPass(table, state, now);
            QHS_FUZZ_REQUIRE(processing >= table.liveStreamCount());
        }
    }
    // Past every time-out all streams complete, and the table is empty afterwards.
    runCompletionPass(table, state, now + AckTimeoutMs + 1);
    QHS_FUZZ_REQUIRE(table.liveStreamCount() == 0);
    QHS_FUZZ_REQUIRE(runCompletionPass(table, state, now + AckTimeoutMs + 2) == 0);
    for (int slot = 0; slot < StreamSlotCount; ++slot) {
        QHS_FUZZ_REQUIRE(table.segmentCount(slot) == 0);
    }

    const long stored = table.filesWritten() + table.incompleteFiles();
    QHS_FUZZ_REQUIRE(stored <= streamsCreated);
    const long files = fuzz::regularFileCount(scratch.path());
    QHS_FUZZ_REQUIRE(files >= 0);
    if (output.overwrite) {
        QHS_FUZZ_REQUIRE(files <= stored);
    } else {
        QHS_FUZZ_REQUIRE(files == stored);
    }
    while (state.messages.takeNext()) {
        state.messages.dismiss();
    }
    return 0;
}
