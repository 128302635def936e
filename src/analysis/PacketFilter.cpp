#include "analysis/PacketFilter.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "analysis/DatagramView.h"
#include "analysis/SearchText.h"
#include "analysis/SubstringSearcher.h"

namespace qhs {

namespace {

// The largest IPv4 datagram: the search text of one never needs more room.
constexpr std::size_t LargestDatagramBytes = 65535;

using AddressArray = std::array<std::uint32_t, FilterListLength>;
using PortArray = std::array<std::uint16_t, FilterListLength>;

template <typename Array, typename Field>
void copyList(Array& to, const Field (&from)[FilterListLength]) {
    std::copy(std::begin(from), std::end(from), to.begin());
}

// An address list from its first entry up to its first zero entry.
struct AddressList {
    AddressArray entries{};
    std::uint32_t count = 0;

    explicit AddressList(const AddressArray& list) {
        while (count < list.size() && list[count] != 0) {
            entries[count] = list[count];
            ++count;
        }
    }
    bool inForce() const { return count > 0; }
    bool holds(std::uint32_t address) const {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (entries[i] == address) {
                return true;
            }
        }
        return false;
    }
};

// One index of the five port lists, walked together.
struct PortWalkStep {
    std::uint16_t source;
    std::uint16_t destination;
    std::uint16_t sourceNot;
    std::uint16_t destinationNot;
    std::uint16_t either;
};

std::string joinColumn(const std::array<std::string, 3>& strings) {
    return strings[0] + ',' + strings[1] + ',' + strings[2];
}

}  // namespace

// The filter settings as copied from the record and the two check boxes.
struct FilterInputs {
    bool applyFilters = false;
    bool matchCase = false;
    bool allowTcp = false;
    bool allowUdp = false;
    bool allowIcmp = false;
    bool allowOther = false;
    std::int32_t minSize = 0;
    std::int32_t maxSize = 0;
    AddressArray sourceIps{};
    AddressArray destIps{};
    AddressArray sourceIpsNot{};
    AddressArray destIpsNot{};
    AddressArray eitherIps{};
    PortArray sourcePorts{};
    PortArray destPorts{};
    PortArray sourcePortsNot{};
    PortArray destPortsNot{};
    PortArray eitherPorts{};
    std::array<std::string, 3> contains;
    std::array<std::string, 3> lacks;

    bool operator==(const FilterInputs&) const = default;
};

// The settings in the form accept tests them; immutable once published.
struct CompiledFilter {
    bool applyFilters;
    bool foldCase;
    std::array<bool, 256> allowedProtocol{};
    std::int32_t minSize;
    std::int32_t maxSize;
    AddressList sourceIps;
    AddressList destIps;
    AddressList sourceIpsNot;
    AddressList destIpsNot;
    AddressList eitherIps;
    // Indexes before the first one where all five port lists hold 0.
    std::uint32_t portWalkLength = 0;
    std::array<PortWalkStep, FilterListLength> portWalk{};
    bool needSourcePortMatch;
    bool needDestPortMatch;
    bool needEitherPortMatch;
    // The non-empty search strings, folded when case does not matter.
    std::vector<SubstringSearcher> contains;
    std::vector<SubstringSearcher> lacks;
    bool searchesText;
    std::string containsColumn;
    std::string lacksColumn;

    explicit CompiledFilter(const FilterInputs& inputs);
};

