#include <gtest/gtest.h>

#include <thread>

#include "analysis/PacketFilter.h"
#include "app/Templates.h"
#include "capture/PacketCapture.h"
#include "support/QueuedCaptureSource.h"
#include "support/ScriptedMemoryProbe.h"
#include "support/TestDatagram.h"

namespace qhs {
namespace {

class PacketCaptureLoop : public testing::Test {
  protected:
    PacketCaptureLoop() {
        setTextField(settings.interfaceAddress, "10.0.0.1");
        setTextField(settings.dateTimeTemplate, "%H24:%MN:%S.%MS");
    }

    PacketCaptureContext context() {
        published.replace(settings);
        return PacketCaptureContext{state, *table, filter, published,
                                    [this](const std::string& status) {
                                        std::lock_guard<std::mutex> lock(statusMutex);
                                        statuses.push_back(status);
                                    }};
    }

    // Runs the loop on its own thread over `datagrams`, then closes the source.
    void captureAll(const std::vector<std::vector<std::uint8_t>>& datagrams) {
        QueuedCaptureSource source;
        for (const auto& datagram : datagrams) {
            source.push(datagram);
        }
        state.capturing = true;
        PacketCaptureContext loopContext = context();
        std::thread loop([&] { runPacketCapture(source, loopContext); });
        EXPECT_TRUE(source.waitUntilHandled());
        source.close();
        loop.join();
    }

