// Any bytes as a capture file: checked whole, then, when found sound, read into a store as the
// window does, exported and read back; and any bytes as a frame of every link type, and any
// 64 bits as a time stamp. A file is refused or read, never read past; what is read adds up;
// a frame's datagram lies inside the frame; an export gives back every stored datagram whole
// with its stamp; a stamp's time text is its date and time.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "FuzzSupport.h"
#include "analysis/PacketFilter.h"
#include "capture/LinkLayer.h"
#include "capture/PacketIntake.h"
#include "capture/TimeTextCache.h"
#include "packetmode/CaptureFileExport.h"
#include "packetmode/PacketJson.h"
#include "platform/CaptureFileReader.h"

using namespace qhs;

namespace {

// The time text of any stamp is the date and time the stamp says, to the millisecond, as a
// reckoning of days of its own gives it.
void checkTimeText(std::int64_t stamp) {
    static const bool utc = [] {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        return true;
    }();
    static_cast<void>(utc);
    TimeTextCache cache;
    const std::string text(cache.text("%Y-%MY-%DT%H24:%MN:%S.%MS", stamp));
    QHS_FUZZ_REQUIRE(text == isoTime(stamp).substr(0, text.size()));
}

// Exports the store and reads the file back: every stored datagram, whole, in slot order,
// with its stamp.
void checkExport(PacketTable& table) {
    static fuzz::ScratchFolder folder("export");
    const std::string path = (folder.path() / "export.pcap").string();
    std::atomic<bool> cancel{false};
    const SaveOutcome saved = writeCaptureFile(path, table, defaultSettings(), cancel);
    QHS_FUZZ_REQUIRE(saved.status == SaveStatus::Saved);
    CaptureFileReader reader(path);
    QHS_FUZZ_REQUIRE(reader.isOpen());
    const PacketTable::Access held = table.lock();
    const PacketStore& store = held.store();
    CaptureFrame frame;
    for (std::int32_t slot = 0; slot < store.storedCount(); ++slot) {
        if (store.packet(slot) == nullptr || store.length(slot) == 0) {
            continue;
        }
        QHS_FUZZ_REQUIRE(reader.next(frame) == FrameRead::Frame);
        QHS_FUZZ_REQUIRE(frame.length == store.length(slot));
        QHS_FUZZ_REQUIRE(std::memcmp(frame.bytes, store.packet(slot), frame.length) == 0);
        QHS_FUZZ_REQUIRE(frame.arrivalNanoseconds == store.arrivalNanoseconds(slot));
    }
    QHS_FUZZ_REQUIRE(reader.next(frame) == FrameRead::End);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size >= sizeof(std::int64_t)) {
        std::int64_t stamp = 0;
        std::memcpy(&stamp, data, sizeof stamp);
        checkTimeText(stamp);
    }
    for (const int linkType : {0, 1, 12, 108, 113, 228, 276, 105}) {
        if (const std::optional<IpInFrame> part = ipInFrame(linkType, data, size)) {
            QHS_FUZZ_REQUIRE(part->offset < size && part->length <= size - part->offset);
        }
    }

    // A file in memory that the reader opens by its path, as any regular file.
    const int file = ::memfd_create("capture", MFD_CLOEXEC);
    QHS_FUZZ_REQUIRE(file >= 0);
    QHS_FUZZ_REQUIRE(::write(file, data, size) == static_cast<ssize_t>(size));
    const std::string path = "/proc/self/fd/" + std::to_string(file);
    {
        CaptureFileReader checked(path);
        const std::optional<std::string> fault =
            checked.isOpen() ? checked.checkWhole({}) : checked.fault();
        if (fault) {
            QHS_FUZZ_REQUIRE(!fault->empty());
            ::close(file);
            return 0;
        }
    }
    // Made once: a store reserves room for a million slots.
    static const PublishedSettings settings(defaultSettings());
    static PacketFilter filter;
    static PacketSnifferState state;
    static PacketTable table;
    static PacketCaptureContext context{state, table, filter, settings, {}};
    {
        PacketTable::Access held = table.lock();
        held.list().clear();
        held.store().freeAllSlots();
    }
    CaptureFileReader reader(path);
    const CaptureFileLoad load = loadCaptureFrames(reader, context, {});
    QHS_FUZZ_REQUIRE(!load.fault);
    QHS_FUZZ_REQUIRE(load.stored + load.skipped + load.filtered == load.read);
    QHS_FUZZ_REQUIRE(static_cast<std::uint64_t>(table.storedCount()) == load.stored);
    {
        const PacketTable::Access held = table.lock();
        const PacketStore& store = held.store();
        for (std::int32_t slot = 0; slot < store.storedCount(); ++slot) {
            QHS_FUZZ_REQUIRE(store.length(slot) <= size);
            checkTimeText(store.arrivalNanoseconds(slot));
        }
    }
    ::close(file);
    checkExport(table);
    return 0;
}