CompiledFilter::CompiledFilter(const FilterInputs& inputs)
    : applyFilters(inputs.applyFilters),
      foldCase(!inputs.matchCase),
      minSize(inputs.minSize),
      maxSize(inputs.maxSize),
      sourceIps(inputs.sourceIps),
      destIps(inputs.destIps),
      sourceIpsNot(inputs.sourceIpsNot),
      destIpsNot(inputs.destIpsNot),
      eitherIps(inputs.eitherIps),
      needSourcePortMatch(inputs.sourcePorts[0] != 0),
      needDestPortMatch(inputs.destPorts[0] != 0),
      needEitherPortMatch(inputs.eitherPorts[0] != 0) {
    allowedProtocol.fill(inputs.allowOther);
    allowedProtocol[DatagramView::ProtocolTcp] = inputs.allowTcp;
    allowedProtocol[DatagramView::ProtocolUdp] = inputs.allowUdp;
    allowedProtocol[DatagramView::ProtocolIcmp] = inputs.allowIcmp;

    for (; portWalkLength < FilterListLength; ++portWalkLength) {
        const std::size_t i = portWalkLength;
        const PortWalkStep step{inputs.sourcePorts[i], inputs.destPorts[i],
                                inputs.sourcePortsNot[i], inputs.destPortsNot[i],
                                inputs.eitherPorts[i]};
        if ((step.source | step.destination | step.sourceNot | step.destinationNot | step.either) ==
            0) {
            break;
        }
        portWalk[i] = step;
    }

    std::array<std::string, 3> comparedContains;
    std::array<std::string, 3> comparedLacks;
    for (std::size_t i = 0; i < 3; ++i) {
        comparedContains[i] = foldCase ? foldToLowerCase(inputs.contains[i]) : inputs.contains[i];
        comparedLacks[i] = foldCase ? foldToLowerCase(inputs.lacks[i]) : inputs.lacks[i];
        if (!comparedContains[i].empty()) {
            contains.emplace_back(comparedContains[i]);
        }
        if (!comparedLacks[i].empty()) {
            lacks.emplace_back(comparedLacks[i]);
        }
    }
    searchesText = !contains.empty() || !lacks.empty();
    if (searchesText) {
        containsColumn = joinColumn(comparedContains);
        lacksColumn = joinColumn(comparedLacks);
    }
}

PacketFilter::PacketFilter()
    : inputs_(std::make_unique<FilterInputs>()),
      published_(std::make_shared<const CompiledFilter>(*inputs_)) {
    // The search text of a datagram is never longer than the datagram.
    searchText_.reserve(LargestDatagramBytes);
}

PacketFilter::~PacketFilter() = default;

void PacketFilter::refresh(bool applyFilters, const SettingsRecord& record) {
    std::lock_guard writer(writerMutex_);
    update(applyFilters, record);
}

void PacketFilter::reload(const SettingsRecord& record) {
    std::lock_guard writer(writerMutex_);
    update(inputs_->applyFilters, record);
}

void PacketFilter::update(bool applyFilters, const SettingsRecord& record) {
    FilterInputs next;
    next.applyFilters = applyFilters;
    next.matchCase = inputs_->matchCase;
    next.allowTcp = record.filterAllowTcp != 0;
    next.allowUdp = record.filterAllowUdp != 0;
    next.allowIcmp = record.filterAllowIcmp != 0;
    next.allowOther = record.filterAllowOther != 0;
    // The bounds are compared as signed values, as the dialog stores them.
    next.minSize = static_cast<std::int32_t>(record.filterMinSize);
    next.maxSize = static_cast<std::int32_t>(record.filterMaxSize);
    copyList(next.sourceIps, record.filterSourceIps);
    copyList(next.destIps, record.filterDestIps);
    copyList(next.sourceIpsNot, record.filterSourceIpsNot);
    copyList(next.destIpsNot, record.filterDestIpsNot);
    copyList(next.eitherIps, record.filterEitherIps);
    copyList(next.sourcePorts, record.filterSourcePorts);
    copyList(next.destPorts, record.filterDestPorts);
    copyList(next.sourcePortsNot, record.filterSourcePortsNot);
    copyList(next.destPortsNot, record.filterDestPortsNot);
    copyList(next.eitherPorts, record.filterEitherPorts);
    next.contains = {std::string(textField(record.filterContains1)),
                     std::string(textField(record.filterContains2)),
                     std::string(textField(record.filterContains3))};
    next.lacks = {std::string(textField(record.filterLacks1)),
                  std::string(textField(record.filterLacks2)),
                  std::string(textField(record.filterLacks3))};
    // The window refreshes every 50 ms; only a change makes a new snapshot.
    if (next == *inputs_) {
        return;
    }
    *inputs_ = std::move(next);
    published_.publish(std::make_shared<const CompiledFilter>(*inputs_));
}

void PacketFilter::setMatchCase(bool matchCase) {
    std::lock_guard writer(writerMutex_);
    matchCase_.store(matchCase, std::memory_order_relaxed);
    if (inputs_->matchCase == matchCase) {
        return;
    }
    inputs_->matchCase = matchCase;
    published_.publish(std::make_shared<const CompiledFilter>(*inputs_));
}