    ScopedLocalTimeSource fixedTime{[] { return LocalTime{2003, 4, 3, 9, 5, 7, 42}; }};
    SettingsRecord settings = defaultSettings();
    PublishedSettings published{settings};
    PacketSnifferState state;
    test::ScriptedMemoryProbe probe;
    FlooredSlabMemory flooredMemory{heapSlabMemory(), probe};
    std::unique_ptr<PacketTable> table = std::make_unique<PacketTable>();
    PacketFilter filter;
    std::mutex statusMutex;
    std::vector<std::string> statuses;
};

TEST_F(PacketCaptureLoop, AcceptedDatagramsBecomeRowsAndSlotsInArrivalOrder) {
    captureAll(
        {makeDatagram(17, 60, 53, 1053), makeDatagram(1, 84), makeDatagram(6, 40, 80, 3000)});
    ASSERT_EQ(table->storedCount(), 3);
    ASSERT_EQ(table->lock().list().rowCount(), 3);
    for (std::int32_t row = 0; row < 3; ++row) {
        EXPECT_EQ(table->lock().list().row(row).slot, row);
        EXPECT_EQ(table->lock().list().row(row).filterTexts, 0u);
    }
    EXPECT_EQ(table->lock().store().length(0), 60u);
    EXPECT_EQ(table->lock().store().packet(1)[9], 1);
    EXPECT_EQ(table->lock().store().time(2), "09:05:07.042");
    EXPECT_EQ(table->allocatedBytes(), (60u + 44) + (84 + 44) + (40 + 44));
    EXPECT_TRUE(state.newPacketSignal);
    EXPECT_FALSE(state.capturing);
    EXPECT_EQ(statuses.front(), "Listening on: 10.0.0.1");
    EXPECT_EQ(statuses.back(), "Stopped");
}

TEST_F(PacketCaptureLoop, RejectedDatagramLeavesNoTrace) {
    settings.filterAllowUdp = 0;
    filter.refresh(true, settings);
    captureAll({makeDatagram(17, 60, 1, 2), makeDatagram(6, 40, 1, 2), makeDatagram(17, 70, 1, 2)});
    EXPECT_EQ(table->storedCount(), 1);
    EXPECT_EQ(table->lock().list().rowCount(), 1);
    EXPECT_EQ(table->lock().store().packet(0)[9], 6);
    EXPECT_EQ(table->allocatedBytes(), 84u);
}

TEST_F(PacketCaptureLoop, RowsKeepTheFilterTextsTheyWereAcceptedWith) {
    setTextField(settings.filterLacks1, "secret");
    filter.refresh(true, settings);
    captureAll({makeDatagram(17, 60), makeDatagram(17, 61)});
    const PacketTable::Access held = table->lock();
    const PacketList& list = held.list();
    ASSERT_EQ(list.rowCount(), 2);
    const FilterTexts& texts = list.filterTexts(list.row(1).filterTexts);
    EXPECT_EQ(texts.contains, ",,");
    EXPECT_EQ(texts.lacks, "secret,,");
    // Both rows share one copy of the texts.
    EXPECT_EQ(list.row(0).filterTexts, list.row(1).filterTexts);
    EXPECT_EQ(list.filterTextCount(), 2u);
}

TEST_F(PacketCaptureLoop, ANewCaptureAppendsAfterWhatIsStored) {
    captureAll({makeDatagram(17, 60)});
    captureAll({makeDatagram(17, 61), makeDatagram(17, 62)});
    ASSERT_EQ(table->storedCount(), 3);
    EXPECT_EQ(table->lock().store().length(1), 61u);
    EXPECT_EQ(table->lock().list().row(2).slot, 2);
}

TEST_F(PacketCaptureLoop, FullStoreEndsTheCaptureAtOnce) {
    for (std::int32_t i = 0; i < PacketStoreCapacity; ++i) {
        CapturedPacket packet = CapturedPacket::copyOf(nullptr, 0);
        table->lock().store().append(packet, "");
    }
    QueuedCaptureSource source;
    state.capturing = true;
    PacketCaptureContext loopContext = context();
    runPacketCapture(source, loopContext);
    EXPECT_TRUE(source.closed());
    EXPECT_FALSE(state.capturing);
    EXPECT_EQ(statuses, std::vector<std::string>{"Stopped/Item Limit Reached"});
}

TEST_F(PacketCaptureLoop, StoreFillingUpDuringCaptureStopsWithoutStoringTheExtraPacket) {
    for (std::int32_t i = 0; i < PacketStoreCapacity - 1; ++i) {
        CapturedPacket packet = CapturedPacket::copyOf(nullptr, 0);
        table->lock().store().append(packet, "");
    }
    captureAll({makeDatagram(17, 60), makeDatagram(17, 61)});
    EXPECT_EQ(table->storedCount(), PacketStoreCapacity);
    EXPECT_EQ(table->lock().store().length(PacketStoreCapacity - 1), 60u);
    EXPECT_EQ(statuses.back(), "Stopped/Item Limit Reached");
    EXPECT_EQ(table->allocatedBytes(), 104u);
}

TEST_F(PacketCaptureLoop, MemoryFloorStopsTheCaptureWithMemoryErrorAndIsReadOnlyNowAndThen) {
    table = std::make_unique<PacketTable>(heapSlabMemory(), flooredMemory);
    std::vector<std::vector<std::uint8_t>> datagrams(2000, makeDatagram(17, 200, 53, 1053));
    captureAll(datagrams);
    EXPECT_EQ(table->storedCount(), 2000);
    EXPECT_LE(probe.reads.load(), 5) << "not read per packet";

    probe.setBelowFloor();
    // The slab being carved and the one ready ahead are used up first: enough datagrams to
    // need a third.
    datagrams.assign(1200, makeDatagram(17, 60000, 53, 1053));
    probe.waitUntilReadingIsStale();
    captureAll(datagrams);
    EXPECT_LT(table->storedCount(), 3200);
    EXPECT_EQ(statuses.back(), StatusMemoryError);
    EXPECT_FALSE(state.capturing.load());
}

TEST_F(PacketCaptureLoop, QuittingEndsTheLoopWithStopped) {
    QueuedCaptureSource source;
    source.push(makeDatagram(17, 60));
    state.capturing = true;
    state.quitting = true;
    PacketCaptureContext loopContext = context();
    runPacketCapture(source, loopContext);
    EXPECT_EQ(table->storedCount(), 0);
    EXPECT_EQ(statuses.back(), "Stopped");
    EXPECT_FALSE(state.capturing) << "Stop waits for this, so it must be clear";
    EXPECT_TRUE(source.closed());
}

// The window closes while the capture thread is between two datagrams: it has handed one
// over and not yet asked for the next.
class SourceThatQuitsAfterOneDatagram : public QueuedCaptureSource {
  public:
    explicit SourceThatQuitsAfterOneDatagram(PacketSnifferState& state) : state_(state) {
        push(makeDatagram(17, 60));
    }
    ReceiveResult receive(const DatagramVisitor& visit) override {
        const ReceiveResult result = QueuedCaptureSource::receive(visit);
        state_.quitting = true;
        return result;
    }

