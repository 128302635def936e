#include <benchmark/benchmark.h>

#include <cstdint>

#include "analysis/PortNameTable.h"
#include "analysis/ProtocolNameTable.h"

namespace {

// The list's "Type" column looks up one protocol name per row.
void BM_ProtocolName(benchmark::State& state) {
    std::uint8_t protocol = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qhs::protocolName(protocol));
        protocol = static_cast<std::uint8_t>(protocol + 7);
    }
}
BENCHMARK(BM_ProtocolName);

// The detail view's two "use:" fields: a walk over every port, named or not.
void BM_TcpPortName(benchmark::State& state) {
    std::uint16_t port = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qhs::tcpPortName(port));
        port = static_cast<std::uint16_t>(port + 40503);  // odd step: visits every port
    }
}
BENCHMARK(BM_TcpPortName);

void BM_PortUseText(benchmark::State& state) {
    std::uint16_t port = 0;
    std::uint8_t protocol = 6;
    for (auto _ : state) {
        benchmark::DoNotOptimize(qhs::portUseText(protocol, port));
        port = static_cast<std::uint16_t>(port + 40503);
        protocol = protocol == 6 ? 17 : 6;
    }
}
BENCHMARK(BM_PortUseText);

}  // namespace
