#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qhs {

// One packet as one line of JSON (JSON Lines), for loading into a database such as
// ClickHouse (FORMAT JSONEachRow): its capture time (ISO 8601 in UTC to the nanosecond, and
// nanoseconds since 1970), protocol number and name, captured and original length,
// addresses, ports, the TCP sequence, acknowledgement, flags and window (0 and "" when it is
// no TCP segment), and with `withData` its bytes in hex. Ends with "\n".
void appendPacketJson(std::string& out, std::span<const std::uint8_t> datagram,
                      std::uint32_t originalLength, std::int64_t arrivalNanoseconds, bool withData);

// A time as ISO 8601 in UTC with nine decimals: "2026-12-08T16:15:01.123456789Z".
std::string isoTime(std::int64_t nanosecondsSince1970);

// Appends `text` as a JSON string, quotes included: UTF-8 passes through, control characters
// (C0, DEL and C1) are escaped, and a byte that is no part of well-formed UTF-8 becomes
// U+FFFD.
void appendJsonString(std::string& out, std::string_view text);

}  // namespace qhs
