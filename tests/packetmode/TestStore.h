#pragma once

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "capture/PacketStore.h"
#include "support/TestDatagram.h"

namespace qhs::test {

// Puts one datagram into the next slot of the store, as the capture thread does.
inline void storeDatagram(PacketStore& store, const std::vector<std::uint8_t>& bytes,
                          std::string_view timeText) {
    CapturedPacket packet =
        CapturedPacket::copyOf(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    store.append(packet, timeText);
}

// The 60-byte TCP datagram from 192.168.0.10 port 1025 to 10.0.0.5 port 80.
inline std::vector<std::uint8_t> exampleTcpDatagram() {
    TestDatagram datagram;
    datagram.source = address(192, 168, 0, 10);
    datagram.destination = address(10, 0, 0, 5);
    datagram.sourcePort = 1025;
    datagram.destinationPort = 80;
    datagram.payload.assign(20, 'x');
    return datagram.bytes();
}

inline std::vector<std::uint8_t> udpDatagram(std::uint16_t sourcePort, std::uint16_t destPort,
                                             std::string_view payload) {
    TestDatagram datagram;
    datagram.protocol = 17;
    datagram.source = address(172, 16, 5, 4);
    datagram.destination = address(255, 255, 255, 255);
    datagram.sourcePort = sourcePort;
    datagram.destinationPort = destPort;
    datagram.withPayload(payload);
    return datagram.bytes();
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, std::string_view content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

}  // namespace qhs::test
