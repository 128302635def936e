#pragma once

#include <cstdint>

namespace qhs {

// Milliseconds of a steady clock since the process started; never 0, because 0 marks
// "never" in the places that keep a reading (free stream slots, no clear yet).
std::uint64_t processClockMs();

}  // namespace qhs
