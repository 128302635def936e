#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace qhs {

// One reading of the local time, to the millisecond.
struct LocalTime {
    unsigned year = 0;
    unsigned month = 0;  // 1-12
    unsigned day = 0;    // 1-31
    unsigned hour = 0;   // 0-23
    unsigned minute = 0;
    unsigned second = 0;
    unsigned millisecond = 0;
};

// Where the time of every expansion comes from; tests swap it for a fixed time.
using LocalTimeSource = LocalTime (*)();

LocalTime systemLocalTime();
// The local time of a reading of the system clock.
LocalTime localTimeAt(std::chrono::system_clock::time_point reading);
// The local time of a time stamp in nanoseconds since 1970, before 1970 as well.
LocalTime localTimeOfStamp(std::int64_t nanosecondsSince1970);
LocalTimeSource localTimeSource();
void setLocalTimeSource(LocalTimeSource source);  // nullptr restores the system clock

// Swaps the time source for the life of the object.
class ScopedLocalTimeSource {
  public:
    explicit ScopedLocalTimeSource(LocalTimeSource source);
    ~ScopedLocalTimeSource();
    ScopedLocalTimeSource(const ScopedLocalTimeSource&) = delete;
    ScopedLocalTimeSource& operator=(const ScopedLocalTimeSource&) = delete;

  private:
    LocalTimeSource previous_;
};

// Replaces every occurrence of `parameter` in `text`, left to right, without rescanning
// the inserted text.
void replaceAll(std::string& text, std::string_view parameter, std::string_view value);

// The date and time template: %Y %MY %D %AP %H12 %H24 %MN %S %MS, replaced in that order.
std::string expandDateTime(std::string_view dateTimeTemplate, const LocalTime& time);
std::string expandDateTime(std::string_view dateTimeTemplate);

// "%u.%u.%u.%u" of an address held in network byte order (first byte in memory first).
std::string dottedAddress(std::uint32_t networkOrderAddress);

// The file name template: %SIP %DIP %DAT, then %sip %dip %dat. The date text is the
// date template expanded with ':' made '.' and '\' made '/'. The addresses are given as their
// text (dotted IPv4, or IPv6 as RFC 5952 writes it), or as IPv4 addresses in network order.
std::string expandFileName(std::string_view fileNameTemplate, std::string_view dateTimeTemplate,
                           std::string_view sourceAddress, std::string_view destinationAddress,
                           const LocalTime& time);
std::string expandFileName(std::string_view fileNameTemplate, std::string_view dateTimeTemplate,
                           std::uint32_t sourceAddress, std::uint32_t destinationAddress,
                           const LocalTime& time);
std::string expandFileName(std::string_view fileNameTemplate, std::string_view dateTimeTemplate,
                           std::uint32_t sourceAddress, std::uint32_t destinationAddress);

}  // namespace qhs
