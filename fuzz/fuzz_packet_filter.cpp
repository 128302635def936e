// The arrival filter over any settings record and any datagram: the first 20668 bytes lay
// over the default record (a settings file may hold anything), the rest is the datagram.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "analysis/DatagramView.h"
#include "analysis/PacketFilter.h"
#include "app/SettingsRecord.h"
#include "capture/ReceiveBuffer.h"

using namespace qhs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static PacketFilter filter;
    SettingsRecord record = defaultSettings();
    const std::size_t recordBytes = size < SettingsRecordSize ? size : SettingsRecordSize;
    std::memcpy(&record, data, recordBytes);
    const std::size_t length = size - recordBytes;
    if (length > ReceiveBufferBytes) {
        return 0;
    }
    // An exact copy, so that any read past the datagram is caught.
    const auto block = std::make_unique<std::uint8_t[]>(length == 0 ? 1 : length);
    if (length > 0) {
        std::memcpy(block.get(), data + recordBytes, length);
    }

    const bool applyFilters = record.applyFilters != 0;
    filter.setMatchCase(record.matchCase != 0);
    filter.refresh(applyFilters, record);
    const auto datagramLength = static_cast<std::uint32_t>(length);
    const FilterVerdict verdict = filter.accept(block.get(), datagramLength);
    if (!applyFilters) {
        QHS_FUZZ_REQUIRE(verdict.accepted);
        return 0;
    }
    // The same datagram under the same filter gets the same verdict.
    QHS_FUZZ_REQUIRE(filter.accept(block.get(), datagramLength).accepted == verdict.accepted);
    if (!verdict.accepted) {
        return 0;
    }
    const DatagramView view(block.get(), datagramLength);
    // ICMPv6 passes as IPv6's ICMP.
    const bool icmpv6 = view.isIpv6() && view.protocol() == DatagramView::ProtocolIcmpv6;
    switch (icmpv6 ? DatagramView::ProtocolIcmp : view.protocol()) {
        case DatagramView::ProtocolTcp:
            QHS_FUZZ_REQUIRE(record.filterAllowTcp != 0);
            break;
        case DatagramView::ProtocolUdp:
            QHS_FUZZ_REQUIRE(record.filterAllowUdp != 0);
            break;
        case DatagramView::ProtocolIcmp:
            QHS_FUZZ_REQUIRE(record.filterAllowIcmp != 0);
            break;
        default:
            QHS_FUZZ_REQUIRE(record.filterAllowOther != 0);
            break;
    }
    const auto minimum = static_cast<std::int32_t>(record.filterMinSize);
    const auto maximum = static_cast<std::int32_t>(record.filterMaxSize);
    const auto headerLength = static_cast<std::int32_t>(view.totalLength());
    QHS_FUZZ_REQUIRE(minimum == 0 || headerLength >= minimum);
    QHS_FUZZ_REQUIRE(maximum == 0 || headerLength <= maximum);
    // The address lists hold IPv4 addresses: none that must be there names an IPv6 datagram.
    QHS_FUZZ_REQUIRE(!view.isIpv6() ||
                     (record.filterSourceIps[0] == 0 && record.filterDestIps[0] == 0 &&
                      record.filterEitherIps[0] == 0));
    // A listed address that is neither end drops the datagram.
    for (const std::uint32_t address : record.filterEitherIps) {
        if (address == 0) {
            break;
        }
        QHS_FUZZ_REQUIRE(address == view.sourceAddress() || address == view.destinationAddress());
    }
    return 0;
}
