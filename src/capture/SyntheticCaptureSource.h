#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/CaptureSource.h"

namespace qhs {

// A capture source that makes its own traffic: a set number of varied TCP, UDP and ICMP
// datagrams, then nothing until it is closed. Used to measure the capture path and to fill
// the window without a network.
class SyntheticCaptureSource final : public CaptureSource {
  public:
    explicit SyntheticCaptureSource(std::uint64_t datagramCount, std::uint32_t seed = 1);

    OpenOutcome open(const CaptureOptions&) override { return {}; }
    ReceiveResult receive(const DatagramVisitor& visit) override;
    void close() override;

    std::uint64_t delivered() const { return delivered_.load(); }

  private:
    std::uint64_t remaining_;
    std::uint32_t state_;
    std::atomic<std::uint64_t> delivered_{0};
    std::atomic<bool> closed_{false};
    std::uint8_t datagram_[1500];
};

}  // namespace qhs
