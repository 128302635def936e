#include "packetmode/PacketLogger.h"

#include <chrono>

#include "packetmode/PacketRecord.h"
#include "packetmode/RecordFile.h"

namespace qhs {

namespace {

using namespace std::chrono_literals;

constexpr auto IntervalStep = 100ms;
constexpr auto PassDelay = 10ms;

}  // namespace

PacketLogger::PacketLogger(PacketSnifferState& state, PacketTable& table,
                           const PublishedSettings& settings, ErrorBox showError)
    : state_(state), table_(table), settings_(settings), showError_(std::move(showError)) {}

PacketLogger::~PacketLogger() {
    stop();
}

void PacketLogger::start() {
    if (!thread_.started()) {
        thread_.start([this](std::stop_token stop) { run(stop); });
    }
}

void PacketLogger::stop() {
    thread_.stop();
    // An open box ends when the user closes it; its thread is joined then.
    errorBoxThread_.join();
}

void PacketLogger::run(std::stop_token stop) {
    while (!shouldEnd(stop)) {
        if (!autoLogOn()) {
            WorkerThread::pause(stop, IntervalStep);
            continue;
        }
        waitInterval(stop);
        WorkerThread::pause(stop, PassDelay);
        if (shouldEnd(stop)) {
            break;
        }
        if (autoLogOn()) {
            logNewPackets();
        }
    }
}

void PacketLogger::waitInterval(const std::stop_token& stop) {
    // Widened before multiplying: any 32-bit interval, however large, stays a count of
    // steps; 0 or less waits none. Each step looks at the switch again.
    const std::int64_t steps = std::int64_t{settings_.latest()->logIntervalSeconds} * 10;
    for (std::int64_t step = 0; step < steps && !shouldEnd(stop) && autoLogOn(); ++step) {
        WorkerThread::pause(stop, IntervalStep);
    }
}

void PacketLogger::logNewPackets() {
    PacketTable::Access access = table_.lock();
    PendingFile pending;
    appendNewRecords(access.store(), pending);
    access.unlock();
    // Records still buffered reach the file here, outside the guard.
    finish(pending, true);
}

void PacketLogger::logBeforeClear(const PacketStore& store, bool reportErrors) {
    if (autoLogOn()) {
        PendingFile pending;
        appendNewRecords(store, pending);
        finish(pending, reportErrors);
    }
}

void PacketLogger::appendNewRecords(const PacketStore& store, PendingFile& pending) {
    const std::int32_t storedCount = store.storedCount();
    if (storedCount == 0) {
        return;
    }
    const std::uint64_t clearTime = store.lastClearTime();
    if (clearTime != seenClearTime_) {
        // A Clear since the last pass: the slots are a new list, logged from slot 0. The
        // count is reset together with the noted clear time, so a pass that cannot open the
        // file still leaves the next pass starting from slot 0.
        seenClearTime_ = clearTime;
        loggedCount_ = 0;
    } else if (storedCount == loggedCount_) {
        return;
    }

    const std::shared_ptr<const SettingsRecord> settings = settings_.latest();
    pending.path = std::string(textField(settings->logFilePath));
    if (pending.file.openForAppend(pending.path) != 0) {
        return;
    }
    const RecordFlags flags = loggingFlags(*settings);
    const std::int32_t first = loggedCount_;
    for (std::int32_t slot = first; slot < storedCount && pending.error == 0; ++slot) {
        pending.error = writePacketRecord(pending.file, store, slot, flags);
    }
    loggedCount_ = storedCount;
}

void PacketLogger::finish(PendingFile& pending, bool reportErrors) {
    if (!pending.file.isOpen()) {
        return;
    }
    const int closeError = pending.file.close();
    const int error = pending.error != 0 ? pending.error : closeError;
    if (error != 0 && reportErrors) {
        showLogError(error, pending.path);
    }
}

void PacketLogger::showLogError(int errorCode, std::string path) {
    // One box at a time: a failure while a box is open is not reported.
    if (errorBoxOpen_.exchange(true)) {
        return;
    }
    // The previous box's thread has cleared the flag and is ending; start() joins it.
    const UserMessage message =
        reportWriteError(errorCode, path, textField(settings_.latest()->dateTimeTemplate));
    errorBoxThread_.start([this, message] {
        if (showError_) {
            showError_(message);
        }
        errorBoxOpen_ = false;
    });
}

}  // namespace qhs