FilterVerdict PacketFilter::accept(const std::uint8_t* block, std::uint32_t length) {
    const CompiledFilter& filter = held_.get();
    if (!filter.applyFilters) {
        return {true, {}, {}};
    }
    const DatagramView view(block, length);
    const FilterVerdict drop{};

    // ICMPv6 is IPv6's ICMP, and passes as ICMP.
    const bool icmpv6 = view.isIpv6() && view.protocol() == DatagramView::ProtocolIcmpv6;
    const std::uint8_t protocol = icmpv6 ? DatagramView::ProtocolIcmp : view.protocol();
    if (!filter.allowedProtocol[protocol]) {
        return drop;
    }

    const std::int32_t size = view.totalLength();
    if ((filter.minSize != 0 && size < filter.minSize) ||
        (filter.maxSize != 0 && size > filter.maxSize)) {
        return drop;
    }

    if (view.isIpv6()) {
        // The lists hold IPv4 addresses: a list of addresses that must be there takes no IPv6
        // datagram, and one of addresses that must not be there never drops one.
        if (filter.destIps.inForce() || filter.sourceIps.inForce() || filter.eitherIps.count > 0) {
            return drop;
        }
    } else {
        const std::uint32_t source = view.sourceAddress();
        const std::uint32_t destination = view.destinationAddress();
        if (filter.destIps.inForce() && !filter.destIps.holds(destination)) {
            return drop;
        }
        if (filter.sourceIps.inForce() && !filter.sourceIps.holds(source)) {
            return drop;
        }
        if (filter.destIpsNot.holds(destination) || filter.sourceIpsNot.holds(source)) {
            return drop;
        }
        // Every listed address must be one of the two ends.
        for (std::uint32_t i = 0; i < filter.eitherIps.count; ++i) {
            const std::uint32_t address = filter.eitherIps.entries[i];
            if (address != source && address != destination) {
                return drop;
            }
        }
    }

    if (filter.portWalkLength > 0 && view.hasPorts()) {
        const std::uint16_t sourcePort = view.sourcePort();
        const std::uint16_t destinationPort = view.destinationPort();
        bool sourceMatch = false;
        bool destinationMatch = false;
        bool eitherMatch = false;
        for (std::uint32_t i = 0; i < filter.portWalkLength; ++i) {
            const PortWalkStep& step = filter.portWalk[i];
            destinationMatch |= step.destination != 0 && step.destination == destinationPort;
            sourceMatch |= step.source != 0 && step.source == sourcePort;
            eitherMatch |=
                step.either != 0 && (step.either == sourcePort || step.either == destinationPort);
            if ((step.sourceNot != 0 && step.sourceNot == sourcePort) ||
                (step.destinationNot != 0 && step.destinationNot == destinationPort)) {
                return drop;
            }
        }
        if ((filter.needDestPortMatch && !destinationMatch) ||
            (filter.needSourcePortMatch && !sourceMatch) ||
            (filter.needEitherPortMatch && !eitherMatch)) {
            return drop;
        }
    }

    if (!filter.searchesText) {
        return {true, {}, {}};
    }
    const std::string_view text = view.searchText(searchText_, filter.foldCase);
    if (!filter.contains.empty() &&
        std::none_of(filter.contains.begin(), filter.contains.end(),
                     [text](const SubstringSearcher& s) { return s.occursIn(text); })) {
        return drop;
    }
    if (std::any_of(filter.lacks.begin(), filter.lacks.end(),
                    [text](const SubstringSearcher& s) { return s.occursIn(text); })) {
        return drop;
    }
    return {true, filter.containsColumn, filter.lacksColumn};
}

void PacketFilter::parsePortList(std::string_view text, std::uint16_t (&ports)[FilterListLength]) {
    std::fill(std::begin(ports), std::end(ports), std::uint16_t{0});
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t position = 0;
    for (std::size_t count = 0; count < FilterListLength; ++count) {
        while (position < text.size() && !isDigit(text[position])) {
            ++position;
        }
        if (position == text.size()) {
            return;
        }
        // Kept modulo 65536 digit by digit, so a number of any length reads without
        // overflow as its true value modulo 65536.
        std::uint32_t value = 0;
        while (position < text.size() && isDigit(text[position])) {
            value = (value * 10 + static_cast<std::uint32_t>(text[position] - '0')) & 0xFFFF;
            ++position;
        }
        ports[count] = static_cast<std::uint16_t>(value);
    }
}

std::string PacketFilter::formatPortList(const std::uint16_t (&ports)[FilterListLength]) {
    std::string text;
    for (std::size_t i = 0; i < FilterListLength && ports[i] != 0; ++i) {
        if (!text.empty()) {
            text += ',';
        }
        text += std::to_string(ports[i]);
    }
    return text;
}

}  // namespace qhs
