#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "filemode/SegmentNode.h"
#include "filemode/StreamJoin.h"

namespace {

using qhs::SegmentNode;

constexpr std::uint32_t SegmentData = 1460;  // a full Ethernet segment

enum class Arrival { InOrder, Reversed, Shuffled };

// One stream of `count` 1460-byte segments chained in the given order of arrival, with
// every 50th segment sent twice.
struct Stream {
    qhs::SegmentMemory memory;
    qhs::StreamSegments segments{memory};
    const SegmentNode* get() const { return segments.first(); }
};

std::unique_ptr<Stream> makeStream(std::uint32_t count, Arrival arrival) {
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    if (arrival == Arrival::Reversed) {
        std::reverse(order.begin(), order.end());
    } else if (arrival == Arrival::Shuffled) {
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
    }
    for (std::uint32_t i = 0; i < count; i += 50) {
        order.push_back(order[i]);
    }
    auto stream = std::make_unique<Stream>();
    std::vector<std::uint8_t> datagram(40 + SegmentData, 'd');
    datagram[9] = 6;
    datagram[32] = 0x50;
    for (const std::uint32_t index : order) {
        const std::uint32_t sequence = 1000 + index * SegmentData;
        for (int b = 0; b < 4; ++b) {
            datagram[24 + b] = static_cast<std::uint8_t>(sequence >> (24 - 8 * b));
        }
        stream->segments.append(datagram.data(), static_cast<std::uint16_t>(datagram.size()));
    }
    return stream;
}

void joinStream(benchmark::State& state, Arrival arrival) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    const auto stream = makeStream(count, arrival);
    for (auto _ : state) {
        qhs::JoinedStream joined = qhs::joinStream(stream->get());
        benchmark::DoNotOptimize(joined.bytes.get());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * count * SegmentData);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

void orderOnly(benchmark::State& state, Arrival arrival) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    const auto stream = makeStream(count, arrival);
    for (auto _ : state) {
        auto order = qhs::joinOrder(stream->get());
        benchmark::DoNotOptimize(order.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

// The walk that searches the whole chain for each next segment, for comparison.
void searchingWalk(benchmark::State& state) {
    const auto count = static_cast<std::uint32_t>(state.range(0));
    const auto stream = makeStream(count, Arrival::Shuffled);
    for (auto _ : state) {
        const SegmentNode* current = nullptr;
        std::uint32_t lowest = 0xFFFFFFFFu;
        for (const SegmentNode* node = stream->get(); node; node = node->next) {
            const auto data = qhs::segmentData(*node);
            if (!current || data.sequence < lowest) {
                current = node;
                lowest = data.sequence;
            }
        }
        std::size_t walked = 0;
        while (current) {
            const auto data = qhs::segmentData(*current);
            const std::uint32_t expected =
                data.sequence + static_cast<std::uint32_t>(data.bytes.size());
            ++walked;
            current = nullptr;
            for (const SegmentNode* node = stream->get(); node; node = node->next) {
                if (qhs::segmentData(*node).sequence == expected) {
                    current = node;
                    break;
                }
            }
        }
        benchmark::DoNotOptimize(walked);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * count);
}

}  // namespace

BENCHMARK_CAPTURE(joinStream, inOrder, Arrival::InOrder)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(joinStream, reversed, Arrival::Reversed)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(joinStream, shuffled, Arrival::Shuffled)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(orderOnly, shuffled, Arrival::Shuffled)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(searchingWalk)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);
