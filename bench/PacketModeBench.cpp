#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "WebLikeText.h"
#include "capture/PacketTable.h"
#include "packetmode/PacketDetail.h"
#include "packetmode/PacketFinder.h"
#include "packetmode/PacketSorter.h"
#include "packetmode/SequenceNavigation.h"

namespace {

// One TCP connection's acknowledgement, shared by every 1000th packet; the walks start on it.
constexpr std::uint32_t WalkAcknowledgement = 0x5EED5EED;
constexpr std::int32_t WalkStride = 1000;

// A full store as a long capture leaves it: one million datagrams of 60 to 1500 bytes, TCP,
// UDP and ICMP with random addresses, ports, sequence and acknowledgement numbers, half
// with HTTP and HTML text as payload and half with random bytes, and rising time texts.
// Built once for all benchmarks of the program.
struct FullStore {
    std::unique_ptr<qhs::PacketTable> table = std::make_unique<qhs::PacketTable>();
    std::uint64_t payloadBytes = 0;
    std::int32_t walkStart = -1;

    FullStore() {
        std::mt19937 random(11);
        const std::vector<std::uint8_t> pool = payloadPool(random);
        std::uniform_int_distribution<std::uint32_t> lengths(60, 1500);
        std::vector<std::uint8_t> datagram(1500);
        const char* const filterTexts[] = {"", "GET", "password"};
        for (std::int32_t slot = 0; slot < qhs::PacketStoreCapacity; ++slot) {
            const std::uint32_t length = lengths(random);
            const std::uint8_t protocol = slot % 10 < 7 ? 6 : (slot % 10 < 9 ? 17 : 1);
            std::memcpy(datagram.data(), &pool[random() % (pool.size() - 1500)], length);
            datagram[0] = 0x45;
            datagram[2] = static_cast<std::uint8_t>(length >> 8);
            datagram[3] = static_cast<std::uint8_t>(length);
            datagram[8] = 64;
            datagram[9] = protocol;
            std::uint32_t header[4];
            for (std::uint32_t& word : header) {
                word = static_cast<std::uint32_t>(random());
            }
            std::memcpy(&datagram[12], header, sizeof header);  // addresses, ports, sequence
            const std::uint32_t acknowledgement =
                slot % WalkStride == 0 ? WalkAcknowledgement : static_cast<std::uint32_t>(random());
            for (int i = 0; i < 4; ++i) {
                datagram[28 + i] = static_cast<std::uint8_t>(acknowledgement >> (24 - 8 * i));
            }
            datagram[32] = 0x50;
            if (protocol == 6) {
                payloadBytes += length - 40;
            } else {
                payloadBytes += length - 28;
            }
            char time[32];
            std::snprintf(time, sizeof time, "2003.04.03 - %02d:%02d:%02d.%03d", slot / 3600000,
                          slot / 60000 % 60, slot / 1000 % 60, slot % 1000);
            qhs::CapturedPacket packet = qhs::CapturedPacket::copyOf(datagram.data(), length);
            const char* const texts = filterTexts[slot % 3];
            table->append(packet, time, texts, texts);
        }
        walkStart = qhs::PacketStoreCapacity / 2;
    }

    static std::vector<std::uint8_t> payloadPool(std::mt19937& random) {
        const std::string text = qhs::bench::webLikeText(random, 1 << 16);
        std::vector<std::uint8_t> pool(text.begin(), text.end());
        while (pool.size() < (1 << 17)) {
            pool.push_back(static_cast<std::uint8_t>(random()));
        }
        return pool;
    }

    void restoreArrivalOrder() {
        qhs::PacketTable::Access held = table->lock();
        qhs::PacketList& list = held.list();
        std::vector<qhs::PacketRow> rows(list.rows().begin(), list.rows().end());
        std::sort(rows.begin(), rows.end(),
                  [](const qhs::PacketRow& a, const qhs::PacketRow& b) { return a.slot < b.slot; });
        list.reorder(std::move(rows));
    }
};

FullStore& fullStore() {
    static FullStore store;
    return store;
}

// One sort of the million rows by a column, starting from arrival order each time.
void BM_SortMillionRows(benchmark::State& state) {
    FullStore& full = fullStore();
    qhs::PacketSorter sorter(*full.table);
    const auto column = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        full.restoreArrivalOrder();
        state.ResumeTiming();
        if (sorter.sortByColumn(column, [](const qhs::UserMessage&) { return true; }) !=
            qhs::SortResult::Sorted) {
            state.SkipWithError("not sorted");
            break;
        }
    }
    full.restoreArrivalOrder();
    state.SetItemsProcessed(state.iterations() * full.table->lock().list().rowCount());
}
BENCHMARK(BM_SortMillionRows)
    ->ArgName("column")
    ->DenseRange(0, 8)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// A find over every stored payload for a text that occurs in none of them.
