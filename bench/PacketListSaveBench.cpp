#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "app/SettingsRecord.h"
#include "capture/PacketTable.h"
#include "packetmode/CaptureFileExport.h"
#include "packetmode/PacketListSave.h"

namespace {

// A full store of a million small IPv4 datagrams (40 to 120 bytes, TCP, UDP and ICMP, with
// varied addresses and ports), built once for every benchmark.
qhs::PacketTable& fullStore() {
    static const std::unique_ptr<qhs::PacketTable> table = [] {
        auto made = std::make_unique<qhs::PacketTable>();
        qhs::PacketTable::Access held = made->lock();
        std::mt19937 random(11);
        std::uniform_int_distribution<std::uint32_t> length(40, 120);
        std::uniform_int_distribution<int> byte(0, 255);
        const std::uint8_t protocols[] = {6, 6, 6, 17, 17, 1};
        std::vector<std::uint8_t> datagram(120);
        for (std::int32_t slot = 0; slot < qhs::PacketStoreCapacity; ++slot) {
            for (auto& value : datagram) {
                value = static_cast<std::uint8_t>(byte(random));
            }
            datagram[0] = 0x45;
            datagram[9] = protocols[slot % 6];
            qhs::CapturedPacket packet =
                qhs::CapturedPacket::copyOf(datagram.data(), length(random));
            held.store().append(packet, "2003.04.03 - 09:05:07.042");
        }
        held.unlock();
        return made;
    }();
    return *table;
}

using StoreWriter = qhs::SaveOutcome (*)(const std::string&, qhs::PacketTable&,
                                         const qhs::SettingsRecord&, std::atomic<bool>&,
                                         const qhs::SaveHooks&);

void saveStore(benchmark::State& state, bool hex, StoreWriter writer = &qhs::writePacketListFile) {
    qhs::PacketTable& table = fullStore();
    qhs::SettingsRecord settings = qhs::defaultSettings();
    settings.saveIncludeData = hex ? 1 : 0;
    settings.saveDataText = 0;
    settings.saveDataDec = 0;
    settings.saveDataHex = hex ? 1 : 0;
    std::atomic<bool> cancel{false};
    const std::string path =
        (std::filesystem::temp_directory_path() / "qhs-bench-saved-list.txt").string();
    std::uint64_t bytes = 0;
    for (auto _ : state) {
        const qhs::SaveOutcome outcome = writer(path, table, settings, cancel, {});
        if (outcome.status != qhs::SaveStatus::Saved) {
            state.SkipWithError("the save failed");
            break;
        }
        state.PauseTiming();
        bytes += std::filesystem::file_size(path);
        std::remove(path.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.SetItemsProcessed(state.iterations() * qhs::PacketStoreCapacity);
}

// Bytes per second are bytes of file written.
void BM_SaveMillionHeadingsOnly(benchmark::State& state) {
    saveStore(state, false);
}
void BM_SaveMillionWithHexData(benchmark::State& state) {
    saveStore(state, true);
}

// The same store as a pcap file.
void BM_ExportMillionAsCaptureFile(benchmark::State& state) {
    saveStore(state, false, &qhs::writeCaptureFile);
}

BENCHMARK(BM_SaveMillionHeadingsOnly)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SaveMillionWithHexData)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ExportMillionAsCaptureFile)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
