// Any bytes as a capture file: checked whole, then, when found sound, read into a store as the
// window does; and any bytes as a frame of every link type. A file is refused or read, never
// read past; what is read adds up; a frame's datagram lies inside the frame.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "analysis/PacketFilter.h"
#include "capture/LinkLayer.h"
#include "capture/PacketIntake.h"
#include "platform/CaptureFileReader.h"

using namespace qhs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const int linkType : {0, 1, 12, 108, 113, 228, 276, 105}) {
        if (const std::optional<Ipv4InFrame> part = ipv4InFrame(linkType, data, size)) {
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
    const PacketTable::Access held = table.lock();
    const PacketStore& store = held.store();
    for (std::int32_t slot = 0; slot < store.storedCount(); ++slot) {
        QHS_FUZZ_REQUIRE(store.length(slot) <= size);
    }
    ::close(file);
    return 0;
}
