#include "capture/TimeTextCache.h"

#include "app/Templates.h"

namespace qhs {

std::string_view TimeTextCache::text(std::string_view dateTimeTemplate,
                                     std::int64_t arrivalNanoseconds) {
    // A swapped time source (tests) is read every time: its readings need not follow the
    // system clock.
    if (localTimeSource() != &systemLocalTime) {
        text_ = expandDateTime(dateTimeTemplate);
        millisecond_.reset();
        ++version_;
        return text_;
    }
    // Rounded down, so the milliseconds before 1970 are told apart too.
    std::int64_t millisecond = arrivalNanoseconds / 1'000'000;
    if (arrivalNanoseconds % 1'000'000 < 0) {
        --millisecond;
    }
    if (millisecond != millisecond_ || dateTimeTemplate != template_) {
        text_ = expandDateTime(dateTimeTemplate, localTimeOfStamp(arrivalNanoseconds));
        template_.assign(dateTimeTemplate);
        millisecond_ = millisecond;
        ++version_;
    }
    return text_;
}

}  // namespace qhs
