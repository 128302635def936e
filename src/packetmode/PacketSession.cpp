#include "packetmode/PacketSession.h"

#include <algorithm>

#include "packetmode/CaptureFileExport.h"

namespace qhs {

namespace {

SlabMemory& memoryOf(SlabMemory* given) {
    return given != nullptr ? *given : heapSlabMemory();
}

template <typename Hook, typename... Arguments>
void call(const Hook& hook, Arguments&&... arguments) {
    if (hook) {
        hook(std::forward<Arguments>(arguments)...);
    }
}

}  // namespace

PacketSession::PacketSession(PublishedSettings& settings, const SystemServices& services,
                             PacketSessionReports reports)
    : settings_(settings),
      services_(services),
      reports_(std::move(reports)),
      table_(memoryOf(services_.memory), services_.flooredMemory != nullptr
                                             ? *services_.flooredMemory
                                             : memoryOf(services_.memory)),
      context_{state_,
               table_,
               filter_,
               settings_,
               [this](const std::string& status) { call(reports_.status, status); },
               reports_.passed,
               reports_.lost},
      capture_(context_, services_.captureSource, services_.raiseThreadPriority),
      soundPlayer_(services_.makeSoundPlayer ? services_.makeSoundPlayer()
                                             : std::make_unique<SilentPlayer>()),
      notifier_(
          std::make_unique<NewPacketNotifier>(state_, settings_, soundOnNewPacket_, *soundPlayer_)),
      logger_(std::make_unique<PacketLogger>(
          state_, table_, settings_,
          [this](const UserMessage& message) { call(reports_.logError, message); })) {}

PacketSession::~PacketSession() {
    state_.quitting = true;
    capture_.stop();
    logger_->stop();
    soundPlayer_->stop();
    notifier_->stop();
}

void PacketSession::startCompanions() {
    notifier_->start();
    logger_->start();
}

PacketCaptureStart PacketSession::start() {
    if (state_.capturing.load() || readingFile_.load()) {
        return {};
    }
    return capture_.start();
}

void PacketSession::stop() {
    capture_.stop();
}

void PacketSession::clear(ClearHooks hooks, bool reportLogErrors) {
    hooks.whileGuarded = [this, reportLogErrors](const PacketStore& store) {
        logger_->logBeforeClear(store, reportLogErrors);
    };
    clearPackets(table_, hooks);
}

SaveOutcome PacketSession::save(const std::string& path, std::atomic<bool>& cancel,
                                const SaveHooks& hooks) {
    return writePacketListFile(path, table_, *settings_.latest(), cancel, hooks);
}

SaveOutcome PacketSession::exportCaptureFile(const std::string& path, std::atomic<bool>& cancel,
                                             const SaveHooks& hooks) {
    return writeCaptureFile(path, table_, *settings_.latest(), cancel, hooks);
}

CaptureFileRead PacketSession::readCaptureFile(const std::string& path,
                                               const CaptureFileReadHooks& hooks) {
    // One progress range over both passes: the check fills its first half, the read its
    // second.
    const auto progressFrom = [&hooks](int start, std::uint64_t size) {
        return [&hooks, start, size](std::uint64_t bytesRead) {
            const std::uint64_t half = CaptureFileProgressSteps / 2;
            call(hooks.progress,
                 start + static_cast<int>(size > 0 ? std::min(bytesRead, size) * half / size : 0));
        };
    };
    CaptureFileRead read;
    std::unique_ptr<CaptureFileFrames> reader = services_.openCaptureFile(path);
    if (!reader->isOpen()) {
        read.fault = reader->fault();
        return read;
    }
    if (hooks.checkFirst) {
        call(hooks.checking);
        read.fault = reader->checkWhole(progressFrom(0, reader->size()));
        if (read.fault) {
            return read;
        }
        // The check used the frames up; the read starts afresh.
        reader = services_.openCaptureFile(path);
    }
    if (hooks.proceed && !hooks.proceed(table_.storedCount())) {
        return read;
    }
    // A running capture would mix its packets with the file's: the client ends it.
    readingFile_ = true;
    call(hooks.replacing);
    if (table_.storedCount() > 0) {
        clear(hooks.clear);
    }
    call(hooks.loading);
    read.load = loadCaptureFrames(*reader, context_,
                                  progressFrom(CaptureFileProgressSteps / 2, reader->size()));
    read.statusText = captureFileStatusText(*read.load);
    call(hooks.loaded, read.statusText);
    readingFile_ = false;
    // A file damaged past the whole packets, or changed between the check and the read.
    read.fault = read.load->fault;
    return read;
}

void PacketSession::end() {
    state_.quitting = true;
    capture_.stop();
    logger_->stop();
    soundPlayer_->stop();
    notifier_->stop();
    clear({}, false);
}

}  // namespace qhs
