#pragma once

#include "platform/PlatformLayer.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace qhs {

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and every thread it starts later; called
// first thing in main by a run from the command line, so they are taken only by the watcher.
void blockStopSignals();

// Runs `stop` once, on its own thread, at Ctrl-C (SIGINT), at SIGTERM, when the terminal
// hangs up (SIGHUP) or when `seconds` have
// passed (0: never), for as long as the returned object lives; letting go of it ends and
// joins the thread.
std::shared_ptr<void> watchForStop(std::function<void()> stop, std::uint32_t seconds);

}  // namespace qhs
