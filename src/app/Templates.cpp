#include "app/Templates.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace qhs {

namespace {

std::atomic<LocalTimeSource> currentSource{&systemLocalTime};

// Appends a number of at least `width` digits, zero-padded.
void appendNumber(std::string& out, unsigned value, int width) {
    char digits[16];
    const int length = std::snprintf(digits, sizeof digits, "%0*u", width, value);
    out.append(digits, static_cast<std::size_t>(length));
}

std::string numberText(unsigned value, int width) {
    std::string text;
    appendNumber(text, value, width);
    return text;
}

}  // namespace

LocalTime systemLocalTime() {
    return localTimeAt(std::chrono::system_clock::now());
}

LocalTime localTimeAt(std::chrono::system_clock::time_point now) {
    using namespace std::chrono;
    return localTimeOfStamp(duration_cast<nanoseconds>(now.time_since_epoch()).count());
}

LocalTime localTimeOfStamp(std::int64_t nanosecondsSince1970) {
    // Whole seconds are rounded down, so a time before 1970 keeps a positive fraction:
    // -0.5 s is 23:59:59.500 of the day before.
    constexpr std::int64_t NanosecondsPerSecond = 1'000'000'000;
    std::int64_t seconds = nanosecondsSince1970 / NanosecondsPerSecond;
    std::int64_t fraction = nanosecondsSince1970 % NanosecondsPerSecond;
    if (fraction < 0) {
        fraction += NanosecondsPerSecond;
        --seconds;
    }
    const auto whole = static_cast<std::time_t>(seconds);
    std::tm parts{};
    localtime_r(&whole, &parts);
    LocalTime time;
    time.year = static_cast<unsigned>(parts.tm_year + 1900);
    time.month = static_cast<unsigned>(parts.tm_mon + 1);
    time.day = static_cast<unsigned>(parts.tm_mday);
    time.hour = static_cast<unsigned>(parts.tm_hour);
    time.minute = static_cast<unsigned>(parts.tm_min);
    time.second = static_cast<unsigned>(parts.tm_sec);
    time.millisecond = static_cast<unsigned>(fraction / 1'000'000);
    return time;
}

LocalTimeSource localTimeSource() {
    return currentSource.load();
}

void setLocalTimeSource(LocalTimeSource source) {
    currentSource.store(source ? source : &systemLocalTime);
}

ScopedLocalTimeSource::ScopedLocalTimeSource(LocalTimeSource source)
    : previous_(localTimeSource()) {
    setLocalTimeSource(source);
}

ScopedLocalTimeSource::~ScopedLocalTimeSource() {
    setLocalTimeSource(previous_);
}

void replaceAll(std::string& text, std::string_view parameter, std::string_view value) {
    std::size_t found = text.find(parameter);
    if (parameter.empty() || found == std::string::npos) {
        return;
    }
    std::string result;
    result.reserve(text.size() + value.size());
    std::size_t copiedUpTo = 0;
    while (found != std::string::npos) {
        result.append(text, copiedUpTo, found - copiedUpTo);
        result.append(value);
        copiedUpTo = found + parameter.size();
        found = text.find(parameter, copiedUpTo);
    }
    result.append(text, copiedUpTo, std::string::npos);
    text.swap(result);
}

std::string expandDateTime(std::string_view dateTimeTemplate, const LocalTime& time) {
    std::string text(dateTimeTemplate);
    if (text.find('%') == std::string::npos) {
        return text;
    }
    // Noon stays "AM": only hours 13 to 23 are afternoon on this clock.
    unsigned hour12 = time.hour;
    std::string_view dayHalf = "AM";
    if (time.hour > 12) {
        hour12 = time.hour - 12;
        dayHalf = "PM";
    } else if (time.hour == 0) {
        hour12 = 12;
    }
    replaceAll(text, "%Y", numberText(time.year, 1));
    replaceAll(text, "%MY", numberText(time.month, 2));
    replaceAll(text, "%D", numberText(time.day, 2));
    replaceAll(text, "%AP", dayHalf);
    replaceAll(text, "%H12", numberText(hour12, 2));
    replaceAll(text, "%H24", numberText(time.hour, 2));
    replaceAll(text, "%MN", numberText(time.minute, 2));
    replaceAll(text, "%S", numberText(time.second, 2));
    replaceAll(text, "%MS", numberText(time.millisecond, 3));
    return text;
}

std::string expandDateTime(std::string_view dateTimeTemplate) {
    return expandDateTime(dateTimeTemplate, localTimeSource()());
}

std::string dottedAddress(std::uint32_t networkOrderAddress) {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) {
        bytes[i] = reinterpret_cast<const unsigned char*>(&networkOrderAddress)[i];
    }
    char text[16];
    const int length =
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return std::string(text, static_cast<std::size_t>(length));
}

std::string expandFileName(std::string_view fileNameTemplate, std::string_view dateTimeTemplate,
                           std::uint32_t sourceAddress, std::uint32_t destinationAddress,
                           const LocalTime& time) {
    return expandFileName(fileNameTemplate, dateTimeTemplate,
                          std::string_view(dottedAddress(sourceAddress)),
                          std::string_view(dottedAddress(destinationAddress)), time);
}

std::string expandFileName(std::string_view fileNameTemplate, std::string_view dateTimeTemplate,
                           std::string_view source, std::string_view destination,
                           const LocalTime& time) {
    std::string dateText = expandDateTime(dateTimeTemplate, time);
    for (char& c : dateText) {
        if (c == ':') {
            c = '.';
        } else if (c == '\\') {
            c = '/';
        }
    }
    std::string name(fileNameTemplate);
    replaceAll(name, "%SIP", source);
    replaceAll(name, "%DIP", destination);
    replaceAll(name, "%DAT", dateText);
    replaceAll(name, "%sip", source);
    replaceAll(name, "%dip", destination);
    replaceAll(name, "%dat", dateText);
    return name;
}

std::string expandFileName(std::string_view fileNameTemplate, std::string_view dateTimeTemplate,
                           std::uint32_t sourceAddress, std::uint32_t destinationAddress) {
    return expandFileName(fileNameTemplate, dateTimeTemplate, sourceAddress, destinationAddress,
                          localTimeSource()());
}

}  // namespace qhs
