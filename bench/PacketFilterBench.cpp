#include <benchmark/benchmark.h>

#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "WebLikeText.h"
#include "analysis/PacketFilter.h"

namespace {

std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    const std::uint8_t bytes[4] = {a, b, c, d};
    std::uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

enum class Payload { Text, Binary };

// A TCP datagram with a 20-byte TCP header and `payloadBytes` of payload, in a block with
// the 44 spare bytes. Text payloads are HTTP and HTML words; binary ones random bytes, as
// in compressed or encrypted traffic.
std::vector<std::uint8_t> tcpBlock(std::size_t payloadBytes, Payload kind) {
    std::vector<std::uint8_t> block(40 + payloadBytes + 44, 0);
    const auto length = static_cast<std::uint16_t>(40 + payloadBytes);
    block[0] = 0x45;
    block[2] = static_cast<std::uint8_t>(length >> 8);
    block[3] = static_cast<std::uint8_t>(length);
    block[8] = 64;
    block[9] = 6;
    const std::uint32_t source = address(192, 168, 1, 10);
    const std::uint32_t destination = address(10, 0, 0, 2);
    std::memcpy(&block[12], &source, 4);
    std::memcpy(&block[16], &destination, 4);
    block[20] = 0xC3;  // 50000
    block[21] = 0x50;
    block[23] = 80;
    block[32] = 0x50;
    std::mt19937 random(1);
    if (kind == Payload::Binary) {
        for (std::size_t i = 0; i < payloadBytes; ++i) {
            block[40 + i] = static_cast<std::uint8_t>(random());
        }
        return block;
    }
    const std::string text = qhs::bench::webLikeText(random, payloadBytes);
    std::memcpy(&block[40], text.data(), payloadBytes);
    return block;
}

// The same TCP segment (20-byte header, `payloadBytes` of text) carried by IPv6 from fd00::10
// to fd00::2 after 8 bytes of hop-by-hop options, in a block with the 44 spare bytes.
std::vector<std::uint8_t> tcpBlockIpv6(std::size_t payloadBytes) {
    const std::vector<std::uint8_t> ipv4 = tcpBlock(payloadBytes, Payload::Text);
    std::vector<std::uint8_t> block(48 + 20 + payloadBytes + 44, 0);
    const auto payloadLength = static_cast<std::uint16_t>(8 + 20 + payloadBytes);
    block[0] = 0x60;
    block[4] = static_cast<std::uint8_t>(payloadLength >> 8);
    block[5] = static_cast<std::uint8_t>(payloadLength);
    block[6] = 0;  // hop-by-hop options, then TCP
    block[7] = 64;
    block[8] = block[24] = 0xFD;
    block[23] = 0x10;
    block[39] = 2;
    block[40] = 6;
    std::memcpy(&block[48], &ipv4[20], 20 + payloadBytes);
    return block;
}

// The filters that apply to both families alike: protocols, sizes and ports.
qhs::SettingsRecord portAndSizeFilters() {
    qhs::SettingsRecord record = qhs::defaultSettings();
    record.filterAllowIcmp = 0;
    record.filterMinSize = 40;
    record.filterMaxSize = 9000;
    qhs::PacketFilter::parsePortList("80,443,8080", record.filterDestPorts);
    qhs::PacketFilter::parsePortList("22", record.filterSourcePortsNot);
    return record;
}

// IPv4 beside IPv6 under the same filters: what finding the upper layer after IPv6's
// extension headers costs. Argument: 0 IPv4, 1 IPv6.
void BM_AcceptPortAndSizeFilters(benchmark::State& state) {
    qhs::PacketFilter filter;
    filter.refresh(true, portAndSizeFilters());
    const std::vector<std::uint8_t> block =
        state.range(0) == 0 ? tcpBlock(1460, Payload::Text) : tcpBlockIpv6(1460);
    const auto length = static_cast<std::uint32_t>(block.size() - 44);
    if (!filter.accept(block.data(), length).accepted) {
        state.SkipWithError("unexpected verdict");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.accept(block.data(), length));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AcceptPortAndSizeFilters)->Arg(0)->Arg(1);

qhs::SettingsRecord headerFilters() {
    qhs::SettingsRecord record = qhs::defaultSettings();
    record.filterAllowIcmp = 0;
    record.filterMinSize = 40;
    record.filterMaxSize = 9000;
    record.filterSourceIps[0] = address(192, 168, 1, 9);
    record.filterSourceIps[1] = address(192, 168, 1, 10);
    record.filterDestIpsNot[0] = address(10, 0, 0, 99);
    record.filterEitherIps[0] = address(10, 0, 0, 2);
    qhs::PacketFilter::parsePortList("80,443,8080", record.filterDestPorts);
    qhs::PacketFilter::parsePortList("22", record.filterSourcePortsNot);
    return record;
}

void runAccept(benchmark::State& state, qhs::PacketFilter& filter, std::size_t payloadBytes,
               bool expectAccepted, Payload kind = Payload::Text) {
    const std::vector<std::uint8_t> block = tcpBlock(payloadBytes, kind);
    const auto length = static_cast<std::uint32_t>(block.size() - 44);
    if (filter.accept(block.data(), length).accepted != expectAccepted) {
        state.SkipWithError("unexpected verdict");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(filter.accept(block.data(), length));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payloadBytes));
}

void BM_AcceptFiltersOff(benchmark::State& state) {
    qhs::PacketFilter filter;
    filter.refresh(false, headerFilters());
    runAccept(state, filter, 1460, true);
}
BENCHMARK(BM_AcceptFiltersOff);

void BM_AcceptHeaderFilters(benchmark::State& state) {
    qhs::PacketFilter filter;
    filter.refresh(true, headerFilters());
    runAccept(state, filter, 1460, true);
}
BENCHMARK(BM_AcceptHeaderFilters);

// Three must-contain strings that occur nowhere: every payload byte is looked at for each.
// Arguments: match case (0 or 1), binary payload (0 or 1).
void BM_AcceptThreeMustContainStrings(benchmark::State& state) {
    qhs::SettingsRecord record = qhs::defaultSettings();
    qhs::setTextField(record.filterContains1, "password=");
    qhs::setTextField(record.filterContains2, "Set-Cookie: session");
    qhs::setTextField(record.filterContains3, "x-secret");
    qhs::PacketFilter filter;
    filter.setMatchCase(state.range(0) != 0);
    filter.refresh(true, record);
    runAccept(state, filter, 1460, false, state.range(1) != 0 ? Payload::Binary : Payload::Text);
}
BENCHMARK(BM_AcceptThreeMustContainStrings)
    ->ArgNames({"matchCase", "binary"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1});

// The same three strings plus three must-not strings on a payload that passes them all.
void BM_AcceptSixStrings(benchmark::State& state) {
    qhs::SettingsRecord record = qhs::defaultSettings();
    qhs::setTextField(record.filterContains1, "password=");
    qhs::setTextField(record.filterContains2, "Set-Cookie: session");
    qhs::setTextField(record.filterContains3, "lorem");
    qhs::setTextField(record.filterLacks1, "x-secret");
    qhs::setTextField(record.filterLacks2, "Content-Length");
    qhs::setTextField(record.filterLacks3, "gzip");
    qhs::PacketFilter filter;
    filter.refresh(true, record);
    runAccept(state, filter, 1460, true);
}
BENCHMARK(BM_AcceptSixStrings);

}  // namespace
