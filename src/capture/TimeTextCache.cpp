#include "capture/TimeTextCache.h"

#include <chrono>

#include "app/Templates.h"

namespace qhs {

std::string_view TimeTextCache::text(std::string_view dateTimeTemplate,
                                     std::int64_t arrivalNanoseconds) {
    // A swapped time source (tests) is read every time: its readings need not follow the
    // system clock.
    if (localTimeSource() != &systemLocalTime) {
        text_ = expandDateTime(dateTimeTemplate);
        millisecond_ = -1;
        ++version_;
        return text_;
    }
    using Clock = std::chrono::system_clock;
    const Clock::time_point reading =
        arrivalNanoseconds != 0 ? Clock::time_point(std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::nanoseconds(arrivalNanoseconds)))
                                : Clock::now();
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::milliseconds>(reading.time_since_epoch()).count();
    if (now != millisecond_ || dateTimeTemplate != template_) {
        text_ = expandDateTime(dateTimeTemplate, localTimeAt(reading));
        template_.assign(dateTimeTemplate);
        millisecond_ = now;
        ++version_;
    }
    return text_;
}

}  // namespace qhs
