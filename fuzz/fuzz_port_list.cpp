// The text of a port field: whatever it holds parses into a list whose formatted text
// parses back into the same list, up to the first 0 (where the list ends for the filter
// and for the field), and formatting is then stable.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "analysis/PacketFilter.h"

using namespace qhs;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::uint16_t ports[FilterListLength];
    std::uint16_t again[FilterListLength];
    PacketFilter::parsePortList(text, ports);
    const std::string formatted = PacketFilter::formatPortList(ports);
    PacketFilter::parsePortList(formatted, again);

    const auto* firstZero = std::find(std::begin(ports), std::end(ports), 0);
    const auto kept = static_cast<std::size_t>(firstZero - std::begin(ports));
    QHS_FUZZ_REQUIRE(std::equal(ports, ports + kept, again));
    QHS_FUZZ_REQUIRE(
        std::all_of(again + kept, std::end(again), [](std::uint16_t port) { return port == 0; }));
    QHS_FUZZ_REQUIRE(PacketFilter::formatPortList(again) == formatted);
    // Only digits and the commas between the numbers.
    QHS_FUZZ_REQUIRE(std::all_of(formatted.begin(), formatted.end(),
                                 [](char c) { return c == ',' || (c >= '0' && c <= '9'); }));
    QHS_FUZZ_REQUIRE(static_cast<std::size_t>(std::count(formatted.begin(), formatted.end(),
                                                         ',')) == (kept == 0 ? 0 : kept - 1));
    return 0;
}
