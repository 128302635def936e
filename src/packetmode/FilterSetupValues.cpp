#include "packetmode/FilterSetupValues.h"

#include <algorithm>
#include <type_traits>

#include "analysis/PacketFilter.h"
#include "app/NumberText.h"
#include "app/Templates.h"
#include "filemode/FileSegmentFilter.h"

namespace qhs {

namespace {

// The record's fields of each list, in FilterListIndex order; Record is SettingsRecord
// or const SettingsRecord.
template <typename Record>
auto listFields(Record& record) {
    using Entry = std::remove_reference_t<decltype((record.filterSourceIpEntry))>;
    using Addresses = std::remove_reference_t<decltype((record.filterSourceIps))>;
    using Ports = std::remove_reference_t<decltype((record.filterSourcePorts))>;
    struct Fields {
        Entry* entry;
        Addresses* addresses;
        Ports* ports;
    };
    return std::array<Fields, FilterListCount>{{
        {&record.filterSourceIpEntry, &record.filterSourceIps, &record.filterSourcePorts},
        {&record.filterSourceIpNotEntry, &record.filterSourceIpsNot, &record.filterSourcePortsNot},
        {&record.filterDestIpEntry, &record.filterDestIps, &record.filterDestPorts},
        {&record.filterDestIpNotEntry, &record.filterDestIpsNot, &record.filterDestPortsNot},
        {&record.filterEitherIpEntry, &record.filterEitherIps, &record.filterEitherPorts},
    }};
}

template <typename Record>
auto containsFields(Record& record) {
    return std::array{&record.filterContains1, &record.filterContains2, &record.filterContains3};
}

template <typename Record>
auto lacksFields(Record& record) {
    return std::array{&record.filterLacks1, &record.filterLacks2, &record.filterLacks3};
}

std::uint32_t storedSize(const std::string& text, std::uint32_t asRead) {
    if (text == std::to_string(asRead)) {
        return asRead;
    }
    // The bounds are signed values kept in unsigned fields.
    return static_cast<std::uint32_t>(signedNumberValue(text));
}

}  // namespace

FilterSetupValues FilterSetupValues::read(const SettingsRecord& record) {
    FilterSetupValues values;
    const auto lists = listFields(record);
    for (std::size_t list = 0; list < FilterListCount; ++list) {
        values.addressEntries[list] = textField(*lists[list].entry);
        for (const std::uint32_t address : *lists[list].addresses) {
            if (address == 0) {
                break;
            }
            values.addressRows[list].push_back(dottedAddress(address));
        }
        values.portTexts[list] = PacketFilter::formatPortList(*lists[list].ports);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        values.containsStrings[i] = textField(*containsFields(record)[i]);
        values.lacksStrings[i] = textField(*lacksFields(record)[i]);
    }
    values.resolverHost = textField(record.filterResolverHost);
    values.allowTcp = record.filterAllowTcp != 0;
    values.allowUdp = record.filterAllowUdp != 0;
    values.allowIcmp = record.filterAllowIcmp != 0;
    values.allowOther = record.filterAllowOther != 0;
    values.minimumSizeAsRead = record.filterMinSize;
    values.maximumSizeAsRead = record.filterMaxSize;
    values.minimumSizeText = std::to_string(record.filterMinSize);
    values.maximumSizeText = std::to_string(record.filterMaxSize);
    return values;
}

void FilterSetupValues::store(SettingsRecord& record) const {
    const auto lists = listFields(record);
    for (std::size_t list = 0; list < FilterListCount; ++list) {
        setTextField(*lists[list].entry, addressEntries[list]);
    }
    for (const FilterListIndex list :
         {SourceNotList, DestinationNotList, SourceList, DestinationList, EitherList}) {
        PacketFilter::parsePortList(portTexts[list], *lists[list].ports);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        setTextField(*containsFields(record)[i], containsStrings[i]);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        setTextField(*lacksFields(record)[i], lacksStrings[i]);
    }
    setTextField(record.filterResolverHost, resolverHost);
    record.filterAllowTcp = allowTcp ? 1 : 0;
    record.filterAllowUdp = allowUdp ? 1 : 0;
    record.filterAllowIcmp = allowIcmp ? 1 : 0;
    record.filterAllowOther = allowOther ? 1 : 0;
    record.filterMinSize = storedSize(minimumSizeText, minimumSizeAsRead);
    record.filterMaxSize = storedSize(maximumSizeText, maximumSizeAsRead);
    for (std::size_t list = 0; list < FilterListCount; ++list) {
        const std::vector<std::string>& rows = addressRows[list];
        std::uint32_t(&addresses)[FilterListLength] = *lists[list].addresses;
        for (std::size_t i = 0; i < FilterListLength; ++i) {
            addresses[i] = i < rows.size() ? filterAddress(rows[i]) : 0;
        }
    }
}

bool FilterSetupValues::addAddressRow(std::vector<std::string>& rows, std::string_view entry) {
    const std::uint32_t address = filterAddress(entry);
    if (address == 0 || rows.size() >= FilterListLength) {
        return false;
    }
    const bool present = std::any_of(rows.begin(), rows.end(), [&](const std::string& row) {
        return filterAddress(row) == address;
    });
    if (present) {
        return false;
    }
    rows.insert(rows.begin(), std::string(entry));
    return true;
}

}  // namespace qhs
