#pragma once

#include "platform/PlatformLayer.h"

#include <cstdint>
#include <string>

namespace qhs {

// The full path of the running executable (at most 10000 characters), or empty.
std::string executablePath();

// Free physical memory in bytes (MemAvailable of /proc/meminfo), or 0 when unknown.
std::uint64_t availableMemoryBytes();

// Moves the calling thread one step above or below normal priority (nice -1 / +1) when
// allowed; otherwise it stays as it is.
void raiseThreadPriority();
void lowerThreadPriority();
// Moves the calling thread to a background priority (nice +10): it runs when the core has
// nothing more urgent to do.
void lowerThreadPriorityFar();

}  // namespace qhs
