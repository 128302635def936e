#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/TestDatagram.h"

namespace qhs {

// An IPv4 datagram from 10.9.9.9 to 127.0.0.1: injected into the loopback device, the IP
// layer drops it (nothing routes back to its source), so nothing ever answers it.
inline std::vector<std::uint8_t> unansweredDatagram(std::size_t length, std::uint8_t protocol,
                                                    std::uint16_t sourcePort = 4000,
                                                    std::uint16_t destinationPort = 4001) {
    std::vector<std::uint8_t> bytes = makeDatagram(protocol, length, sourcePort, destinationPort);
    const std::uint8_t addresses[8] = {10, 9, 9, 9, 127, 0, 0, 1};
    std::copy(addresses, addresses + 8, bytes.begin() + 12);
    return bytes;
}

// Malformed datagrams of every kind a capture must survive, each unanswered: header length
// below 5 and beyond the datagram, total length above and below what arrives, fragments, a
// TCP data offset past the end, UDP without a header and empty, and the largest datagram
// loopback carries, which ends with `needle`.
inline std::vector<std::vector<std::uint8_t>> hostileDatagrams(const std::string& needle) {
    auto withTotalLength = [](std::vector<std::uint8_t> bytes, std::uint16_t length) {
        bytes[2] = static_cast<std::uint8_t>(length >> 8);
        bytes[3] = static_cast<std::uint8_t>(length);
        return bytes;
    };
    std::vector<std::vector<std::uint8_t>> sent;
    sent.push_back(unansweredDatagram(40, 17));
    sent.back()[0] = 0x44;  // a header of 16 bytes
    sent.push_back(unansweredDatagram(28, 6));
    sent.back()[0] = 0x4F;  // a 60-byte header in 28 bytes
    sent.push_back(withTotalLength(unansweredDatagram(60, 17), 1500));
    sent.push_back(withTotalLength(unansweredDatagram(100, 6), 28));
    sent.push_back(unansweredDatagram(48, 6));
    sent.back()[6] = 0x20;  // more fragments follow
    sent.push_back(unansweredDatagram(30, 6));
    sent.back()[6] = 0x00, sent.back()[7] = 0xB9;  // a later fragment: no TCP header
    sent.push_back(unansweredDatagram(44, 6));
    sent.back()[32] = 0xF0;                      // a 60-byte TCP header in 24 bytes
    sent.push_back(unansweredDatagram(20, 17));  // UDP without its header
    sent.push_back(unansweredDatagram(28, 17));  // UDP with nothing after its header
    sent.back()[25] = 8;
    std::vector<std::uint8_t> largest = unansweredDatagram(65535, 17);
    std::fill(largest.begin() + 28, largest.end(), 'x');
    std::copy(needle.begin(), needle.end(), largest.end() - static_cast<long>(needle.size()));
    sent.push_back(largest);
    return sent;
}

}  // namespace qhs
