#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "capture/PacketStore.h"

namespace {

std::vector<std::uint32_t> randomLengths() {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint32_t> length(60, 1500);
    std::vector<std::uint32_t> lengths(qhs::PacketStoreCapacity);
    for (auto& value : lengths) {
        value = length(random);
    }
    return lengths;
}

// Fills the whole store with packets of 60 to 1500 bytes, then clears it.
void BM_StoreAppendMillion(benchmark::State& state) {
    const auto lengths = randomLengths();
    std::vector<std::uint8_t> datagram(1500, 0x45);
    auto store = std::make_unique<qhs::PacketStore>();
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        for (const std::uint32_t length : lengths) {
            qhs::CapturedPacket packet = qhs::CapturedPacket::copyOf(datagram.data(), length);
            store->countAllocation(length);
            store->append(packet, "2003.04.03 - 09:05:07.042");
            bytes += length;
        }
        state.PauseTiming();
        store->freeAllSlots();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.SetItemsProcessed(state.iterations() * qhs::PacketStoreCapacity);
}
BENCHMARK(BM_StoreAppendMillion)->Unit(benchmark::kMillisecond);

void BM_StoreClearMillion(benchmark::State& state) {
    const auto lengths = randomLengths();
    std::vector<std::uint8_t> datagram(1500, 0x45);
    auto store = std::make_unique<qhs::PacketStore>();
    for (auto _ : state) {
        state.PauseTiming();
        for (const std::uint32_t length : lengths) {
            qhs::CapturedPacket packet = qhs::CapturedPacket::copyOf(datagram.data(), length);
            store->append(packet, "2003.04.03 - 09:05:07.042");
        }
        state.ResumeTiming();
        std::int32_t lastProgress = 0;
        store->freeAllSlots([&](std::int32_t slot) { lastProgress = slot; });
        benchmark::DoNotOptimize(lastProgress);
    }
}
BENCHMARK(BM_StoreClearMillion)->Unit(benchmark::kMillisecond);

}  // namespace