  private:
    PacketSnifferState& state_;
};

TEST(PacketCaptureSession, StopJoinsACaptureThatEndedOnQuitting) {
    SettingsRecord settings = defaultSettings();
    setTextField(settings.interfaceAddress, "10.0.0.1");
    static PacketSnifferState state;
    static QueuedCaptureSource* quittingSource = nullptr;
    state.quitting = false;  // static for the source factory: a repeated run starts afresh
    auto table = std::make_unique<PacketTable>();
    PacketFilter filter;
    const PublishedSettings published(settings);
    PacketCapture capture(
        PacketCaptureContext{state, *table, filter, published, [](const std::string&) {}}, [] {
            auto source = std::make_unique<SourceThatQuitsAfterOneDatagram>(state);
            quittingSource = source.get();
            return std::unique_ptr<CaptureSource>(std::move(source));
        });
    ASSERT_TRUE(capture.start().startThread);
    quittingSource->waitUntilDrained();
    // Returns only once the capture thread has ended and been joined.
    capture.stop();
    EXPECT_FALSE(state.capturing);
    EXPECT_EQ(table->storedCount(), 1);
}

TEST_F(PacketCaptureLoop, TruncatedAndEmptyDatagramsAreStoredSafely) {
    captureAll({makeDatagram(17, 0), {0x45}, makeDatagram(6, 19), makeDatagram(6, 21, 7, 8)});
    ASSERT_EQ(table->storedCount(), 4);
    EXPECT_EQ(table->lock().store().length(0), 0u);
    EXPECT_EQ(table->lock().store().length(1), 1u);
}

TEST(PacketCaptureSession, StopReturnsWithCapturingClearAndStartAppendsAgain) {
    SettingsRecord settings = defaultSettings();
    setTextField(settings.interfaceAddress, "10.0.0.1");
    PacketSnifferState state;
    auto table = std::make_unique<PacketTable>();
    PacketFilter filter;
    const PublishedSettings published(settings);
    static QueuedCaptureSource* lastSource = nullptr;
    PacketCapture capture(
        PacketCaptureContext{state, *table, filter, published, [](const std::string&) {}}, [] {
            auto source = std::make_unique<QueuedCaptureSource>();
            lastSource = source.get();
            return std::unique_ptr<CaptureSource>(std::move(source));
        });
    EXPECT_TRUE(capture.start().startThread);
    EXPECT_TRUE(state.capturing);
    EXPECT_FALSE(capture.start().startThread) << "a second Start while capturing does nothing";
    lastSource->push(makeDatagram(17, 60));
    lastSource->waitUntilDrained();
    capture.stop();
    EXPECT_FALSE(state.capturing);

    EXPECT_TRUE(capture.start().startThread);
    lastSource->push(makeDatagram(17, 61));
    lastSource->waitUntilDrained();
    capture.stop();
    EXPECT_EQ(table->storedCount(), 2);
    EXPECT_EQ(table->lock().store().length(1), 61u);
}

TEST(PacketCaptureSession, AddressThatIsNoInterfaceStartsNothing) {
    SettingsRecord settings = defaultSettings();
    PacketSnifferState state;
    auto table = std::make_unique<PacketTable>();
    PacketFilter filter;
    const PublishedSettings published(settings);
    PacketCapture capture(
        PacketCaptureContext{state, *table, filter, published, [](const std::string&) {}}, [] {
            auto source = std::make_unique<QueuedCaptureSource>();
            source->opening = {OpenStatus::NoSuchInterface, 0};
            return std::unique_ptr<CaptureSource>(std::move(source));
        });
    const PacketCaptureStart start = capture.start();
    EXPECT_FALSE(start.startThread);
    ASSERT_EQ(start.messages.size(), 1u);
    EXPECT_EQ(start.messages[0].text.rfind("Unable to listen on the interface: \r\n", 0), 0u);
    EXPECT_FALSE(state.capturing);
    capture.stop();
}

TEST(ClearPackets, EmptiesRowsAndSlotsInOrderAndNotesTheTime) {
    auto table = std::make_unique<PacketTable>();
    for (std::int32_t slot = 0; slot < 250; ++slot) {
        CapturedPacket packet = CapturedPacket::copyOf(makeDatagram(17, 60).data(), 60);
        table->countAllocation(60);
        table->append(packet, "t");
    }
    std::vector<std::string> steps;
    ClearHooks hooks;
    hooks.stopSearch = [&] { steps.push_back("stopSearch"); };
    hooks.beforeFree = [&](std::int32_t count) {
        steps.push_back("beforeFree " + std::to_string(count));
        EXPECT_EQ(table->allocatedBytes(), 0u);
        // The window may wait here: the guard must be free.
        EXPECT_TRUE(table->tryLock().held());
    };
    hooks.progress = [&](std::int32_t slot) {
        steps.push_back("progress " + std::to_string(slot));
    };
    hooks.afterFree = [&] {
        steps.push_back("afterFree");
        EXPECT_EQ(table->storedCount(), 0);
        EXPECT_EQ(table->lock().list().rowCount(), 0);
        EXPECT_GT(table->lastClearTime(), 0u) << "noted with the slots, under the guard";
    };
    clearPackets(*table, hooks);
    EXPECT_EQ(steps, (std::vector<std::string>{"stopSearch", "beforeFree 250", "progress 0",
                                               "progress 100", "progress 200", "afterFree"}));
    EXPECT_GT(table->lastClearTime(), 0u);
}

}  // namespace
}  // namespace qhs
