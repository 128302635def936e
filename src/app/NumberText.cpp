#include "app/NumberText.h"

#include <limits>

namespace qhs {

std::int32_t signedNumberValue(std::string_view text) {
    std::size_t position = 0;
    while (position < text.size() && (text[position] == ' ' || text[position] == '\t')) {
        ++position;
    }
    bool negative = false;
    if (position < text.size() && (text[position] == '-' || text[position] == '+')) {
        negative = text[position] == '-';
        ++position;
    }
    // One past the largest magnitude is enough to know the value is out of range.
    constexpr std::int64_t Limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    while (position < text.size() && text[position] >= '0' && text[position] <= '9') {
        magnitude = magnitude * 10 + (text[position] - '0');
        if (magnitude > Limit) {
            magnitude = Limit;
        }
        ++position;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace qhs
