#include "packetmode/CaptureFileExport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "packetmode/PacketJson.h"
#include "packetmode/RecordFile.h"

namespace qhs {

namespace {

constexpr std::int64_t NanosecondsPerSecond = 1'000'000'000;
constexpr std::uint32_t PcapngSectionBlock = 0x0A0D0D0A;
constexpr std::uint32_t PcapngByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint32_t PcapngInterfaceBlock = 1;
constexpr std::uint32_t PcapngEnhancedPacketBlock = 6;
constexpr std::uint16_t PcapngOptionTimeResolution = 9;
constexpr std::uint16_t PcapngOptionTimeOffset = 14;

template <typename Value>
void appendRaw(std::string& out, Value value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

// Whole seconds rounded down, so that the nanoseconds are never negative.
std::int64_t wholeSeconds(std::int64_t nanoseconds) {
    return nanoseconds / NanosecondsPerSecond - (nanoseconds % NanosecondsPerSecond < 0 ? 1 : 0);
}

// The headers, in this machine's byte order (the magic numbers tell readers which).
std::string pcapHeader(std::uint32_t linkType) {
    std::string header;
    appendRaw(header, PcapNanosecondMagic);
    appendRaw(header, std::uint16_t{2});  // format version 2.4
    appendRaw(header, std::uint16_t{4});
    appendRaw(header, std::int32_t{0});   // time stamps are UTC
    appendRaw(header, std::uint32_t{0});  // their accuracy is not stated
    appendRaw(header, PcapSnapLength);
    appendRaw(header, linkType);
    return header;
}

// A section of one interface whose time stamps count nanoseconds from `offsetSeconds`.
std::string pcapngHeader(std::int64_t offsetSeconds, std::uint32_t linkType) {
    std::string header;
    appendRaw(header, PcapngSectionBlock);
    appendRaw(header, std::uint32_t{28});
    appendRaw(header, PcapngByteOrderMagic);
    appendRaw(header, std::uint16_t{1});  // format version 1.0
    appendRaw(header, std::uint16_t{0});
    appendRaw(header, std::int64_t{-1});  // the section's length is not stated
    appendRaw(header, std::uint32_t{28});

    std::string options;
    appendRaw(options, PcapngOptionTimeResolution);
    appendRaw(options, std::uint16_t{1});
    options.append({9, 0, 0, 0});  // 10^-9 seconds, padded to 4 bytes
    if (offsetSeconds != 0) {
        appendRaw(options, PcapngOptionTimeOffset);
        appendRaw(options, std::uint16_t{8});
        appendRaw(options, offsetSeconds);
    }
    appendRaw(options, std::uint32_t{0});  // the end of the options
    const auto length = static_cast<std::uint32_t>(20 + options.size());
    appendRaw(header, PcapngInterfaceBlock);
    appendRaw(header, length);
    appendRaw(header, static_cast<std::uint16_t>(linkType));
    appendRaw(header, std::uint16_t{0});
    appendRaw(header, PcapSnapLength);
    header += options;
    appendRaw(header, length);
    return header;
}

// Writes one record; an IPv6 datagram in a file that says raw IPv4 first turns its header into
// raw IP, which holds both versions, so every packet written before reads as it did.
int writeRecordWidening(CaptureFileForm& form, RecordFile& file,
                        std::span<const std::uint8_t> datagram, std::uint32_t originalLength,
                        std::int64_t arrivalNanoseconds) {
    if (form.linkType == PcapLinkTypeIpv4 && datagram.data() != nullptr && !datagram.empty() &&
        (datagram[0] >> 4) == 6) {
        form.linkType = PcapLinkTypeRaw;
        if (const int error = file.overwriteAt(form.linkTypeOffset(), form.linkTypeBytes());
            error != 0) {
            return error;
        }
    }
    return form.writeRecord(file, datagram, originalLength, arrivalNanoseconds);
}

}  // namespace

bool fitsClassicPcap(std::int64_t arrivalNanoseconds) {
    return arrivalNanoseconds >= 0 &&
           wholeSeconds(arrivalNanoseconds) <= std::numeric_limits<std::uint32_t>::max();
}

std::string CaptureFileForm::header() const {
    return pcapng ? pcapngHeader(offsetSeconds, linkType) : pcapHeader(linkType);
}

std::size_t CaptureFileForm::linkTypeOffset() const {
    // pcap: after magic, version, zone, accuracy and snap length; pcapng: in the interface
    // block after the 28-byte section block, past its type and length.
    return pcapng ? 36 : 20;
}

std::string CaptureFileForm::linkTypeBytes() const {
    std::string bytes;
    if (pcapng) {
        appendRaw(bytes, static_cast<std::uint16_t>(linkType));
    } else {
        appendRaw(bytes, linkType);
    }
    return bytes;
}

int CaptureFileForm::writeRecord(RecordFile& file, std::span<const std::uint8_t> datagram,
                                 std::uint32_t originalLength,
                                 std::int64_t arrivalNanoseconds) const {
    if (datagram.data() == nullptr || datagram.empty()) {
        return 0;
    }
    // Every datagram the store keeps fits; a longer one would be cut by any reader.
    const auto length =
        static_cast<std::uint32_t>(std::min<std::size_t>(datagram.size(), PcapSnapLength));
    const std::uint32_t original = std::max<std::uint32_t>(
        originalLength, static_cast<std::uint32_t>(std::min<std::size_t>(
                            datagram.size(), std::numeric_limits<std::uint32_t>::max())));
    std::string& out = file.pending();
    if (!pcapng) {
        appendRaw(out, static_cast<std::uint32_t>(wholeSeconds(arrivalNanoseconds)));
        appendRaw(out,
                  static_cast<std::uint32_t>(arrivalNanoseconds - wholeSeconds(arrivalNanoseconds) *
                                                                      NanosecondsPerSecond));
        appendRaw(out, length);
        appendRaw(out, original);
        out.append(reinterpret_cast<const char*>(datagram.data()), length);
        return file.commit();
    }
    const std::uint32_t padding = (4 - length % 4) % 4;
    const std::uint32_t blockLength = 32 + length + padding;
    // Counted from the interface's offset, which lies at or before the earliest stamp; only
    // a file of both 1677 and 2262 would pass what 64 bits count, and is held at the end.
    const __int128 fromOffset =
        __int128{arrivalNanoseconds} - __int128{offsetSeconds} * NanosecondsPerSecond;
    const auto units = static_cast<std::uint64_t>(
        std::clamp<__int128>(fromOffset, 0, __int128{std::numeric_limits<std::uint64_t>::max()}));
    appendRaw(out, PcapngEnhancedPacketBlock);
    appendRaw(out, blockLength);
    appendRaw(out, std::uint32_t{0});  // the one interface
    appendRaw(out, static_cast<std::uint32_t>(units >> 32));
    appendRaw(out, static_cast<std::uint32_t>(units));
    appendRaw(out, length);
    appendRaw(out, original);
    out.append(reinterpret_cast<const char*>(datagram.data()), length);
    out.append(padding, '\0');
    appendRaw(out, blockLength);
    return file.commit();
}

CaptureFileForm captureFileFormFor(std::int64_t earliestNanoseconds, std::int64_t latestNanoseconds,
                                   bool withIpv6) {
    CaptureFileForm form;
    form.linkType = withIpv6 ? PcapLinkTypeRaw : PcapLinkTypeIpv4;
    if (fitsClassicPcap(earliestNanoseconds) && fitsClassicPcap(latestNanoseconds)) {
        return form;
    }
    form.pcapng = true;
    form.offsetSeconds = std::min<std::int64_t>(wholeSeconds(earliestNanoseconds), 0);
    return form;
}

SaveOutcome writeCaptureFile(const std::string& path, PacketTable& table,
                             const SettingsRecord& settings, std::atomic<bool>& cancel,
                             const SaveHooks& hooks) {
    // A stamp before 1970 or after 2106 does not fit a pcap file's 32-bit seconds; pcapng
    // keeps every stamp, so the whole file is pcapng then. Packets captured meanwhile are
    // stamped now and fit either.
    // IPv4 alone is written as raw IPv4, as ever; with IPv6 among them, as raw IP.
    std::int64_t earliest = 0;
    std::int64_t latest = 0;
    bool withIpv6 = false;
    {
        const PacketTable::Access access = table.lock();
        const PacketStore& store = access.store();
        for (std::int32_t slot = 0; slot < table.storedCount(); ++slot) {
            if (const std::uint8_t* data = store.packet(slot); data != nullptr) {
                earliest = std::min(earliest, store.arrivalNanoseconds(slot));
                latest = std::max(latest, store.arrivalNanoseconds(slot));
                withIpv6 = withIpv6 || (store.length(slot) > 0 && (data[0] >> 4) == 6);
            }
        }
    }
    CaptureFileForm form = captureFileFormFor(earliest, latest, withIpv6);
    StoreFileFormat format;
    format.header = form.header();
    format.record = [form](RecordFile& file, const PacketStore& store, std::int32_t slot) mutable {
        return writeRecordWidening(form, file, {store.packet(slot), store.length(slot)},
                                   store.length(slot), store.arrivalNanoseconds(slot));
    };
    return writeStoreFile(path, table, settings, cancel, hooks, format);
}

int PcapStreamWriter::create(const std::string& path) {
    constexpr std::string_view PcapngEnding = ".pcapng";
    form_.pcapng =
        path.size() > PcapngEnding.size() &&
        path.compare(path.size() - PcapngEnding.size(), PcapngEnding.size(), PcapngEnding) == 0;
    if (path == "-") {
        file_.useStandardOutput();
    } else if (const int error = file_.create(path); error != 0) {
        return error;
    }
    form_.linkType = file_.isSeekable() ? PcapLinkTypeIpv4 : PcapLinkTypeRaw;
    return file_.write(form_.header());
}

int PcapStreamWriter::append(std::span<const std::uint8_t> datagram, std::uint32_t originalLength,
                             std::int64_t arrivalNanoseconds) {
    ++packets_;
    if (refusal_.empty() &&
        (form_.pcapng ? arrivalNanoseconds < 0 : !fitsClassicPcap(arrivalNanoseconds))) {
        refusal_ = "packet " + std::to_string(packets_) + " has the time " +
                   isoTime(arrivalNanoseconds) + ", which a " +
                   (form_.pcapng ? "pcapng file written as it arrives cannot hold (from 1970)"
                                 : "pcap file cannot hold (1970 to 2106): name a .pcapng file "
                                   "to keep it");
    }
    if (!refusal_.empty()) {
        return EOVERFLOW;
    }
    return writeRecordWidening(form_, file_, datagram, originalLength, arrivalNanoseconds);
}

}  // namespace qhs