void BM_FindNothingInMillionPackets(benchmark::State& state) {
    FullStore& full = fullStore();
    const bool matchCase = state.range(0) != 0;
    qhs::FindHooks hooks;
    hooks.findText = [] { return std::string("password=hunter2"); };
    hooks.matchCase = [matchCase] { return matchCase; };
    hooks.setProgressRange = [](std::int32_t) {};
    hooks.setProgress = [](std::int32_t) {};
    hooks.showProgressBar = [](bool) {};
    hooks.selectMatch = [](std::int32_t, std::int32_t) {};
    hooks.clearSelection = [] {};
    hooks.showMessage = [](const qhs::UserMessage&) {};
    hooks.ask = [](const qhs::UserMessage&) { return false; };
    qhs::PacketFinder finder(*full.table, hooks);
    for (auto _ : state) {
        if (finder.run() != qhs::FindOutcome::NothingFound) {
            state.SkipWithError("the text was found");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * full.payloadBytes));
}
BENCHMARK(BM_FindNothingInMillionPackets)
    ->ArgName("matchCase")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same find while a capture thread stores a packet every 100 microseconds: the longest
// the capture thread waited for the list guard shows that the find lets it in.
void BM_FindWhileCapturing(benchmark::State& state) {
    FullStore& full = fullStore();
    qhs::FindHooks hooks;
    hooks.findText = [] { return std::string("password=hunter2"); };
    hooks.matchCase = [] { return false; };
    hooks.setProgressRange = [](std::int32_t) {};
    hooks.setProgress = [](std::int32_t) {};
    hooks.showProgressBar = [](bool) {};
    hooks.selectMatch = [](std::int32_t, std::int32_t) {};
    hooks.clearSelection = [] {};
    hooks.showMessage = [](const qhs::UserMessage&) {};
    hooks.ask = [](const qhs::UserMessage&) { return false; };
    qhs::PacketFinder finder(*full.table, hooks);
    double longestWait = 0;
    for (auto _ : state) {
        std::atomic<bool> searching{true};
        std::thread capture([&] {
            while (searching.load()) {
                const auto asked = std::chrono::steady_clock::now();
                { const qhs::PacketTable::Access held = full.table->lock(); }
                const std::chrono::duration<double, std::milli> waited =
                    std::chrono::steady_clock::now() - asked;
                longestWait = std::max(longestWait, waited.count());
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            }
        });
        benchmark::DoNotOptimize(finder.run());
        searching = false;
        capture.join();
    }
    state.counters["longestCaptureWaitMs"] = longestWait;
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * full.payloadBytes));
}
BENCHMARK(BM_FindWhileCapturing)->Unit(benchmark::kMillisecond)->UseRealTime();

// One TCP walk over the million slots; every 1000th packet carries the acknowledgement.
void BM_TcpWalkMillionSlots(benchmark::State& state) {
    FullStore& full = fullStore();
    const auto command = static_cast<qhs::SequenceCommand>(state.range(0));
    const auto ask = [](const qhs::UserMessage&) { return false; };
    for (auto _ : state) {
        const qhs::SequenceWalkOutcome outcome =
            qhs::gotoSequence(command, full.walkStart, *full.table, ask);
        benchmark::DoNotOptimize(outcome.selectRow);
    }
    state.SetItemsProcessed(state.iterations() * qhs::PacketStoreCapacity);
}
BENCHMARK(BM_TcpWalkMillionSlots)
    ->ArgName("command")
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The detail view of a 1500-byte datagram in each rendering (1 Text, 2 Dec, 3 Hex).
void BM_RenderDetail1500Bytes(benchmark::State& state) {
    FullStore& full = fullStore();
    // Held throughout, as nothing else runs: the loop measures the rendering alone.
    const qhs::PacketTable::Access held = full.table->lock();
    const qhs::PacketStore& store = held.store();
    std::int32_t slot = 0;
    while (store.length(slot) < 1400) {
        ++slot;
    }
    const auto rendering = static_cast<qhs::EntirePacketRendering>(state.range(0));
    for (auto _ : state) {
        benchmark::DoNotOptimize(qhs::renderDetail(store, slot, rendering));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * store.length(slot)));
}
BENCHMARK(BM_RenderDetail1500Bytes)->ArgName("rendering")->DenseRange(1, 3);

}  // namespace
