#include "packetmode/CaptureFileExport.h"

#include <algorithm>
#include <cstring>

#include "packetmode/RecordFile.h"

namespace qhs {

namespace {

template <typename Value>
void appendRaw(std::string& out, Value value) {
    char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    out.append(bytes, sizeof value);
}

// The file header, in this machine's byte order (the magic number tells readers which).
std::string fileHeader() {
    std::string header;
    appendRaw(header, PcapNanosecondMagic);
    appendRaw(header, std::uint16_t{2});  // format version 2.4
    appendRaw(header, std::uint16_t{4});
    appendRaw(header, std::int32_t{0});   // time stamps are UTC
    appendRaw(header, std::uint32_t{0});  // their accuracy is not stated
    appendRaw(header, PcapSnapLength);
    appendRaw(header, PcapLinkTypeIpv4);
    return header;
}

// One record: its header and the datagram; nothing for a datagram without data.
int writeRecord(RecordFile& file, std::span<const std::uint8_t> datagram,
                std::uint32_t originalLength, std::int64_t arrivalNanoseconds) {
    if (datagram.data() == nullptr || datagram.empty()) {
        return 0;
    }
    const auto length = static_cast<std::uint32_t>(datagram.size());
    // Times before 1970 cannot be written; an unknown arrival (0) stays 0.
    const std::int64_t arrival = std::max<std::int64_t>(arrivalNanoseconds, 0);
    std::string& out = file.pending();
    appendRaw(out, static_cast<std::uint32_t>(arrival / 1'000'000'000));
    appendRaw(out, static_cast<std::uint32_t>(arrival % 1'000'000'000));
    appendRaw(out, length);
    appendRaw(out, std::max(originalLength, length));
    out.append(reinterpret_cast<const char*>(datagram.data()), length);
    return file.commit();
}

}  // namespace

SaveOutcome writeCaptureFile(const std::string& path, PacketTable& table,
                             const SettingsRecord& settings, std::atomic<bool>& cancel,
                             const SaveHooks& hooks) {
    StoreFileFormat format;
    format.header = fileHeader();
    format.record = [](RecordFile& file, const PacketStore& store, std::int32_t slot) {
        return writeRecord(file, {store.packet(slot), store.length(slot)}, store.length(slot),
                           store.arrivalNanoseconds(slot));
    };
    return writeStoreFile(path, table, settings, cancel, hooks, format);
}

int PcapStreamWriter::create(const std::string& path) {
    if (path == "-") {
        file_.useStandardOutput();
    } else if (const int error = file_.create(path); error != 0) {
        return error;
    }
    return file_.write(fileHeader());
}

int PcapStreamWriter::append(std::span<const std::uint8_t> datagram, std::uint32_t originalLength,
                             std::int64_t arrivalNanoseconds) {
    return writeRecord(file_, datagram, originalLength, arrivalNanoseconds);
}

}  // namespace qhs
