#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qhs {

// The time text of each captured datagram. Many datagrams arrive within one millisecond,
// and the text cannot change within one, so the template is expanded once per millisecond
// (or when the template changes) instead of once per datagram.
class TimeTextCache {
  public:
    // `arrivalNanoseconds` is the datagram's arrival by the system clock in nanoseconds since
    // 1970, any value: 0 is 1970 itself, and a capture file may hold times before it.
    std::string_view text(std::string_view dateTimeTemplate, std::int64_t arrivalNanoseconds);
    // Goes up whenever text() gave a new text.
    std::uint64_t version() const { return version_; }

  private:
    std::optional<std::int64_t> millisecond_;
    std::string template_;
    std::string text_;
    std::uint64_t version_ = 0;
};

}  // namespace qhs
