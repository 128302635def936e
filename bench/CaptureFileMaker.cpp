// Writes a pcap file (Ethernet, microsecond time stamps) of varied IPv4 traffic for reading
// benchmarks: TCP and UDP datagrams of 64 conversations (web, TLS, DNS and high ports), each
// TCP one with running sequence numbers, payloads of 0 to 1400 bytes, with their checksums.
// The same count always gives the same file.
//   build/bench/bench_make_capture_file PACKETS FILE
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A small, fast generator, so the file depends on nothing but the count.
class Random {
  public:
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<std::uint32_t>(state_ >> 16);
    }
    std::uint32_t below(std::uint32_t bound) { return next() % bound; }

  private:
    std::uint64_t state_ = 0x9E3779B97F4A7C15ULL;
};

void put16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}
void put32(std::uint8_t* at, std::uint32_t value) {
    put16(at, value >> 16);
    put16(at + 2, value);
}

// The ones' complement sum of big-endian 16-bit words, folded.
std::uint32_t sum16(const std::uint8_t* data, std::size_t size, std::uint32_t sum = 0) {
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        sum += (static_cast<std::uint32_t>(data[i]) << 8) | data[i + 1];
    }
    if (size % 2 != 0) {
        sum += static_cast<std::uint32_t>(data[size - 1]) << 8;
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum;
}

struct Conversation {
    std::uint32_t client;
    std::uint32_t server;
    std::uint16_t clientPort;
    std::uint16_t serverPort;
    bool tcp;
    std::uint32_t clientSequence;
    std::uint32_t serverSequence;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PACKETS FILE\n", argv[0]);
        return 2;
    }
    const unsigned long long packets = std::strtoull(argv[1], nullptr, 10);
    std::FILE* file = std::fopen(argv[2], "wb");
    if (packets == 0 || file == nullptr) {
        std::fprintf(stderr, "%s: cannot write %s packets to %s\n", argv[0], argv[1], argv[2]);
        return 1;
    }
    static char buffer[1 << 20];
    std::setvbuf(file, buffer, _IOFBF, sizeof buffer);

    // The pcap file header, little-endian: version 2.4, snapshot length 262144, Ethernet.
    const std::uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 262144, 1};
    std::fwrite(header, sizeof header, 1, file);

    Random random;
    std::vector<Conversation> conversations;
    constexpr std::array<std::uint16_t, 6> ServerPorts = {80, 443, 53, 8080, 5353, 40600};
    for (std::uint32_t i = 0; i < 64; ++i) {
        const std::uint16_t port = ServerPorts[i % ServerPorts.size()];
        conversations.push_back({0xC0A80000u | (10 + i), 0x0A000000u | (1 + random.below(200)),
                                 static_cast<std::uint16_t>(40000 + random.below(20000)), port,
                                 port == 80 || port == 443 || port == 8080, random.next(),
                                 random.next()});
    }
    // Payload bytes: text, as web pages and names are, with some binary among it.
    std::vector<std::uint8_t> text(1 << 16);
    for (std::uint8_t& byte : text) {
        const std::uint32_t pick = random.below(100);
        byte = static_cast<std::uint8_t>(pick < 80 ? 32 + random.below(95) : random.below(256));
    }

    std::uint8_t frame[14 + 20 + 20 + 1400];
    std::uint64_t microseconds = 1700000000ULL * 1000000ULL;
    for (unsigned long long n = 0; n < packets; ++n) {
        Conversation& conversation = conversations[random.below(conversations.size())];
        const bool fromClient = random.below(3) == 0;
        const std::uint32_t payload = random.below(8) == 0 ? 0 : random.below(1401);
        const std::uint32_t transport = conversation.tcp ? 20 : 8;
        const std::uint32_t ipLength = 20 + transport + payload;

        std::memset(frame, 0, 14);
        frame[5] = fromClient ? 1 : 2;
        frame[11] = fromClient ? 2 : 1;
        put16(frame + 12, 0x0800);

        std::uint8_t* ip = frame + 14;
        std::memset(ip, 0, 20);
        ip[0] = 0x45;
        put16(ip + 2, ipLength);
        put16(ip + 4, static_cast<std::uint32_t>(n));
        ip[6] = 0x40;  // don't fragment
        ip[8] = 64;
        ip[9] = conversation.tcp ? 6 : 17;
        const std::uint32_t source = fromClient ? conversation.client : conversation.server;
        const std::uint32_t destination = fromClient ? conversation.server : conversation.client;
        put32(ip + 12, source);
        put32(ip + 16, destination);
        put16(ip + 10, ~sum16(ip, 20) & 0xFFFF);

        std::uint8_t* segment = ip + 20;
        std::memcpy(segment + transport, text.data() + random.below(text.size() - 1400), payload);
        const std::uint16_t sourcePort =
            fromClient ? conversation.clientPort : conversation.serverPort;
        const std::uint16_t destinationPort =
            fromClient ? conversation.serverPort : conversation.clientPort;
        std::memset(segment, 0, transport);
        put16(segment, sourcePort);
        put16(segment + 2, destinationPort);
        if (conversation.tcp) {
            std::uint32_t& sequence =
                fromClient ? conversation.clientSequence : conversation.serverSequence;
            const std::uint32_t acknowledged =
                fromClient ? conversation.serverSequence : conversation.clientSequence;
            put32(segment + 4, sequence);
            put32(segment + 8, acknowledged);
            segment[12] = 5 << 4;
            segment[13] = payload > 0 ? 0x18 : 0x10;  // PSH ACK, or a bare ACK
            put16(segment + 14, 65535);
            sequence += payload;
        } else {
            put16(segment + 4, transport + payload);
        }
        // The checksum over the pseudo-header and the segment.
        std::uint8_t pseudo[12];
        std::memcpy(pseudo, ip + 12, 8);
        pseudo[8] = 0;
        pseudo[9] = ip[9];
        put16(pseudo + 10, transport + payload);
        const std::uint32_t checksum =
            ~sum16(segment, transport + payload, sum16(pseudo, sizeof pseudo)) & 0xFFFF;
        put16(segment + (conversation.tcp ? 16 : 6), checksum == 0 ? 0xFFFF : checksum);

        const std::uint32_t captured = 14 + ipLength;
        const std::uint32_t record[4] = {static_cast<std::uint32_t>(microseconds / 1000000),
                                         static_cast<std::uint32_t>(microseconds % 1000000),
                                         captured, captured};
        std::fwrite(record, sizeof record, 1, file);
        std::fwrite(frame, captured, 1, file);
        microseconds += 1 + random.below(200);
    }
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[2]);
        return 1;
    }
    return 0;
}
