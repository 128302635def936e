#include <benchmark/benchmark.h>

#include <memory>
#include <thread>

#include "analysis/PacketFilter.h"
#include "capture/PacketCaptureLoop.h"
#include "capture/SyntheticCaptureSource.h"

namespace {

// One million synthetic datagrams of 60 to 1500 bytes through receive, copy, filter, row and
// slot, with the filters off; the store is cleared between iterations (not timed).
void BM_CaptureLoopMillion(benchmark::State& state) {
    const qhs::PublishedSettings settings(qhs::defaultSettings());
    auto table = std::make_unique<qhs::PacketTable>();
    qhs::PacketFilter filter;
    qhs::PacketSnifferState shared;
    qhs::PacketCaptureContext context{shared, *table, filter, settings, [](const std::string&) {}};
    for (auto _ : state) {
        // One more than fits: its arrival ends the loop with the store full.
        qhs::SyntheticCaptureSource source(qhs::PacketStoreCapacity + 1);
        shared.capturing = true;
        // The loop ends by itself when the store is full.
        qhs::runPacketCapture(source, context);
        state.PauseTiming();
        {
            qhs::PacketTable::Access held = table->lock();
            held.list().clear();
            held.store().freeAllSlots();
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * qhs::PacketStoreCapacity);
}
BENCHMARK(BM_CaptureLoopMillion)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
