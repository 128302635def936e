#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <vector>

namespace qhs {

// One direction of a TCP connection, its data put back in sequence order: a segment sent
// again, or overlapping what came before, gives only its new bytes; one that arrives early
// waits until the gap before it closes. What waits is bounded: past LongestHeldAhead the
// gap is taken as lost for good (the capture missed a segment) and the direction is broken.
class TcpReassembly {
  public:
    static constexpr std::size_t LongestHeldAhead = std::size_t{8} << 20;
    using Deliver = std::function<void(std::span<const std::uint8_t> bytes)>;

    // The sequence number of the first byte to deliver.
    void start(std::uint32_t sequence);
    bool started() const { return started_; }
    // A segment's data at `sequence`; the bytes now in order go to `deliver`.
    void add(std::uint32_t sequence, std::span<const std::uint8_t> data, const Deliver& deliver);
    bool broken() const { return broken_; }
    // Bytes delivered so far.
    std::uint64_t delivered() const { return delivered_; }
    // Whether the byte at `sequence` (a FIN's number) has been reached: all before it delivered.
    bool reached(std::uint32_t sequence) const {
        return started_ && static_cast<std::int32_t>(sequence - next_) <= 0;
    }

  private:
    bool started_ = false;
    bool broken_ = false;
    std::uint32_t next_ = 0;
    std::uint64_t delivered_ = 0;
    // Early segments by their position in the stream (bytes from the start).
    std::map<std::uint64_t, std::vector<std::uint8_t>> ahead_;
    std::size_t heldAhead_ = 0;
};

}  // namespace qhs
