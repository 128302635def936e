#pragma once

#include <cstddef>

namespace qhs {

// Every datagram is received into a buffer of this many bytes: room for the largest IP
// datagram (an IPv6 one of 40 + 65,535 bytes) and a little more, so a datagram that arrives
// whole is never cut.
inline constexpr std::size_t ReceiveBufferBytes = 65580;

}  // namespace qhs
