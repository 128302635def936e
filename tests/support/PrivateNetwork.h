#pragma once

namespace qhs {

// Moves the process into a network namespace of its own with only the loopback device, up,
// so capture tests see only the traffic they make. Needs root.
bool enterPrivateNetwork();

}  // namespace qhs
